// Decoding of JPEG-coded images into raw GRAY or RGB frames.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/image.h"
#include "platform/files.h"
#include "processing/jpeg_decode.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

constexpr int kDecoded = 1;
constexpr int kNotJpeg = 0;
constexpr int kOutOfMemory = -1;
constexpr int kDecodeFailed = -2;
constexpr int kNullArgument = -3;
constexpr int kFrameBufferTooSmall = -4;

using qv::platform::allocateBytes;
using qv::platform::MallocBuffer;
using qv::processing::JpegExpectedShape;

// The raw size the header promises, or 0 when the header describes no frame
// a valid image can carry: nothing above MAX_TRANSPORT_SIZE, which also keeps
// a hostile header from making the call allocate gigabytes.
size_t decodedFrameSize(const DIMAGE& aImg) {
  if (getAppendedWidth(aImg) <= 0 || getAppendedHeight(aImg) <= 0 || getBytesPerPixel(aImg) <= 0) {
    return 0;
  }
  const int64_t iSize = qv::image::uncompressedFrameSize(aImg);
  if (iSize > MAX_TRANSPORT_SIZE) return 0;
  return static_cast<size_t>(iSize);
}

// The JPEG stream must lie inside the frame buffer the record owns.
bool holdsJpegStream(const DIMAGE& aImg) {
  const int32_t iLength = aImg.frameHeader.appendedFrameSize;
  return aImg.frameBuffer != nullptr && iLength > 0 &&
         static_cast<uint32_t>(iLength) <= aImg.frameBufferSize;
}

JpegExpectedShape expectedShape(const DIMAGE& aImg) {
  return {getAppendedWidth(aImg), getAppendedHeight(aImg), getBytesPerPixel(aImg)};
}

void markDecoded(DIMAGE& aImg, int aiFormat, size_t aiSize) {
  aImg.frameHeader.imageFormat = aiFormat;
  aImg.frameHeader.imageFlags &= ~CF_IMAGE_FLAG_IMAGE_LOSSLESS;
  aImg.frameHeader.appendedFrameSize = static_cast<int32_t>(aiSize);
  aImg.sourceHeader.totalLength = static_cast<uint32_t>(aiSize + QV_HDR_IMAGE_SIZE);
}

int decompressImage(DIMAGE* apOutImage, DIMAGE* apInImage) {
  if (apOutImage == nullptr || apInImage == nullptr) return kNullArgument;
  const DIMAGE in = *apInImage;
  if (in.frameHeader.imageFormat != CF_IMAGE_FORMAT_JPEG) return kNotJpeg;

  const size_t iSize = decodedFrameSize(in);
  if (iSize == 0 || !holdsJpegStream(in)) return kDecodeFailed;
  MallocBuffer pPixels = allocateBytes(iSize);
  if (!pPixels) return kOutOfMemory;

  const JpegExpectedShape shape = expectedShape(in);
  int iWidth = 0, iHeight = 0, iFormat = 0;
  if (!_internal_jpegDecompressToMemory(
          in.frameBuffer, static_cast<size_t>(in.frameHeader.appendedFrameSize), pPixels.get(),
          iSize, &iWidth, &iHeight, &iFormat, &shape)) {
    return kDecodeFailed;
  }

  DIMAGE out = in;
  markDecoded(out, iFormat, iSize);
  out.frameBufferSize =
      static_cast<uint32_t>(static_cast<int64_t>(iWidth) * iHeight * getBytesPerPixel(in));
  out.frameBuffer = pPixels.release();
  *apOutImage = out;
  return kDecoded;
}

int decompressImageInPlace(DIMAGE* apImage) {
  if (apImage == nullptr) return kNullArgument;
  DIMAGE& img = *apImage;
  if (img.frameHeader.imageFormat != CF_IMAGE_FORMAT_JPEG) return kNotJpeg;

  const size_t iSize = decodedFrameSize(img);
  if (iSize == 0 || !holdsJpegStream(img)) return kDecodeFailed;
  const size_t iJpegLength = static_cast<size_t>(img.frameHeader.appendedFrameSize);
  MallocBuffer pJpeg = allocateBytes(iJpegLength);
  if (!pJpeg) return kOutOfMemory;
  if (img.frameBufferSize < iSize) return kFrameBufferTooSmall;

  // The decoder writes over the stream it reads, so it reads a copy; the copy
  // also restores the image when decoding fails half way.
  std::memcpy(pJpeg.get(), img.frameBuffer, iJpegLength);
  const JpegExpectedShape shape = expectedShape(img);
  int iFormat = 0;
  if (!_internal_jpegDecompressToMemory(pJpeg.get(), iJpegLength, img.frameBuffer, iSize, nullptr,
                                        nullptr, &iFormat, &shape)) {
    std::memcpy(img.frameBuffer, pJpeg.get(), iJpegLength);
    return kDecodeFailed;
  }
  markDecoded(img, iFormat, iSize);
  return kDecoded;
}

int decompressSequence(QVBUNCHOFIMAGES* apImages, int aiReleaseCompressed) {
  if (apImages == nullptr || apImages->numFrames == 0 || apImages->imageArray == nullptr) return 0;
  for (uint32_t i = 0; i < apImages->numFrames; ++i) {
    DIMAGE compressed = apImages->imageArray[i];
    DIMAGE decoded;
    const int iResult = decompressImage(&decoded, &compressed);
    if (iResult < 0) return -1;
    if (iResult == kNotJpeg) continue;
    apImages->imageArray[i] = decoded;
    if (aiReleaseCompressed == 1) std::free(compressed.frameBuffer);
  }
  return 1;
}

}  // namespace

// Out of memory has its own result; any other failure counts as a failed
// decoding, which leaves the images as they were.
extern "C" QV_API int qvDecompressImage(DIMAGE* apOutImage, DIMAGE* apInImage) {
  return qv::runtime::guarded("qvDecompressImage", kOutOfMemory, kDecodeFailed,
                              [&] { return decompressImage(apOutImage, apInImage); });
}

extern "C" QV_API int qvDecompressImageInPlace(DIMAGE* apImage) {
  return qv::runtime::guarded("qvDecompressImageInPlace", kOutOfMemory, kDecodeFailed,
                              [&] { return decompressImageInPlace(apImage); });
}

extern "C" QV_API int qvDecompressSequence(QVBUNCHOFIMAGES* apImages, int aiReleaseCompressed) {
  return qv::runtime::guarded("qvDecompressSequence", -1,
                              [&] { return decompressSequence(apImages, aiReleaseCompressed); });
}
