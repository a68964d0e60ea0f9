// Where the frames of a simulated property come from: the moving test
// pattern, a caller's generator or replayed frames, numbered as the property
// says; and how one frame lands in the caller's CF_IMAGE container.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "state.h"

namespace tinesim {

namespace {

bool isJpeg(int aiPixelFormat) {
  return aiPixelFormat == TINESIM_JPEG_GRAY || aiPixelFormat == TINESIM_JPEG_RGB;
}

int channelsOf(int aiPixelFormat) {
  switch (aiPixelFormat) {
    case TINESIM_GRAY16: return 2;
    case TINESIM_RGB24:
    case TINESIM_JPEG_RGB: return 3;
    default: return 1;
  }
}

uint32_t frameNumberOf(const Property& p, uint64_t auiIndex) {
  uint64_t step = auiIndex / (static_cast<uint64_t>(p.numberRepeats) + 1);
  return static_cast<uint32_t>(p.numberStart + static_cast<uint64_t>(p.numberStep) * step);
}

// ---- test pattern ----------------------------------------------------------

constexpr int kBitCell = 8;

int patternBits(int aiWidth, int aiHeight) {
  if (aiHeight < kBitCell) return 0;
  return std::min(32, aiWidth / kBitCell);
}

// Top band: the frame number, one 8 x 8 block per bit; below it a diagonal
// gradient that moves with the frame number.
void renderPattern(const Property& p, uint32_t auiNumber, std::vector<uint8_t>& aPixels) {
  const int w = p.width, h = p.height;
  const int channels = channelsOf(p.pixelFormat);
  const bool wide = p.pixelFormat == TINESIM_GRAY16;
  const uint32_t mask = wide ? ((p.effectiveBits >= 1 && p.effectiveBits <= 16)
                                    ? (1u << p.effectiveBits) - 1u
                                    : 0xFFFFu)
                             : 0xFFu;
  const int bytesPerPixel = wide ? 2 : channels;
  aPixels.resize(static_cast<size_t>(w) * h * bytesPerPixel);
  const int bits = patternBits(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = aPixels.data() + static_cast<size_t>(y) * w * bytesPerPixel;
    if (y < kBitCell && bits > 0) {
      for (int x = 0; x < w; ++x) {
        int bit = x / kBitCell;
        uint32_t v = (bit < bits && ((auiNumber >> bit) & 1u)) ? mask : 0u;
        if (wide) {
          row[2 * x] = static_cast<uint8_t>(v);
          row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        } else {
          for (int c = 0; c < channels; ++c) row[x * channels + c] = static_cast<uint8_t>(v);
        }
      }
      continue;
    }
    const uint32_t base = static_cast<uint32_t>(2 * y) + 3u * auiNumber;
    if (wide) {
      for (int x = 0; x < w; ++x) {
        uint32_t v = (base + static_cast<uint32_t>(x)) & mask;
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
    } else if (channels == 1) {
      for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(base + static_cast<uint32_t>(x));
    } else {
      for (int x = 0; x < w; ++x) {
        row[3 * x] = static_cast<uint8_t>(base + static_cast<uint32_t>(x));
        row[3 * x + 1] = static_cast<uint8_t>(y + auiNumber);
        row[3 * x + 2] = static_cast<uint8_t>(x + y);
      }
    }
  }
}

// ---- frames --------------------------------------------------------------------

void stampNow(DIMAGE& aHeader) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  aHeader.sourceHeader.timestampSeconds = static_cast<uint32_t>(micros / 1000000);
  aHeader.sourceHeader.timestampMicroseconds = static_cast<uint32_t>(micros % 1000000);
}

void fillHeader(const Server& aServer, const Property& p, uint32_t auiNumber, DIMAGE& h) {
  std::memset(&h, 0, sizeof h);
  h.sourceHeader.baseTag = QV_BASE_TAG;
  h.sourceHeader.cameraPortId = 1;
  h.sourceHeader.versionTag = 1;
  stampNow(h);
  std::snprintf(h.sourceHeader.cameraPortName, sizeof h.sourceHeader.cameraPortName, "%s",
                aServer.address.c_str());
  FRAMEHEADER& f = h.frameHeader;
  f.sourceWidth = p.width;
  f.sourceHeight = p.height;
  f.aoiWidth = -1;
  f.aoiHeight = -1;
  f.bytesPerPixel = channelsOf(p.pixelFormat);
  f.effectiveBitsPerPixel = p.pixelFormat == TINESIM_GRAY16 ? p.effectiveBits : 8;
  f.horizontalBinning = 1;
  f.verticalBinning = 1;
  bool colour = p.pixelFormat == TINESIM_RGB24 || p.pixelFormat == TINESIM_JPEG_RGB;
  f.sourceFormat = colour ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY;
  f.imageFormat = isJpeg(p.pixelFormat) ? CF_IMAGE_FORMAT_JPEG : f.sourceFormat;
  f.frameNumber = auiNumber;
  f.eventNumber = auiNumber;
  f.xScale = 10.0f;
  f.yScale = 10.0f;
  f.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
}

}  // namespace

// Largest frame the property delivers: what a query reports as its size.
int64_t naturalFrameSize(const Property& p) {
  if (!p.replay.empty()) {
    int64_t largest = 0;
    for (const ReplayFrame& frame : p.replay)
      largest = std::max<int64_t>(largest, static_cast<int64_t>(frame.bytes.size()));
    return largest;
  }
  int64_t raw = static_cast<int64_t>(p.width) * p.height * channelsOf(p.pixelFormat);
  return isJpeg(p.pixelFormat) ? raw + 65536 : raw;
}

// Writes frame number index of the property into the container, as TINE
// does for CF_IMAGE: the header, at most the capacity in frame bytes, and
// appendedFrameSize = the bytes delivered. Returns a completion code.
int deliverFrame(const Server& aServer, const Property& p, uint64_t auiIndex, DTYPE* aDout) {
  if (aDout == nullptr || aDout->data.vptr == nullptr) return kCodeArgumentList;
  if (aDout->dFormat != CF_IMAGE) return kCodeIllegalFormat;
  DIMAGE* target = static_cast<DIMAGE*>(aDout->data.vptr);
  const uint32_t capacity = target->frameBuffer != nullptr ? aDout->dArrayLength : 0;
  const uint32_t number = frameNumberOf(p, auiIndex);
  DIMAGE header;
  thread_local std::vector<uint8_t> pixels;
  thread_local std::vector<uint8_t> coded;
  const std::vector<uint8_t>* source = &pixels;

  if (!p.replay.empty()) {
    const ReplayFrame& frame = p.replay[auiIndex % p.replay.size()];
    header = frame.header;
    if (!p.keepReplayNumbers) header.frameHeader.frameNumber = number;
    source = &frame.bytes;
  } else {
    fillHeader(aServer, p, number, header);
    if (p.generator != nullptr) {
      pixels.assign(static_cast<size_t>(naturalFrameSize(p)), 0);
      int written = p.generator(p.generatorUser, number, &header, pixels.data(),
                                static_cast<uint32_t>(pixels.size()));
      if (written < 0) return -written;
      pixels.resize(std::min<size_t>(static_cast<size_t>(written), pixels.size()));
    } else {
      renderPattern(p, number, pixels);
    }
    if (isJpeg(p.pixelFormat)) {
      encodeJpeg(pixels, p.width, p.height, channelsOf(p.pixelFormat), coded);
      source = &coded;
    }
  }
  const size_t delivered = std::min<size_t>(source->size(), capacity);
  header.frameHeader.appendedFrameSize = static_cast<int32_t>(delivered);
  header.sourceHeader.totalLength = static_cast<uint32_t>(QV_HDR_IMAGE_SIZE + delivered);
  // The caller's frameBuffer and frameBufferSize stay the caller's.
  std::memcpy(target, &header, QV_HDR_IMAGE_SIZE);
  if (delivered > 0) std::memcpy(target->frameBuffer, source->data(), delivered);
  aDout->dTimeStamp = static_cast<double>(header.sourceHeader.timestampSeconds) +
                      header.sourceHeader.timestampMicroseconds / 1e6;
  return 0;
}

}  // namespace tinesim

using namespace tinesim;

TINESIM_API int64_t tinesimPatternFrameNumber(const DIMAGE* apImage) {
  if (apImage == nullptr || apImage->frameBuffer == nullptr) return -1;
  const FRAMEHEADER& f = apImage->frameHeader;
  const int w = f.aoiWidth > 0 ? f.aoiWidth : f.sourceWidth;
  const int h = f.aoiHeight > 0 ? f.aoiHeight : f.sourceHeight;
  const int bpp = f.bytesPerPixel;
  const bool gray = f.imageFormat == CF_IMAGE_FORMAT_GRAY && (bpp == 1 || bpp == 2);
  const bool rgb = f.imageFormat == CF_IMAGE_FORMAT_RGB && bpp == 3;
  const int bits = patternBits(w, h);
  if ((!gray && !rgb) || bits == 0 || w <= 0 ||
      static_cast<int64_t>(w) * kBitCell * bpp > static_cast<int64_t>(apImage->frameBufferSize))
    return -1;
  uint32_t maximum = 255;
  if (bpp == 2)
    maximum = (f.effectiveBitsPerPixel >= 1 && f.effectiveBitsPerPixel <= 16)
                  ? (1u << f.effectiveBitsPerPixel) - 1u
                  : 0xFFFFu;
  const uint8_t* row = apImage->frameBuffer + static_cast<size_t>(kBitCell / 2) * w * bpp;
  uint32_t number = 0;
  for (int bit = 0; bit < bits; ++bit) {
    const uint8_t* pixel = row + static_cast<size_t>(bit * kBitCell + kBitCell / 2) * bpp;
    uint32_t v = bpp == 2 ? static_cast<uint32_t>(pixel[0] | (pixel[1] << 8)) : pixel[0];
    if (v > maximum / 2) number |= 1u << bit;
  }
  return number;
}
