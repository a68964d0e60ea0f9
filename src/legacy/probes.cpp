// Content probes of the legacy formats: each checks the header fields of its
// format and that the file size agrees with them. None reads pixels; each
// closes its file.
#include <cmath>

#include "legacy/legacy.h"
#include "platform/byte_order.h"
#include "platform/files.h"

namespace {

using qv::platform::FilePtr;
using qv::platform::fileSize;
using qv::platform::getF64;
using qv::platform::getU16;
using qv::platform::getU32;
using qv::platform::readExact;
using qv::platform::seekTo64;
using qv::platform::tell64;

// Frame header of IMM and BKG files, with the defaults of 0 applied.
struct LegacyFrameHeader {
  uint16_t w = 0, bipp = 0, h = 0, ebitpp = 0;
};

// The probe compares the whole 16-bit words; the readers look at their low
// bytes only, as the layout says.
bool readLegacyFrameHeader(FILE* apFile, LegacyFrameHeader& aHeader, int64_t& aiFileSize) {
  uint8_t raw[8];
  if (!readExact(apFile, raw, sizeof raw)) return false;
  aHeader.w = getU16(raw);
  aHeader.bipp = getU16(raw + 2);
  aHeader.h = getU16(raw + 4);
  aHeader.ebitpp = getU16(raw + 6);
  if (aHeader.bipp == 0) aHeader.bipp = 8;
  if (aHeader.ebitpp == 0) aHeader.ebitpp = aHeader.bipp;
  if (aHeader.w == 0 || aHeader.h == 0 || (aHeader.bipp != 8 && aHeader.bipp != 16) ||
      aHeader.ebitpp > 16) {
    return false;
  }
  return tell64(apFile) == 8 && fileSize(apFile, aiFileSize);
}

uint64_t legacyPixelBytes(const LegacyFrameHeader& aHeader) {
  return uint64_t{aHeader.w} * aHeader.h * aHeader.bipp / 8;
}

}  // namespace

bool _internal_isIMCFile(const char* asFilePath) {
  FilePtr file = qv::platform::openForReading(asFilePath);
  if (!file) return false;
  FILE* f = file.get();
  uint8_t raw[16];
  if (!readExact(f, raw, sizeof raw)) return false;
  const uint32_t w = getU32(raw), h = getU32(raw + 4), numImg = getU32(raw + 12);
  uint16_t bipp = getU16(raw + 8), ebitpp = getU16(raw + 10);
  if (bipp == 0) bipp = 8;
  if (ebitpp == 0) ebitpp = bipp;
  if (w == 0 || h == 0 || numImg == 0 || (bipp != 8 && bipp != 16) || ebitpp > 16) return false;
  // The legacy layout states the frame size in 32 bits.
  const uint32_t iImageSizeInBytes = w * h * bipp / 8;

  int64_t iFileSize = 0;
  if (tell64(f) != 16 || !fileSize(f, iFileSize)) return false;
  int64_t iFileSizeMissing = iFileSize - 16;
  for (uint32_t i = 0; i < numImg; ++i) {
    uint8_t image[16];
    if (!readExact(f, image, sizeof image)) return false;
    const double dScale = getF64(image);
    const uint32_t clen = getU32(image + 8), ulen = getU32(image + 12);
    iFileSizeMissing -= 16;
    if (dScale < 0 || ulen != iImageSizeInBytes) return false;
    if (static_cast<int64_t>(clen) > iFileSizeMissing) return false;
    iFileSizeMissing -= clen;
    if (!seekTo64(f, clen, SEEK_CUR)) return false;
  }
  return iFileSizeMissing == 0;
}

bool _internal_isIMMFile(const char* asFilePath) {
  FilePtr file = qv::platform::openForReading(asFilePath);
  if (!file) return false;
  LegacyFrameHeader header;
  int64_t iFileSize = 0;
  if (!readLegacyFrameHeader(file.get(), header, iFileSize)) return false;
  const uint64_t iRecordBytes = legacyPixelBytes(header) + 16;
  // At least one whole frame record; then a whole number of them, within
  // the legacy tolerance.
  if (static_cast<uint64_t>(iFileSize) < iRecordBytes) return false;
  const double dNumImages = static_cast<double>(iFileSize) / static_cast<double>(iRecordBytes);
  const double t = std::trunc(dNumImages);
  return dNumImages > t - 0.001 && dNumImages < t + 0.001;
}

bool _internal_isBKGFile(const char* asFilePath) {
  FilePtr file = qv::platform::openForReading(asFilePath);
  if (!file) return false;
  LegacyFrameHeader header;
  int64_t iFileSize = 0;
  if (!readLegacyFrameHeader(file.get(), header, iFileSize)) return false;
  return static_cast<uint64_t>(iFileSize) == legacyPixelBytes(header) + 8;
}
