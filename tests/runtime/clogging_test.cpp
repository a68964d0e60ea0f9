#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "runtime/logging.h"
#include "support/tempdir.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

const std::regex kLine(R"(\[\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d:\d\d\d LTM\] (.*))");

void makeFileOfSize(const std::string& path, size_t size, char fill = 'x') {
  writeFile(path, std::string(size, fill));
}

}  // namespace

TEST(CLogging, StderrOnlyChannelWritesOneFormattedLine) {
  CLogging log;
  ASSERT_TRUE(log.Init(nullptr, false, nullptr));
  CaptureStderr();
  EXPECT_TRUE(log.Log("x=%d", 5));
  std::string out = GetCapturedStderr();
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      out, match, std::regex(R"(\[\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d:\d\d\d LTM\] x=5\n)")))
      << out;
}

TEST(CLogging, InitRefusesSecondInitAndEmptyName) {
  CLogging log;
  EXPECT_FALSE(log.Init("", false, nullptr));
  ASSERT_TRUE(log.Init(nullptr, false, nullptr));
  EXPECT_FALSE(log.Init(nullptr, false, nullptr));
  log.Done();
  EXPECT_TRUE(log.Init(nullptr, false, nullptr));
}

TEST(CLogging, UninitialisedChannelWritesRawFormat) {
  CLogging log;
  CaptureStderr();
  EXPECT_FALSE(log.Log("value=%d", 7));
  EXPECT_FALSE(log.DedicatedLog(true, true, true, false, "other=%s", "x"));
  std::string out = GetCapturedStderr();
  EXPECT_EQ(out,
            "WW: CLogging::Log() called without having initialized CLogging!\nvalue=%d\n"
            "WW: CLogging::DedicatedLog() called without having initialized CLogging!\nother=%s\n");
}

TEST(CLogging, SimpleLogWithNullStreamWarnsAndUsesStderr) {
  CaptureStderr();
  CLogging::SimpleLog(nullptr, "a");
  std::string out = GetCapturedStderr();
  const std::string warnings =
      "WW: CLogging::SimpleLog() called with aOutFile NULL!\n"
      "WW: CLogging::SimpleLog() will be printed to stderr instead!\n";
  ASSERT_EQ(out.compare(0, warnings.size(), warnings), 0) << out;
  std::smatch match;
  std::string line = out.substr(warnings.size());
  ASSERT_TRUE(std::regex_match(line, match, std::regex(R"(\[[^\]]+ LTM\] a\n)"))) << line;
}

TEST(CLogging, LongMessagesAreCutTo510Characters) {
  TempDir dir;
  CLogging log;
  ASSERT_TRUE(log.Init(dir.file("cut.log").c_str(), false, nullptr));
  log.SetOutputs(false, false, true, false);
  std::string message(600, 'm');
  EXPECT_TRUE(log.Log("%s", message.c_str()));
  std::string text = readTextFile(dir.file("cut.log"));
  std::smatch match;
  ASSERT_TRUE(std::regex_match(text, match, std::regex(R"(\[[^\]]+ LTM\] (m*)\n)")));
  EXPECT_EQ(match[1].length(), 510);
}

TEST(CLogging, DedicatedLogChoosesDestinationsPerCall) {
  TempDir dir;
  CLogging log;
  ASSERT_TRUE(log.Init(dir.file("d.log").c_str(), false, nullptr));
  CaptureStderr();
  EXPECT_TRUE(log.DedicatedLog(false, false, true, false, "to file only"));
  EXPECT_TRUE(log.DedicatedLog(false, true, false, false, "to stderr only"));
  std::string err = GetCapturedStderr();
  EXPECT_EQ(err.find("to file only"), std::string::npos);
  EXPECT_NE(err.find("to stderr only"), std::string::npos);
  std::string text = readTextFile(dir.file("d.log"));
  EXPECT_NE(text.find("to file only"), std::string::npos);
  EXPECT_EQ(text.find("to stderr only"), std::string::npos);
}

TEST(CLoggingRotation, RotatesOnlyAboveTenMebibytes) {
  TempDir dir;
  const std::string big = dir.file("big.log");
  const std::string exact = dir.file("exact.log");
  makeFileOfSize(big, 10485761);
  makeFileOfSize(exact, 10485760);
  {
    CLogging log;
    ASSERT_TRUE(log.Init(big.c_str(), false, nullptr));
    log.SetOutputs(false, false, true, false);
    log.Log("after rotation");
  }
  {
    CLogging log;
    ASSERT_TRUE(log.Init(exact.c_str(), false, nullptr));
    log.SetOutputs(false, false, true, false);
    log.Log("appended");
  }
  EXPECT_EQ(readFile(big + ".1").size(), 10485761u);
  std::string fresh = readFile(big);
  EXPECT_LT(fresh.size(), 100u);
  EXPECT_NE(fresh.find("after rotation"), std::string::npos);
  EXPECT_FALSE(fileExists(exact + ".1"));
  EXPECT_GT(readFile(exact).size(), 10485760u);
}

TEST(CLoggingRotation, FullChainDropsOldestAndShiftsTheRest) {
  TempDir dir;
  const std::string f = dir.file("chain.log");
  makeFileOfSize(f, 10485761, 'F');
  for (int i = 1; i <= 9; ++i) writeFile(f + "." + std::to_string(i), "backup" + std::to_string(i));
  CLogging log;
  ASSERT_TRUE(log.Init(f.c_str(), false, nullptr));
  log.SetOutputs(false, false, true, false);
  log.Log("new line");
  EXPECT_EQ(readFile(f + ".1").size(), 10485761u);
  for (int i = 2; i <= 9; ++i)
    EXPECT_EQ(readFile(f + "." + std::to_string(i)), "backup" + std::to_string(i - 1));
  EXPECT_FALSE(fileExists(f + ".10"));
  EXPECT_NE(readFile(f).find("new line"), std::string::npos);
}

TEST(CLoggingRotation, MissingBackupEndsTheChain) {
  TempDir dir;
  const std::string f = dir.file("gap.log");
  makeFileOfSize(f, 10485761);
  for (int i : {1, 2, 3, 5, 6}) writeFile(f + "." + std::to_string(i), "b" + std::to_string(i));
  CLogging log;
  ASSERT_TRUE(log.Init(f.c_str(), false, nullptr));
  log.SetOutputs(false, false, true, false);
  log.Log("x");
  EXPECT_EQ(readFile(f + ".2"), "b1");
  EXPECT_EQ(readFile(f + ".3"), "b2");
  EXPECT_EQ(readFile(f + ".4"), "b3");
  EXPECT_EQ(readFile(f + ".5"), "b5");  // untouched beyond the gap
  EXPECT_EQ(readFile(f + ".6"), "b6");
}

TEST(CLogging, OverlongFileNameIsCutNotOverrun) {
  TempDir dir;
  std::string name = dir.path() + "/" + std::string(400, 'n');
  CLogging log;
  ASSERT_TRUE(log.Init(name.c_str(), false, nullptr));
  EXPECT_EQ(std::string(log.FileName()).size(), CLogging::kFileNameSize - 1);
}

TEST(CLogging, SharedSemaphoreSerialisesTwoChannels) {
  TempDir dir;
  const std::string path = dir.file("shared.log");
  CLogging first;
  CLogging second;
  ASSERT_TRUE(first.Init(path.c_str(), false, nullptr));
  ASSERT_TRUE(second.Init(path.c_str(), false, first.GetSemaphore()));
  first.SetOutputs(false, false, true, false);
  second.SetOutputs(false, false, true, false);
  std::thread a([&] {
    for (int i = 0; i < 300; ++i) first.Log("first %d", i);
  });
  std::thread b([&] {
    for (int i = 0; i < 300; ++i) second.Log("second %d", i);
  });
  a.join();
  b.join();
  second.Done();
  std::istringstream lines(readTextFile(path));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ASSERT_TRUE(std::regex_match(line, kLine)) << line;
    ++count;
  }
  EXPECT_EQ(count, 600);
}
