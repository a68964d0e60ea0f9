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

}  // namespace

int channelsOf(int aiPixelFormat) {
  switch (aiPixelFormat) {
    case TINESIM_GRAY16:
      return 2;
    case TINESIM_RGB24:
    case TINESIM_JPEG_RGB:
      return 3;
    default:
      return 1;
  }
}

namespace {

uint32_t frameNumberOf(const Property& p, uint64_t auiIndex) {
  uint64_t step = auiIndex / (static_cast<uint64_t>(p.numberRepeats) + 1);
  return static_cast<uint32_t>(p.numberStart + static_cast<uint64_t>(p.numberStep) * step);
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
