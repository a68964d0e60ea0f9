#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "jpeg_fixture.h"
#include "processing/jpeg_decode.h"
#include "quivox3/quivox3.h"
#include "support/bunch.h"

using namespace qvtest;

namespace {

bool sameRecord(const DIMAGE& a, const DIMAGE& b) {
  return std::memcmp(&a, &b, sizeof(DIMAGE)) == 0;
}

TEST(JpegDecodeToMemory, GreyStreamMatchesLibjpegAndReportsItsShape) {
  const Bytes jpeg = encodeJpeg(640, 480, JpegKind::Grey);
  const ReferenceDecode ref = referenceDecode(jpeg);
  Bytes out(640 * 480);
  int iWidth = -1, iHeight = -1, iFormat = -1;
  ASSERT_TRUE(_internal_jpegDecompressToMemory(jpeg.data(), jpeg.size(), out.data(), out.size(),
                                               &iWidth, &iHeight, &iFormat));
  EXPECT_EQ(iWidth, 640);
  EXPECT_EQ(iHeight, 480);
  EXPECT_EQ(iFormat, 0);
  EXPECT_EQ(out, ref.pixels);
}

TEST(JpegDecodeToMemory, CapacityOneByteShortFailsAndLeavesOutputsAlone) {
  const Bytes jpeg = encodeJpeg(40, 30, JpegKind::YCbCr);
  Bytes out(40 * 30 * 3 - 1, 0x5A);
  int iWidth = -1, iHeight = -1, iFormat = -1;
  EXPECT_FALSE(_internal_jpegDecompressToMemory(jpeg.data(), jpeg.size(), out.data(), out.size(),
                                                &iWidth, &iHeight, &iFormat));
  EXPECT_EQ(iWidth, -1);
  EXPECT_EQ(iHeight, -1);
  EXPECT_EQ(iFormat, -1);
  EXPECT_EQ(out, Bytes(out.size(), 0x5A)) << "refused before any pixel is written";
}

TEST(JpegDecodeToMemory, ProgressiveAndRgbCodedStreamsMatchLibjpeg) {
  for (const auto& jpeg :
       {encodeJpeg(123, 77, JpegKind::YCbCr, true), encodeJpeg(123, 77, JpegKind::Rgb),
        encodeJpeg(123, 77, JpegKind::Grey, true)}) {
    const ReferenceDecode ref = referenceDecode(jpeg);
    Bytes out(ref.pixels.size());
    int iFormat = -1;
    ASSERT_TRUE(_internal_jpegDecompressToMemory(jpeg.data(), jpeg.size(), out.data(), out.size(),
                                                 nullptr, nullptr, &iFormat));
    EXPECT_EQ(iFormat, ref.iComponents == 3 ? 1 : 0);
    EXPECT_EQ(out, ref.pixels);
  }
}

TEST(DecompressImage, GreyImageDecodesIntoANewBufferAndLeavesTheSourceAlone) {
  const Bytes jpeg = encodeJpeg(640, 480, JpegKind::Grey);
  DIMAGE in = makeJpegImage(jpeg, 640, 480, 1);
  ImageGuard inGuard{&in};
  const DIMAGE before = in;
  DIMAGE out;
  ASSERT_EQ(qvDecompressImage(&out, &in), 1);
  ImageGuard outGuard{&out};

  EXPECT_TRUE(sameRecord(in, before));
  EXPECT_EQ(frameBytes(in, jpeg.size()), jpeg);
  EXPECT_NE(out.frameBuffer, in.frameBuffer);
  EXPECT_EQ(out.frameHeader.imageFormat, CF_IMAGE_FORMAT_GRAY);
  EXPECT_EQ(out.frameHeader.appendedFrameSize, 307200);
  EXPECT_EQ(out.frameBufferSize, 307200u);
  EXPECT_EQ(out.sourceHeader.totalLength, 307200u + 188u);
  EXPECT_EQ(out.frameHeader.imageFlags, CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER)
      << "LOSSLESS cleared";
  EXPECT_EQ(out.frameHeader.bytesPerPixel, 1);
  EXPECT_EQ(out.frameHeader.frameNumber, 7u);
  EXPECT_EQ(out.frameHeader.sourceFormat, CF_IMAGE_FORMAT_GRAY);
  EXPECT_EQ(frameBytes(out, 307200), referenceDecode(jpeg).pixels);
}

TEST(DecompressImage, ColourImageDecodesToRgb) {
  const Bytes jpeg = encodeJpeg(640, 480, JpegKind::YCbCr);
  DIMAGE in = makeJpegImage(jpeg, 640, 480, 3);
  ImageGuard inGuard{&in};
  DIMAGE out;
  ASSERT_EQ(qvDecompressImage(&out, &in), 1);
  ImageGuard outGuard{&out};
  EXPECT_EQ(out.frameHeader.imageFormat, CF_IMAGE_FORMAT_RGB);
  EXPECT_EQ(out.frameHeader.appendedFrameSize, 921600);
  EXPECT_EQ(out.frameBufferSize, 921600u);
  EXPECT_EQ(frameBytes(out, 921600), referenceDecode(jpeg).pixels);
}

TEST(DecompressImage, AreaOfInterestSetsTheExpectedSize) {
  const Bytes jpeg = encodeJpeg(320, 240, JpegKind::Grey);
  DIMAGE in = makeJpegImage(jpeg, 640, 480, 1);
  in.frameHeader.aoiWidth = 320;
  in.frameHeader.aoiHeight = 240;
  in.frameHeader.xStart = 10;
  in.frameHeader.yStart = 20;
  ImageGuard inGuard{&in};
  DIMAGE out;
  ASSERT_EQ(qvDecompressImage(&out, &in), 1);
  ImageGuard outGuard{&out};
  EXPECT_EQ(out.frameHeader.appendedFrameSize, 320 * 240);
  EXPECT_EQ(out.frameBufferSize, 320u * 240u);
  EXPECT_EQ(frameBytes(out, 320 * 240), referenceDecode(jpeg).pixels);
}

TEST(DecompressImage, NonJpegAndNullArguments) {
  DIMAGE raw = makeHeader(4, 4, 1, CF_IMAGE_FORMAT_GRAY);
  attachFrame(raw, Bytes(16, 3));
  ImageGuard rawGuard{&raw};
  DIMAGE out;
  std::memset(&out, 0x77, sizeof(out));
  const DIMAGE outBefore = out;
  const DIMAGE rawBefore = raw;
  EXPECT_EQ(qvDecompressImage(&out, &raw), 0);
  EXPECT_TRUE(sameRecord(out, outBefore));
  EXPECT_TRUE(sameRecord(raw, rawBefore));
  EXPECT_EQ(qvDecompressImageInPlace(&raw), 0);
  EXPECT_TRUE(sameRecord(raw, rawBefore));

  EXPECT_EQ(qvDecompressImage(nullptr, &raw), -3);
  EXPECT_EQ(qvDecompressImage(&out, nullptr), -3);
  EXPECT_EQ(qvDecompressImageInPlace(nullptr), -3);
}

// Streams that do not fit the header, or are no JPEG at all: -2 and the
// source untouched, in both variants.
void expectRefusedBothWays(DIMAGE& aImg) {
  SilencedStderr quiet;
  const DIMAGE before = aImg;
  const Bytes data = frameBytes(aImg, aImg.frameBufferSize);
  DIMAGE out;
  std::memset(&out, 0, sizeof(out));
  EXPECT_EQ(qvDecompressImage(&out, &aImg), -2);
  EXPECT_EQ(out.frameBuffer, nullptr);
  EXPECT_TRUE(sameRecord(aImg, before));
  EXPECT_EQ(frameBytes(aImg, aImg.frameBufferSize), data);

  const int iInPlace = qvDecompressImageInPlace(&aImg);
  EXPECT_TRUE(iInPlace == -2 || iInPlace == -4) << iInPlace;
  EXPECT_TRUE(sameRecord(aImg, before));
  EXPECT_EQ(frameBytes(aImg, aImg.frameBufferSize), data) << "refused before a byte was written";
}

TEST(DecompressImage, StreamsThatDoNotFitTheHeaderAreRefused) {
  const Bytes colour = encodeJpeg(64, 48, JpegKind::YCbCr);
  const Bytes grey = encodeJpeg(64, 48, JpegKind::Grey);
  struct Case {
    const char* sWhat;
    const Bytes* pJpeg;
    int iWidth, iHeight, iBytes;
  } cases[] = {
      {"colour stream, 1 byte per pixel", &colour, 64, 48, 1},
      {"grey stream, 3 bytes per pixel", &grey, 64, 48, 3},
      {"grey stream, 2 bytes per pixel", &grey, 64, 48, 2},
      {"stream wider than the header", &grey, 32, 48, 1},
      {"stream narrower than the header", &grey, 128, 48, 1},
      {"same size, other shape", &grey, 48, 64, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sWhat);
    DIMAGE img = makeJpegImage(*c.pJpeg, c.iWidth, c.iHeight, c.iBytes,
                               static_cast<size_t>(c.iWidth) * c.iHeight * 3 + 4096);
    ImageGuard guard{&img};
    expectRefusedBothWays(img);
  }
}

TEST(DecompressImage, CmykStreamIsRefused) {
  const Bytes jpeg = encodeJpeg(32, 32, JpegKind::Cmyk);
  DIMAGE img = makeJpegImage(jpeg, 32, 32, 3, 32 * 32 * 4);
  ImageGuard guard{&img};
  expectRefusedBothWays(img);
}

TEST(DecompressImage, HostileHeadersAreRefusedWithoutAllocatingTheirSize) {
  const Bytes jpeg = encodeJpeg(32, 32, JpegKind::Grey);
  {
    SCOPED_TRACE("header promising 2.5 GB");
    DIMAGE img = makeJpegImage(jpeg, 50000, 50000, 1);
    ImageGuard guard{&img};
    expectRefusedBothWays(img);
  }
  {
    SCOPED_TRACE("negative area of interest and zero bytes per pixel");
    DIMAGE img = makeJpegImage(jpeg, 32, 32, 0);
    ImageGuard guard{&img};
    expectRefusedBothWays(img);
    img.frameHeader.bytesPerPixel = 1;
    img.frameHeader.sourceWidth = -32;
    expectRefusedBothWays(img);
  }
  {
    SCOPED_TRACE("stream length beyond the frame buffer");
    DIMAGE img = makeJpegImage(jpeg, 32, 32, 1, 32 * 32);
    img.frameHeader.appendedFrameSize = static_cast<int32_t>(img.frameBufferSize) + 1;
    ImageGuard guard{&img};
    expectRefusedBothWays(img);
    img.frameHeader.appendedFrameSize = 0;
    expectRefusedBothWays(img);
  }
  {
    SCOPED_TRACE("no frame buffer");
    DIMAGE img = makeHeader(32, 32, 1, CF_IMAGE_FORMAT_JPEG);
    img.frameHeader.appendedFrameSize = static_cast<int32_t>(jpeg.size());
    DIMAGE out;
    EXPECT_EQ(qvDecompressImage(&out, &img), -2);
    EXPECT_EQ(qvDecompressImageInPlace(&img), -2);
  }
}

Bytes withDeclaredSize(Bytes aJpeg, int aiWidth, int aiHeight) {
  for (size_t i = 0; i + 8 < aJpeg.size(); ++i) {
    if (aJpeg[i] == 0xFF && aJpeg[i + 1] == 0xC0) {
      aJpeg[i + 5] = static_cast<unsigned char>(aiHeight >> 8);
      aJpeg[i + 6] = static_cast<unsigned char>(aiHeight);
      aJpeg[i + 7] = static_cast<unsigned char>(aiWidth >> 8);
      aJpeg[i + 8] = static_cast<unsigned char>(aiWidth);
      return aJpeg;
    }
  }
  ADD_FAILURE() << "no frame header found";
  return aJpeg;
}

TEST(DecompressImage, StreamDeclaringAHugeImageIsRefusedBeforeDecoding) {
  const Bytes jpeg = withDeclaredSize(encodeJpeg(16, 16, JpegKind::Grey), 60000, 60000);
  DIMAGE img = makeJpegImage(jpeg, 16, 16, 1);
  ImageGuard guard{&img};
  expectRefusedBothWays(img);
}

TEST(DecompressImage, FramesLargerThanAValidImageMayCarryAreRefused) {
  // Header and stream agree on 6000 x 5000 colour pixels: 90 MB.
  const Bytes jpeg = withDeclaredSize(encodeJpeg(16, 16, JpegKind::YCbCr), 6000, 5000);
  DIMAGE img = makeJpegImage(jpeg, 6000, 5000, 3);
  ImageGuard guard{&img};
  expectRefusedBothWays(img);

  // Just inside the limit is decoded (the missing data filled in).
  const Bytes fits = withDeclaredSize(encodeJpeg(16, 16, JpegKind::Grey), 5120, 5120);
  ASSERT_LE(5120 * 5120, MAX_TRANSPORT_SIZE);
  DIMAGE big = makeJpegImage(fits, 5120, 5120, 1);
  ImageGuard bigGuard{&big};
  DIMAGE out;
  SilencedStderr quiet;
  ASSERT_EQ(qvDecompressImage(&out, &big), 1);
  EXPECT_EQ(out.frameHeader.appendedFrameSize, 5120 * 5120);
  std::free(out.frameBuffer);
}

TEST(DecompressImage, GarbageIsRefused) {
  Bytes garbage(5000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);
  DIMAGE img = makeJpegImage(garbage, 32, 32, 1);
  ImageGuard guard{&img};
  expectRefusedBothWays(img);

  Bytes onlyStart = {0xFF, 0xD8};
  DIMAGE img2 = makeJpegImage(onlyStart, 32, 32, 1, 32 * 32);
  ImageGuard guard2{&img2};
  expectRefusedBothWays(img2);
}

TEST(DecompressImage, StreamCutInHalfDecodesWithTheRestFilledIn) {
  const Bytes whole = encodeJpeg(160, 120, JpegKind::YCbCr);
  const Bytes half(whole.begin(), whole.begin() + whole.size() / 2);
  DIMAGE in = makeJpegImage(half, 160, 120, 3);
  ImageGuard inGuard{&in};
  DIMAGE out;
  {
    SilencedStderr quiet;
    ASSERT_EQ(qvDecompressImage(&out, &in), 1);
  }
  ImageGuard outGuard{&out};
  Bytes ref;
  {
    SilencedStderr quiet;
    ref = referenceDecode(half).pixels;
  }
  EXPECT_EQ(frameBytes(out, 160 * 120 * 3), ref);
  EXPECT_NE(frameBytes(out, 160 * 120 * 3), referenceDecode(whole).pixels);
}

// Every prefix and every single-byte change of a small stream: the result is
// decoded or refused, never a crash, a leak or a touched source.
TEST(DecompressImage, EveryTruncationAndByteFlipIsHandled) {
  const Bytes jpeg = encodeJpeg(24, 16, JpegKind::YCbCr, true, 75);
  SilencedStderr quiet;
  int iDecoded = 0, iRefused = 0;
  auto tryOne = [&](const Bytes& data) {
    if (data.empty()) return;
    DIMAGE in = makeJpegImage(data, 24, 16, 3, 24 * 16 * 3);
    ImageGuard guard{&in};
    const DIMAGE before = in;
    DIMAGE out;
    const int iResult = qvDecompressImage(&out, &in);
    ASSERT_TRUE(iResult == 1 || iResult == -2) << iResult;
    ASSERT_TRUE(sameRecord(in, before));
    if (iResult == 1) {
      std::free(out.frameBuffer);
      ++iDecoded;
    } else {
      ++iRefused;
    }
    const int iInPlace = qvDecompressImageInPlace(&in);
    ASSERT_EQ(iInPlace, iResult);
    if (iInPlace == -2) {
      ASSERT_TRUE(sameRecord(in, before));
      ASSERT_EQ(frameBytes(in, data.size()), data);
    }
  };
  for (size_t n = 0; n < jpeg.size(); ++n) tryOne(Bytes(jpeg.begin(), jpeg.begin() + n));
  for (size_t i = 0; i < jpeg.size(); ++i) {
    Bytes flipped = jpeg;
    flipped[i] ^= 0xA5;
    tryOne(flipped);
  }
  EXPECT_GT(iDecoded, 0);
  EXPECT_GT(iRefused, 0);
}

TEST(DecompressImageInPlace, DecodesIntoTheImagesOwnBuffer) {
  const Bytes jpeg = encodeJpeg(200, 100, JpegKind::YCbCr);
  DIMAGE img = makeJpegImage(jpeg, 200, 100, 3, 200 * 100 * 3 + 10);
  ImageGuard guard{&img};
  uint8_t* pBuffer = img.frameBuffer;
  ASSERT_EQ(qvDecompressImageInPlace(&img), 1);
  EXPECT_EQ(img.frameBuffer, pBuffer);
  EXPECT_EQ(img.frameBufferSize, 200u * 100u * 3u + 10u);
  EXPECT_EQ(img.frameHeader.imageFormat, CF_IMAGE_FORMAT_RGB);
  EXPECT_EQ(img.frameHeader.appendedFrameSize, 60000);
  EXPECT_EQ(img.sourceHeader.totalLength, 60188u);
  EXPECT_EQ(img.frameHeader.imageFlags & CF_IMAGE_FLAG_IMAGE_LOSSLESS, 0u);
  EXPECT_EQ(frameBytes(img, 60000), referenceDecode(jpeg).pixels);
}

TEST(DecompressImageInPlace, BufferHoldingOnlyTheStreamGivesMinusFour) {
  const Bytes jpeg = encodeJpeg(64, 64, JpegKind::Grey);
  DIMAGE img = makeJpegImage(jpeg, 64, 64, 1);
  ImageGuard guard{&img};
  const DIMAGE before = img;
  ASSERT_LT(jpeg.size(), 64u * 64u);
  EXPECT_EQ(qvDecompressImageInPlace(&img), -4);
  EXPECT_TRUE(sameRecord(img, before));
  EXPECT_EQ(frameBytes(img, jpeg.size()), jpeg);
}

TEST(DecompressImageInPlace, ColourStreamInOneBytePixelsKeepsTheJpegData) {
  const Bytes jpeg = encodeJpeg(64, 48, JpegKind::YCbCr);
  DIMAGE img = makeJpegImage(jpeg, 64, 48, 1, 64 * 48 * 3);
  ImageGuard guard{&img};
  const DIMAGE before = img;
  EXPECT_EQ(qvDecompressImageInPlace(&img), -2);
  EXPECT_TRUE(sameRecord(img, before));
  EXPECT_EQ(frameBytes(img, jpeg.size()), jpeg);
}

struct BunchGuard {
  QVBUNCHOFIMAGES& b;
  ~BunchGuard() {
    for (uint32_t i = 0; i < b.numFrames; ++i) std::free(b.imageArray[i].frameBuffer);
    std::free(b.imageArray);
  }
};

QVBUNCHOFIMAGES makeBunch(std::initializer_list<DIMAGE> aImages) {
  QVBUNCHOFIMAGES b;
  b.numFrames = static_cast<uint32_t>(aImages.size());
  b.imageArray = static_cast<DIMAGE*>(std::malloc(sizeof(DIMAGE) * aImages.size()));
  uint32_t i = 0;
  for (const DIMAGE& img : aImages) b.imageArray[i++] = img;
  return b;
}

TEST(DecompressSequence, DecodesJpegImagesAndPassesOverOthers) {
  const Bytes grey = encodeJpeg(32, 16, JpegKind::Grey);
  const Bytes colour = encodeJpeg(32, 16, JpegKind::YCbCr);
  DIMAGE raw = makeHeader(32, 16, 1, CF_IMAGE_FORMAT_GRAY);
  attachFrame(raw, Bytes(512, 9));
  QVBUNCHOFIMAGES bunch =
      makeBunch({makeJpegImage(grey, 32, 16, 1), raw, makeJpegImage(colour, 32, 16, 3)});
  BunchGuard guard{bunch};

  ASSERT_EQ(qvDecompressSequence(&bunch, 1), 1);
  EXPECT_EQ(bunch.imageArray[0].frameHeader.imageFormat, CF_IMAGE_FORMAT_GRAY);
  EXPECT_EQ(frameBytes(bunch.imageArray[0], 512), referenceDecode(grey).pixels);
  EXPECT_EQ(bunch.imageArray[1].frameBuffer, raw.frameBuffer);
  EXPECT_EQ(bunch.imageArray[2].frameHeader.imageFormat, CF_IMAGE_FORMAT_RGB);
  EXPECT_EQ(frameBytes(bunch.imageArray[2], 32 * 16 * 3), referenceDecode(colour).pixels);
}

TEST(DecompressSequence, WithoutReleaseTheCallerKeepsTheJpegBuffers) {
  const Bytes grey = encodeJpeg(16, 16, JpegKind::Grey);
  QVBUNCHOFIMAGES bunch = makeBunch({makeJpegImage(grey, 16, 16, 1)});
  uint8_t* pJpeg = bunch.imageArray[0].frameBuffer;
  BunchGuard guard{bunch};
  ASSERT_EQ(qvDecompressSequence(&bunch, 0), 1);
  EXPECT_NE(bunch.imageArray[0].frameBuffer, pJpeg);
  EXPECT_EQ(Bytes(pJpeg, pJpeg + grey.size()), grey) << "still allocated and intact";
  std::free(pJpeg);
}

TEST(DecompressSequence, StopsAtTheFirstFailureWithEarlierImagesDecoded) {
  const Bytes grey = encodeJpeg(16, 16, JpegKind::Grey);
  QVBUNCHOFIMAGES bunch = makeBunch({makeJpegImage(grey, 16, 16, 1), makeJpegImage(grey, 8, 8, 1),
                                     makeJpegImage(grey, 16, 16, 1)});
  BunchGuard guard{bunch};
  const DIMAGE second = bunch.imageArray[1];
  const DIMAGE third = bunch.imageArray[2];
  EXPECT_EQ(qvDecompressSequence(&bunch, 1), -1);
  EXPECT_EQ(bunch.imageArray[0].frameHeader.imageFormat, CF_IMAGE_FORMAT_GRAY);
  EXPECT_TRUE(sameRecord(bunch.imageArray[1], second));
  EXPECT_TRUE(sameRecord(bunch.imageArray[2], third));
}

TEST(DecompressSequence, NullOrEmptyBunch) {
  QVBUNCHOFIMAGES empty{nullptr, 0};
  EXPECT_EQ(qvDecompressSequence(nullptr, 1), 0);
  EXPECT_EQ(qvDecompressSequence(&empty, 1), 0);
}

}  // namespace

namespace {

// Each call builds its own decoder; calls on different images run side by side.
TEST(DecompressImage, ParallelCallsOnDifferentImages) {
  std::vector<Bytes> streams;
  std::vector<Bytes> expected;
  for (int i = 0; i < 4; ++i) {
    streams.push_back(encodeJpeg(96 + 16 * i, 64, i % 2 ? JpegKind::YCbCr : JpegKind::Grey));
    expected.push_back(referenceDecode(streams.back()).pixels);
  }
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      DIMAGE in = makeJpegImage(streams[i], 96 + 16 * i, 64, i % 2 ? 3 : 1);
      for (int round = 0; round < 20; ++round) {
        DIMAGE out;
        if (qvDecompressImage(&out, &in) != 1) {
          ++failures[i];
          continue;
        }
        if (frameBytes(out, expected[i].size()) != expected[i]) ++failures[i];
        std::free(out.frameBuffer);
      }
      std::free(in.frameBuffer);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
