// IMC and BKC files (one layout): a 16-byte file header, then per frame its
// scale, compressed and uncompressed lengths and one zlib stream.
#include <cstdint>

#include "codec/frame_codec.h"
#include "legacy/legacy.h"
#include "legacy/legacy_io.h"
#include "runtime/guard.h"

using namespace qv::legacy;

namespace {

constexpr size_t kFileHeaderBytes = 16;
constexpr size_t kImageHeaderBytes = 16;

struct ImcGeometry {
  int32_t w = 0;
  int32_t h = 0;
  int32_t bpp = 0;
  int32_t ebpp = 0;
  uint32_t numImg = 0;
  uint64_t frameBytes = 0;
};

// The 32-bit value at offset 8 carries bpp in its lower half and, when not 0,
// ebpp in its upper half.
int decodeFileHeader(const uint8_t* p, ImcGeometry& g) {
  g.w = getI32(p);
  g.h = getI32(p + 4);
  const uint32_t uiDepth = getU32(p + 8);
  if ((uiDepth >> 16) != 0) {
    g.bpp = static_cast<int32_t>(uiDepth & 0xFFFF);
    g.ebpp = static_cast<int32_t>(uiDepth >> 16);
  } else {
    g.bpp = static_cast<int32_t>(uiDepth);
    g.ebpp = g.bpp;
  }
  g.numImg = getU32(p + 12);
  if (g.bpp != 8 && g.bpp != 16) return kReadBadContent;
  if (g.numImg == 0 || g.numImg > INT32_MAX) return kReadBadContent;
  if (g.w <= 0 || g.h <= 0) return kReadBadContent;
  g.frameBytes = static_cast<uint64_t>(g.w) * static_cast<uint64_t>(g.h) * g.bpp / 8;
  if (g.frameBytes > UINT32_MAX) return kReadBadContent;
  return kReadOk;
}

// Reads one frame's stream into a grown scratch buffer and inflates it into a
// new frame that must come out exactly frameBytes long.
int readFrame(FILE* f, const ImcGeometry& g, uint64_t& uiBytesLeft, MallocBuffer& scratch,
              uint64_t& uiScratchSize, unsigned char*& pFrame, double& dScale) {
  uint8_t raw[kImageHeaderBytes];
  if (uiBytesLeft < sizeof raw || !readExact(f, raw, sizeof raw)) return kReadShort;
  uiBytesLeft -= sizeof raw;
  dScale = getF64(raw);
  const uint32_t uiCompressed = getU32(raw + 8);
  const uint32_t uiUncompressed = getU32(raw + 12);
  if (uiUncompressed != g.frameBytes) return kReadBadContent;
  if (uiCompressed > uiBytesLeft) return kReadShort;
  if (!qv::codec::mayInflateTo(uiCompressed, g.frameBytes)) return kReadDecompression;
  uiBytesLeft -= uiCompressed;

  if (uiCompressed > uiScratchSize) {
    scratch = allocateBytes(uiCompressed);
    uiScratchSize = scratch ? uiCompressed : 0;
    if (!scratch) return kReadOutOfMemory;
  }
  if (!readExact(f, scratch.get(), uiCompressed)) return kReadShort;
  pFrame = allocateBytes(g.frameBytes).release();
  if (pFrame == nullptr) return kReadOutOfMemory;
  // A short stream would leave part of the frame undefined.
  if (!qv::codec::inflateExactly(scratch.get(), uiCompressed, pFrame, g.frameBytes))
    return kReadDecompression;
  return kReadOk;
}

int readImcBkc(const char* asName, VIDINFHDR* apV, int32_t iType, int* apiUserBreak,
               double* apdProgress, double dProgressScale) {
  FilePtr file = openForReading(asName);
  if (!file) return kReadOpenFailed;
  uint8_t raw[kFileHeaderBytes];
  if (!readExact(file.get(), raw, sizeof raw)) return kReadShort;
  ImcGeometry g;
  int iResult = decodeFileHeader(raw, g);
  if (iResult != kReadOk) return iResult;
  uint64_t uiFileSize = 0;
  if (!fileSize(file.get(), uiFileSize)) return kReadShort;
  uint64_t uiBytesLeft = uiFileSize - kFileHeaderBytes;
  // Every image needs at least its header: a count the file cannot hold is
  // refused before the arrays are sized by it.
  if (g.numImg > uiBytesLeft / kImageHeaderBytes) return kReadShort;

  FrameArrays frames;
  if (!frames.allocate(g.numImg)) return kReadOutOfMemory;
  MallocBuffer scratch;
  uint64_t uiScratchSize = 0;
  for (uint32_t i = 0; i < g.numImg; ++i) {
    if (interruptRequested(apiUserBreak)) return kReadUserBreak;
    iResult = readFrame(file.get(), g, uiBytesLeft, scratch, uiScratchSize, frames.frame(i),
                        frames.scale(i));
    if (iResult != kReadOk) return iResult;
    reportProgress(apdProgress, dProgressScale * static_cast<double>(i + 1) / g.numImg);
  }
  apV->width = g.w;
  apV->height = g.h;
  apV->bpp = g.bpp;
  apV->ebpp = g.ebpp;
  apV->numframes = static_cast<int32_t>(g.numImg);
  frames.handOver(*apV);
  apV->scale = apV->framescales[0];
  apV->type = iType;
  return kReadOk;
}

int loadImcBkc(const char* asName, VIDINFHDR* apV, int32_t iType, int* apiUserBreak,
               double* apdProgress, double dProgressScale) {
  if (apV == nullptr || !isEmptyRecord(*apV)) return kReadRecordNotEmpty;
  const int iResult = readImcBkc(asName, apV, iType, apiUserBreak, apdProgress, dProgressScale);
  if (iResult != kReadOk) apV->type = -1;
  return iResult;
}

// The 16-bit fields must carry the record's depths unchanged and the frame
// size must fit the 32-bit length field.
bool fitsFileHeader(const VIDINFHDR& v) {
  const uint64_t uiFrameBytes = recordFrameBytes(v);
  return v.width >= 1 && v.height >= 1 && v.bpp >= 1 && v.bpp <= 0xFFFF && uiFrameBytes >= 1 &&
         uiFrameBytes <= UINT32_MAX;
}

void encodeFileHeader(const VIDINFHDR& v, uint8_t* p) {
  const int iEffective = v.bpp == 8 ? 0 : (v.ebpp != 0 ? v.ebpp : v.bpp);
  putU32(p, static_cast<uint32_t>(v.width));
  putU32(p + 4, static_cast<uint32_t>(v.height));
  putU16(p + 8, static_cast<uint16_t>(v.bpp));
  putU16(p + 10, static_cast<uint16_t>(iEffective));
  putU32(p + 12, static_cast<uint32_t>(v.numframes));
}

int writeImcBkc(const char* asName, VIDINFHDR* apV, int* apiUserBreak, double* apdProgress) {
  if (apV == nullptr) return kWriteNoRecord;
  if (!isWritableType(apV->type)) return kWriteNotWritable;
  if (!hasFrames(*apV)) return kWriteNoRecord;
  if (!fitsFileHeader(*apV)) return kWriteNotWritable;

  OutputFile out(asName);
  if (!out.isOpen()) return kWriteCreateFailed;
  uint8_t header[kFileHeaderBytes];
  encodeFileHeader(*apV, header);
  if (!out.write(header, sizeof header)) return kWriteFailed;

  // The bound fits every frame, however incompressible; the stream does not
  // depend on the capacity, so one buffer serves all frames.
  const uint64_t uiFrameBytes = recordFrameBytes(*apV);
  const uint64_t uiCapacity = qv::codec::compressBound(uiFrameBytes);
  MallocBuffer compressed = allocateBytes(uiCapacity);
  if (!compressed) return kWriteOutOfMemory;
  const int32_t n = apV->numframes;
  for (int32_t i = 0; i < n; ++i) {
    reportProgress(apdProgress, static_cast<double>(i) / n);
    if (interruptRequested(apiUserBreak)) return kWriteUserBreak;
    uint64_t uiLength = 0;
    if (qv::codec::compressFrame(apV->framebits[i], uiFrameBytes, compressed.get(), uiCapacity,
                                 uiLength) != qv::codec::Compressed::kDone)
      return kWriteCompression;
    uint8_t image[kImageHeaderBytes];
    putF64(image, apV->framescales[i]);
    putU32(image + 8, static_cast<uint32_t>(uiLength));
    putU32(image + 12, static_cast<uint32_t>(uiFrameBytes));
    if (!out.write(image, sizeof image) || !out.write(compressed.get(), uiLength))
      return kWriteFailed;
  }
  if (!out.commit()) return kWriteFailed;
  reportProgress(apdProgress, 1.0);
  return kWriteOk;
}

}  // namespace

int load_imc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress,
                    double progressScale) {
  return loadImcBkc(name, vinf, 2, userbreak, progress, progressScale);
}

extern "C" QV_API int load_imc_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("load_imc_file", kReadOutOfMemory, [&]() -> int {
    return loadImcBkc(name, vinf, 2, nullptr, nullptr, 1.0);
  });
}

extern "C" QV_API int load_bkc_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("load_bkc_file", kReadOutOfMemory, [&]() -> int {
    return loadImcBkc(name, vinf, 4, nullptr, nullptr, 1.0);
  });
}

extern "C" QV_API int load_imc_bkc_file(const char* name, VIDINFHDR* vinf, int type) {
  return qv::runtime::guarded<int>("load_imc_bkc_file", kReadOutOfMemory, [&]() -> int {
    // Any other type would give a record that free_vidinfhdr cannot release.
    if (type != 2 && type != 4) return kReadUnknownType;
    return loadImcBkc(name, vinf, type, nullptr, nullptr, 1.0);
  });
}

extern "C" QV_API int save_imc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak,
                                      double* progress) {
  return qv::runtime::guarded<int>("save_imc_fileEx", kWriteOutOfMemory, [&]() -> int {
    return writeImcBkc(name, vinf, userbreak, progress);
  });
}

extern "C" QV_API int save_imc_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("save_imc_file", kWriteOutOfMemory, [&]() -> int {
    return writeImcBkc(name, vinf, nullptr, nullptr);
  });
}

extern "C" QV_API int save_bkc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak,
                                      double* progress) {
  return qv::runtime::guarded<int>("save_bkc_fileEx", kWriteOutOfMemory, [&]() -> int {
    return writeImcBkc(name, vinf, userbreak, progress);
  });
}

extern "C" QV_API int save_bkc_file(const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("save_bkc_file", kWriteOutOfMemory, [&]() -> int {
    return writeImcBkc(name, vinf, nullptr, nullptr);
  });
}
