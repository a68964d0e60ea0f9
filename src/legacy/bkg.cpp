// BKG files: one 8-byte frame header followed by the raw pixels; the
// multi-frame form repeats header and pixels.
#include <cstdint>

#include "legacy/legacy.h"
#include "legacy/legacy_io.h"
#include "runtime/guard.h"

using namespace qv::legacy;

namespace {

// Reads and checks the first header; leaves the file at its start.
int readFirstHeader(FILE* f, FrameHeader& first, uint64_t& uiFrameBytes, uint64_t& uiFileSize) {
  uint8_t raw[kFrameHeaderBytes];
  if (!readExact(f, raw, sizeof raw)) return kReadShort;
  first = decodeFrameHeader(raw);
  uiFrameBytes = first.frameBytes();
  if (uiFrameBytes == 0 || uiFrameBytes > UINT32_MAX) return kReadBadContent;
  if (!fileSize(f, uiFileSize)) return kReadShort;
  return kReadOk;
}

// Frames after the first must repeat its header exactly.
int readFrames(FILE* f, const FrameHeader& first, uint64_t uiFrameBytes, FrameArrays& frames,
               uint64_t uiCount) {
  for (uint64_t i = 0; i < uiCount; ++i) {
    uint8_t raw[kFrameHeaderBytes];
    if (!readExact(f, raw, sizeof raw)) return kReadShort;
    if (decodeFrameHeader(raw) != first) return kReadBadContent;
    frames.frame(i) = allocateBytes(uiFrameBytes).release();
    if (frames.frame(i) == nullptr) return kReadOutOfMemory;
    frames.scale(i) = 1.0;
    if (!readExact(f, frames.frame(i), uiFrameBytes)) return kReadShort;
  }
  return kReadOk;
}

void fillRecord(VIDINFHDR& v, const FrameHeader& hdr, uint64_t uiCount, int32_t iType,
                FrameArrays& frames) {
  v.width = hdr.w;
  v.height = hdr.h;
  v.bpp = hdr.bipp;
  v.ebpp = hdr.ebitpp;
  v.numframes = static_cast<int32_t>(uiCount);
  v.scale = 1.0;
  frames.handOver(v);
  v.type = iType;
}

int readBkg(const char* asName, VIDINFHDR* apV, bool bAllFrames) {
  FilePtr file = openForReading(asName);
  if (!file) return kReadOpenFailed;
  FrameHeader first;
  uint64_t uiFrameBytes = 0, uiFileSize = 0;
  int iResult = readFirstHeader(file.get(), first, uiFrameBytes, uiFileSize);
  if (iResult != kReadOk) return iResult;
  if (!seekTo64(file.get(), 0, SEEK_SET)) return kReadShort;

  const uint64_t uiRecordBytes = kFrameHeaderBytes + uiFrameBytes;
  uint64_t uiCount = 1;
  if (bAllFrames) {
    uiCount = uiFileSize / uiRecordBytes;
    if (uiCount == 0 || uiCount > INT32_MAX) return kReadBadContent;
  } else if (uiFileSize < uiRecordBytes) {
    return kReadShort;  // checked before the header's size is trusted for an allocation
  }
  FrameArrays frames;
  if (!frames.allocate(uiCount)) return kReadOutOfMemory;
  iResult = readFrames(file.get(), first, uiFrameBytes, frames, uiCount);
  if (iResult != kReadOk) return iResult;
  fillRecord(*apV, first, uiCount, bAllFrames ? 4 : 3, frames);
  return kReadOk;
}

int loadBkg(const char* asName, VIDINFHDR* apV, bool bAllFrames) {
  if (apV == nullptr || !isEmptyRecord(*apV)) return kReadRecordNotEmpty;
  const int iResult = readBkg(asName, apV, bAllFrames);
  if (iResult != kReadOk) apV->type = -1;
  return iResult;
}

}  // namespace

int load_bkg_fileEx(const char* name, VIDINFHDR* vinf, double* progress, double progressValue) {
  const int iResult = loadBkg(name, vinf, false);
  if (iResult == kReadOk) reportProgress(progress, progressValue);
  return iResult;
}

extern "C" QV_API int load_bkg_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("load_bkg_file", kReadOutOfMemory,
                                   [&]() -> int { return loadBkg(name, vinf, false); });
}

extern "C" QV_API int load_bkg_file_arb(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("load_bkg_file_arb", kReadOutOfMemory,
                                   [&]() -> int { return loadBkg(name, vinf, true); });
}

extern "C" QV_API int save_bkg_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("save_bkg_file", kWriteOutOfMemory, [&]() -> int {
    if (vinf == nullptr) return kWriteNoRecord;
    if (vinf->numframes != 1) return kWriteTooManyFrames;
    if (!isWritableType(vinf->type)) return kWriteNotWritable;
    if (!hasFrames(*vinf)) return kWriteNoRecord;
    if (!fitsFrameHeader(*vinf)) return kWriteNotWritable;

    uint8_t header[kFrameHeaderBytes];
    encodeFrameHeader(*vinf, header);
    OutputFile out(name);
    if (!out.isOpen()) return kWriteCreateFailed;
    if (!out.write(header, sizeof header) ||
        !out.write(vinf->framebits[0], static_cast<size_t>(recordFrameBytes(*vinf))))
      return kWriteFailed;
    return out.commit() ? kWriteOk : kWriteFailed;
  });
}
