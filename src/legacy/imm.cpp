// IMM files: frame records of an 8-byte header, the raw pixels and the frame's
// scale factor, one after another.
#include <cstdint>

#include "legacy/legacy.h"
#include "legacy/legacy_io.h"
#include "runtime/guard.h"

using namespace qv::legacy;

namespace {

constexpr uint64_t kScaleBytes = 8;

int readImm(const char* asName, VIDINFHDR* apV, int* apiUserBreak, double* apdProgress,
            double dProgressScale) {
  FilePtr file = openForReading(asName);
  if (!file) return kReadOpenFailed;
  uint8_t raw[kFrameHeaderBytes];
  if (!readExact(file.get(), raw, sizeof raw)) return kReadShort;
  const FrameHeader first = decodeFrameHeader(raw);
  // Frames without pixels or beyond 32 bits cannot form a sound record.
  const uint64_t uiFrameBytes = first.frameBytes();
  if (uiFrameBytes == 0 || uiFrameBytes > UINT32_MAX) return kReadBadContent;

  uint64_t uiFileSize = 0;
  if (!fileSize(file.get(), uiFileSize) || !seekTo64(file.get(), 0, SEEK_SET)) return kReadShort;
  const uint64_t uiRecordBytes = kFrameHeaderBytes + uiFrameBytes + kScaleBytes;
  const uint64_t uiCount = uiFileSize / uiRecordBytes;  // a trailing partial record is ignored
  if (uiCount == 0 || uiCount > INT32_MAX) return kReadBadContent;

  FrameArrays frames;
  if (!frames.allocate(uiCount)) return kReadOutOfMemory;
  for (uint64_t i = 0; i < uiCount; ++i) {
    if (interruptRequested(apiUserBreak)) return kReadUserBreak;
    if (!readExact(file.get(), raw, sizeof raw)) return kReadShort;
    if (decodeFrameHeader(raw) != first) return kReadBadContent;
    frames.frame(i) = allocateBytes(uiFrameBytes).release();
    if (frames.frame(i) == nullptr) return kReadOutOfMemory;
    uint8_t scale[kScaleBytes];
    if (!readExact(file.get(), frames.frame(i), uiFrameBytes) ||
        !readExact(file.get(), scale, sizeof scale))
      return kReadShort;
    frames.scale(i) = getF64(scale);
    reportProgress(apdProgress, dProgressScale * static_cast<double>(i + 1) / uiCount);
  }

  apV->width = first.w;
  apV->height = first.h;
  apV->bpp = first.bipp;
  apV->ebpp = first.ebitpp;
  apV->numframes = static_cast<int32_t>(uiCount);
  frames.handOver(*apV);
  apV->scale = apV->framescales[0];
  apV->type = 1;
  return kReadOk;
}

int writeImm(const char* asName, VIDINFHDR* apV, int* apiUserBreak, double* apdProgress) {
  if (apV == nullptr) return kWriteNoRecord;
  if (!isWritableType(apV->type)) return kWriteNotWritable;
  if (!hasFrames(*apV)) return kWriteNoRecord;
  if (!fitsFrameHeader(*apV)) return kWriteNotWritable;

  uint8_t header[kFrameHeaderBytes];
  encodeFrameHeader(*apV, header);
  const size_t uiFrameBytes = static_cast<size_t>(recordFrameBytes(*apV));
  OutputFile out(asName);
  if (!out.isOpen()) return kWriteCreateFailed;
  const int32_t n = apV->numframes;
  for (int32_t i = 0; i < n; ++i) {
    reportProgress(apdProgress, static_cast<double>(i) / n);
    if (interruptRequested(apiUserBreak)) return kWriteUserBreak;
    uint8_t scale[kScaleBytes];
    putF64(scale, apV->framescales[i]);
    if (!out.write(header, sizeof header) || !out.write(apV->framebits[i], uiFrameBytes) ||
        !out.write(scale, sizeof scale))
      return kWriteFailed;
  }
  if (!out.commit()) return kWriteFailed;
  reportProgress(apdProgress, 1.0);
  return kWriteOk;
}

}  // namespace

int load_imm_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress,
                    double progressScale) {
  if (vinf == nullptr || !isEmptyRecord(*vinf)) return kReadRecordNotEmpty;
  const int iResult = readImm(name, vinf, userbreak, progress, progressScale);
  if (iResult != kReadOk) vinf->type = -1;
  return iResult;
}

extern "C" QV_API int load_imm_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("load_imm_file", kReadOutOfMemory, [&]() -> int {
    return load_imm_fileEx(name, vinf, nullptr, nullptr, 1.0);
  });
}

extern "C" QV_API int save_imm_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak,
                                      double* progress) {
  return qv::runtime::guarded<int>("save_imm_fileEx", kWriteOutOfMemory, [&]() -> int {
    return writeImm(name, vinf, userbreak, progress);
  });
}

extern "C" QV_API int save_imm_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("save_imm_file", kWriteOutOfMemory,
                                   [&]() -> int { return writeImm(name, vinf, nullptr, nullptr); });
}
