// The file commands: what info reports, how loading fails, and how convert
// chooses writers and refuses to touch what it must not.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fixtures.h"

namespace {

// Lines on stderr that are not warnings.
int failureLines(const std::string& err) {
  int n = 0;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    n += err.compare(start, 17, "qvtool: warning: ") != 0;
    start = end + 1;
  }
  return n;
}

// A time stamp given as text (containing the clock time) or as seconds.
bool stampIs(const nlohmann::json& value, const std::string& clock, double seconds) {
  if (value.is_string()) return contains(value.get<std::string>(), clock);
  return value.is_number() && std::fabs(value.get<double>() - seconds) < 1.0;
}

}  // namespace

TEST_F(Tool, InfoShowsTheHeaderFacts) {
  const std::string file = sequence("facts.imc2", 4);
  Result text = runTool({"info", file});
  ASSERT_EQ(text.exitCode, 0) << text.describe();
  EXPECT_TRUE(contains(text.out, "format:          IMC2/BKC2")) << text.out;
  EXPECT_TRUE(contains(text.out, "frames:          4")) << text.out;
  EXPECT_TRUE(contains(text.out, "GRAY, 1 byte(s) per pixel, 8 effective bits")) << text.out;
  const std::string port = lineStartingWith(text.out, "camera port:");
  EXPECT_TRUE(contains(port, kPortName) && contains(port, "42")) << text.out;
  const std::string first = lineStartingWith(text.out, "first frame:");
  EXPECT_TRUE(contains(first, "101") && contains(first, "5001") && contains(first, "22:13:20"))
      << text.out;
  const std::string last = lineStartingWith(text.out, "last frame:");
  EXPECT_TRUE(contains(last, "104") && contains(last, "5004") && contains(last, "22:13:23"))
      << text.out;
  const std::string scales = lineStartingWith(text.out, "scales:");
  EXPECT_TRUE(contains(scales, "10") && scales.size() >= 8 &&
              scales.substr(scales.size() - 8) == "mm/pixel")
      << text.out;

  Result json = runTool({"info", file, "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.describe();
  nlohmann::json j;
  ASSERT_NO_THROW(j = nlohmann::json::parse(json.out)) << json.out;
  ASSERT_TRUE(j.is_object()) << json.out;
  for (const char* key :
       {"file", "format", "frames", "width", "height", "pixel_format", "bytes_per_pixel",
        "effective_bits", "flags", "camera_port_name", "camera_port_id", "first_frame_number",
        "last_frame_number", "first_event_number", "last_event_number", "first_timestamp",
        "last_timestamp", "sequence", "complete_sequence"})
    EXPECT_TRUE(j.contains(key)) << key << " missing in " << json.out;
  EXPECT_EQ(j["file"], file);
  EXPECT_EQ(j["format"], "IMC2/BKC2");
  EXPECT_EQ(j["frames"], 4);
  EXPECT_EQ(j["width"], 64);
  EXPECT_EQ(j["height"], 48);
  EXPECT_TRUE(j["pixel_format"].is_string() &&
              contains(j["pixel_format"].get<std::string>(), "GRAY"))
      << json.out;
  EXPECT_EQ(j["bytes_per_pixel"], 1);
  EXPECT_EQ(j["effective_bits"], 8);
  EXPECT_EQ(j["camera_port_name"], kPortName);
  EXPECT_EQ(j["camera_port_id"], kPortId);
  EXPECT_EQ(j["first_frame_number"], kFirstFrameNumber);
  EXPECT_EQ(j["last_frame_number"], kFirstFrameNumber + 3);
  EXPECT_EQ(j["first_event_number"], kFirstEventNumber);
  EXPECT_EQ(j["last_event_number"], kFirstEventNumber + 3);
  EXPECT_TRUE(stampIs(j["first_timestamp"], "22:13:20", kFirstSecond + 0.25)) << json.out;
  EXPECT_TRUE(stampIs(j["last_timestamp"], "22:13:23", kFirstSecond + 3.25)) << json.out;
  EXPECT_EQ(j["sequence"], true);
  EXPECT_EQ(j["complete_sequence"], true);
}

TEST_F(Tool, InfoJsonEscapesFileNames) {
  // A control character and a byte that is not UTF-8 in the name.
  const std::string file = dir.file(std::string("odd\x01") + "name\xff" + ".imc2");
  ASSERT_TRUE(writeSequence(file, 2));
  Result r = runTool({"info", file, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_TRUE(contains(r.out, "\\u0001")) << r.out;
  EXPECT_FALSE(contains(r.out, "\x01")) << r.out;
  EXPECT_FALSE(contains(r.out, "\xff")) << r.out;
  EXPECT_TRUE(contains(r.out, "\xEF\xBF\xBD")) << r.out;
  nlohmann::json j;
  ASSERT_NO_THROW(j = nlohmann::json::parse(r.out)) << r.out;
  EXPECT_EQ(j["file"], dir.file(std::string("odd\x01") + "name\xEF\xBF\xBD" + ".imc2"));
  EXPECT_EQ(j["frames"], 2);
}

TEST_F(Tool, LoadFailuresAreOnePlainLine) {
  const std::string missing = dir.file("missing.imc2");
  const std::string folder = dir.file("folder.imc2");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string empty = dir.file("empty.imc2");
  writeFile(empty, "");
  // Ten frames whose data is stored as is (noise); the cut falls in the
  // middle of the third frame's data, which ends where a three-frame file ends.
  const std::string work = dir.file("work");
  ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
  constexpr int kWidth = 128, kHeight = 96;
  ASSERT_TRUE(writeSequence(work + "/three.imc2", 3, kWidth, kHeight));
  ASSERT_TRUE(writeSequence(work + "/ten.imc2", 10, kWidth, kHeight));
  const size_t cut = readFile(work + "/three.imc2").size() - kWidth * kHeight / 2;
  const std::string ten = readFile(work + "/ten.imc2");
  ASSERT_LT(cut, ten.size());
  const std::string truncated = dir.file("truncated.imc2");
  writeFile(truncated, ten.substr(0, cut));
  ASSERT_TRUE(writeSequence(work + "/cut.imm", 3));
  const std::string imm = dir.file("cut.imm");
  const std::string immBytes = readFile(work + "/cut.imm");
  writeFile(imm, immBytes.substr(0, immBytes.size() - 100));
  std::string noise(4096, '\0');
  uint32_t state = 2024;
  for (char& c : noise) c = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
  const std::string random = dir.file("noise.imc2");
  writeFile(random, noise);
  std::filesystem::remove_all(work);

  struct Case {
    std::string file;
    std::string says;
    bool libraryReason;  // -v adds the library's own reason
  };
  const Case cases[] = {
      {missing, missing + ": No such file or directory", false},
      {folder, "is a directory", false},
      {empty, "is empty", false},
      {truncated, "file is truncated (image 3 of 10 incomplete)", true},
      {imm, "looks like a truncated IMM file", false},
      {random, "not a sequence file this tool reads", false},
  };
  const Snapshot before = snapshot(dir.path());
  for (const Case& c : cases) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"info", c.file},
                                               {"info", c.file, "--json"},
                                               {"check", c.file},
                                               {"convert", c.file, dir.file("out.imc2")}}) {
      Result r = runTool(args);
      EXPECT_EQ(r.exitCode, 1) << joined(args) << r.describe();
      EXPECT_EQ(lineCount(r.err), 1) << joined(args) << r.describe();
      const std::string line = firstLine(r.err);
      EXPECT_EQ(line.compare(0, 8, "qvtool: "), 0) << line;
      EXPECT_TRUE(contains(line, c.says)) << joined(args) << r.describe();
      EXPECT_TRUE(contains(line, c.file)) << line;
      if (c.file == missing) {
        EXPECT_EQ(line, "qvtool: " + missing + ": No such file or directory") << joined(args);
      }
      EXPECT_FALSE(contains(line, "_internal") || contains(line, "magic")) << line;
      EXPECT_EQ(changes(before, snapshot(dir.path())), "") << joined(args);
    }
    Result verbose = runTool({"-v", "info", c.file});
    EXPECT_EQ(verbose.exitCode, 1) << verbose.describe();
    EXPECT_TRUE(contains(verbose.err, c.says)) << verbose.describe();
    if (c.libraryReason) {
      EXPECT_GT(lineCount(verbose.err), 1) << verbose.describe();
    }
  }
}

TEST_F(Tool, ConvertWritesTheFormatTheNameOrOptionSelects) {
  const std::string three = sequence("three.imc2", 3);
  const std::string one = sequence("one.imc2", 1);
  const std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
  struct Case {
    std::string in, name;
    std::vector<std::string> extra;
    std::string format;
    int frames;
    bool legacy;
  };
  const Case cases[] = {
      {three, "a.imc2", {}, "IMC2/BKC2", 3, false},
      {three, "b.BKC2", {}, "IMC2/BKC2", 3, false},
      {three, "c.imc", {}, "IMC/BKC", 3, true},
      {three, "d.Bkc", {}, "IMC/BKC", 3, true},
      {three, "e.IMM", {}, "IMM", 3, true},
      {one, "f.bkg", {}, "BKG", 1, true},
      {three, "g.dat", {"--format", "imc"}, "IMC/BKC", 3, true},
      {three, "h.imc2", {"--format", "imm"}, "IMM", 3, true},
      {three, "i", {"--format", "bkc2"}, "IMC2/BKC2", 3, false},
      {one, "j.tif", {"--format", "bkg"}, "BKG", 1, true},
      {three, "k.imm", {"--format", "imc2"}, "IMC2/BKC2", 3, false},
      {three, "l.bkc", {"--format", "bkc"}, "IMC/BKC", 3, true},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    std::vector<std::string> args = {"convert", c.in, out + "/" + c.name};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    Result r = runTool(args);
    ASSERT_EQ(r.exitCode, 0) << joined(args) << r.describe();
    expected.push_back(c.name);
    Result info = runTool({"info", out + "/" + c.name});
    EXPECT_TRUE(contains(info.out, "format:          " + c.format + "\n"))
        << joined(args) << info.describe();
    EXPECT_TRUE(contains(info.out, "frames:          " + std::to_string(c.frames) + "\n"))
        << info.describe();
    if (c.legacy) {
      const std::string warning = lineStartingWith(r.err, "qvtool: warning: ");
      EXPECT_TRUE(contains(warning, "time stamps")) << joined(args) << r.describe();
      EXPECT_EQ(lineCount(r.err), 1) << joined(args) << r.describe();
    } else {
      EXPECT_FALSE(contains(r.err, "warning")) << joined(args) << r.describe();
    }
  }
  // --force replaces a regular file.
  Result forced = runTool({"convert", one, out + "/a.imc2", "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.describe();
  EXPECT_EQ(framesIn(out + "/a.imc2"), 1);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries(out), expected);
}

TEST_F(Tool, ConvertRefusesAndLeavesTheFolderAsItWas) {
  const std::string f = dir.path();
  ASSERT_TRUE(writeSequence(dir.file("seq.imc2"), 3));
  ASSERT_TRUE(writeSequence(dir.file("keep.imc2"), 1, 32, 16));
  ASSERT_TRUE(writeSequence(dir.file("keep.bkg"), 1));
  ASSERT_EQ(::link(dir.file("seq.imc2").c_str(), dir.file("hard.imc2").c_str()), 0);
  ASSERT_EQ(::link(dir.file("seq.imc2").c_str(), dir.file("hard.imm").c_str()), 0);
  ASSERT_EQ(::symlink("seq.imc2", dir.file("sym.imc2").c_str()), 0);
  ASSERT_EQ(::symlink("keep.imc2", dir.file("other.imc2").c_str()), 0);
  ASSERT_EQ(::symlink("nothing.imc2", dir.file("dangling.imc2").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.file("dir.imc2").c_str(), 0700), 0);
  writeFile(dir.file("dir.imc2/inner.txt"), "inside\n");
  ASSERT_EQ(::mkfifo(dir.file("pipe.imc2").c_str(), 0600), 0);

  struct Case {
    std::vector<std::string> args;  // after "convert", run in the folder
    int exitCode;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {{"seq.imc2", "seq.imc2"}, 1, {"same file"}},
      {{"seq.imc2", "seq.imc2", "--force"}, 1, {"same file"}},
      {{"seq.imc2", "./seq.imc2", "--force"}, 1, {"same file"}},
      {{"seq.imc2", f + "/seq.imc2", "--force"}, 1, {"same file"}},
      {{"seq.imc2", "dir.imc2/../seq.imc2", "--force"}, 1, {"same file"}},
      {{"seq.imc2", "hard.imc2", "--force"}, 1, {"same file"}},
      {{"seq.imc2", "hard.imm", "--force"}, 1, {"same file"}},
      {{"seq.imc2", "sym.imc2", "--force"}, 1, {"same file"}},
      {{"sym.imc2", "seq.imc2", "--force"}, 1, {"same file"}},
      {{"seq.imc2", "seq.imc2", "--force", "--format", "imc"}, 1, {"same file"}},
      {{"seq.imc2", "keep.imc2"}, 1, {"already exists"}},
      {{"seq.imc2", "dir.imc2", "--force"}, 1, {}},
      {{"seq.imc2", "other.imc2", "--force"}, 1, {}},
      {{"seq.imc2", "dangling.imc2", "--force"}, 1, {}},
      {{"seq.imc2", "pipe.imc2", "--force"}, 1, {}},
      {{"missing.imc2", "keep.imc2", "--force"}, 1, {"No such file or directory"}},
      {{"seq.imc2", "keep.bkg", "--force"}, 1, {}},
      {{"dir.imc2", "new.imc2"}, 1, {"is a directory"}},
      {{"seq.imc2", "no/such/new.imc2"}, 1, {}},
      {{"seq.imc2", "new.dat"}, 2, {".imc2", ".bkg"}},
      {{"seq.imc2", "new.hdf"}, 2, {".imc2", ".bkg"}},
      {{"seq.imc2", "new.bmp"}, 2, {".imc2", ".bkg"}},
      {{"seq.imc2", "new.raw", "--force"}, 2, {".imc2", ".bkg"}},
      {{"seq.imc2", "new"}, 2, {".imc2", ".bkg"}},
  };
  const Snapshot before = snapshot(f);
  for (const Case& c : cases) {
    std::vector<std::string> args = {"convert"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = runTool(args, nullptr, {}, f);
    EXPECT_EQ(r.exitCode, c.exitCode) << joined(args) << r.describe();
    for (const auto& part : c.says)
      EXPECT_TRUE(contains(r.err, part)) << joined(args) << r.describe();
    if (c.exitCode == 1) {
      EXPECT_EQ(r.err.compare(0, 8, "qvtool: "), 0) << joined(args) << r.describe();
      EXPECT_EQ(failureLines(r.err), 1) << joined(args) << r.describe();
    }
    EXPECT_EQ(changes(before, snapshot(f)), "") << joined(args);
  }
}

// HDF5 and TIFF through the tool: IMC2 -> HDF5 -> IMC2 moves the stored
// frames and gives the same file back; every command reads the results.
TEST_F(Tool, ConvertsToTheFieldsFormatsAndBack) {
  const std::string imc2 = sequence("run.imc2", 4);
  const std::string nexus = dir.file("run.nxs"), back = dir.file("back.imc2");
  Result there = runTool({"convert", imc2, nexus});
  ASSERT_EQ(there.exitCode, 0) << there.describe();
  EXPECT_TRUE(contains(there.out, "moved as stored")) << there.out;
  Result home = runTool({"convert", nexus, back});
  ASSERT_EQ(home.exitCode, 0) << home.describe();
  EXPECT_EQ(readFile(imc2), readFile(back));

  const std::string tiff = dir.file("run.tif"), shuffled = dir.file("run.h5");
  ASSERT_EQ(runTool({"convert", nexus, tiff}).exitCode, 0);
  Result again = runTool({"convert", "--shuffle", tiff, shuffled});
  ASSERT_EQ(again.exitCode, 0) << again.describe();
  EXPECT_FALSE(contains(again.out, "moved as stored")) << again.out;
  for (const auto& [file, format] : {std::pair{nexus, "HDF5/NeXus"}, {tiff, "TIFF"}}) {
    Result info = runTool({"info", file});
    ASSERT_EQ(info.exitCode, 0) << info.describe();
    EXPECT_TRUE(contains(info.out, std::string("format:          ") + format)) << info.out;
    EXPECT_TRUE(contains(lineStartingWith(info.out, "camera port:"), kPortName)) << info.out;
    EXPECT_EQ(runTool({"check", file}).exitCode, 0) << file;
  }
  const std::string final = dir.file("final.imc2");
  ASSERT_EQ(runTool({"convert", shuffled, final}).exitCode, 0);
  EXPECT_EQ(readFile(imc2), readFile(final));  // through TIFF and a shuffled HDF5 file

  writeFile(dir.file("other.h5"), readFile(nexus).substr(0, 2000));
  Result cut = runTool({"info", dir.file("other.h5")});
  EXPECT_EQ(cut.exitCode, 1) << cut.describe();
  EXPECT_EQ(failureLines(cut.err), 1) << cut.err;
}
