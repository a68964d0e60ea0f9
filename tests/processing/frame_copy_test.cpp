#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "jpeg_fixture.h"
#include "quivox3/quivox3.h"
#include "support/bunch.h"

using namespace qvtest;

namespace {

Bytes numbered(size_t aiCount) {
  Bytes b(aiCount);
  for (size_t i = 0; i < aiCount; ++i) b[i] = static_cast<unsigned char>(i * 7 + i / 251);
  return b;
}

struct CopyResult {
  int iCode = -99;
  int iSize = 0;
  int iWidth = -1, iHeight = -1, iKind = -1, iBytes = -1, iBits = -1;
  DIMAGE header;
  Bytes pixels;
};

CopyResult copyOut(DIMAGE& aImg, int aiCapacity) {
  CopyResult r;
  std::memset(&r.header, 0x55, sizeof(r.header));
  r.pixels.assign(static_cast<size_t>(aiCapacity) + 16, 0xCC);
  r.iSize = aiCapacity;
  r.iCode = qvGetFrameFromDIMAGE(r.pixels.data(), &r.iSize, &aImg, &r.iWidth, &r.iHeight, &r.iKind,
                                 &r.iBytes, &r.iBits, &r.header);
  return r;
}

TEST(FrameCopyOut, Grey16FrameCopiesExactlyItsBytes) {
  DIMAGE img = makeHeader(640, 480, 2, CF_IMAGE_FORMAT_GRAY);
  img.frameHeader.effectiveBitsPerPixel = 12;
  const Bytes frame = numbered(614400);
  attachFrame(img, frame, 614400 + 100);
  ImageGuard guard{&img};
  const DIMAGE before = img;

  CopyResult r = copyOut(img, 614400);
  ASSERT_EQ(r.iCode, 0);
  EXPECT_EQ(r.iSize, 614400);
  EXPECT_EQ(r.iWidth, 640);
  EXPECT_EQ(r.iHeight, 480);
  EXPECT_EQ(r.iKind, 1);
  EXPECT_EQ(r.iBytes, 2);
  EXPECT_EQ(r.iBits, 12);
  EXPECT_EQ(Bytes(r.pixels.begin(), r.pixels.begin() + 614400), frame);
  EXPECT_EQ(r.pixels[614400], 0xCC) << "nothing written past the frame";
  EXPECT_EQ(std::memcmp(&img, &before, sizeof(img)), 0);

  EXPECT_EQ(r.header.frameBuffer, nullptr);
  EXPECT_EQ(r.header.frameBufferSize, 0u);
  EXPECT_EQ(r.header.frameHeader.appendedFrameSize, 0);
  EXPECT_EQ(r.header.sourceHeader.totalLength, before.sourceHeader.totalLength);
  EXPECT_EQ(std::memcmp(&r.header, &before, 184), 0) << "header fields as in the image";

  CopyResult small = copyOut(img, 614399);
  EXPECT_EQ(small.iCode, 23);
  EXPECT_EQ(small.iSize, 614399);
  EXPECT_EQ(small.pixels, Bytes(614399 + 16, 0xCC));
}

TEST(FrameCopyOut, Grey8AreaOfInterestYieldsOnlyTheArea) {
  DIMAGE img = makeHeader(640, 480, 1, CF_IMAGE_FORMAT_GRAY);
  img.frameHeader.aoiWidth = 100;
  img.frameHeader.aoiHeight = 50;
  img.frameHeader.xStart = 30;
  img.frameHeader.yStart = 40;
  const Bytes frame = numbered(100 * 50);
  attachFrame(img, frame);
  ImageGuard guard{&img};

  CopyResult r = copyOut(img, 640 * 480);
  ASSERT_EQ(r.iCode, 0);
  EXPECT_EQ(r.iSize, 5000);
  EXPECT_EQ(r.iWidth, 100);
  EXPECT_EQ(r.iHeight, 50);
  EXPECT_EQ(r.iKind, 0);
  EXPECT_EQ(r.iBytes, 1);
  EXPECT_EQ(Bytes(r.pixels.begin(), r.pixels.begin() + 5000), frame);
  EXPECT_EQ(r.header.frameHeader.xStart, 30);
}

TEST(FrameCopyOut, RgbAreaOfInterestWithOnlyTheRequiredOutputs) {
  DIMAGE img = makeHeader(64, 48, 3, CF_IMAGE_FORMAT_RGB);
  img.frameHeader.aoiWidth = 20;
  img.frameHeader.aoiHeight = 10;
  img.frameHeader.xStart = 4;
  const Bytes frame = numbered(20 * 10 * 3);
  attachFrame(img, frame);
  ImageGuard guard{&img};

  Bytes out(600);
  int iSize = 600;
  int iKind = -1;
  ASSERT_EQ(qvGetFrameFromDIMAGE(out.data(), &iSize, &img, nullptr, nullptr, &iKind, nullptr,
                                 nullptr, nullptr),
            0);
  EXPECT_EQ(iSize, 600);
  EXPECT_EQ(iKind, 2);
  EXPECT_EQ(out, frame);
  iSize = 600;
  ASSERT_EQ(getFrameFromDIMAGE(out.data(), &iSize, &img, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
            0);
}

TEST(FrameCopyOut, JpegFrameIsDecodedAndTheHeaderCopyShowsTheDecodedFormat) {
  const Bytes jpeg = encodeJpeg(80, 60, JpegKind::YCbCr);
  DIMAGE img = makeJpegImage(jpeg, 80, 60, 3);
  ImageGuard guard{&img};
  const DIMAGE before = img;

  CopyResult r = copyOut(img, 80 * 60 * 3);
  ASSERT_EQ(r.iCode, 0);
  EXPECT_EQ(r.iSize, 14400);
  EXPECT_EQ(r.iKind, 2);
  EXPECT_EQ(Bytes(r.pixels.begin(), r.pixels.begin() + 14400), referenceDecode(jpeg).pixels);
  EXPECT_EQ(r.header.frameHeader.imageFormat, CF_IMAGE_FORMAT_RGB);
  EXPECT_EQ(r.header.frameHeader.imageFlags & CF_IMAGE_FLAG_IMAGE_LOSSLESS, 0u);
  EXPECT_EQ(r.header.frameBuffer, nullptr);
  EXPECT_EQ(r.header.frameBufferSize, 0u);
  EXPECT_EQ(r.header.frameHeader.appendedFrameSize, 0);
  EXPECT_EQ(r.header.sourceHeader.totalLength, 14400u + 188u);
  EXPECT_EQ(std::memcmp(&img, &before, sizeof(img)), 0);
  EXPECT_EQ(frameBytes(img, jpeg.size()), jpeg);

  // Too small a destination after decoding: the decoded copy is released too
  // (the sanitizer build sees a leak otherwise).
  CopyResult small = copyOut(img, 100);
  EXPECT_EQ(small.iCode, 23);
}

TEST(FrameCopyOut, GreyJpegFrame) {
  const Bytes jpeg = encodeJpeg(50, 40, JpegKind::Grey);
  DIMAGE img = makeJpegImage(jpeg, 50, 40, 1);
  ImageGuard guard{&img};
  CopyResult r = copyOut(img, 2000);
  ASSERT_EQ(r.iCode, 0);
  EXPECT_EQ(r.iKind, 0);
  EXPECT_EQ(r.header.frameHeader.imageFormat, CF_IMAGE_FORMAT_GRAY);
  EXPECT_EQ(Bytes(r.pixels.begin(), r.pixels.begin() + 2000), referenceDecode(jpeg).pixels);
}

TEST(FrameCopyOut, BrokenJpegGives513) {
  Bytes garbage(300, 0x42);
  DIMAGE img = makeJpegImage(garbage, 50, 40, 1);
  ImageGuard guard{&img};
  SilencedStderr quiet;
  CopyResult r = copyOut(img, 2000);
  EXPECT_EQ(r.iCode, 513);
  EXPECT_EQ(r.iSize, 2000);
}

TEST(FrameCopyOut, FormatsThatAreNotPlainPixelsGive103) {
  struct Case {
    int iFormat, iBytes;
  } cases[] = {{CF_IMAGE_FORMAT_RGBA, 4},
               {CF_IMAGE_FORMAT_GRAY, 3},
               {CF_IMAGE_FORMAT_GRAY, 4},
               {CF_IMAGE_FORMAT_RGB, 1},
               {CF_IMAGE_FORMAT_BAYER, 1}};
  for (const Case& c : cases) {
    DIMAGE img = makeHeader(8, 8, c.iBytes, c.iFormat);
    attachFrame(img, numbered(8 * 8 * c.iBytes));
    ImageGuard guard{&img};
    EXPECT_EQ(copyOut(img, 1000).iCode, 103) << c.iFormat << "/" << c.iBytes;
  }
}

TEST(FrameCopyOut, InvalidImagesGive103) {
  DIMAGE img = makeHeader(8, 8, 1, CF_IMAGE_FORMAT_GRAY);
  attachFrame(img, numbered(64));
  ImageGuard guard{&img};
  DIMAGE badTag = img;
  badTag.sourceHeader.baseTag = 0;
  EXPECT_EQ(copyOut(badTag, 64).iCode, 103);
  DIMAGE shortFrame = img;
  shortFrame.frameHeader.appendedFrameSize = 63;
  shortFrame.sourceHeader.totalLength = 63 + 188;
  EXPECT_EQ(copyOut(shortFrame, 64).iCode, 103);
}

TEST(FrameCopyOut, MissingArgumentsGive20) {
  DIMAGE img = makeHeader(8, 8, 1, CF_IMAGE_FORMAT_GRAY);
  attachFrame(img, numbered(64));
  ImageGuard guard{&img};
  Bytes out(64);
  int iSize = 64;
  EXPECT_EQ(qvGetFrameFromDIMAGE(nullptr, &iSize, &img, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr),
            20);
  EXPECT_EQ(qvGetFrameFromDIMAGE(out.data(), nullptr, &img, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr),
            20);
  EXPECT_EQ(qvGetFrameFromDIMAGE(out.data(), &iSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr),
            20);
  EXPECT_EQ(getFrameFromDIMAGE(out.data(), &iSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
            20);
}

}  // namespace
