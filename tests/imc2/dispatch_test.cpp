#include <gtest/gtest.h>

#include <string>

#include "imc2/imc2.h"
#include "imc2_test_util.h"
#include "support/tempdir.h"

namespace {

std::string Q(const std::string& path) { return "File \"" + path + "\""; }

struct Outcome {
  int code;
  std::string reason;
};

Outcome saveEx(QVBUNCHOFIMAGES* bunch, const std::string& path, int* interrupt = nullptr,
               double* progress = nullptr) {
  char reason[512] = "untouched";
  const int code =
      qvSaveImagesToFileEx(bunch, path.c_str(), reason, sizeof reason, interrupt, progress);
  return {code, reason};
}

Outcome loadEx(const std::string& path, TestBunch& out, int* interrupt = nullptr,
               double* progress = nullptr) {
  char reason[512] = "untouched";
  const int code =
      qvLoadImagesFromFileEx(path.c_str(), out.get(), interrupt, progress, reason, sizeof reason);
  return {code, reason};
}

// A grey sequence with equal x and y scales, as the legacy formats need.
void makeGraySequence(TestBunch& bunch, uint32_t n, int32_t bytesPerPixel) {
  makeBunch(bunch, n, 24, 10, bytesPerPixel);
  for (uint32_t i = 0; i < n; ++i) {
    bunch[i].frameHeader.effectiveBitsPerPixel = bytesPerPixel == 2 ? 12 : 8;
    bunch[i].frameHeader.xScale = bunch[i].frameHeader.yScale = 0.25f;
  }
}

void expectSamePixels(TestBunch& a, TestBunch& b) {
  ASSERT_EQ(a.size(), b.size());
  for (uint32_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(a[i].frameHeader.appendedFrameSize, b[i].frameHeader.appendedFrameSize);
    EXPECT_EQ(memcmp(a[i].frameBuffer, b[i].frameBuffer, a[i].frameHeader.appendedFrameSize), 0);
  }
}

}  // namespace

TEST(Dispatch, LegacyExtensionsRoundTripWithTheFieldsTheyKeep) {
  struct Format {
    const char* name;
    int probe;
    uint32_t frames;
    int32_t bytesPerPixel;
  };
  const Format formats[] = {
      {"seq.imm", 0, 3, 2}, {"SEQ.IMC", 2, 3, 2}, {"seq.Bkc", 2, 2, 1}, {"one.bkg", 1, 1, 1}};
  TempDir dir;
  for (const Format& f : formats) {
    SCOPED_TRACE(f.name);
    TestBunch bunch;
    makeGraySequence(bunch, f.frames, f.bytesPerPixel);
    const std::string path = dir.file(f.name);
    double progress = 0;
    const Outcome saved = saveEx(bunch.get(), path, nullptr, &progress);
    ASSERT_EQ(saved.code, 0) << saved.reason;
    EXPECT_EQ(saved.reason, "untouched");
    EXPECT_EQ(qvCheckFileFormat(path.c_str(), nullptr, 0), f.probe);

    TestBunch loaded;
    progress = 0;
    const Outcome l = loadEx(path, loaded, nullptr, &progress);
    ASSERT_EQ(l.code, 0) << l.reason;
    EXPECT_DOUBLE_EQ(progress, 1.0);
    expectSamePixels(bunch, loaded);
    for (uint32_t i = 0; i < loaded.size(); ++i) {
      const FRAMEHEADER& h = loaded[i].frameHeader;
      EXPECT_EQ(h.sourceWidth, 24);
      EXPECT_EQ(h.sourceHeight, 10);
      EXPECT_EQ(h.bytesPerPixel, f.bytesPerPixel);
      EXPECT_EQ(h.effectiveBitsPerPixel, f.bytesPerPixel == 2 ? 12 : 8);
      EXPECT_EQ(h.frameNumber, i + 1);
      if (f.probe != 1) {
        EXPECT_FLOAT_EQ(h.xScale, 0.25f) << "BKG files carry no scale";
      }
      EXPECT_EQ(h.imageFormat, CF_IMAGE_FORMAT_GRAY);
    }
  }
}

TEST(Dispatch, OtherNamesGetIMC2Files) {
  TempDir dir;
  TestBunch rgb;
  makeBunch(rgb, 2, 5, 3, 3, CF_IMAGE_FORMAT_RGB);
  for (const char* name : {"x.imc2", "x.bkc2", "x.dat", "x", "x.imc.bak"}) {
    const std::string path = dir.file(name);
    ASSERT_EQ(saveEx(rgb.get(), path).code, 0) << name;
    EXPECT_EQ(qvCheckFileFormat(path.c_str(), nullptr, 0), 3) << name;
    TestBunch loaded;
    ASSERT_EQ(loadEx(path, loaded).code, 0) << name;
    expectSamePixels(rgb, loaded);
  }
}

TEST(Dispatch, SaveFailures) {
  TempDir dir;
  TestBunch rgb;
  makeBunch(rgb, 1, 4, 4, 3, CF_IMAGE_FORMAT_RGB);
  const std::string imm = dir.file("a.imm");
  Outcome r = saveEx(rgb.get(), imm);
  EXPECT_EQ(r.code, -16);
  EXPECT_EQ(r.reason.rfind(Q(imm) + " save error: Transcoding Error: Error Code: -2 (Image format "
                                    "of images must be CF_IMAGE_FORMAT_GRAY(0) but is ",
                           0),
            0u)
      << r.reason;
  EXPECT_EQ(r.reason.back(), ')');
  EXPECT_FALSE(fileExists(imm));

  TestBunch three;
  makeGraySequence(three, 3, 1);
  const std::string bkg = dir.file("a.bkg");
  r = saveEx(three.get(), bkg);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.reason, Q(bkg) +
                          " save error: Error saving to bkg format: Multiple video images can not "
                          "be saved as bkg file.");

  const std::string noDir = dir.file("missing/a.imc");
  r = saveEx(three.get(), noDir);
  EXPECT_EQ(r.code, -4);
  EXPECT_EQ(r.reason,
            Q(noDir) + " save error: Error saving to imc format: Could not open file for writing.");

  TestBunch empty;
  r = saveEx(empty.get(), dir.file("e.bkc"));
  EXPECT_EQ(r.code, -16);
  EXPECT_EQ(r.reason, Q(dir.file("e.bkc")) +
                          " save error: Transcoding Error: Error Code: 0 "
                          "(Parameter error(QVBUNCHOFIMAGES *aImages->numFrames is zero).)");

  r = saveEx(nullptr, dir.file("n.imc"));
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason, Q(dir.file("n.imc")) + " save error: Parameter apImages must not be NULL.");
  char reason[64] = "untouched";
  EXPECT_EQ(qvSaveImagesToFileEx(three.get(), nullptr, reason, sizeof reason, nullptr, nullptr),
            -12);
  EXPECT_STREQ(reason, "Parameter asFilePath must not be NULL.");
  EXPECT_EQ(qvSaveImagesToFileEx(three.get(), "", reason, sizeof reason, nullptr, nullptr), -12);
  EXPECT_STREQ(reason, "Parameter asFilePath must not be empty string.");
  EXPECT_EQ(qvSaveImagesToFile(three.get(), nullptr), -12);

  // An interrupted legacy save removes its file.
  int interrupt = 1;
  const std::string imc = dir.file("stop.imc");
  r = saveEx(three.get(), imc, &interrupt);
  EXPECT_EQ(r.code, -9);
  EXPECT_EQ(r.reason, Q(imc) + " save error: Error saving to imc format: User break.");
}

TEST(Dispatch, LoadFailuresAndReasonBuffers) {
  TempDir dir;
  TestBunch seq;
  makeGraySequence(seq, 3, 1);
  const std::string imc = dir.file("s.imc");
  ASSERT_EQ(qvSaveImagesToFile(seq.get(), imc.c_str()), 0);

  TestBunch notEmpty;
  makeBunch(notEmpty, 1, 2, 2, 1);
  char reason[10] = "xxxxxxxxx";
  EXPECT_EQ(
      qvLoadImagesFromFileEx(imc.c_str(), notEmpty.get(), nullptr, nullptr, reason, sizeof reason),
      -1);
  EXPECT_EQ(std::string(reason), Q(imc).substr(0, 9));
  char one[1] = {'k'};
  EXPECT_EQ(qvLoadImagesFromFileEx(imc.c_str(), notEmpty.get(), nullptr, nullptr, one, 1), -1);
  EXPECT_EQ(one[0], 'k');
  EXPECT_EQ(qvLoadImagesFromFile(imc.c_str(), notEmpty.get()), -1);
  EXPECT_EQ(notEmpty.size(), 1u) << "a refused bunch is left alone";

  // Interrupting the load of an IMC file; the BKG reader takes no flag.
  int interrupt = 1;
  TestBunch loaded;
  Outcome r = loadEx(imc, loaded, &interrupt);
  EXPECT_EQ(r.code, -9);
  EXPECT_EQ(r.reason, Q(imc) + " load error: User break.");
  EXPECT_EQ(loaded.get()->imageArray, nullptr);
  TestBunch single;
  makeGraySequence(single, 1, 1);
  const std::string bkg = dir.file("s.bkg");
  ASSERT_EQ(qvSaveImagesToFile(single.get(), bkg.c_str()), 0);
  r = loadEx(bkg, loaded, &interrupt);
  EXPECT_EQ(r.code, -15) << "the conversion still honours the flag";
  EXPECT_EQ(r.reason, Q(bkg) + " load error: Interrupted by user.");

  // An IMM file whose second frame header differs: the reader refuses it.
  TestBunch two;
  makeGraySequence(two, 2, 1);
  const std::string imm = dir.file("bad.imm");
  ASSERT_EQ(qvSaveImagesToFile(two.get(), imm.c_str()), 0);
  std::string content = readFile(imm);
  content[content.size() / 2 + 4] ^= 1;  // height word of the second frame header
  writeFile(imm, content);
  ASSERT_EQ(qvCheckFileFormat(imm.c_str(), nullptr, 0), 0);
  r = loadEx(imm, loaded);
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason, Q(imm) + " load error: Error in file.");
}
