// JPEG frames grabbed from a simulated video server decode end to end.
#include <gtest/gtest.h>

#include <vector>

#include "quivox3/quivox3.h"
#include "tinesim/control.h"

namespace {

class JpegGrab : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    qvSetVerbose(0);
    tinesimReset();
    ASSERT_EQ(tinesimAddImageProperty("/SIM/JPEG/CAM2", "Frame", 320, 240, GetParam()), 0);
    qvInitializeBunchStructure(&bunch);
  }
  void TearDown() override {
    qvFreeBunch(&bunch);
    tinesimReset();
  }
  QVBUNCHOFIMAGES bunch;
};

}  // namespace

TEST_P(JpegGrab, GrabThenDecodeRestoresThePattern) {
  const bool colour = GetParam() == TINESIM_JPEG_RGB;
  int error = -1, tineError = -1;
  int received = qvGrabFramesEx2(&bunch, nullptr, "/SIM/JPEG/CAM2", "Frame", 4, 20, 3, &error,
                                 &tineError, nullptr, nullptr);
  ASSERT_EQ(received, 4);
  ASSERT_EQ(error, 0);

  // Copy-out decodes on the way and leaves the JPEG image as it was.
  DIMAGE& first = bunch.imageArray[0];
  ASSERT_EQ(first.frameHeader.imageFormat, CF_IMAGE_FORMAT_JPEG);
  const int rawBytes = 320 * 240 * (colour ? 3 : 1);
  std::vector<uint8_t> pixels(rawBytes);
  int size = rawBytes, width = 0, height = 0, kind = -1;
  DIMAGE header;
  ASSERT_EQ(qvGetFrameFromDIMAGE(pixels.data(), &size, &first, &width, &height, &kind, nullptr,
                                 nullptr, &header),
            0);
  EXPECT_EQ(size, rawBytes);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  EXPECT_EQ(kind, colour ? 2 : 0);
  EXPECT_EQ(header.frameHeader.imageFormat, colour ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY);
  EXPECT_EQ(first.frameHeader.imageFormat, CF_IMAGE_FORMAT_JPEG);

  ASSERT_EQ(qvDecompressSequence(&bunch, 1), 1);  // 1: the JPEG buffers are released
  for (uint32_t i = 0; i < bunch.numFrames; ++i) {
    DIMAGE& img = bunch.imageArray[i];
    EXPECT_EQ(img.frameHeader.imageFormat, colour ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY);
    EXPECT_EQ(img.frameHeader.appendedFrameSize, rawBytes);
    EXPECT_EQ(qvCheckImageValidity(&img, nullptr, 0), 1);
    EXPECT_EQ(tinesimPatternFrameNumber(&img), static_cast<int64_t>(img.frameHeader.frameNumber));
  }
  EXPECT_EQ(qvIsCompleteSequence(&bunch), 1);
}

INSTANTIATE_TEST_SUITE_P(GreyAndColour, JpegGrab,
                         testing::Values(TINESIM_JPEG_GRAY, TINESIM_JPEG_RGB));
