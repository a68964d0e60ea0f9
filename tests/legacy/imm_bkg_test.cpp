#include <gtest/gtest.h>

#include <string>

#include "legacy/legacy.h"
#include "legacy_test_util.h"
#include "support/tempdir.h"

namespace {

// Three 4 x 2 8-bit frames with scales 1.5, 2.5, 3.5.
std::string threeSmallFrames() {
  std::string s;
  for (int i = 0; i < 3; ++i) s += frameHeader(4, 0, 2, 0) + bytes(8, char('a' + i)) + f64(1.5 + i);
  return s;
}

}  // namespace

TEST(ImmFile, WriterProducesTheDocumentedBytes) {
  TempDir dir;
  Record r;
  fillRecord(r.v, 4, 2, 8, 6, 3, 1);
  for (int i = 0; i < 3; ++i) {
    std::memset(r.v.framebits[i], 'a' + i, 8);
    r.v.framescales[i] = 1.5 + i;
  }
  ASSERT_EQ(save_imm_file(dir.file("a.imm").c_str(), &r.v), 0);
  EXPECT_EQ(readFile(dir.file("a.imm")), threeSmallFrames());  // 72 bytes, 8-bit depths as 0
}

TEST(ImmFile, SixteenBitHeaderCarriesDepthsAndScale) {
  TempDir dir;
  Record r;
  fillRecord(r.v, 3, 1, 16, 12, 1, 4);
  r.v.framescales[0] = -2.0;
  ASSERT_EQ(save_imm_file(dir.file("a.imm").c_str(), &r.v), 0);
  const std::string sFile = readFile(dir.file("a.imm"));
  ASSERT_EQ(sFile.size(), 8u + 6u + 8u);
  EXPECT_EQ(sFile.substr(0, 8), frameHeader(3, 16, 1, 12));
  EXPECT_EQ(sFile.substr(8, 6), r.frame(0));
  EXPECT_EQ(sFile.substr(14), f64(-2.0));

  r.v.ebpp = 0;  // 0 is written as bpp
  ASSERT_EQ(save_imm_file(dir.file("b.imm").c_str(), &r.v), 0);
  EXPECT_EQ(readFile(dir.file("b.imm")).substr(0, 8), frameHeader(3, 16, 1, 16));
}

TEST(ImmFile, ReaderCountsWholeRecordsOnly) {
  TempDir dir;
  writeFile(dir.file("a.imm"), threeSmallFrames() + "x");  // 73 bytes
  Record r;
  ASSERT_EQ(load_imm_file(dir.file("a.imm").c_str(), &r.v), 0);
  EXPECT_EQ(r.v.type, 1);
  EXPECT_EQ(r.v.numframes, 3);
  EXPECT_EQ(r.v.width, 4);
  EXPECT_EQ(r.v.height, 2);
  EXPECT_EQ(r.v.bpp, 8);
  EXPECT_EQ(r.v.ebpp, 8);
  EXPECT_EQ(r.v.scale, 1.5);
  EXPECT_EQ(r.v.framescales[2], 3.5);
  EXPECT_EQ(r.frame(1), bytes(8, 'b'));

  writeFile(dir.file("b.imm"), threeSmallFrames().substr(0, 23));
  Record r2;
  EXPECT_EQ(load_imm_file(dir.file("b.imm").c_str(), &r2.v), -4);
  EXPECT_TRUE(r2.empty());
}

TEST(ImmFile, RoundTripKeepsFramesScalesAndDepths) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 5, 3, 16, 12, 4, 2);
  ASSERT_EQ(save_imm_file(dir.file("a.imm").c_str(), &a.v), 0);
  Record b;
  ASSERT_EQ(load_imm_file(dir.file("a.imm").c_str(), &b.v), 0);
  EXPECT_EQ(b.v.numframes, 4);
  EXPECT_EQ(b.v.bpp, 16);
  EXPECT_EQ(b.v.ebpp, 12);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(b.frame(i), a.frame(i));
    EXPECT_EQ(b.v.framescales[i], a.v.framescales[i]);
  }
}

TEST(ImmFile, EightBitRecordReadsBackWithEffectiveEight) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 4, 4, 8, 6, 1, 1);
  ASSERT_EQ(save_imm_file(dir.file("a.imm").c_str(), &a.v), 0);
  ASSERT_EQ(save_bkg_file(dir.file("a.bkg").c_str(), &a.v), 0);
  Record b, c;
  ASSERT_EQ(load_imm_file(dir.file("a.imm").c_str(), &b.v), 0);
  ASSERT_EQ(load_bkg_file(dir.file("a.bkg").c_str(), &c.v), 0);
  EXPECT_EQ(b.v.ebpp, 8);
  EXPECT_EQ(c.v.ebpp, 8);
}

TEST(ImmFile, LaterHeaderDifferingInAnyValueIsRejected) {
  TempDir dir;
  const std::string sFirst = frameHeader(2, 16, 2, 12) + bytes(8, 1) + f64(1.0);
  const std::string variants[] = {frameHeader(3, 16, 2, 12), frameHeader(2, 8, 2, 12),
                                  frameHeader(2, 16, 1, 12), frameHeader(2, 16, 2, 10)};
  for (const std::string& sSecond : variants) {
    // Padded so that the file still holds two whole records of the first size.
    writeFile(dir.file("a.imm"), sFirst + sSecond + bytes(8, 2) + f64(1.0) + bytes(16, 0));
    Record r;
    EXPECT_EQ(load_imm_file(dir.file("a.imm").c_str(), &r.v), -4);
    EXPECT_TRUE(r.empty());
  }
}

TEST(ImmFile, HighBytesOfDepthWordsAreIgnored) {
  TempDir dir;
  writeFile(dir.file("a.imm"), frameHeader(2, 0x0310, 1, 0xFF0C) + bytes(4, 9) + f64(1.0));
  Record r;
  ASSERT_EQ(load_imm_file(dir.file("a.imm").c_str(), &r.v), 0);
  EXPECT_EQ(r.v.bpp, 16);
  EXPECT_EQ(r.v.ebpp, 12);
}

TEST(ImmFile, TruncatedOrHostileHeaders) {
  TempDir dir;
  const std::string sGood = frameHeader(4, 0, 2, 0) + bytes(8, 1) + f64(1.0);
  for (size_t uiCut = 0; uiCut < 8; ++uiCut) {  // inside each header field
    writeFile(dir.file("a.imm"), sGood.substr(0, uiCut));
    Record r;
    EXPECT_EQ(load_imm_file(dir.file("a.imm").c_str(), &r.v), -5) << uiCut;
    EXPECT_TRUE(r.empty());
  }
  struct Case {
    std::string sHeader;
    int iExpected;
  } cases[] = {
      {frameHeader(0, 8, 2, 8), -4},  // no pixels
      {frameHeader(4, 8, 0, 8), -4},
      {frameHeader(65535, 255, 65535, 8), -4},  // beyond 32 bits
      {frameHeader(65535, 16, 65535, 16), -4},  // 8 GiB claimed, tiny file: no whole record
  };
  for (const Case& c : cases) {
    writeFile(dir.file("h.imm"), c.sHeader + bytes(64, 0));
    Record r;
    EXPECT_EQ(load_imm_file(dir.file("h.imm").c_str(), &r.v), c.iExpected);
    EXPECT_TRUE(r.empty());
  }
}

TEST(ImmFile, ReaderRefusesFilledRecordAndMissingFile) {
  TempDir dir;
  writeFile(dir.file("a.imm"), threeSmallFrames());
  Record r;
  fillRecord(r.v, 1, 1, 8, 8, 1, 3);
  EXPECT_EQ(load_imm_file(dir.file("a.imm").c_str(), &r.v), -6);
  EXPECT_EQ(r.v.type, 3);
  EXPECT_EQ(load_imm_file(dir.file("a.imm").c_str(), nullptr), -6);
  Record e;
  EXPECT_EQ(load_imm_file(dir.file("none.imm").c_str(), &e.v), -3);
  EXPECT_EQ(load_imm_file(nullptr, &e.v), -3);
  EXPECT_TRUE(e.empty());
}

TEST(ImmFile, ReaderProgressAndUserBreak) {
  TempDir dir;
  writeFile(dir.file("a.imm"), threeSmallFrames());
  Record r;
  int iBreak = 0;
  double dProgress = -1;
  ASSERT_EQ(load_imm_fileEx(dir.file("a.imm").c_str(), &r.v, &iBreak, &dProgress, 0.5), 0);
  EXPECT_DOUBLE_EQ(dProgress, 0.5);

  Record s;
  iBreak = 1;
  EXPECT_EQ(load_imm_fileEx(dir.file("a.imm").c_str(), &s.v, &iBreak, nullptr, 1.0), -9);
  EXPECT_TRUE(s.empty());
  iBreak = 2;  // only exactly 1 stops
  EXPECT_EQ(load_imm_fileEx(dir.file("a.imm").c_str(), &s.v, &iBreak, nullptr, 1.0), 0);
}

TEST(ImmFile, WriterUserBreakAndProgress) {
  TempDir dir;
  Record r;
  fillRecord(r.v, 4, 2, 8, 8, 3, 1);
  int iBreak = 1;
  double dProgress = -1;
  EXPECT_EQ(save_imm_fileEx(dir.file("a.imm").c_str(), &r.v, &iBreak, &dProgress), -9);
  EXPECT_FALSE(fileExists(dir.file("a.imm")));
  EXPECT_EQ(dProgress, 0.0);
  iBreak = 0;
  EXPECT_EQ(save_imm_fileEx(dir.file("a.imm").c_str(), &r.v, &iBreak, &dProgress), 0);
  EXPECT_EQ(dProgress, 1.0);
}

TEST(ImmFile, WriterRefusesWhatItCannotStore) {
  TempDir dir;
  const std::string sPath = dir.file("a.imm");
  EXPECT_EQ(save_imm_file(sPath.c_str(), nullptr), -3);
  Record r;
  fillRecord(r.v, 4, 2, 8, 8, 1, 5);
  EXPECT_EQ(save_imm_file(sPath.c_str(), &r.v), -2);  // significance map
  r.v.type = -1;
  EXPECT_EQ(save_imm_file(sPath.c_str(), &r.v), -2);
  r.v.type = 1;
  r.v.numframes = 0;
  EXPECT_EQ(save_imm_file(sPath.c_str(), &r.v), -3);
  r.v.numframes = 1;
  // A width the 16-bit header field cannot carry.
  Record wide;
  fillRecord(wide.v, 65536, 1, 8, 8, 1, 1);
  EXPECT_EQ(save_imm_file(sPath.c_str(), &wide.v), -2);
  EXPECT_EQ(save_bkg_file(sPath.c_str(), &wide.v), -2);
  Record high;
  fillRecord(high.v, 1, 70000, 8, 8, 1, 1);
  EXPECT_EQ(save_imm_file(sPath.c_str(), &high.v), -2);
  EXPECT_EQ(save_bkg_file(sPath.c_str(), &high.v), -2);
  r.v.bpp = 256;  // the depth field keeps only its low byte
  EXPECT_EQ(save_imm_file(sPath.c_str(), &r.v), -2);
  EXPECT_FALSE(fileExists(sPath));
  r.v.bpp = 8;
  EXPECT_EQ(save_imm_file(dir.file("no/such/dir/a.imm").c_str(), &r.v), -4);
}

TEST(ImmFile, WriteErrorLeavesNoFile) {
  expectWriteFailureLeavesNoFile(
      [](const std::string& sPath) {
        Record r;
        fillRecord(r.v, 64, 64, 8, 8, 3, 1);
        return save_imm_file(sPath.c_str(), &r.v);
      },
      -5);
}

TEST(BkgFile, WriterBytesAndRoundTrip) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 3, 2, 16, 10, 1, 3);
  ASSERT_EQ(save_bkg_file(dir.file("a.bkg").c_str(), &a.v), 0);
  EXPECT_EQ(readFile(dir.file("a.bkg")), frameHeader(3, 16, 2, 10) + a.frame(0));
  writeFile(dir.file("b.bkg"), readFile(dir.file("a.bkg")) + "trailing");
  Record b;
  ASSERT_EQ(load_bkg_file(dir.file("b.bkg").c_str(), &b.v), 0);
  EXPECT_EQ(b.v.type, 3);
  EXPECT_EQ(b.v.numframes, 1);
  EXPECT_EQ(b.v.bpp, 16);
  EXPECT_EQ(b.v.ebpp, 10);
  EXPECT_EQ(b.v.scale, 1.0);
  EXPECT_EQ(b.v.framescales[0], 1.0);
  EXPECT_EQ(b.frame(0), a.frame(0));
}

TEST(BkgFile, TruncationAndHostileSizes) {
  TempDir dir;
  const std::string sGood = frameHeader(3, 8, 2, 8) + bytes(6, 4);
  for (size_t uiCut = 0; uiCut < sGood.size(); ++uiCut) {
    writeFile(dir.file("a.bkg"), sGood.substr(0, uiCut));
    Record r;
    EXPECT_EQ(load_bkg_file(dir.file("a.bkg").c_str(), &r.v), -5) << uiCut;
    EXPECT_TRUE(r.empty());
  }
  // 65535 x 65535 x 8 bit: 4 GiB claimed by a 16-byte file, refused before allocating.
  writeFile(dir.file("h.bkg"), frameHeader(65535, 8, 65535, 8) + bytes(8, 0));
  Record r;
  EXPECT_EQ(load_bkg_file(dir.file("h.bkg").c_str(), &r.v), -5);
  writeFile(dir.file("z.bkg"), frameHeader(0, 8, 5, 8) + bytes(8, 0));
  EXPECT_EQ(load_bkg_file(dir.file("z.bkg").c_str(), &r.v), -4);
  EXPECT_TRUE(r.empty());
}

TEST(BkgFile, ProgressValueOnlyOnSuccess) {
  TempDir dir;
  writeFile(dir.file("a.bkg"), frameHeader(2, 8, 1, 8) + "ab");
  writeFile(dir.file("b.bkg"), frameHeader(2, 8, 1, 8) + "a");
  double dProgress = 0;
  Record r, s;
  EXPECT_EQ(load_bkg_fileEx(dir.file("b.bkg").c_str(), &s.v, &dProgress, 0.5), -5);
  EXPECT_EQ(dProgress, 0.0);
  EXPECT_EQ(load_bkg_fileEx(dir.file("a.bkg").c_str(), &r.v, &dProgress, 0.5), 0);
  EXPECT_EQ(dProgress, 0.5);
}

TEST(BkgFile, MultiFrameReader) {
  TempDir dir;
  const std::string sRecord1 = frameHeader(2, 16, 2, 12) + bytes(8, 1);
  const std::string sRecord2 = frameHeader(2, 16, 2, 12) + bytes(8, 2);
  writeFile(dir.file("a.bkg"), sRecord1 + sRecord2 + "xyz");
  Record r;
  ASSERT_EQ(load_bkg_file_arb(dir.file("a.bkg").c_str(), &r.v), 0);
  EXPECT_EQ(r.v.type, 4);
  EXPECT_EQ(r.v.numframes, 2);
  EXPECT_EQ(r.frame(1), bytes(8, 2));
  EXPECT_EQ(r.v.framescales[1], 1.0);

  writeFile(dir.file("b.bkg"), sRecord1 + frameHeader(2, 16, 2, 16) + bytes(8, 2));
  Record s;
  EXPECT_EQ(load_bkg_file_arb(dir.file("b.bkg").c_str(), &s.v), -4);
  EXPECT_TRUE(s.empty());
  writeFile(dir.file("c.bkg"), sRecord1.substr(0, 12));
  EXPECT_EQ(load_bkg_file_arb(dir.file("c.bkg").c_str(), &s.v), -4);
}

TEST(BkgFile, WriterRefusals) {
  TempDir dir;
  const std::string sPath = dir.file("a.bkg");
  Record r;
  fillRecord(r.v, 2, 2, 8, 8, 2, 3);
  EXPECT_EQ(save_bkg_file(sPath.c_str(), &r.v), -1);
  EXPECT_EQ(save_bkg_file(sPath.c_str(), nullptr), -3);
  r.v.numframes = 1;
  r.v.type = 5;
  EXPECT_EQ(save_bkg_file(sPath.c_str(), &r.v), -2);
  EXPECT_FALSE(fileExists(sPath));
  r.v.numframes = 2;
  r.v.type = 3;
}

TEST(BkgFile, WriteErrorLeavesNoFile) {
  expectWriteFailureLeavesNoFile(
      [](const std::string& sPath) {
        Record r;
        fillRecord(r.v, 64, 64, 8, 8, 1, 3);
        return save_bkg_file(sPath.c_str(), &r.v);
      },
      -5);
}
