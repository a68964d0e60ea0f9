// Runs qvtool as a process, the way people use it: usage, help, global
// options and the round trips of each command.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "fixtures.h"

namespace {

constexpr const char* kCommands[] = {"info", "check", "convert", "export", "grab", "names", "demo"};

}  // namespace

TEST_F(Tool, UsageErrorsExitWithTwo) {
  const std::string src = sequence("src.imc2");
  const std::string out = dir.file("out.imc2");
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{}, ""},
      {{"frobnicate"}, "frobnicate"},
      {{"--bogus"}, ""},
      {{"info"}, ""},
      {{"check"}, ""},
      {{"grab", "-o", out}, ""},  // -n missing
      {{"grab", "-n", "2"}, ""},  // -o missing
      {{"grab", "-n", "2", "-o", out, "--sim-size", "64"}, ""},
      {{"grab", "-n", "2", "-o", out, "--sim-size", "0x48"}, ""},
      {{"grab", "-n", "2", "-o", out, "--sim-size", "wide"}, ""},
      {{"grab", "-n", "2", "-o", out, "--sim-format", "gray12"}, ""},
      {{"convert", src}, ""},
      {{"convert", src, out, "--bogus"}, ""},
      {{"convert", src, out, "--format", "jpeg"}, ""},
      {{"export", src, dir.file("bmp"), "--palette", "7"}, ""},
      {{"export", src, dir.file("bmp"), "--palette", "purple"}, ""},
      {{"names"}, ""},
  };
  const Snapshot before = snapshot(dir.path());
  for (const Case& c : cases) {
    Result r = runTool(c.args);
    EXPECT_EQ(r.exitCode, 2) << joined(c.args) << r.describe();
    EXPECT_TRUE(contains(r.err, c.says)) << joined(c.args) << r.describe();
    EXPECT_EQ(changes(before, snapshot(dir.path())), "") << joined(c.args);
  }
}

TEST_F(Tool, EveryCommandHasHelpWithExamples) {
  for (const char* command : kCommands) {
    for (const char* option : {"--help", "-h"}) {
      Result r = runTool({command, option});
      EXPECT_EQ(r.exitCode, 0) << command << " " << option << r.describe();
      EXPECT_TRUE(contains(lower(r.out), "usage")) << command << r.describe();
      EXPECT_TRUE(contains(lower(r.out), "examples")) << command << r.describe();
    }
  }
  for (const char* option : {"--help", "-h"}) {
    Result top = runTool({option});
    EXPECT_EQ(top.exitCode, 0) << top.describe();
    EXPECT_TRUE(contains(lower(top.out), "usage")) << top.describe();
    for (const char* command : kCommands)
      EXPECT_TRUE(contains(top.out, command)) << command << top.describe();
  }
}

TEST_F(Tool, GlobalOptionsAnywhereAndEndOfOptions) {
  Result version = runTool({"--version"});
  EXPECT_EQ(version.exitCode, 0) << version.describe();
  EXPECT_TRUE(contains(version.out, "QVv3 shared client library")) << version.describe();

  const std::string src = sequence("src.imc2", 2);
  for (const auto& args : std::vector<std::vector<std::string>>{{"-v", "check", src},
                                                                {"check", src, "-v"},
                                                                {"--verbose", "check", src},
                                                                {"check", "--verbose", src}}) {
    Result r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << joined(args) << r.describe();
    EXPECT_TRUE(contains(r.out, src + ": 2 frame(s), all valid")) << r.describe();
  }

  // "--" ends the options: a file name may start with a dash.
  ASSERT_TRUE(writeSequence(dir.file("-odd.imc2"), 2));
  Result odd = runTool({"info", "--", "-odd.imc2"}, nullptr, {}, dir.path());
  EXPECT_EQ(odd.exitCode, 0) << odd.describe();
  EXPECT_TRUE(contains(odd.out, "frames:          2")) << odd.describe();
  Result oddCheck = runTool({"check", "--", "-odd.imc2"}, nullptr, {}, dir.path());
  EXPECT_EQ(oddCheck.exitCode, 0) << oddCheck.describe();
}

TEST_F(Tool, GrabInfoCheckRoundTrip) {
  const std::string file = dir.file("grab.imc2");
  ASSERT_NO_FATAL_FAILURE(grab(file, 4));
  Result info = runTool({"info", file});
  ASSERT_EQ(info.exitCode, 0) << info.describe();
  EXPECT_TRUE(contains(info.out, "format:          IMC2/BKC2")) << info.out;
  EXPECT_TRUE(contains(info.out, "frames:          4")) << info.out;
  EXPECT_TRUE(contains(info.out, "GRAY, 2 byte(s) per pixel, 12 effective bits")) << info.out;
  EXPECT_TRUE(contains(lineStartingWith(info.out, "camera port:"), "/SIM/VIDEO/CAM1")) << info.out;
  EXPECT_NE(lineStartingWith(info.out, "first frame:"), "") << info.out;
  EXPECT_NE(lineStartingWith(info.out, "last frame:"), "") << info.out;
  const std::string scales = lineStartingWith(info.out, "scales:");
  EXPECT_TRUE(scales.size() >= 8 && scales.substr(scales.size() - 8) == "mm/pixel") << info.out;

  Result json = runTool({"info", file, "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.describe();
  nlohmann::json j;
  ASSERT_NO_THROW(j = nlohmann::json::parse(json.out)) << json.out;
  EXPECT_EQ(j.value("frames", 0), 4) << json.out;
  EXPECT_EQ(j.value("width", 0), 640);
  EXPECT_EQ(j.value("height", 0), 480);
  EXPECT_EQ(j.value("bytes_per_pixel", 0), 2);
  EXPECT_EQ(j.value("effective_bits", 0), 12);
  EXPECT_EQ(j.value("camera_port_name", ""), "/SIM/VIDEO/CAM1");
  EXPECT_EQ(j.value("last_frame_number", 0) - j.value("first_frame_number", 0), 3) << json.out;
  EXPECT_EQ(j.value("sequence", false), true);
  EXPECT_EQ(j.value("complete_sequence", false), true);

  Result check = runTool({"check", file});
  EXPECT_EQ(check.exitCode, 0) << check.describe();
  EXPECT_TRUE(contains(check.out, file + ": 4 frame(s), all valid")) << check.out;

  // An existing output is replaced by a grab only with --force.
  const std::string content = readFile(file);
  Result again = runTool({"grab", "-n", "1", "-o", file, "--rate", "20"});
  EXPECT_EQ(again.exitCode, 1) << again.describe();
  EXPECT_TRUE(contains(again.err, "already exists")) << again.describe();
  EXPECT_EQ(readFile(file), content);
  Result forced = runTool({"grab", "-n", "1", "-o", file, "--rate", "20", "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.describe();
  EXPECT_EQ(framesIn(file), 1);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"grab.imc2"});
}

TEST_F(Tool, ExportWritesOneBmpPerFrame) {
  const std::string source = sequence("src.imc2", 3);
  // A missing folder is created, with its missing parents.
  const std::string out = dir.file("bmp/deeper");
  Result r = runTool({"export", source, out, "--format", "bmp"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_EQ(entries(out),
            (std::vector<std::string>{"frame_001.bmp", "frame_002.bmp", "frame_003.bmp"}));
  for (const auto& name : entries(out)) {
    const std::string bmp = readFile(out + "/" + name);
    ASSERT_GT(bmp.size(), 1078u) << name;
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(bmp.substr(28, 2), std::string("\x08\0", 2)) << name << ": 8 bits per pixel";
  }

  // A file where the folder should be is a failure and stays as it was.
  const std::string plain = dir.file("plain.txt");
  writeFile(plain, "not a folder\n");
  Result onFile = runTool({"export", source, plain, "--format", "bmp"});
  EXPECT_EQ(onFile.exitCode, 1) << onFile.describe();
  EXPECT_EQ(lineCount(onFile.err), 1) << onFile.describe();
  EXPECT_EQ(readFile(plain), "not a folder\n");

  // An existing picture is replaced only with --force.
  writeFile(out + "/frame_001.bmp", "keep me");
  Result refused = runTool({"export", source, out, "--format", "bmp"});
  EXPECT_EQ(refused.exitCode, 1) << refused.describe();
  EXPECT_TRUE(contains(refused.err, "already exists")) << refused.describe();
  EXPECT_EQ(readFile(out + "/frame_001.bmp"), "keep me");
  for (const auto& name : entries(out)) EXPECT_NE(name[0], '.') << name;
  Result forced = runTool({"export", source, out, "--format", "bmp", "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.describe();
  EXPECT_EQ(readFile(out + "/frame_001.bmp").substr(0, 2), "BM");

  // Palettes by name and by number; the names give different pictures.
  std::vector<std::string> pictures;
  for (const char* palette : {"grey", "bands", "rainbow", "0", "1", "2"}) {
    const std::string target = dir.file(std::string("palette_") + palette);
    Result p = runTool(
        {"export", source, target, "--format", "bmp", "--palette", palette, "--frames", "1"});
    EXPECT_EQ(p.exitCode, 0) << palette << p.describe();
    EXPECT_EQ(entries(target), std::vector<std::string>{"frame_001.bmp"}) << palette;
    pictures.push_back(readFile(target + "/frame_001.bmp"));
  }
  EXPECT_NE(pictures[0], pictures[1]);
  EXPECT_NE(pictures[0], pictures[2]);
  EXPECT_NE(pictures[1], pictures[2]);

  // --prefix names the pictures; --frames limits them.
  const std::string named = dir.file("named");
  Result prefixed =
      runTool({"export", source, named, "--format", "bmp", "--prefix", "shot", "--frames", "2"});
  EXPECT_EQ(prefixed.exitCode, 0) << prefixed.describe();
  const auto written = entries(named);
  EXPECT_EQ(written.size(), 2u);
  for (const auto& name : written) EXPECT_EQ(name.compare(0, 4, "shot"), 0) << name;
}

TEST_F(Tool, NamesListsTheSystemList) {
  const std::string list = dir.file("system.xml");
  writeFile(list,
            "<QVv3><Name>Lab</Name><TineContext>LABCTX</TineContext><ComponentList>"
            "<ImageSources><ImageSource><NameID>cam1=4711</NameID><SGPType>PCVision</SGPType></"
            "ImageSource>"
            "<ImageSource><NameID>cam2=12</NameID><SGPType>PCVision</SGPType></ImageSource></"
            "ImageSources>"
            "<SGPs><SGP><Name>server1</Name><Type>PCVision</Type></SGP></SGPs>"
            "</ComponentList></QVv3>");
  Result r = runTool({"names", list});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_TRUE(contains(r.out, "TINE context: LABCTX")) << r.out;
  EXPECT_TRUE(contains(r.out, "cam1"));
  EXPECT_TRUE(contains(r.out, "id 4711"));
  EXPECT_TRUE(contains(r.out, "server1"));
  EXPECT_EQ(runTool({"names", dir.file("none.xml")}).exitCode, 1);
}

TEST_F(Tool, InterruptedConvertLeavesNoFile) {
  // Noise does not compress, so writing it takes a while.
  const std::string source = dir.file("big.imm");
  ASSERT_TRUE(writeSequence(source, 60, 1024, 1024));
  const std::string sourceBytes = readFile(source);
  const std::string outDir = dir.file("out");
  ASSERT_EQ(::mkdir(outDir.c_str(), 0700), 0);
  writeFile(outDir + "/other.txt", "untouched\n");
  const Snapshot before = snapshot(outDir);
  for (int signal : {SIGINT, SIGTERM}) {
    for (const char* name : {"big.imc2", "big.imc"}) {
      const std::string target = outDir + "/" + name;
      bool sawWork = false;
      Result r = runTool({"convert", source, target}, [&](pid_t pid) {
        // The tool reads the whole source before it stages anything; a
        // sanitizer build on a busy machine takes seconds for that.
        sawWork = waitForHiddenEntry(outDir, 30.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::kill(pid, signal);
      });
      EXPECT_TRUE(sawWork) << "no hidden working folder appeared in " << outDir;
      EXPECT_EQ(r.exitCode, 130) << name << " signal " << signal << r.describe();
      EXPECT_EQ(changes(before, snapshot(outDir)), "") << name << " signal " << signal;
    }
  }
  EXPECT_EQ(readFile(source), sourceBytes);
}

TEST_F(Tool, DemoGrabsSavesVerifiesAndExports) {
  const std::string keep = dir.file("kept");
  ASSERT_EQ(::mkdir(keep.c_str(), 0700), 0);
  Result r = runTool({"demo", "-n", "3", "--keep", keep});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_TRUE(contains(r.out, "verified: 3 frames loaded back")) << r.out;
  EXPECT_EQ(framesIn(keep + "/demo.imc2"), 3);
  EXPECT_EQ(readFile(keep + "/frame_001.png").substr(1, 3), "PNG");
}
