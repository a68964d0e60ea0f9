#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quivox3/quivox3.h"
#include "runtime/log.h"
#include "support/child_test.h"
#include "support/environment.h"
#include "support/log_capture.h"
#include "support/tempdir.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// Runs the check in a freshly started copy of the test program, so that the
// process-wide log state starts from its defaults. The check returns an empty
// text on success, else what went wrong.
#define EXPECT_IN_FRESH_PROCESS(check)                                         \
  do {                                                                         \
    GTEST_FLAG_SET(death_test_style, "threadsafe");                            \
    EXPECT_EXIT(                                                               \
        {                                                                      \
          std::string failure = (check)();                                     \
          if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str()); \
          std::fflush(stderr);                                                 \
          std::_Exit(failure.empty() ? 0 : 1);                                 \
        },                                                                     \
        testing::ExitedWithCode(0), "");                                       \
  } while (0)

std::string currentLogFile() {
  int verbosity = 0;
  char name[1024];
  int size = sizeof name;
  if (qvGetVerboseEx(&verbosity, name, &size) != 1) return "<error>";
  return name;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().string());
  return names;
}

std::string expectContains(const std::string& text, const std::string& needle, const char* where) {
  if (text.find(needle) != std::string::npos) return "";
  return std::string(where) + " lacks [" + needle + "] in:\n" + text;
}

}  // namespace

TEST(Verbosity, LevelsOutsideTheRangeAreRefused) {
  int before = qvGetVerbose();
  EXPECT_EQ(qvSetVerbose(3), 0);
  EXPECT_EQ(qvSetVerboseEx(-1, "x"), 0);
  EXPECT_EQ(qvSetVerboseEx(4, "x"), 0);
  EXPECT_EQ(qvSetVerboseEx(3, nullptr), 0);
  EXPECT_EQ(qvGetVerbose(), before);
  EXPECT_EQ(qvSetVerbose(0), 1);
  EXPECT_EQ(qvGetVerbose(), 0);
  EXPECT_EQ(qvSetVerbose(1), 1);
  EXPECT_EQ(qvGetVerbose(), 1);
  EXPECT_EQ(qvSetVerbose(0), 1);
}

TEST(Verbosity, GetVerboseExSizeProtocolBelowLevelThree) {
  ASSERT_EQ(qvSetVerbose(0), 1);
  CaptureStderr();
  ASSERT_EQ(qvSetVerbose(1), 1);
  GetCapturedStderr();
  int verbosity = -7;
  char name[8] = "junk";
  int size = 0;
  EXPECT_EQ(qvGetVerboseEx(&verbosity, name, &size), 0);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(verbosity, -7);
  size = 1;
  EXPECT_EQ(qvGetVerboseEx(&verbosity, name, &size), 1);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(size, 1);
  EXPECT_EQ(verbosity, 1);
  EXPECT_EQ(qvGetVerboseEx(nullptr, name, &size), -1);
  EXPECT_EQ(qvGetVerboseEx(&verbosity, nullptr, &size), -1);
  EXPECT_EQ(qvGetVerboseEx(&verbosity, name, nullptr), -1);
  qvSetVerbose(0);
}

TEST(Verbosity, GetVerboseExAtLevelThreeReportsTheNeededSize) {
  LogCapture capture;
  int verbosity = 0;
  char name[1024];
  int size = 4;
  EXPECT_EQ(qvGetVerboseEx(&verbosity, name, &size), 0);
  EXPECT_EQ(size, static_cast<int>(capture.path().size()) + 1);
  EXPECT_EQ(qvGetVerboseEx(&verbosity, name, &size), 1);
  EXPECT_EQ(name, capture.path());
  EXPECT_EQ(verbosity, 3);
}

TEST(Verbosity, DefaultNameBeforeAnyMessage) {
  EXPECT_IN_FRESH_PROCESS([]() -> std::string {
    if (qvGetVerbose() != 3) return "default verbosity is not 3";
    std::string name = currentLogFile();
    return name == "kelta-sharedlib.log" ? "" : "name is " + name;
  });
}

// The folder's name as a pattern that matches it literally.
std::string literally(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

TEST(Verbosity, ComposedNameUsesEnvironmentDirectoryAndProcessFacts) {
  TempDir dir;
  for (const std::string& value : {dir.path(), dir.path() + kSeparator}) {
    ::qvtest::setEnvironment("KELTA_CLIENTLIB_LOGGING_PATH", value.c_str());
    EXPECT_IN_FRESH_PROCESS([&]() -> std::string {
      _internal_log("hello %d", 42);
      std::string name = currentLogFile();
      std::regex shape(literally(dir.path() + kSeparator) +
                       R"(kelta-sharedlib--\d{4}-[A-Z][a-z]{2}-\d\d--p-(\d+)--u-[^/\\]+--h-)"
                       R"([^/\\]+\.log)");
      std::smatch match;
      if (!std::regex_match(name, match, shape)) return "unexpected name " + name;
      if (match[1] != std::to_string(::getpid())) return "pid differs in " + name;
      std::string text = readTextFile(name);
      std::string failure = expectContains(
          text, "Logfile started. pid(" + std::to_string(::getpid()) + ")->pname(\"", "banner");
      if (failure.empty())
        failure = expectContains(
            text, "]  Library info: qvLibraryInfoEx() returned \"**** QVv3 shared client library",
            "library line");
      if (failure.empty()) failure = expectContains(text, "LTM] hello 42\n", "message");
      return failure;
    });
  }
  ::qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGGING_PATH");
}

TEST(Verbosity, EmptyLoggingPathMeansWorkingDirectory) {
#if defined(_WIN32)
  GTEST_SKIP() << "the C runtime of Windows keeps no empty environment variables";
#endif
  TempDir dir;
  ::qvtest::setEnvironment("KELTA_CLIENTLIB_LOGGING_PATH", "");
  EXPECT_IN_FRESH_PROCESS([&]() -> std::string {
    if (::chdir(dir.path().c_str()) != 0) return "chdir failed";
    _internal_log("in cwd");
    std::string name = currentLogFile();
    if (name.rfind("kelta-sharedlib--", 0) != 0) return "not relative: " + name;
    return expectContains(readTextFile(dir.file(name)), "in cwd", "cwd file");
  });
  ::qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGGING_PATH");
}

TEST(Verbosity, FirstSwitchToNamedFileLogsIntoBothFiles) {
  TempDir dir;
  ::qvtest::setEnvironment("KELTA_CLIENTLIB_LOGGING_PATH", dir.path().c_str());
  const std::string named = dir.file("named.log");
  EXPECT_IN_FRESH_PROCESS([&]() -> std::string {
    if (qvSetVerboseEx(3, named.c_str()) != 1) return "refused";
    std::string defaultName;
    for (const std::string& file : filesIn(dir.path()))
      if (file.find("kelta-sharedlib--") != std::string::npos) defaultName = file;
    if (defaultName.empty()) return "no default-named file";
    std::string first = readTextFile(defaultName);
    std::string second = readTextFile(named);
    std::string failure = expectContains(first, "Logfile started.", "default file");
    if (failure.empty())
      failure = expectContains(
          first,
          "qvSetVerboseEx: verbosity setting about to be changed from 3 (old file=\"" +
              defaultName + "\") to 3 (new file=\"" + named + "\")",
          "default file");
    if (failure.empty()) failure = expectContains(second, "Logfile started.", "named file");
    if (failure.empty())
      failure = expectContains(second,
                               "qvSetVerboseEx: verbosity setting changed from 3 (old file=\"" +
                                   defaultName + "\") to 3 (new file=\"" + named + "\")",
                               "named file");
    return failure;
  });
  ::qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGGING_PATH");
}

TEST(Verbosity, LeavingTheFileLogsOnBothSides) {
  LogCapture capture;
  CaptureStderr();
  ASSERT_EQ(qvSetVerbose(1), 1);
  std::string err = GetCapturedStderr();
  EXPECT_TRUE(
      capture.contains("qvSetVerboseEx: verbosity setting about to be changed from 3 (old file=\"" +
                       capture.path() + "\") to 1"));
  EXPECT_NE(
      err.find(
          "LTM] [qvv3 shared lib] qvSetVerboseEx: verbosity setting changed from 3 (old file=\"" +
          capture.path() + "\") to 1\n"),
      std::string::npos)
      << err;
  qvSetVerbose(0);
}

TEST(Verbosity, LevelTwoWritesToStdoutWithPrefix) {
  qvSetVerbose(0);
  testing::internal::CaptureStdout();
  qvSetVerbose(2);
  _internal_log("to stdout");
  std::string out = testing::internal::GetCapturedStdout();
  qvSetVerbose(0);
  EXPECT_NE(out.find("LTM] [qvv3 shared lib] to stdout\n"), std::string::npos) << out;
}

TEST(Verbosity, LevelZeroWritesNothingAnywhere) {
  TempDir dir;
  ::qvtest::setEnvironment("KELTA_CLIENTLIB_LOGGING_PATH", dir.path().c_str());
  EXPECT_IN_FRESH_PROCESS([&]() -> std::string {
    qvSetVerbose(0);
    size_t before = filesIn(dir.path()).size();
    CaptureStderr();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 10; ++i) _internal_log("silent %d", i);
    std::string out = GetCapturedStderr() + testing::internal::GetCapturedStdout();
    if (!out.empty()) return "wrote: " + out;
    return filesIn(dir.path()).size() == before ? "" : "a file was created";
  });
  ::qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGGING_PATH");
}

TEST(Verbosity, MessagesAreCutAt509Characters) {
  LogCapture capture;
  std::string message(700, 'q');
  _internal_log("%s", message.c_str());
  std::smatch match;
  std::string text = capture.text();
  ASSERT_TRUE(std::regex_search(text, match, std::regex("LTM\\] (q+)\n")));
  EXPECT_EQ(match[1].length(), 509);
}

TEST(LogLevel, EnvironmentTwoEnablesTraceLevel) {
  TempDir dir;
  ::qvtest::setEnvironment("KELTA_CLIENTLIB_LOGLEVEL", "  2xyz");
  EXPECT_IN_FRESH_PROCESS([&]() -> std::string {
    qvSetVerboseEx(3, dir.file("level.log").c_str());
    if (_internal_getLogLevel() != 2) return "level is not 2";
    ::qvtest::setEnvironment("KELTA_CLIENTLIB_LOGLEVEL",
                             "1");  // read once: later changes have no effect
    if (_internal_getLogLevel() != 2) return "level changed";
    return expectContains(
        readTextFile(dir.file("level.log")),
        "Log-Level has been set to 2 (via environment variable KELTA_CLIENTLIB_LOGLEVEL).", "log");
  });
  ::qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGLEVEL");
}

TEST(LogLevel, OtherValuesAreParseErrorsAndLevelOne) {
  TempDir dir;
  ::qvtest::setEnvironment("KELTA_CLIENTLIB_LOGLEVEL", "3");
  EXPECT_IN_FRESH_PROCESS([&]() -> std::string {
    qvSetVerboseEx(3, dir.file("level.log").c_str());
    if (_internal_getLogLevel() != 1) return "level is not 1";
    return expectContains(
        readTextFile(dir.file("level.log")),
        "_internal_getLogLevel(): environment variable \"KELTA_CLIENTLIB_LOGLEVEL=3\" parse error.",
        "log");
  });
  ::qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGLEVEL");
}

TEST(LogLevel, UnsetMeansLevelOneSilently) {
  TempDir dir;
  ::qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGLEVEL");
  EXPECT_IN_FRESH_PROCESS([&]() -> std::string {
    qvSetVerboseEx(3, dir.file("level.log").c_str());
    if (_internal_getLogLevel() != 1) return "level is not 1";
    std::string text = readTextFile(dir.file("level.log"));
    return text.find("Log-Level") == std::string::npos &&
                   text.find("parse error") == std::string::npos
               ? ""
               : "unexpected message: " + text;
  });
}

TEST(LibraryInfo, BufferProtocol) {
  unsigned major = 9, minor = 9, sub = 9;
  unsigned length = 0;
  EXPECT_EQ(qvLibraryInfoEx(&major, &minor, &sub, nullptr, &length), nullptr);
  EXPECT_EQ(length, 121u);
  EXPECT_EQ(major, 1u);
  EXPECT_EQ(minor, 0u);
  EXPECT_EQ(sub, 0u);
  major = 9;
  char buffer[200];
  EXPECT_EQ(qvLibraryInfoEx(&major, nullptr, nullptr, buffer, nullptr), nullptr);
  EXPECT_EQ(major, 1u);

  char small[50];
  std::memset(small, '#', sizeof small);
  length = sizeof small;
  ASSERT_EQ(qvLibraryInfo(&major, &minor, small, &length), small);
  EXPECT_EQ(length, 121u);
  EXPECT_EQ(std::strlen(small), 49u);
  length = sizeof buffer;
  ASSERT_NE(qvLibraryInfoEx(nullptr, nullptr, nullptr, buffer, &length), nullptr);
  EXPECT_EQ(std::string(buffer).substr(0, 49), std::string(small));
  EXPECT_EQ(std::string(buffer),
            "**** QVv3 shared client library, win64(msvs2019,x64), v1.0.0, b894(Release) (Jul 26, "
            "2023) *** Tine # 5.2.1-sim ****");

  char untouched[4] = {'a', 'b', 'c', 'd'};
  length = 0;
  EXPECT_EQ(qvLibraryInfoEx(nullptr, nullptr, nullptr, untouched, &length), nullptr);
  EXPECT_EQ(untouched[0], 'a');
}

// Children: copies of this program running this test with QV_LOG_WRITER set.
// Each says it is ready by a file of its own, then writes once the parent
// has created the start file, so that every process and thread writes at
// the same time.
TEST(ConcurrentLogging, ThreadsAndProcessesProduceWholeLines) {
  constexpr int kThreads = 4, kLines = 250, kChildren = 2;
  auto writeLines = [](int id) {
    for (int i = 0; i < kLines; ++i)
      _internal_log("writer %d line %d %s", id, i, std::string(80 + (i % 50), 'z').c_str());
  };
  if (const char* writer = std::getenv("QV_LOG_WRITER")) {
    const std::string log = std::getenv("QV_LOG_FILE");
    qvSetVerboseEx(3, log.c_str());
    writeFile(log + ".ready" + writer, "");
    ASSERT_TRUE(waitForFile(log + ".start", 60.0));
    writeLines(std::atoi(writer));
    return;
  }
  LogCapture capture;
  qvtest::setEnvironment("QV_LOG_FILE", capture.path().c_str());
  std::vector<std::unique_ptr<qvtest::ChildTest>> children;
  for (int c = 0; c < kChildren; ++c) {
    qvtest::setEnvironment("QV_LOG_WRITER", std::to_string(100 + c).c_str());
    children.push_back(std::make_unique<qvtest::ChildTest>(qvtest::currentTestName()));
    ASSERT_TRUE(children.back()->started());
  }
  qvtest::unsetEnvironment("QV_LOG_WRITER");
  qvtest::unsetEnvironment("QV_LOG_FILE");
  struct Start {  // also on a failed assertion, so the children end at once
    std::string file;
    ~Start() { writeFile(file, ""); }
  } start{capture.path() + ".start"};
  for (int c = 0; c < kChildren; ++c)
    ASSERT_TRUE(waitForFile(capture.path() + ".ready" + std::to_string(100 + c), 60.0));
  capture.clear();  // the children's log headers
  writeFile(start.file, "");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(writeLines, t);
  for (auto& thread : threads) thread.join();
  for (auto& child : children) EXPECT_EQ(child->wait(), 0);

  std::istringstream lines(capture.text());
  std::string line;
  int count = 0;
  const std::regex whole(
      R"(\[\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d:\d\d\d LTM\] writer \d+ line \d+ z+)");
  while (std::getline(lines, line)) {
    ASSERT_TRUE(std::regex_match(line, whole)) << line;
    ++count;
  }
  EXPECT_EQ(count, (kThreads + kChildren) * kLines);
}
