#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "legacy/legacy.h"
#include "legacy_test_util.h"
#include "support/environment.h"
#include "support/log_capture.h"
#include "support/tempdir.h"

namespace {

struct Bmp {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 24;
  uint16_t planes = 1;
  uint32_t compression = 0;
  uint32_t infoSize = 40;
  uint32_t clrUsed = 0;
  int64_t sizeImage = -1;  // -1: the pixel bytes given
  std::string type = "BM";
  std::string palette;
  std::string pixels;

  std::string build() const {
    const uint32_t uiOff =
        14 + (infoSize > 40 ? infoSize : 40) + static_cast<uint32_t>(palette.size());
    const uint32_t uiSizeImage =
        sizeImage < 0 ? static_cast<uint32_t>(pixels.size()) : static_cast<uint32_t>(sizeImage);
    std::string s =
        type + le32(uiOff + static_cast<uint32_t>(pixels.size())) + le16(0) + le16(0) + le32(uiOff);
    s += le32(infoSize) + le32(uint32_t(width)) + le32(uint32_t(height)) + le16(planes) +
         le16(bitCount) + le32(compression) + le32(uiSizeImage) + le32(0) + le32(0) +
         le32(clrUsed) + le32(0);
    if (infoSize > 40) s += std::string(infoSize - 40, '\0');
    return s + palette + pixels;
  }
};

std::string bgr(uint8_t b, uint8_t g, uint8_t r) { return std::string{char(b), char(g), char(r)}; }

int load(const TempDir& dir, const Bmp& bmp, Record& r, int iKeep = 0) {
  writeFile(dir.file("t.bmp"), bmp.build());
  return load_bmp_file(dir.file("t.bmp").c_str(), &r.v, iKeep);
}

// 3 x 2, 24 bit, bottom-up: stored bottom row red, green, blue; top row white,
// black, grey 100.
Bmp colourBmp() {
  Bmp b;
  b.width = 3;
  b.height = 2;
  b.pixels = bgr(0, 0, 255) + bgr(0, 255, 0) + bgr(255, 0, 0) + bytes(3, 0) + bgr(255, 255, 255) +
             bgr(0, 0, 0) + bgr(100, 100, 100) + bytes(3, 0);
  return b;
}

std::string paletteEntry(const std::string& sFile, int k) { return sFile.substr(54 + 4 * k, 4); }

}  // namespace

TEST(BmpReader, TwentyFourBitBottomUpToGrey) {
  TempDir dir;
  Record r;
  ASSERT_EQ(load(dir, colourBmp(), r), 0);
  EXPECT_EQ(r.v.type, 6);
  EXPECT_EQ(r.v.width, 3);
  EXPECT_EQ(r.v.height, 2);
  EXPECT_EQ(r.v.bpp, 8);
  EXPECT_EQ(r.v.ebpp, 8);
  EXPECT_EQ(r.v.numframes, 1);
  EXPECT_EQ(r.v.scale, 1.0);
  EXPECT_EQ(r.v.framescales[0], 1.0);
  EXPECT_EQ(r.frame(0), std::string("\xFF\x00\x64\x4C\x95\x1D", 6));  // 255 0 100 / 76 149 29
}

TEST(BmpReader, TopDownKeepsRowOrder) {
  TempDir dir;
  Bmp b = colourBmp();
  b.height = -2;
  Record r;
  ASSERT_EQ(load(dir, b, r), 0);
  EXPECT_EQ(r.v.height, 2);
  EXPECT_EQ(r.frame(0), std::string("\x4C\x95\x1D\xFF\x00\x64", 6));
}

TEST(BmpReader, PaletteImageWithShortPaletteAndKeptIndices) {
  TempDir dir;
  Bmp b;
  b.bitCount = 8;
  b.width = 2;
  b.clrUsed = 2;
  b.palette = bgr(0, 0, 0) + '\0' + bgr(10, 20, 30) + '\0';
  b.pixels = std::string("\x05\x01\x00\x00", 4);
  Record r;
  ASSERT_EQ(load(dir, b, r), 0);
  // Index 5 lies beyond the two entries: magenta, grey 105; entry 1 gives 21.
  EXPECT_EQ(r.frame(0), std::string("\x69\x15", 2));
  Record k;
  ASSERT_EQ(load(dir, b, k, 1), 0);
  EXPECT_EQ(k.frame(0), std::string("\x05\x01", 2));
}

TEST(BmpReader, RefusedVariantsAndHostileSizes) {
  TempDir dir;
  struct Case {
    const char* sWhat;
    Bmp bmp;
    int iExpected;
  };
  std::vector<Case> cases;
  auto add = [&](const char* sWhat, int iExpected, auto change) {
    Bmp b = colourBmp();
    change(b);
    cases.push_back({sWhat, b, iExpected});
  };
  add("not BM", -4, [](Bmp& b) { b.type = "BA"; });
  add("run-length", -8, [](Bmp& b) { b.compression = 1; });
  add("planes", -4, [](Bmp& b) { b.planes = 2; });
  add("small info", -8, [](Bmp& b) {
    b.infoSize = 12;
    b.pixels.clear();
    b.sizeImage = 0;
  });
  add("4 bit", -8, [](Bmp& b) { b.bitCount = 4; });
  add("32 bit", -8, [](Bmp& b) { b.bitCount = 32; });
  add("no width", -4, [](Bmp& b) { b.width = 0; });
  add("no height", -4, [](Bmp& b) { b.height = 0; });
  add("size 0", -5, [](Bmp& b) { b.sizeImage = 0; });
  add("size beyond file", -5, [](Bmp& b) { b.sizeImage = 0xFFFFFFF0; });
  add("rows beyond size", -4, [](Bmp& b) { b.height = 3; });
  add("rows far beyond size", -4, [](Bmp& b) {
    b.width = 0x7FFFFFFF;
    b.height = INT32_MIN;
  });
  for (const Case& c : cases) {
    Record r;
    r.v.width = 77;
    EXPECT_EQ(load(dir, c.bmp, r), c.iExpected) << c.sWhat;
    EXPECT_TRUE(r.empty()) << c.sWhat;
    EXPECT_EQ(r.v.width, 77) << c.sWhat;  // untouched
  }
}

TEST(BmpReader, TruncatedHeadersAndPalette) {
  TempDir dir;
  const std::string sFile = colourBmp().build();
  for (size_t uiCut = 0; uiCut < 54; ++uiCut) {
    writeFile(dir.file("t.bmp"), sFile.substr(0, uiCut));
    Record r;
    EXPECT_EQ(load_bmp_file(dir.file("t.bmp").c_str(), &r.v, 0), -5) << uiCut;
  }
  Bmp b;
  b.bitCount = 8;
  b.clrUsed = 200;  // promised entries that the file does not hold
  b.palette = bytes(8, 0);
  b.pixels = bytes(4, 0);
  b.sizeImage = 4;
  writeFile(dir.file("p.bmp"), b.build().substr(0, 54 + 8));
  Record r;
  EXPECT_EQ(load_bmp_file(dir.file("p.bmp").c_str(), &r.v, 0), -5);
}

TEST(BmpReader, ArgumentChecks) {
  TempDir dir;
  writeFile(dir.file("t.bmp"), colourBmp().build());
  Record r;
  EXPECT_EQ(load_bmp_file(nullptr, &r.v, 0), -10);
  EXPECT_EQ(load_bmp_file(dir.file("t.bmp").c_str(), nullptr, 0), -10);
  EXPECT_EQ(load_bmp_file(dir.file("none.bmp").c_str(), &r.v, 0), -3);
  fillRecord(r.v, 1, 1, 8, 8, 1, 6);
  EXPECT_EQ(load_bmp_file(dir.file("t.bmp").c_str(), &r.v, 0), -6);
  Record viaLoadFile;
  EXPECT_EQ(load_file(6, dir.file("t.bmp").c_str(), &viaLoadFile.v), 0);
  EXPECT_EQ(viaLoadFile.v.type, 6);
}

TEST(BmpWriter, FileNamesByDigitsCode) {
  TempDir dir;
  Record r;
  fillRecord(r.v, 2, 2, 8, 8, 3, 1);
  const char* kNames[4][3] = {{"f1", "f2", "f3"},
                              {"f01", "f02", "f03"},
                              {"f001", "f002", "f003"},
                              {"f0001", "f0002", "f0003"}};
  for (int iDigits = 0; iDigits < 4; ++iDigits) {
    const std::string sBase = dir.file("d" + std::to_string(iDigits) + "_");
    ASSERT_EQ(save_bmp_files(sBase.c_str(), &r.v, 0, iDigits), 0);
    for (const char* sName : kNames[iDigits])
      EXPECT_TRUE(fileExists(sBase + (sName + 1) + ".bmp")) << sName;
  }
}

TEST(BmpWriter, DocumentedBytesForFiveWideFrame) {
  TempDir dir;
  Record r;
  fillRecord(r.v, 5, 2, 8, 8, 1, 6);
  ASSERT_EQ(save_bmp_files(dir.file("frame_").c_str(), &r.v, 0, 2), 0);
  const std::string s = readFile(dir.file("frame_001.bmp"));
  ASSERT_EQ(s.size(), 8u * 2 + 1078);
  std::string sHeader = "BM" + le32(8 * 2 + 1078) + le32(0) + le32(1078);
  sHeader += le32(40) + le32(5) + le32(2) + le16(1) + le16(8) + le32(0) + le32(16) + le32(0) +
             le32(0) + le32(0) + le32(0);
  EXPECT_EQ(s.substr(0, 54), sHeader);
  EXPECT_EQ(paletteEntry(s, 0), std::string("\0\0\0\0", 4));
  EXPECT_EQ(paletteEntry(s, 200), std::string("\xC8\xC8\xC8\0", 4));
  // Last frame row first, padded with zeros to the stride of 8.
  const std::string sRow0 = r.frame(0).substr(0, 5), sRow1 = r.frame(0).substr(5, 5);
  EXPECT_EQ(s.substr(1078), sRow1 + bytes(3, 0) + sRow0 + bytes(3, 0));
}

TEST(BmpWriter, Palettes) {
  TempDir dir;
  Record r;
  fillRecord(r.v, 1, 1, 8, 8, 1, 1);
  ASSERT_EQ(save_bmp_files(dir.file("p1_").c_str(), &r.v, 1, 0), 0);
  ASSERT_EQ(save_bmp_files(dir.file("p2_").c_str(), &r.v, 2, 0), 0);
  const std::string s1 = readFile(dir.file("p1_1.bmp"));
  const std::string s2 = readFile(dir.file("p2_1.bmp"));
  auto entry = [](uint8_t b, uint8_t g, uint8_t rr) { return bgr(b, g, rr) + '\0'; };
  EXPECT_EQ(paletteEntry(s2, 0), entry(0, 0, 0));
  EXPECT_EQ(paletteEntry(s2, 32), entry(255, 3, 0));
  EXPECT_EQ(paletteEntry(s2, 128), entry(123, 255, 131));
  EXPECT_EQ(paletteEntry(s2, 1), entry(135, 0, 0));
  EXPECT_EQ(paletteEntry(s2, 230), entry(0, 0, 227));
  EXPECT_EQ(paletteEntry(s2, 255), entry(255, 255, 255));
  EXPECT_EQ(paletteEntry(s1, 0), entry(0, 0, 0));
  EXPECT_EQ(paletteEntry(s1, 1), entry(255, 0, 0));
  EXPECT_EQ(paletteEntry(s1, 86), entry(110, 67, 0));
  EXPECT_EQ(paletteEntry(s1, 150), entry(0, 190 * 65 / 85 + 65, 0));
  EXPECT_EQ(paletteEntry(s1, 171), entry(0, 0, 67));
  EXPECT_EQ(paletteEntry(s1, 255), entry(255, 255, 255));
}

TEST(BmpWriter, GreyFramesComeBackUnchanged) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 256, 1, 8, 8, 1, 1);
  for (int k = 0; k < 256; ++k) a.v.framebits[0][k] = static_cast<unsigned char>(k);
  ASSERT_EQ(save_bmp_files(dir.file("g").c_str(), &a.v, 0, 0), 0);
  Record b;
  ASSERT_EQ(load_bmp_file(dir.file("g1.bmp").c_str(), &b.v, 0), 0);
  EXPECT_EQ(b.frame(0), a.frame(0));
}

TEST(BmpWriter, RefusalsWriteNothing) {
  TempDir dir;
  const std::string sBase = dir.file("r");
  Record r;
  fillRecord(r.v, 2, 2, 16, 16, 2, 1);
  EXPECT_EQ(save_bmp_files(sBase.c_str(), &r.v, 0, 0), -10);
  EXPECT_EQ(save_bmp_files(sBase.c_str(), nullptr, 0, 0), -3);
  r.v.bpp = 8;
  EXPECT_EQ(save_bmp_files(sBase.c_str(), &r.v, 3, 0), -9);
  EXPECT_EQ(save_bmp_files(sBase.c_str(), &r.v, 0, 4), -9);
  EXPECT_EQ(save_bmp_files(nullptr, &r.v, 0, 0), -9);
  EXPECT_EQ(save_bmp_files("", &r.v, 0, 0), -9);
  EXPECT_EQ(save_bmp_files((sBase + std::string(250, 'x')).c_str(), &r.v, 0, 0), -9);
  r.v.type = 5;
  EXPECT_EQ(save_bmp_files(sBase.c_str(), &r.v, 0, 0), -2);
  r.v.type = 1;
  EXPECT_FALSE(fileExists(sBase + "1.bmp"));
  EXPECT_EQ(save_bmp_files(dir.file("no/dir/r").c_str(), &r.v, 0, 0), -5);
  const uint8_t pixel = 0;
  EXPECT_EQ(_internal_writeBmp8File(dir.file("x.bmp").c_str(), 1, 1, &pixel, 3), -9);
  EXPECT_EQ(_internal_writeBmp8File(dir.file("no/x.bmp").c_str(), 1, 1, &pixel, 0), -4);
  EXPECT_EQ(_internal_writeBmp8File(dir.file("x.bmp").c_str(), 0, 1, &pixel, 0), -9);
  EXPECT_FALSE(fileExists(dir.file("x.bmp")));
}

TEST(BmpWriter, WriteErrorLeavesNoFile) {
  expectWriteFailureLeavesNoFile(
      [](const std::string& sPath) {
        std::string sPixels(64 * 64, '\x11');
        return _internal_writeBmp8File(sPath.c_str(), 64, 64,
                                       reinterpret_cast<const uint8_t*>(sPixels.data()), 0);
      },
      -5);
}

TEST(BmpReader, NoCheckpointsAtLogLevelOne) {
  TempDir dir;
  writeFile(dir.file("t.bmp"), colourBmp().build());
  LogCapture log;
  Record r;
  ASSERT_EQ(load_bmp_file(dir.file("t.bmp").c_str(), &r.v, 0), 0);
  EXPECT_FALSE(log.contains("load_bmp_file #"));
}

namespace {
// Exit 0 when a successful and a failed load write their checkpoint lines.
int checkpointsAtLogLevelTwo() {
  TempDir dir;
  writeFile(dir.file("t.bmp"), colourBmp().build());
  LogCapture log;
  Record r;
  if (load_bmp_file(dir.file("t.bmp").c_str(), &r.v, 0) != 0) return 1;
  for (int i = 1; i <= 10; ++i)
    if (log.count("v2videofileload load_bmp_file #" + std::to_string(i) + ".") != 1) return 10 + i;
  log.clear();
  Record s;
  load_bmp_file(dir.file("missing.bmp").c_str(), &s.v, 0);
  if (log.count("load_bmp_file #") != 3 || !log.contains("#10.")) return 2;
  return 0;
}
}  // namespace

TEST(BmpReader, CheckpointsAtLogLevelTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  qvtest::setEnvironment("KELTA_CLIENTLIB_LOGLEVEL", "2");
  EXPECT_EXIT(std::_Exit(checkpointsAtLogLevelTwo()), ::testing::ExitedWithCode(0), "");
  qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGLEVEL");
}
