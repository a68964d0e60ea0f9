// grab and demo against the simulated camera: output checks before any
// acquisition, simulated formats, interruption, logs and temporary files.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "fixtures.h"

namespace {

std::vector<std::string> grabArgs(std::vector<std::string> args, const std::string& file) {
  args.insert(args.begin(), "grab");
  args.push_back("-o");
  args.push_back(file);
  return args;
}

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

TEST_F(Tool, GrabChecksTheOutputBeforeAcquiring) {
  const std::string existing = dir.file("existing.imc2");
  writeFile(existing, "old content");
  struct Case {
    std::vector<std::string> args;
    std::string file;
    int exitCode;
    std::string says;
  };
  // At the default 300 ms per frame an acquisition of 20 frames takes 6 s; a
  // refusal comes well before, even in a sanitizer build on a busy machine.
  const Case cases[] = {
      {{"-n", "20"}, dir.file("missing/dir/x.imc2"), 1, "No such file or directory"},
      {{"-n", "20"}, existing, 1, "already exists"},
      {{"-n", "20"}, dir.file("x.dat"), 2, ".imc2"},
      {{"-n", "20"}, dir.file("x"), 2, ".bkg"},
      {{"-n", "100000", "--sim-size", "16384x16384", "--sim-format", "gray16"},
       dir.file("huge.imc2"),
       1,
       "available"},
  };
  const Snapshot before = snapshot(dir.path());
  for (const Case& c : cases) {
    const auto args = grabArgs(c.args, c.file);
    Result r = runTool(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << joined(args) << r.describe();
    EXPECT_TRUE(contains(r.err, c.says)) << joined(args) << r.describe();
    EXPECT_LT(r.seconds, 4.0) << joined(args);
    EXPECT_EQ(changes(before, snapshot(dir.path())), "") << joined(args);
    if (c.says == "available") {  // both the need and what is available
      EXPECT_TRUE(std::regex_search(r.err, std::regex("[0-9][^0-9\n]+[0-9]"))) << r.describe();
    }
  }
}

TEST_F(Tool, GrabsTheSimulatedCameraFormats) {
  struct Case {
    std::vector<std::string> args;
    int width, height, bytesPerPixel;  // 0: not checked
    std::string pixelFormat;
  };
  const std::vector<std::string> fast = {"--rate", "20", "-n", "2"};
  auto with = [&](std::vector<std::string> extra) {
    extra.insert(extra.begin(), fast.begin(), fast.end());
    return extra;
  };
  const Case cases[] = {
      {{"-n2"}, 640, 480, 2, "GRAY"},  // glued value, default rate
      {with({"--sim-size", "64x48", "--sim-format", "gray8"}), 64, 48, 1, "GRAY"},
      {with({"--sim-size", "64x48", "--sim-format", "gray16"}), 64, 48, 2, "GRAY"},
      {with({"--sim-size", "32x24", "--sim-format", "rgb"}), 32, 24, 3, "RGB"},
      // Sequence files hold raw pixels: JPEG frames are stored decoded, and said so.
      {with({"--sim-size", "64x48", "--sim-format", "jpeg-gray"}), 64, 48, 1, "GRAY"},
      {with({"--sim-size", "64x48", "--sim-format", "jpeg-rgb"}), 64, 48, 3, "RGB"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string file = dir.file("grab" + std::to_string(++n) + ".imc2");
    const auto args = grabArgs(c.args, file);
    Result r = runTool(args);
    ASSERT_EQ(r.exitCode, 0) << joined(args) << r.describe();
    EXPECT_FALSE(contains(r.err, "recommended")) << "library messages without -v" << r.describe();
    EXPECT_EQ(contains(r.err, "JPEG frames are stored decoded"), contains(joined(args), "jpeg"))
        << r.describe();
    if (n == 1) {
      EXPECT_GT(r.seconds, 0.25) << "two frames at the default 300 ms per frame";
    }
    Result info = runTool({"info", file});
    ASSERT_EQ(info.exitCode, 0) << joined(args) << info.describe();
    EXPECT_TRUE(contains(info.out, "frames:          2\n")) << info.out;
    EXPECT_TRUE(contains(info.out, std::to_string(c.width) + " x " + std::to_string(c.height)))
        << info.out;
    EXPECT_TRUE(contains(lineStartingWith(info.out, "pixel format:"), c.pixelFormat))
        << joined(args) << info.out;
    Result json = runTool({"info", file, "--json"});
    nlohmann::json j;
    ASSERT_NO_THROW(j = nlohmann::json::parse(json.out)) << json.describe();
    EXPECT_EQ(j["width"], c.width) << joined(args);
    EXPECT_EQ(j["height"], c.height) << joined(args);
    if (c.bytesPerPixel != 0) {
      EXPECT_EQ(j["bytes_per_pixel"], c.bytesPerPixel) << joined(args);
    }
    Result check = runTool({"check", file});
    EXPECT_EQ(check.exitCode, 0) << joined(args) << check.describe();
  }

  // -v before or after the command shows the library's own warnings.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-v", "grab", "-n", "2", "--rate", "20", "-o", dir.file("v1.imc2")},
           {"grab", "-n", "2", "--rate", "20", "-o", dir.file("v2.imc2"), "-v"}}) {
    Result r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << joined(args) << r.describe();
    EXPECT_TRUE(contains(r.err, "recommended")) << joined(args) << r.describe();
  }
}

TEST_F(Tool, InterruptedGrabSavesTheFramesReceived) {
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string file = dir.file("interrupted" + std::to_string(signal) + ".imc2");
    Result r = runTool({"grab", "-n", "1000", "--rate", "20", "--sim-size", "320x240", "-o", file},
                       [&](pid_t pid) {
                         std::this_thread::sleep_for(std::chrono::milliseconds(2000));
                         ::kill(pid, signal);
                       });
    EXPECT_EQ(r.exitCode, 130) << "signal " << signal << r.describe();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        r.err, m,
        std::regex("interrupted after ([0-9]+) of 1000 frames; saved ([0-9]+) frames to (.*)")))
        << r.describe();
    EXPECT_EQ(m[1].str(), m[2].str());
    EXPECT_EQ(m[3].str(), file);
    const int received = std::stoi(m[1].str());
    EXPECT_GE(received, 1);
    EXPECT_LT(received, 1000);
    EXPECT_EQ(framesIn(file), received);
  }
  EXPECT_EQ(entries(dir.path()).size(), 2u) << "only the two files, no working folder";
}

TEST_F(Tool, SecondInterruptAbandonsTheSave) {
  // Big frames make the save after the first interrupt take seconds.
  const std::string file = dir.file("big.imc2");
  const auto start = Clock::now();
  double secondSignalAt = -1.0;
  bool firstSent = false;
  Result r = runTool({"grab", "-n", "200", "--rate", "20", "--sim-size", "1024x1024", "-o", file},
                     [&](pid_t pid) {
                       std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                       const Snapshot before = snapshot(dir.path(), false);
                       if (::kill(pid, SIGINT) != 0) return;
                       firstSent = true;
                       // The save shows as a new entry (a working folder, or a file in it).
                       const auto deadline = Clock::now() + std::chrono::seconds(10);
                       while (Clock::now() < deadline && running(pid)) {
                         if (snapshot(dir.path(), false) != before) {
                           ::kill(pid, SIGINT);
                           secondSignalAt = secondsSince(start);
                           return;
                         }
                         std::this_thread::sleep_for(std::chrono::milliseconds(1));
                       }
                     });
  ASSERT_TRUE(firstSent) << r.describe();
  if (secondSignalAt < 0.0)
    GTEST_SKIP() << "the save left no trace to time the second interrupt by";
  if (fileExists(file) && r.seconds - secondSignalAt < 0.3)
    GTEST_SKIP() << "the save finished as the second interrupt arrived";
  EXPECT_EQ(r.exitCode, 130) << r.describe();
  EXPECT_FALSE(fileExists(file)) << "saved although the second interrupt came "
                                 << r.seconds - secondSignalAt << " s before the end";
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{}) << r.describe();
}

TEST_F(Tool, LeavesNothingInTheTemporaryFolder) {
  TempDir tmp;
  const Environment environment = {"TMPDIR=" + tmp.path(), "TEMP=" + tmp.path()};
  const std::string src = sequence("src.imc2", 2);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"},
           {"info", src},
           {"grab", "-n", "2", "--rate", "20", "-o", dir.file("grab.imc2")},
           {"demo", "-n", "2"}}) {
    Result r = runTool(args, nullptr, environment);
    EXPECT_EQ(r.exitCode, 0) << joined(args) << r.describe();
    EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{}) << joined(args);
  }
  // --log, before or after the command, appends the library log to the file.
  const std::string log = dir.file("library.log");
  writeFile(log, "earlier line\n");
  Result before =
      runTool({"--log", log, "grab", "-n", "2", "--rate", "20", "-o", dir.file("a.imc2")}, nullptr,
              environment);
  EXPECT_EQ(before.exitCode, 0) << before.describe();
  const std::string text = readFile(log);
  EXPECT_EQ(text.compare(0, 13, "earlier line\n"), 0) << text;
  EXPECT_TRUE(contains(text, "recommended")) << text;
  const std::string log2 = dir.file("second.log");
  Result after =
      runTool({"grab", "-n", "2", "--rate", "20", "-o", dir.file("b.imc2"), "--log", log2}, nullptr,
              environment);
  EXPECT_EQ(after.exitCode, 0) << after.describe();
  EXPECT_TRUE(contains(readFile(log2), "recommended")) << readFile(log2);
  EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{});
}
