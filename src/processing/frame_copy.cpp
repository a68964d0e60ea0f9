// Copying an image's pixels out into a caller's buffer, decoding JPEG frames
// on the way.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/image.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

// Numbers of the TINE completion-code table, so that qvTineCodeToString can
// name them.
constexpr int kDone = 0;
constexpr int kArgumentMissing = 20;
constexpr int kBufferTooSmall = 23;
constexpr int kInvalidImage = 103;
constexpr int kDecompressionFailed = 513;

constexpr int kPixelKindGray8 = 0;
constexpr int kPixelKindGray16 = 1;
constexpr int kPixelKindRgb = 2;

// The frame buffer of a decoded copy belongs to this call alone.
struct DecodedFrameOwner {
  DIMAGE* pImage = nullptr;
  ~DecodedFrameOwner() {
    if (pImage != nullptr) std::free(pImage->frameBuffer);
  }
};

// -1 for a pixel layout that cannot be copied out as plain pixels.
int pixelKindOf(const DIMAGE& aImg) {
  const int iFormat = aImg.frameHeader.imageFormat;
  const int iBytes = aImg.frameHeader.bytesPerPixel;
  if (iFormat == CF_IMAGE_FORMAT_GRAY && iBytes == 1) return kPixelKindGray8;
  if (iFormat == CF_IMAGE_FORMAT_GRAY && iBytes == 2) return kPixelKindGray16;
  if (iFormat == CF_IMAGE_FORMAT_RGB && iBytes == 3) return kPixelKindRgb;
  return -1;
}

template <typename T>
void storeIfWanted(T* apOut, T aValue) {
  if (apOut != nullptr) *apOut = aValue;
}

int copyFrame(void* apDestination, int* apiInOutSize, DIMAGE* apImage, int* apiOutWidth,
              int* apiOutHeight, int* apiOutPixelKind, int* apiOutBytesPerPixel,
              int* apiOutEffectiveBits, DIMAGE* apOutHeaderCopy) {
  if (apDestination == nullptr || apiInOutSize == nullptr || apImage == nullptr) {
    return kArgumentMissing;
  }
  if (!_internal_qvCheckImageValidity(apImage)) return kInvalidImage;

  DIMAGE decompressedImage;
  DecodedFrameOwner decodedOwner;
  const DIMAGE* pImage = apImage;
  const int iDecompressed = qvDecompressImage(&decompressedImage, apImage);
  if (iDecompressed < 0) return kDecompressionFailed;
  if (iDecompressed == 1) {
    decodedOwner.pImage = &decompressedImage;
    pImage = &decompressedImage;
  }

  const int iPixelKind = pixelKindOf(*pImage);
  if (iPixelKind < 0) return kInvalidImage;

  // Width x height x bytes in 64 bits; a frame buffer that holds fewer bytes
  // than its header promises is refused rather than read past its end.
  const int64_t iFrameBytes = qv::image::uncompressedFrameSize(*pImage);
  if (iFrameBytes <= 0 || iFrameBytes > INT32_MAX || pImage->frameBuffer == nullptr ||
      static_cast<uint64_t>(iFrameBytes) > pImage->frameBufferSize) {
    return kInvalidImage;
  }
  if (*apiInOutSize < iFrameBytes) return kBufferTooSmall;

  std::memcpy(apDestination, pImage->frameBuffer, static_cast<size_t>(iFrameBytes));
  *apiInOutSize = static_cast<int>(iFrameBytes);
  storeIfWanted(apiOutWidth, getAppendedWidth(*pImage));
  storeIfWanted(apiOutHeight, getAppendedHeight(*pImage));
  storeIfWanted(apiOutPixelKind, iPixelKind);
  storeIfWanted(apiOutBytesPerPixel, getBytesPerPixel(*pImage));
  storeIfWanted(apiOutEffectiveBits, pImage->frameHeader.effectiveBitsPerPixel);
  if (apOutHeaderCopy != nullptr) {
    DIMAGE headerCopy = *pImage;
    headerCopy.frameBuffer = nullptr;
    headerCopy.frameBufferSize = 0;
    headerCopy.frameHeader.appendedFrameSize = 0;
    *apOutHeaderCopy = headerCopy;
  }
  return kDone;
}

}  // namespace

// Without memory the frame cannot be had, as when its decoding fails.
extern "C" QV_API int qvGetFrameFromDIMAGE(void* apDestination, int* apiInOutSize, DIMAGE* apImage,
                                           int* apiOutWidth, int* apiOutHeight,
                                           int* apiOutPixelKind, int* apiOutBytesPerPixel,
                                           int* apiOutEffectiveBits, DIMAGE* apOutHeaderCopy) {
  return qv::runtime::guarded("qvGetFrameFromDIMAGE", kDecompressionFailed, [&] {
    return copyFrame(apDestination, apiInOutSize, apImage, apiOutWidth, apiOutHeight,
                     apiOutPixelKind, apiOutBytesPerPixel, apiOutEffectiveBits, apOutHeaderCopy);
  });
}

extern "C" QV_API int getFrameFromDIMAGE(void* apDestination, int* apiInOutSize, DIMAGE* apImage,
                                         int* apiOutWidth, int* apiOutHeight, int* apiOutPixelKind,
                                         int* apiOutBytesPerPixel, int* apiOutEffectiveBits,
                                         DIMAGE* apOutHeaderCopy) {
  return qv::runtime::guarded("getFrameFromDIMAGE", kDecompressionFailed, [&] {
    return copyFrame(apDestination, apiInOutSize, apImage, apiOutWidth, apiOutHeight,
                     apiOutPixelKind, apiOutBytesPerPixel, apiOutEffectiveBits, apOutHeaderCopy);
  });
}
