// IMC and BKC files (one layout): a 16-byte file header, then per frame its
// scale, compressed and uncompressed lengths and one zlib stream.
#include <cstdint>
#include <vector>

#include "codec/frame_codec.h"
#include "codec/frame_order.h"
#include "legacy/legacy.h"
#include "legacy/legacy_io.h"
#include "runtime/guard.h"

using namespace qv::legacy;
using qv::codec::SlotBuffer;

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

// A frame's stream, waiting in its slot to be inflated into the frame.
struct PendingStream {
  SlotBuffer stream;
  uint32_t streamBytes = 0;
  unsigned char* frame = nullptr;
};

// Reads one frame's header and stream into the slot and allocates the frame
// the stream must fill exactly.
int readFrame(FILE* f, const ImcGeometry& g, uint64_t& uiBytesLeft, PendingStream& pending,
              unsigned char*& pFrame, double& dScale) {
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

  if (!pending.stream.reserve(uiCompressed)) return kReadOutOfMemory;
  if (!readExact(f, pending.stream.data(), uiCompressed)) return kReadShort;
  pFrame = allocateBytes(g.frameBytes).release();
  if (pFrame == nullptr) return kReadOutOfMemory;
  pending.streamBytes = uiCompressed;
  pending.frame = pFrame;
  return kReadOk;
}

// Frames are read, checked and counted in order on this thread and inflated
// on the codec's threads. The first failure in frame order, or kReadOk.
int readFrames(FILE* f, const ImcGeometry& g, uint64_t uiBytesLeft, FrameArrays& frames,
               int* apiUserBreak, double* apdProgress, double dProgressScale) {
  const unsigned threads = qv::codec::codecThreads(g.numImg);
  std::vector<PendingStream> slots(qv::codec::frameSlots(threads));
  int iResult = kReadOk;
  qv::codec::FrameSteps steps;
  steps.prepare = [&](uint32_t i, unsigned slot) {
    iResult = interruptRequested(apiUserBreak)
                  ? kReadUserBreak
                  : readFrame(f, g, uiBytesLeft, slots[slot], frames.frame(i), frames.scale(i));
    return iResult == kReadOk;
  };
  steps.work = [&](uint32_t, unsigned slot) {
    // A short stream would leave part of the frame undefined.
    const PendingStream& p = slots[slot];
    return qv::codec::inflateExactly(p.stream.data(), p.streamBytes, p.frame, g.frameBytes);
  };
  steps.finish = [&](uint32_t i, unsigned, bool inflated) {
    if (!inflated) {
      iResult = kReadDecompression;
      return false;
    }
    reportProgress(apdProgress, dProgressScale * static_cast<double>(i + 1) / g.numImg);
    return true;
  };
  qv::codec::runInFrameOrder(g.numImg, threads, steps);
  return iResult;
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
  iResult =
      readFrames(file.get(), g, uiBytesLeft, frames, apiUserBreak, apdProgress, dProgressScale);
  if (iResult != kReadOk) return iResult;
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

// Only the depths the reader takes back (8 and 16 bits), and a frame size
// that fits the 32-bit length field.
bool fitsFileHeader(const VIDINFHDR& v) {
  const uint64_t uiFrameBytes = recordFrameBytes(v);
  return v.width >= 1 && v.height >= 1 && (v.bpp == 8 || v.bpp == 16) && uiFrameBytes >= 1 &&
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

// A frame's stream, waiting in its slot to be written.
struct CompressedStream {
  SlotBuffer stream;
  uint64_t streamBytes = 0;
};

// Frames are compressed on the codec's threads and written in order on this
// thread, each after its progress value and the user-break test. The first
// failure in frame order, or kWriteOk.
int writeFrames(OutputFile& out, const VIDINFHDR& v, int* apiUserBreak, double* apdProgress) {
  // The bound fits every frame, however incompressible; the stream does not
  // depend on the capacity.
  const uint64_t uiFrameBytes = recordFrameBytes(v);
  const uint64_t uiCapacity = qv::codec::compressBound(uiFrameBytes);
  const int32_t n = v.numframes;
  // Every buffer before the first frame; fewer threads when memory is short.
  unsigned threads = qv::codec::codecThreads(static_cast<uint64_t>(n));
  std::vector<CompressedStream> slots(qv::codec::frameSlots(threads));
  size_t ready = 0;
  while (ready < slots.size() && slots[ready].stream.reserve(uiCapacity)) ++ready;
  if (ready == 0) return kWriteOutOfMemory;
  while (qv::codec::frameSlots(threads) > ready) --threads;

  int iResult = kWriteOk;
  qv::codec::FrameSteps steps;
  steps.prepare = [](uint32_t, unsigned) { return true; };
  steps.work = [&](uint32_t i, unsigned slot) {
    CompressedStream& c = slots[slot];
    return qv::codec::compressFrame(v.framebits[i], uiFrameBytes, c.stream.data(), uiCapacity,
                                    c.streamBytes) == qv::codec::Compressed::kDone;
  };
  steps.finish = [&](uint32_t i, unsigned slot, bool compressed) {
    reportProgress(apdProgress, static_cast<double>(i) / n);
    if (interruptRequested(apiUserBreak)) {
      iResult = kWriteUserBreak;
    } else if (!compressed) {
      iResult = kWriteCompression;
    } else {
      const CompressedStream& c = slots[slot];
      uint8_t image[kImageHeaderBytes];
      putF64(image, v.framescales[i]);
      putU32(image + 8, static_cast<uint32_t>(c.streamBytes));
      putU32(image + 12, static_cast<uint32_t>(uiFrameBytes));
      if (!out.write(image, sizeof image) || !out.write(c.stream.data(), c.streamBytes))
        iResult = kWriteFailed;
    }
    return iResult == kWriteOk;
  };
  qv::codec::runInFrameOrder(static_cast<uint32_t>(n), threads, steps);
  return iResult;
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

  const int iResult = writeFrames(out, *apV, apiUserBreak, apdProgress);
  if (iResult != kWriteOk) return iResult;
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
