#include "support/bunch.h"

#include <cstring>

void setValidHeader(DIMAGE& img, int32_t width, int32_t height, int32_t bytesPerPixel,
                    int32_t format) {
  uint8_t* pBuffer = img.frameBuffer;
  const uint32_t iBufferSize = img.frameBufferSize;
  memset(&img, 0, sizeof img);
  img.frameBuffer = pBuffer;
  img.frameBufferSize = iBufferSize;
  const int32_t frameBytes = width * height * bytesPerPixel;
  img.sourceHeader.baseTag = QV_BASE_TAG;
  img.sourceHeader.versionTag = 1;
  img.sourceHeader.totalLength = 188 + frameBytes;
  img.frameHeader.sourceWidth = width;
  img.frameHeader.sourceHeight = height;
  img.frameHeader.aoiWidth = -1;
  img.frameHeader.aoiHeight = -1;
  img.frameHeader.bytesPerPixel = bytesPerPixel;
  img.frameHeader.effectiveBitsPerPixel = bytesPerPixel * 8;
  img.frameHeader.horizontalBinning = 1;
  img.frameHeader.verticalBinning = 1;
  img.frameHeader.sourceFormat = format;
  img.frameHeader.imageFormat = format;
  img.frameHeader.xScale = 1.0f;
  img.frameHeader.yScale = 1.0f;
  img.frameHeader.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
  img.frameHeader.appendedFrameSize = frameBytes;
}

void makeBunch(TestBunch& bunch, uint32_t n, int32_t width, int32_t height, int32_t bytesPerPixel,
               int32_t format, const std::function<uint8_t(uint32_t, size_t)>& fill) {
  const uint32_t frameBytes = static_cast<uint32_t>(width * height * bytesPerPixel);
  qvCreateBunchStructure(bunch.get(), n, frameBytes);
  for (uint32_t i = 0; i < n; ++i) {
    DIMAGE& img = bunch[i];
    setValidHeader(img, width, height, bytesPerPixel, format);
    for (size_t b = 0; b < frameBytes; ++b) {
      img.frameBuffer[b] = fill ? fill(i, b) : static_cast<uint8_t>(b * 7 + i);
    }
  }
}
