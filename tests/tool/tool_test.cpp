// Runs qvtool as a process, the way people use it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "quivox3/quivox3.h"
#include "support/tempdir.h"

namespace {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Starts qvtool with the arguments; the optional hook runs while it works.
Result runTool(const std::vector<std::string>& arguments,
               const std::function<void(pid_t)>& whileRunning = nullptr) {
  TempDir capture;
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QVTOOL_PATH));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(QVTOOL_PATH, argv.data());
    std::_Exit(127);
  }
  if (whileRunning) whileRunning(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Result result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

int lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

class Tool : public testing::Test {
 protected:
  void grab(const std::string& file, int frames = 3) {
    Result r = runTool({"grab", "-n", std::to_string(frames), "-o", file, "--rate", "20"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  TempDir dir;
};

}  // namespace

TEST_F(Tool, UsageErrorsExitWithTwo) {
  EXPECT_EQ(runTool({}).exitCode, 2);
  Result unknown = runTool({"frobnicate"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos);
  EXPECT_EQ(runTool({"info"}).exitCode, 2);
  EXPECT_EQ(runTool({"grab", "-o", dir.file("x.imc2")}).exitCode, 2);  // -n missing
  EXPECT_EQ(runTool({"convert", "a", "b", "--bogus"}).exitCode, 2);
  EXPECT_FALSE(fileExists(dir.file("x.imc2")));
}

TEST_F(Tool, EveryCommandHasHelp) {
  for (const char* command : {"info", "check", "convert", "export", "grab", "names", "demo"}) {
    Result r = runTool({command, "--help"});
    EXPECT_EQ(r.exitCode, 0) << command;
    EXPECT_NE(r.out.find("usage: qvtool"), std::string::npos) << command;
  }
}

TEST_F(Tool, MissingFileIsOneClearLine) {
  for (const char* command : {"info", "check"}) {
    Result r = runTool({command, dir.file("missing.imc2")});
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_EQ(lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("missing.imc2"), std::string::npos);
  }
}

TEST_F(Tool, GrabInfoCheckRoundTrip) {
  const std::string file = dir.file("grab.imc2");
  grab(file, 4);
  Result info = runTool({"info", file});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("format:          IMC2/BKC2"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("frames:          4"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("GRAY, 2 byte(s) per pixel, 12 effective bits"), std::string::npos) << info.out;
  Result json = runTool({"info", file, "--json"});
  ASSERT_EQ(json.exitCode, 0);
  EXPECT_NE(json.out.find("\"frames\": 4"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"sequence\": true"), std::string::npos) << json.out;
  Result check = runTool({"check", file});
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_NE(check.out.find("4 frame(s), all valid"), std::string::npos);
  // An existing output is never replaced by a grab.
  Result again = runTool({"grab", "-n", "1", "-o", file});
  EXPECT_EQ(again.exitCode, 1);
}

TEST_F(Tool, ConvertBetweenFormatsAndRefuseExistingOutput) {
  const std::string source = dir.file("src.imc2");
  grab(source);
  const std::string legacy = dir.file("out.imc");
  Result convert = runTool({"convert", source, legacy});
  ASSERT_EQ(convert.exitCode, 0) << convert.err;
  Result info = runTool({"info", legacy});
  EXPECT_NE(info.out.find("format:          IMC/BKC"), std::string::npos) << info.out;
  Result back = runTool({"convert", legacy, dir.file("back.imc2")});
  EXPECT_EQ(back.exitCode, 0) << back.err;
  Result exists = runTool({"convert", source, legacy});
  EXPECT_EQ(exists.exitCode, 1);
  EXPECT_NE(exists.err.find("already exists"), std::string::npos);
  EXPECT_EQ(runTool({"convert", source, legacy, "--force"}).exitCode, 0);
  Result unwritable = runTool({"convert", source, dir.file("no/such/dir/x.imc2")});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_EQ(lines(unwritable.err), 1) << unwritable.err;
}

TEST_F(Tool, ExportWritesOneBmpPerFrame) {
  const std::string source = dir.file("src.imc2");
  grab(source, 3);
  const std::string out = dir.path() + "/bmp";
  ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
  Result r = runTool({"export", source, out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* name : {"frame_001.bmp", "frame_002.bmp", "frame_003.bmp"}) {
    std::string bmp = readFile(out + "/" + name);
    ASSERT_GT(bmp.size(), 1078u) << name;
    EXPECT_EQ(bmp.substr(0, 2), "BM");
  }
  EXPECT_EQ(runTool({"export", source, dir.file("not-a-dir")}).exitCode, 1);
  EXPECT_EQ(runTool({"export", source, out, "--palette", "7"}).exitCode, 2);
}

TEST_F(Tool, NamesListsTheSystemList) {
  const std::string list = dir.file("system.xml");
  writeFile(list,
            "<QVv3><Name>Lab</Name><TineContext>LABCTX</TineContext><ComponentList>"
            "<ImageSources><ImageSource><NameID>cam1=4711</NameID><SGPType>PCVision</SGPType></ImageSource>"
            "<ImageSource><NameID>cam2=12</NameID><SGPType>PCVision</SGPType></ImageSource></ImageSources>"
            "<SGPs><SGP><Name>server1</Name><Type>PCVision</Type></SGP></SGPs>"
            "</ComponentList></QVv3>");
  Result r = runTool({"names", list});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("TINE context: LABCTX"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cam1"), std::string::npos);
  EXPECT_NE(r.out.find("id 4711"), std::string::npos);
  EXPECT_NE(r.out.find("server1"), std::string::npos);
  EXPECT_EQ(runTool({"names", dir.file("none.xml")}).exitCode, 1);
}

TEST_F(Tool, InterruptedConvertLeavesNoFile) {
  // A long sequence of noisy frames takes a while to compress.
  QVBUNCHOFIMAGES bunch;
  qvInitializeBunchStructure(&bunch);
  const int kFrames = 120, kWidth = 1024, kHeight = 1024;
  ASSERT_EQ(qvCreateBunchStructure(&bunch, kFrames, kWidth * kHeight), 1);
  uint32_t state = 12345;
  for (int i = 0; i < kFrames; ++i) {
    DIMAGE& img = bunch.imageArray[i];
    std::memset(&img, 0, QV_HDR_IMAGE_SIZE);
    img.sourceHeader.baseTag = QV_BASE_TAG;
    img.sourceHeader.versionTag = 1;
    img.frameHeader.sourceWidth = kWidth;
    img.frameHeader.sourceHeight = kHeight;
    img.frameHeader.aoiWidth = img.frameHeader.aoiHeight = -1;
    img.frameHeader.bytesPerPixel = 1;
    img.frameHeader.effectiveBitsPerPixel = 8;
    img.frameHeader.frameNumber = static_cast<uint32_t>(i + 1);
    img.frameHeader.appendedFrameSize = kWidth * kHeight;
    img.sourceHeader.totalLength = QV_HDR_IMAGE_SIZE + kWidth * kHeight;
    for (int p = 0; p < kWidth * kHeight; ++p) {
      state = state * 1664525u + 1013904223u;
      img.frameBuffer[p] = static_cast<uint8_t>((state >> 24) & 0x3f);
    }
  }
  const std::string source = dir.file("big.imc2");
  ASSERT_EQ(qvSaveImagesToFile(&bunch, source.c_str()), 0);
  qvFreeBunch(&bunch);
  const std::string target = dir.file("big-copy.imc");
  Result r = runTool({"convert", source, target}, [&](pid_t pid) {
    for (int i = 0; i < 200 && !fileExists(target); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_FALSE(fileExists(target));
}

TEST_F(Tool, DemoGrabsSavesVerifiesAndExports) {
  Result r = runTool({"demo", "--dir", dir.path(), "-n", "5"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("verified: 5 frames loaded back"), std::string::npos) << r.out;
  EXPECT_TRUE(fileExists(dir.file("demo.imc2")));
  EXPECT_TRUE(fileExists(dir.file("frame_001.bmp")));
}
