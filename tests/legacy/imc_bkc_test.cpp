#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "codec/frame_codec.h"
#include "legacy/legacy.h"
#include "legacy_test_util.h"
#include "support/tempdir.h"

namespace {

std::string deflate(const std::string& sData) {
  uLongf uiLength = compressBound(sData.size());
  std::string sOut(uiLength, '\0');
  compress(reinterpret_cast<Bytef*>(&sOut[0]), &uiLength,
           reinterpret_cast<const Bytef*>(sData.data()), sData.size());
  sOut.resize(uiLength);
  return sOut;
}

// The frame's stream as this build's codec writes it (zlib's compress in a
// zlib-engine build): the file layout is checked here, the engine's streams
// in the codec's tests.
std::string codecStream(const std::string& sData) {
  std::string sOut(qv::codec::compressBound(sData.size()), '\0');
  uint64_t uiLength = 0;
  EXPECT_EQ(qv::codec::compressFrame(reinterpret_cast<const uint8_t*>(sData.data()), sData.size(),
                                     reinterpret_cast<uint8_t*>(&sOut[0]), sOut.size(), uiLength),
            qv::codec::Compressed::kDone);
  sOut.resize(uiLength);
  return sOut;
}

std::string fileHeader(int32_t w, int32_t h, uint32_t uiDepth, uint32_t uiCount) {
  return le32(uint32_t(w)) + le32(uint32_t(h)) + le32(uiDepth) + le32(uiCount);
}

std::string imageRecord(double dScale, const std::string& sStream, uint32_t uiUncompressed) {
  return f64(dScale) + le32(uint32_t(sStream.size())) + le32(uiUncompressed) + sStream;
}

// A valid two-frame 4 x 2 8-bit file.
std::string smallImc() {
  return fileHeader(4, 2, 8, 2) + imageRecord(1.5, deflate(bytes(8, 1)), 8) +
         imageRecord(2.5, deflate(bytes(8, 2)), 8);
}

int loadFile(const TempDir& dir, const std::string& sContent, Record& r) {
  writeFile(dir.file("t.imc"), sContent);
  return load_imc_file(dir.file("t.imc").c_str(), &r.v);
}

}  // namespace

TEST(ImcFile, WriterProducesTheDocumentedBytes) {
  TempDir dir;
  Record r;
  fillRecord(r.v, 3, 2, 16, 12, 2, 1);
  ASSERT_EQ(save_imc_file(dir.file("a.imc").c_str(), &r.v), 0);
  const std::string sExpected = fileHeader(3, 2, 0x000C0010, 2) +
                                imageRecord(0.25, codecStream(r.frame(0)), 12) +
                                imageRecord(1.25, codecStream(r.frame(1)), 12);
  EXPECT_EQ(readFile(dir.file("a.imc")), sExpected);
  EXPECT_EQ(readFile(dir.file("a.imc")).substr(8, 4), std::string("\x10\x00\x0C\x00", 4));

  r.v.ebpp = 0;
  ASSERT_EQ(save_imc_file(dir.file("b.imc").c_str(), &r.v), 0);
  EXPECT_EQ(readFile(dir.file("b.imc")).substr(8, 4), std::string("\x10\x00\x10\x00", 4));
  ASSERT_EQ(save_bkc_file(dir.file("b.bkc").c_str(), &r.v), 0);
  EXPECT_EQ(readFile(dir.file("b.bkc")), readFile(dir.file("b.imc")));

  Record e;
  fillRecord(e.v, 2, 2, 8, 6, 1, 1);
  ASSERT_EQ(save_imc_file(dir.file("c.imc").c_str(), &e.v), 0);
  EXPECT_EQ(readFile(dir.file("c.imc")).substr(8, 4), std::string("\x08\x00\x00\x00", 4));
}

TEST(ImcFile, RoundTripOfEveryReaderForm) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 7, 5, 16, 12, 3, 2);
  ASSERT_EQ(save_imc_file(dir.file("a.imc").c_str(), &a.v), 0);
  Record b, c, d, e;
  ASSERT_EQ(load_imc_file(dir.file("a.imc").c_str(), &b.v), 0);
  ASSERT_EQ(load_bkc_file(dir.file("a.imc").c_str(), &c.v), 0);
  ASSERT_EQ(load_imc_bkc_file(dir.file("a.imc").c_str(), &d.v, 4), 0);
  ASSERT_EQ(load_imc_bkc_file(dir.file("a.imc").c_str(), &e.v, 7), -2);  // unfreeable type
  EXPECT_TRUE(e.empty());
  EXPECT_EQ(b.v.type, 2);
  EXPECT_EQ(c.v.type, 4);
  EXPECT_EQ(d.v.type, 4);
  EXPECT_EQ(b.v.width, 7);
  EXPECT_EQ(b.v.height, 5);
  EXPECT_EQ(b.v.bpp, 16);
  EXPECT_EQ(b.v.ebpp, 12);
  EXPECT_EQ(b.v.numframes, 3);
  EXPECT_EQ(b.v.scale, 0.25);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(b.frame(i), a.frame(i));
    EXPECT_EQ(b.v.framescales[i], a.v.framescales[i]);
  }
}

TEST(ImcFile, EightBitRecordReadsBackWithEffectiveEight) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 4, 4, 8, 6, 1, 1);
  ASSERT_EQ(save_imc_file(dir.file("a.imc").c_str(), &a.v), 0);
  Record b;
  ASSERT_EQ(load_imc_file(dir.file("a.imc").c_str(), &b.v), 0);
  EXPECT_EQ(b.v.ebpp, 8);
}

TEST(ImcFile, TinyAndIncompressibleFramesAreSaved) {
  TempDir dir;
  for (int w : {1, 2, 5, 30}) {
    Record a;
    fillRecord(a.v, w, 1, 8, 8, 2, 1);
    const std::string sPath = dir.file("t" + std::to_string(w) + ".imc");
    ASSERT_EQ(save_imc_file(sPath.c_str(), &a.v), 0) << w;
    Record b;
    ASSERT_EQ(load_imc_file(sPath.c_str(), &b.v), 0);
    EXPECT_EQ(b.frame(1), a.frame(1));
  }
}

TEST(ImcFile, DepthWordDecoding) {
  TempDir dir;
  const std::string sFrame = deflate(bytes(4, 3));
  Record r;
  ASSERT_EQ(loadFile(dir, fileHeader(2, 1, 0x000C0010, 1) + imageRecord(1, sFrame, 4), r), 0);
  EXPECT_EQ(r.v.bpp, 16);
  EXPECT_EQ(r.v.ebpp, 12);
  Record s;
  ASSERT_EQ(loadFile(dir, fileHeader(2, 1, 16, 1) + imageRecord(1, sFrame, 4), s), 0);
  EXPECT_EQ(s.v.ebpp, 16);
  Record t;
  EXPECT_EQ(loadFile(dir, fileHeader(2, 1, 12, 1) + imageRecord(1, sFrame, 4), t), -4);
  EXPECT_EQ(loadFile(dir, fileHeader(2, 1, 0x00100020, 1) + imageRecord(1, sFrame, 4), t), -4);
}

TEST(ImcFile, TruncationAtEveryHeaderFieldAndInTheData) {
  TempDir dir;
  const std::string sGood = smallImc();
  const size_t uiFirstRecordEnd = 16 + 16 + deflate(bytes(8, 1)).size();
  for (size_t uiCut = 0; uiCut < sGood.size(); ++uiCut) {
    Record r;
    const int iResult = loadFile(dir, sGood.substr(0, uiCut), r);
    EXPECT_EQ(iResult, -5) << uiCut;
    EXPECT_TRUE(r.empty());
  }
  Record r;
  EXPECT_EQ(loadFile(dir, sGood.substr(0, 16), r), -5);
  EXPECT_EQ(loadFile(dir, sGood.substr(0, uiFirstRecordEnd), r), -5);
  EXPECT_TRUE(r.empty());
}

TEST(ImcFile, HostileHeadersAreRefusedBeforeAllocating) {
  TempDir dir;
  const std::string sImage = imageRecord(1, deflate(bytes(8, 1)), 8);
  struct Case {
    std::string sContent;
    int iExpected;
  } cases[] = {
      {fileHeader(4, 2, 8, 0) + sImage, -4},                     // no images
      {fileHeader(0, 2, 8, 1) + sImage, -4},                     // no width
      {fileHeader(-4, -2, 8, 1) + sImage, -4},                   // negative geometry
      {fileHeader(0x7FFFFFFF, 0x7FFFFFFF, 16, 1) + sImage, -4},  // beyond 32 bits
      {fileHeader(4, 2, 8, 0x7FFFFFFF) + sImage, -5},            // count the file cannot hold
      {fileHeader(4, 2, 8, 0xFFFFFFFF) + sImage, -4},            // count beyond the record's range
      {fileHeader(4, 2, 8, 1) + imageRecord(1, deflate(bytes(8, 1)), 9), -4},      // wrong length
      {fileHeader(4, 2, 8, 1) + f64(1) + le32(0xFFFFFFF0) + le32(8) + "abc", -5},  // beyond file
  };
  for (const Case& c : cases) {
    Record r;
    EXPECT_EQ(loadFile(dir, c.sContent, r), c.iExpected);
    EXPECT_TRUE(r.empty());
  }
}

TEST(ImcFile, StreamsThatDoNotYieldTheFrameAreDecompressionErrors) {
  TempDir dir;
  Record r;
  // Expands to 7 of the frame's 8 bytes: the last byte would be undefined.
  EXPECT_EQ(loadFile(dir, fileHeader(4, 2, 8, 1) + imageRecord(1, deflate(bytes(7, 1)), 8), r), -8);
  EXPECT_TRUE(r.empty());
  // Expands beyond the frame.
  EXPECT_EQ(loadFile(dir, fileHeader(4, 2, 8, 1) + imageRecord(1, deflate(bytes(9, 1)), 8), r), -8);
  std::string sBroken = deflate(bytes(8, 1));
  sBroken[2] = char(sBroken[2] ^ 0x55);
  EXPECT_EQ(loadFile(dir, fileHeader(4, 2, 8, 1) + imageRecord(1, sBroken, 8), r), -8);
  // 400 MB claimed from a 10-byte stream: more than deflate can expand to.
  EXPECT_EQ(
      loadFile(dir, fileHeader(20000, 10000, 16, 1) + imageRecord(1, bytes(10, 'x'), 400000000), r),
      -8);
  EXPECT_TRUE(r.empty());
}

TEST(ImcFile, ReaderProgressAndUserBreak) {
  TempDir dir;
  writeFile(dir.file("a.imc"), smallImc());
  Record r;
  int iBreak = 0;
  double dProgress = -1;
  ASSERT_EQ(load_imc_fileEx(dir.file("a.imc").c_str(), &r.v, &iBreak, &dProgress, 0.5), 0);
  EXPECT_EQ(r.v.type, 2);
  EXPECT_DOUBLE_EQ(dProgress, 0.5);
  Record s;
  iBreak = 1;
  EXPECT_EQ(load_imc_fileEx(dir.file("a.imc").c_str(), &s.v, &iBreak, &dProgress, 1.0), -9);
  EXPECT_TRUE(s.empty());
  Record t;
  fillRecord(t.v, 1, 1, 8, 8, 1, 2);
  EXPECT_EQ(load_imc_file(dir.file("a.imc").c_str(), &t.v), -6);
  Record u;
  EXPECT_EQ(load_imc_file(dir.file("missing.imc").c_str(), &u.v), -3);
}

TEST(ImcFile, WriterUserBreakRefusalsAndProgress) {
  TempDir dir;
  const std::string sPath = dir.file("a.bkc");
  Record r;
  fillRecord(r.v, 4, 2, 8, 8, 3, 4);
  int iBreak = 1;
  double dProgress = -1;
  EXPECT_EQ(save_bkc_fileEx(sPath.c_str(), &r.v, &iBreak, &dProgress), -9);
  EXPECT_FALSE(fileExists(sPath));
  EXPECT_EQ(save_imc_fileEx(sPath.c_str(), &r.v, &iBreak, &dProgress), -9);
  EXPECT_FALSE(fileExists(sPath));
  iBreak = 0;
  EXPECT_EQ(save_bkc_fileEx(sPath.c_str(), &r.v, &iBreak, &dProgress), 0);
  EXPECT_EQ(dProgress, 1.0);

  EXPECT_EQ(save_imc_file(dir.file("x.imc").c_str(), nullptr), -3);
  r.v.type = 5;
  EXPECT_EQ(save_imc_file(dir.file("x.imc").c_str(), &r.v), -2);
  r.v.type = 4;
  r.v.numframes = 0;
  EXPECT_EQ(save_imc_file(dir.file("x.imc").c_str(), &r.v), -3);
  r.v.numframes = 3;
  EXPECT_FALSE(fileExists(dir.file("x.imc")));
  EXPECT_EQ(save_imc_file(dir.file("no/dir/x.imc").c_str(), &r.v), -4);

  // Depths the reader refuses are refused before a file exists.
  for (int bpp : {1, 12, 24, 32}) {
    Record d;
    fillRecord(d.v, 4, 2, bpp, bpp, 2, 2);
    EXPECT_EQ(save_imc_file(dir.file("depth.imc").c_str(), &d.v), -2) << bpp;
    EXPECT_EQ(save_bkc_file(dir.file("depth.bkc").c_str(), &d.v), -2) << bpp;
    EXPECT_FALSE(fileExists(dir.file("depth.imc")) || fileExists(dir.file("depth.bkc"))) << bpp;
  }
}

TEST(ImcFile, WriteErrorLeavesNoFile) {
  expectWriteFailureLeavesNoFile(
      [](const std::string& sPath) {
        Record r;
        fillRecord(r.v, 64, 64, 16, 16, 3, 2);
        for (int i = 0; i < 3; ++i)  // incompressible enough to pass the size limit
          for (int k = 0; k < 64 * 64 * 2; ++k) r.v.framebits[i][k] = (k * 2654435761u) >> 24;
        return save_imc_file(sPath.c_str(), &r.v);
      },
      -5);
}
