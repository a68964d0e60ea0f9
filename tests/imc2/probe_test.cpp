#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "imc2/imc2.h"
#include "imc2_test_util.h"
#include "legacy/legacy.h"
#include "support/tempdir.h"

namespace {

// A legacy record that frees itself; frames filled with a per-frame byte.
struct Legacy {
  VIDINFHDR v;
  Legacy(int w, int h, int bpp, int ebpp, int n, uint8_t (*pixel)(int frame, size_t k)) {
    initialize_vidinfhdr(&v);
    v.width = w;
    v.height = h;
    v.bpp = bpp;
    v.ebpp = ebpp;
    v.numframes = n;
    v.type = 1;
    v.framebits = static_cast<unsigned char**>(calloc(n, sizeof(unsigned char*)));
    v.framescales = static_cast<double*>(calloc(n, sizeof(double)));
    const size_t s = size_t(w) * h * bpp / 8;
    for (int i = 0; i < n; ++i) {
      v.framebits[i] = static_cast<unsigned char*>(malloc(s));
      for (size_t k = 0; k < s; ++k) v.framebits[i][k] = pixel(i, k);
      v.framescales[i] = 0.5;
    }
    v.scale = 0.5;
  }
  ~Legacy() { free_vidinfhdr(&v); }
};

uint8_t pattern(int frame, size_t k) { return static_cast<uint8_t>(k * 13 + frame); }
uint8_t uniform(int, size_t) { return 9; }

std::string imc2File(const TempDir& dir, const std::string& name, bool portFields) {
  TestBunch bunch;
  makeBunch(bunch, 3, 8, 8, 1);
  for (uint32_t i = 0; portFields && i < bunch.size(); ++i) {
    bunch[i].sourceHeader.cameraPortId = 3;
    strcpy(bunch[i].sourceHeader.cameraPortName, "p");
  }
  const std::string path = dir.file(name);
  EXPECT_EQ(qvSaveImagesToFile(bunch.get(), path.c_str()), 0);
  return path;
}

int format(const std::string& path) { return qvCheckFileFormat(path.c_str(), nullptr, 0); }

}  // namespace

TEST(Probes, WriterFilesAreIMC2WithAndWithoutPortFields) {
  TempDir dir;
  EXPECT_EQ(format(imc2File(dir, "a.imc2", false)), 3);
  EXPECT_EQ(format(imc2File(dir, "b.bkc2", true)), 3);
  EXPECT_TRUE(_internal_isIMC2File(dir.file("a.imc2").c_str()));
  EXPECT_FALSE(_internal_isIMCFile(dir.file("a.imc2").c_str()));
  EXPECT_FALSE(_internal_isIMMFile(dir.file("a.imc2").c_str()));
  EXPECT_FALSE(_internal_isBKGFile(dir.file("a.imc2").c_str()));
}

TEST(Probes, IMC2ProbeRejectsWhatTheReaderTolerates) {
  TempDir dir;
  const std::string path = imc2File(dir, "x", false);
  const std::string content = readFile(path);
  auto variant = [&](const std::string& name, const std::string& bytes) {
    const std::string p = dir.file(name);
    writeFile(p, bytes);
    return p;
  };
  // One extra byte: not IMC2 for the probe, yet it loads.
  const std::string trailing = variant("trailing", content + "!");
  EXPECT_EQ(format(trailing), -1);
  TestBunch loaded;
  EXPECT_EQ(qvLoadImagesFromFile(trailing.c_str(), loaded.get()), 0);
  EXPECT_EQ(loaded.size(), 3u);
  // One byte missing at the end.
  EXPECT_EQ(format(variant("short", content.substr(0, content.size() - 1))), -1);
  // A record text of two characters: the reader skips the unknown key, the probe refuses it.
  Bytes withTiny;
  withTiny.raw(content.substr(0, 8)).u32(21).crlf().raw(content.substr(14, 20 * 252)).record("a=");
  withTiny.raw(content.substr(14 + 20 * 252));
  const std::string tiny = variant("tiny", withTiny.str());
  EXPECT_EQ(format(tiny), -1);
  TestBunch tinyLoaded;
  EXPECT_EQ(qvLoadImagesFromFile(tiny.c_str(), tinyLoaded.get()), 0);
  // A data length running past the end of the file.
  std::string pastEnd = content;
  const uint64_t huge = 0x7FFFFFFFFFFFFFFFull;
  memcpy(&pastEnd[5054], &huge, 8);
  memcpy(&pastEnd[5054 + 8], &huge, 8);
  EXPECT_EQ(format(variant("pastEnd", pastEnd)), -1);
  // Wrong magic, and a count of records beyond 100.
  std::string magic = content;
  magic[4] = 2;
  EXPECT_EQ(format(variant("magic", magic)), -1);
  std::string many = content;
  many[8] = 101;
  EXPECT_EQ(format(variant("many", many)), -1);
}

TEST(Probes, ImmNeedsAWholeFrameRecordAndBkgAnExactSize) {
  TempDir dir;
  // 100 frames of 64 x 64 8-bit pixels: 411200 bytes.
  Legacy imm(64, 64, 8, 8, 100, pattern);
  const std::string immPath = dir.file("seq.imm");
  ASSERT_EQ(save_imm_file(immPath.c_str(), &imm.v), 0);
  ASSERT_EQ(readFile(immPath).size(), 411200u);
  EXPECT_EQ(format(immPath), 0);
  TestBunch loaded;
  ASSERT_EQ(qvLoadImagesFromFile(immPath.c_str(), loaded.get()), 0);
  EXPECT_EQ(loaded.size(), 100u);

  // A header that announces a large frame is no IMM file on its own.
  const std::string headerOnly = dir.file("header");
  writeFile(headerOnly, std::string("\x00\x10\x00\x00\x00\x10\x00\x00", 8));
  EXPECT_FALSE(_internal_isIMMFile(headerOnly.c_str()));
  EXPECT_EQ(format(headerOnly), -1);
  char reason[200];
  EXPECT_EQ(qvCheckFileFormat(headerOnly.c_str(), reason, sizeof reason), -1);
  EXPECT_EQ(std::string(reason), "File (" + headerOnly +
                                     ") is either no IMC2 or BKC2 or IMC or BKC or IMM or BKG or "
                                     "could not be found or opened.");

  Legacy one(64, 64, 8, 8, 1, pattern);
  const std::string bkgPath = dir.file("one.bkg");
  ASSERT_EQ(save_bkg_file(bkgPath.c_str(), &one.v), 0);
  EXPECT_EQ(format(bkgPath), 1);
  writeFile(dir.file("bkg+1"), readFile(bkgPath) + "x");
  EXPECT_FALSE(_internal_isBKGFile(dir.file("bkg+1").c_str()));
  const std::string oneImm = dir.file("one.imm");
  ASSERT_EQ(save_imm_file(oneImm.c_str(), &one.v), 0);
  EXPECT_FALSE(_internal_isBKGFile(oneImm.c_str()));
  EXPECT_EQ(format(oneImm), 0);
}

TEST(Probes, ImcNeedsExactSizes) {
  TempDir dir;
  Legacy seq(32, 16, 16, 12, 3, pattern);
  const std::string path = dir.file("s.imc");
  ASSERT_EQ(save_imc_file(path.c_str(), &seq.v), 0);
  EXPECT_EQ(format(path), 2);
  writeFile(dir.file("s+1"), readFile(path) + "x");
  EXPECT_EQ(format(dir.file("s+1")), -1);
  const std::string content = readFile(path);
  writeFile(dir.file("s-1"), content.substr(0, content.size() - 1));
  EXPECT_FALSE(_internal_isIMCFile(dir.file("s-1").c_str()));
}

// An IMC file whose size is within the IMM tolerance of one IMM record is
// both to the probes; loading must take it as what it is.
TEST(Probes, LoadAsksTheImcProbeBeforeTheImmProbe) {
  TempDir dir;
  // Frames of 256 x 256 uniform 8-bit pixels compress to c bytes each; the
  // IMM view of the header is 256 x 256 8-bit with records of 65552 bytes.
  Legacy probe(256, 256, 8, 8, 1, uniform);
  const std::string probePath = dir.file("probe.imc");
  ASSERT_EQ(save_imc_file(probePath.c_str(), &probe.v), 0);
  const size_t c = readFile(probePath).size() - 32;
  const int n = static_cast<int>((65552.0 - 16) / (16 + c) + 0.5);
  Legacy seq(256, 256, 8, 8, n, uniform);
  const std::string path = dir.file("ambiguous.imc");
  ASSERT_EQ(save_imc_file(path.c_str(), &seq.v), 0);
  ASSERT_TRUE(_internal_isIMCFile(path.c_str()));
  ASSERT_TRUE(_internal_isIMMFile(path.c_str())) << "size " << readFile(path).size();
  EXPECT_EQ(format(path), 2);
  TestBunch loaded;
  ASSERT_EQ(qvLoadImagesFromFile(path.c_str(), loaded.get()), 0);
  EXPECT_EQ(loaded.size(), static_cast<uint32_t>(n));
  EXPECT_EQ(loaded[n - 1].frameBuffer[100], 9);
}

TEST(Probes, NamesThatCannotBeOpened) {
  TempDir dir;
  char reason[200] = "";
  EXPECT_EQ(qvCheckFileFormat(nullptr, reason, sizeof reason), -1);
  EXPECT_STREQ(reason,
               "File (NULL) is either no IMC2 or BKC2 or IMC or BKC or IMM or BKG or could "
               "not be found or opened.");
  char small[6] = "xxxxx";
  EXPECT_EQ(qvCheckFileFormat("", small, sizeof small), -1);
  EXPECT_STREQ(small, "File ");
  char one[1] = {'q'};
  EXPECT_EQ(qvCheckFileFormat(dir.file("none").c_str(), one, 1), -1);
  EXPECT_EQ(one[0], 'q');
  EXPECT_EQ(qvCheckFileFormat(dir.path().c_str(), nullptr, 0), -1) << "a directory";
  for (auto probe :
       {_internal_isIMC2File, _internal_isIMCFile, _internal_isIMMFile, _internal_isBKGFile}) {
    EXPECT_FALSE(probe(nullptr));
    EXPECT_FALSE(probe(""));
  }
}
