#include <gtest/gtest.h>

#include <cstring>

#include "image/image.h"
#include "support/log_capture.h"

namespace {

using qv::image::kMaxBunchFrames;

bool headerIsCleared(const DIMAGE& img) {
  static const IMAGEHEADER kZero = {};
  return std::memcmp(&img, &kZero, sizeof kZero) == 0;
}

TEST(ImageRecord, InvalidBufferSizeIsRefusedAndLogged) {
  LogCapture log;
  EXPECT_EQ(qvInitializeImageEx(0), nullptr);
  EXPECT_EQ(qvInitializeImageEx(-5), nullptr);
  EXPECT_EQ(qvInitializeImageEx(INT32_MIN), nullptr);
  EXPECT_TRUE(
      log.contains("qvInitializeImageEx(): Error: invalid parameter aiFrameBufferSizeBytes=0."));
  EXPECT_TRUE(
      log.contains("qvInitializeImageEx(): Error: invalid parameter aiFrameBufferSizeBytes=-5."));
  EXPECT_TRUE(log.contains(
      "qvInitializeImageEx(): Error: invalid parameter aiFrameBufferSizeBytes=-2147483648."));
}

TEST(ImageRecord, NewImageHasItsBufferAndAClearedHeader) {
  DIMAGE* img = qvInitializeImageEx(1000);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->frameBufferSize, 1000u);
  ASSERT_NE(img->frameBuffer, nullptr);
  std::memset(img->frameBuffer, 0xAB, 1000);  // the whole capacity is usable
  EXPECT_TRUE(headerIsCleared(*img));
  EXPECT_EQ(qvFreeImage(img), 1);
}

TEST(ImageRecord, DefaultImageHoldsTheLargestFrame) {
  DIMAGE* img = qvInitializeImage();
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->frameBufferSize, 27262976u);
  EXPECT_NE(img->frameBuffer, nullptr);
  img->frameBuffer[MAX_TRANSPORT_SIZE - 1] = 1;
  EXPECT_TRUE(headerIsCleared(*img));
  EXPECT_EQ(qvFreeImage(img), 1);
}

TEST(ImageRecord, FreeReportsWhatItFound) {
  LogCapture log;
  EXPECT_EQ(qvFreeImage(nullptr), 0);
  EXPECT_TRUE(log.contains("qvFreeImage(): Warning: qvFreeImage(NULL) called."));

  DIMAGE* img = qvInitializeImageEx(16);
  ASSERT_NE(img, nullptr);
  std::free(img->frameBuffer);
  img->frameBuffer = nullptr;
  EXPECT_EQ(qvFreeImage(img), -1);  // the record is freed all the same (leak check)
  EXPECT_TRUE(
      log.contains("qvFreeImage(): Warning: qvFreeImage called with DIMAGE.frameBuffer==NULL."));
}

TEST(Bunch, NullBunchIsRefusedEverywhere) {
  EXPECT_EQ(qvInitializeBunchStructure(nullptr), 0);
  EXPECT_EQ(qvCreateBunchStructure(nullptr, 3, 10), 0);
  EXPECT_EQ(qvFreeBunch(nullptr), 0);
}

TEST(Bunch, InitializeEmptiesWithoutFreeing) {
  DIMAGE records[2];
  QVBUNCHOFIMAGES bunch{records, 2};
  EXPECT_EQ(qvInitializeBunchStructure(&bunch), 1);
  EXPECT_EQ(bunch.imageArray, nullptr);
  EXPECT_EQ(bunch.numFrames, 0u);
}

TEST(Bunch, ZeroFramesLeavesTheBunchAsItWas) {
  DIMAGE records[1];
  QVBUNCHOFIMAGES bunch{records, 7};
  EXPECT_EQ(qvCreateBunchStructure(&bunch, 0, 100), 1);
  EXPECT_EQ(bunch.imageArray, records);
  EXPECT_EQ(bunch.numFrames, 7u);
}

TEST(Bunch, RecordsWithoutFrameBuffers) {
  QVBUNCHOFIMAGES bunch{nullptr, 0};
  ASSERT_EQ(qvCreateBunchStructure(&bunch, 3, 0), 1);
  ASSERT_NE(bunch.imageArray, nullptr);
  EXPECT_EQ(bunch.numFrames, 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(bunch.imageArray[i].frameBuffer, nullptr);
    EXPECT_EQ(bunch.imageArray[i].frameBufferSize, 0u);
    EXPECT_TRUE(headerIsCleared(bunch.imageArray[i]));
  }
  EXPECT_EQ(qvFreeBunch(&bunch), 1);
  EXPECT_EQ(bunch.imageArray, nullptr);
  EXPECT_EQ(bunch.numFrames, 0u);
}

TEST(Bunch, RecordsWithFrameBuffersAreFreedWithTheBunch) {
  QVBUNCHOFIMAGES bunch{nullptr, 0};
  ASSERT_EQ(qvCreateBunchStructure(&bunch, 4, 64), 1);
  EXPECT_EQ(bunch.numFrames, 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_NE(bunch.imageArray[i].frameBuffer, nullptr);
    EXPECT_EQ(bunch.imageArray[i].frameBufferSize, 64u);
    std::memset(bunch.imageArray[i].frameBuffer, static_cast<int>(i), 64);
    EXPECT_TRUE(headerIsCleared(bunch.imageArray[i]));
  }
  // One record without a buffer among others is fine for the free.
  std::free(bunch.imageArray[2].frameBuffer);
  bunch.imageArray[2].frameBuffer = nullptr;
  EXPECT_EQ(qvFreeBunch(&bunch), 1);
  EXPECT_EQ(bunch.imageArray, nullptr);
  EXPECT_EQ(bunch.numFrames, 0u);
  // An emptied bunch can be filled anew.
  ASSERT_EQ(qvCreateBunchStructure(&bunch, 1, 8), 1);
  EXPECT_EQ(qvFreeBunch(&bunch), 1);
}

TEST(Bunch, SizeThatWouldWrapIsRefusedUntouched) {
  DIMAGE records[1];
  QVBUNCHOFIMAGES bunch{records, 1};
  EXPECT_EQ(qvCreateBunchStructure(&bunch, 0xFFFFFFFFu, 0), 0);
  EXPECT_EQ(qvCreateBunchStructure(&bunch, kMaxBunchFrames + 1, 16), 0);
  EXPECT_EQ(bunch.imageArray, records);
  EXPECT_EQ(bunch.numFrames, 1u);
  EXPECT_EQ(kMaxBunchFrames, 21474836u);
}

TEST(Bunch, FreeOfEmptyBunches) {
  QVBUNCHOFIMAGES empty{nullptr, 0};
  EXPECT_EQ(qvFreeBunch(&empty), 1);
  EXPECT_EQ(empty.imageArray, nullptr);

  // numFrames 0 with an array: the pointer is dropped, nothing is freed
  // (freeing this stack array would be caught by the sanitizer).
  DIMAGE records[1];
  QVBUNCHOFIMAGES countless{records, 0};
  EXPECT_EQ(qvFreeBunch(&countless), 1);
  EXPECT_EQ(countless.imageArray, nullptr);

  // A count without an array (left by a failed allocation) becomes empty.
  QVBUNCHOFIMAGES arrayless{nullptr, 5};
  EXPECT_EQ(qvFreeBunch(&arrayless), 1);
  EXPECT_EQ(arrayless.numFrames, 0u);
}

}  // namespace
