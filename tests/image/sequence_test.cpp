#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/image.h"
#include "image_fixtures.h"
#include "support/log_capture.h"

namespace {

using qv::image::kScaleTolerance;

uint8_t g_frame[1];

// A bunch of n valid, alike images numbered 1..n.
class Images {
 public:
  explicit Images(uint32_t n) : m_images(n, validGrayImage(g_frame)) {
    for (uint32_t i = 0; i < n; ++i) m_images[i].frameHeader.frameNumber = i + 1;
    m_bunch.imageArray = m_images.data();
    m_bunch.numFrames = n;
  }
  DIMAGE& operator[](size_t i) { return m_images[i]; }
  QVBUNCHOFIMAGES* bunch() { return &m_bunch; }
  void numberFrames(std::initializer_list<uint32_t> numbers) {
    size_t i = 0;
    for (uint32_t n : numbers) m_images.at(i++).frameHeader.frameNumber = n;
  }

 private:
  std::vector<DIMAGE> m_images;
  QVBUNCHOFIMAGES m_bunch{};
};

const char kNotEqualLine[] =
    "qvIsSequence: _internal_qvcompareTwoValidImagesINT( aImages->imageArray[0], "
    "aImages->imageArray[%d] ) returned %d. aImages->numFrames=%d. Zero will be returned.";

std::string notEqualLine(int index, int code, int count) {
  char line[300];
  std::snprintf(line, sizeof line, kNotEqualLine, index, code, count);
  return line;
}

TEST(IsApproximately, StrictToleranceAndNaN) {
  EXPECT_TRUE(isApproximately(0.100005f, 0.1f, kScaleTolerance));
  EXPECT_FALSE(isApproximately(0.10002f, 0.1f, kScaleTolerance));
  EXPECT_TRUE(isApproximately(1.0f, 1.0f, -kScaleTolerance)) << "the tolerance's sign is ignored";
  EXPECT_FALSE(isApproximately(1.0f, 1.0f, 0.0f)) << "both comparisons are strict";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(isApproximately(nan, nan, kScaleTolerance));
  EXPECT_FALSE(isApproximately(nan, 1.0f, kScaleTolerance));
  EXPECT_TRUE(isApproximately(2.0, 2.05, 0.1));
  EXPECT_FALSE(isApproximately(2.0, 2.2, 0.1));
  EXPECT_FALSE(isApproximately(std::nan(""), 2.0, 0.1));
}

TEST(CompareImages, FirstDifferingFieldGivesItsCode) {
  const struct {
    int code;
    void (*change)(DIMAGE&);
  } cases[] = {
      {-1, [](DIMAGE& i) { i.sourceHeader.cameraPortId = 9; }},
      {-2, [](DIMAGE& i) { std::strcpy(i.sourceHeader.cameraPortName, "other"); }},
      {-3, [](DIMAGE& i) { i.frameHeader.sourceWidth = 1; }},
      {-4, [](DIMAGE& i) { i.frameHeader.sourceHeight = 1; }},
      {-5, [](DIMAGE& i) { i.frameHeader.aoiWidth = 0; }},
      {-6, [](DIMAGE& i) { i.frameHeader.aoiHeight = 0; }},
      {-7, [](DIMAGE& i) { i.frameHeader.xStart = 1; }},
      {-8, [](DIMAGE& i) { i.frameHeader.yStart = 1; }},
      {-9, [](DIMAGE& i) { i.frameHeader.bytesPerPixel = 2; }},
      {-10, [](DIMAGE& i) { i.frameHeader.effectiveBitsPerPixel = 7; }},
      {-11, [](DIMAGE& i) { i.frameHeader.sourceFormat = 1; }},
      {-12, [](DIMAGE& i) { i.frameHeader.imageFormat = 1; }},
      {-13, [](DIMAGE& i) { i.frameHeader.xScale = 0.10002f; }},
      {-14, [](DIMAGE& i) { i.frameHeader.yScale = 0.2f; }},
      {-15, [](DIMAGE& i) { i.frameHeader.imageRotation = 90.0f; }},
  };
  const DIMAGE first = validGrayImage(g_frame);
  for (const auto& c : cases) {
    DIMAGE second = validGrayImage(g_frame);
    c.change(second);
    EXPECT_EQ(_internal_qvcompareTwoValidImagesINT(&first, &second), c.code);
  }
  // Several differences: the first in table order wins.
  DIMAGE second = validGrayImage(g_frame);
  second.frameHeader.imageRotation = 1.0f;
  second.frameHeader.bytesPerPixel = 2;
  second.frameHeader.sourceHeight = 2;
  EXPECT_EQ(_internal_qvcompareTwoValidImagesINT(&first, &second), -4);
}

TEST(CompareImages, FieldsOutsideTheTableDoNotMatter) {
  const DIMAGE first = validGrayImage(g_frame);
  DIMAGE second = first;
  second.sourceHeader.versionTag = 7;
  second.sourceHeader.timestampSeconds = 12345;
  second.sourceHeader.timestampMicroseconds = 999;
  second.frameHeader.horizontalBinning = 2;
  second.frameHeader.verticalBinning = 4;
  second.frameHeader.frameNumber = 77;
  second.frameHeader.eventNumber = 78;
  second.frameHeader.scale_x_offset = 5.0f;
  second.frameHeader.fspare3 = 1.0f;
  second.frameHeader.imageFlags = 0x3EF;
  second.frameHeader.ispare2 = 3;
  second.frameHeader.appendedFrameSize = 5;
  second.frameBufferSize = 1;
  second.frameBuffer = nullptr;
  second.frameHeader.xScale = 0.100005f;
  second.frameHeader.imageRotation = -0.0f;
  // Bytes after the terminating zero of the port name are not compared.
  std::memset(second.sourceHeader.cameraPortName + 5, 'z', 59);
  EXPECT_EQ(_internal_qvcompareTwoValidImagesINT(&first, &second), 1);
}

TEST(CompareImages, NaNRotationIsDifferent) {
  DIMAGE first = validGrayImage(g_frame);
  first.frameHeader.imageRotation = std::numeric_limits<float>::quiet_NaN();
  DIMAGE second = first;
  EXPECT_EQ(_internal_qvcompareTwoValidImagesINT(&first, &second), -15);
}

TEST(CompareImages, UnterminatedPortNamesCompareOverSixtyFourBytes) {
  DIMAGE first = validGrayImage(g_frame);
  std::memset(first.sourceHeader.cameraPortName, 'p', 64);
  DIMAGE second = first;
  EXPECT_EQ(_internal_qvcompareTwoValidImagesINT(&first, &second), 1);
  second.sourceHeader.cameraPortName[63] = 'q';
  EXPECT_EQ(_internal_qvcompareTwoValidImagesINT(&first, &second), -2);
}

TEST(IsSequence, NullAndEmptyBunches) {
  LogCapture log;
  EXPECT_EQ(qvIsSequence(nullptr), -1);
  EXPECT_EQ(qvIsCompleteSequence(nullptr), -1);
  EXPECT_EQ(
      log.count("qvIsSequence: Error: First parameter (aImages) is NULL. -1 will be returned."), 1);

  DIMAGE records[1];
  QVBUNCHOFIMAGES empty{records, 0};
  EXPECT_EQ(qvIsSequence(&empty), 0);
  EXPECT_EQ(qvIsCompleteSequence(&empty), 0);
  empty.imageArray = nullptr;
  EXPECT_EQ(qvIsSequence(&empty), 0);
  EXPECT_EQ(log.count("qvIsSequence: aImages->numFrames is 0. Zero will be returned."), 3);

  QVBUNCHOFIMAGES arrayless{nullptr, 2};
  EXPECT_EQ(qvIsSequence(&arrayless), -1);
  EXPECT_EQ(qvIsCompleteSequence(&arrayless), -1);
  EXPECT_EQ(log.count("qvIsSequence: aImages->imageArray is NULL. -1 will be returned."), 2);
}

TEST(IsSequence, SingleImageIsCompleteWhateverItsNumber) {
  Images images(1);
  images[0].frameHeader.frameNumber = 0;
  EXPECT_EQ(qvIsSequence(images.bunch()), 1);
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 1);
}

TEST(IsSequence, ImagesDifferingOnlyOutsideTheTableAreASequence) {
  Images images(3);
  images[1].frameHeader.eventNumber = 50;
  images[1].sourceHeader.timestampSeconds = 1000;
  images[1].frameHeader.imageFlags = CF_IMAGE_FLAG_SOFTWARE_ROI;
  images[1].frameHeader.horizontalBinning = 2;
  images[2].frameHeader.xScale = 0.100005f;
  images[2].frameHeader.imageRotation = -0.0f;
  images[2].frameBufferSize = 400000;
  EXPECT_EQ(qvIsSequence(images.bunch()), 1);
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 1);
}

TEST(IsSequence, CompressedFramesOfDifferentLengthAreASequence) {
  Images images(2);
  for (int i = 0; i < 2; ++i) images[i].frameHeader.imageFormat = CF_IMAGE_FORMAT_JPEG;
  images[1].frameHeader.appendedFrameSize = 1000;
  images[1].sourceHeader.totalLength = 1188;
  EXPECT_EQ(qvIsSequence(images.bunch()), 1);
}

TEST(IsSequence, ScaleOutsideToleranceEndsTheSequence) {
  LogCapture log;
  Images images(3);
  images[2].frameHeader.xScale = 0.10002f;
  EXPECT_EQ(qvIsSequence(images.bunch()), 0);
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 0);
  EXPECT_EQ(log.count(notEqualLine(2, -13, 3)), 2);
}

TEST(IsSequence, EveryImageIsComparedWithTheFirst) {
  LogCapture log;
  Images images(3);
  // Each step stays within the tolerance, the third is not within it of the first.
  images[1].frameHeader.yScale = 0.100007f;
  images[2].frameHeader.yScale = 0.100014f;
  EXPECT_EQ(qvIsSequence(images.bunch()), 0);
  EXPECT_TRUE(log.contains(notEqualLine(2, -14, 3)));
}

TEST(IsSequence, InvalidImageAnywhereIsAnErrorBeforeAnyComparison) {
  LogCapture log;
  Images images(3);
  images[1].frameHeader.sourceWidth = 320;  // differs, but is valid on its own
  images[1].frameHeader.aoiWidth = 320;
  images[2].frameHeader.bytesPerPixel = 9;
  EXPECT_EQ(qvIsSequence(images.bunch()), -1);
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), -1);
  EXPECT_EQ(log.count("qvIsSequence: _internal_qvCheckImageValidity( aImages->imageArray[2] ) "
                      "returned false. aImages->numFrames=3. -1 will be returned."),
            2);
  EXPECT_EQ(log.count("CDIMAGE::checkValidity error: Img.frameHeader.bytesPerPixel=9 must be "
                      "[1..4]."),
            2);
  EXPECT_FALSE(log.contains("_internal_qvcompareTwoValidImagesINT"));
  EXPECT_FALSE(log.contains("Dumping qvv3 image header")) << "the dump needs log level 2";
}

TEST(IsSequence, LeavesTheBunchUntouched) {
  Images images(2);
  images[1].sourceHeader.cameraPortId = 4;
  const std::vector<DIMAGE> before{images[0], images[1]};
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 0);
  EXPECT_EQ(std::memcmp(&before[0], &images[0], sizeof(DIMAGE)), 0);
  EXPECT_EQ(std::memcmp(&before[1], &images[1], sizeof(DIMAGE)), 0);
}

TEST(IsCompleteSequence, FrameNumbersRisingByOneFromAnyStart) {
  Images images(3);
  images.numberFrames({5, 6, 7});
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 1);
  images.numberFrames({0xFFFFFFFEu, 0xFFFFFFFFu, 0});
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 0) << "wrapping to zero is a zero number";
}

TEST(IsCompleteSequence, GapNamesBothPositionsAndNumbers) {
  LogCapture log;
  Images images(3);
  images.numberFrames({5, 7, 8});
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 0);
  EXPECT_EQ(logMessages(log.text()).back(),
            "qvIsCompleteSequence: No complete sequence because img(2/3).fno=7 != "
            "img(1/3).fno=5 + 1 .");

  log.clear();
  images.numberFrames({5, 6, 6});
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 0);
  EXPECT_TRUE(log.contains("img(3/3).fno=6 != img(2/3).fno=6 + 1 ."));

  log.clear();
  images.numberFrames({5, 6, 4});
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 0);
  EXPECT_TRUE(log.contains("img(3/3).fno=4 != img(2/3).fno=6 + 1 ."));
}

TEST(IsCompleteSequence, ZeroFrameNumbers) {
  LogCapture log;
  Images images(3);
  images.numberFrames({0, 1, 2});
  EXPECT_EQ(qvIsCompleteSequence(images.bunch()), 0);
  EXPECT_TRUE(log.contains(
      "qvIsCompleteSequence: No complete sequence because frameNumber of image#1 of 3 is zero."));

  Images pair(2);
  pair.numberFrames({1, 0});
  EXPECT_EQ(qvIsCompleteSequence(pair.bunch()), 0);
  EXPECT_TRUE(log.contains(
      "qvIsCompleteSequence: No complete sequence because frameNumber of image#2 of 2 is zero."));
}

}  // namespace
