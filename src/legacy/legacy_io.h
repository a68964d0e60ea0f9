// Helpers shared by the legacy readers and writers: little-endian field
// coding, the record's frame arrays while they are being built, and the
// 8-byte frame header of IMM and BKG files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/files.h"
#include "quivox3/quivox3.h"
#include "runtime/caller_flags.h"

namespace qv::legacy {

// Result codes shared by the legacy readers.
enum ReaderCode {
  kReadOk = 0,
  kReadNoExtension = -1,
  kReadUnknownType = -2,
  kReadOpenFailed = -3,
  kReadBadContent = -4,
  kReadShort = -5,
  kReadRecordNotEmpty = -6,
  kReadOutOfMemory = -7,
  kReadDecompression = -8,
  kReadUserBreak = -9,
  kReadBmpArgument = -10,
};

// Result codes shared by the legacy writers.
enum WriterCode {
  kWriteOk = 0,
  kWriteTooManyFrames = -1,
  kWriteNotWritable = -2,
  kWriteNoRecord = -3,
  kWriteCreateFailed = -4,
  kWriteFailed = -5,
  kWriteOutOfMemory = -6,
  kWriteCompression = -7,
  kWriteNameTooLong = -8,
  kWriteUserBreak = -9,
  kWriteBmpArgument = -9,
  kWriteBmpNot8Bit = -10,
};

// The shared file and buffer helpers, under the names the legacy code uses.
using qv::platform::allocateBytes;
using qv::platform::FilePtr;
using qv::platform::fileSize;
using qv::platform::MallocBuffer;
using qv::platform::openForReading;
using qv::platform::OutputFile;
using qv::platform::readExact;
using qv::platform::seekTo64;

// Little-endian field coding.
using qv::platform::getF64;
using qv::platform::getI32;
using qv::platform::getU16;
using qv::platform::getU32;
using qv::platform::putF64;
using qv::platform::putU16;
using qv::platform::putU32;

// The caller's interrupt flag and progress value.
using qv::runtime::interruptRequested;
using qv::runtime::reportProgress;

// A loader accepts only records with no arrays attached, whatever the type.
inline bool isEmptyRecord(const VIDINFHDR& v) {
  return v.framebits == nullptr && v.framescales == nullptr;
}

// The frame pointer and scale arrays of a record under construction. They are
// freed with every frame still attached unless handed over to a record.
class FrameArrays {
 public:
  FrameArrays() = default;
  ~FrameArrays() { release(); }
  FrameArrays(const FrameArrays&) = delete;
  FrameArrays& operator=(const FrameArrays&) = delete;

  bool allocate(size_t uiCount) {
    m_ppBits = static_cast<unsigned char**>(std::calloc(uiCount, sizeof(unsigned char*)));
    m_pdScales = static_cast<double*>(std::calloc(uiCount, sizeof(double)));
    m_uiCount = uiCount;
    return m_ppBits != nullptr && m_pdScales != nullptr;
  }
  bool hasScales() const { return m_pdScales != nullptr; }
  unsigned char*& frame(size_t i) { return m_ppBits[i]; }
  double& scale(size_t i) { return m_pdScales[i]; }

  // Transfers ownership of both arrays to the record.
  void handOver(VIDINFHDR& v) {
    v.framebits = m_ppBits;
    v.framescales = m_pdScales;
    m_ppBits = nullptr;
    m_pdScales = nullptr;
    m_uiCount = 0;
  }

 private:
  void release() {
    if (m_ppBits != nullptr) {
      for (size_t i = 0; i < m_uiCount; ++i) std::free(m_ppBits[i]);
      std::free(m_ppBits);
    }
    std::free(m_pdScales);
    m_ppBits = nullptr;
    m_pdScales = nullptr;
  }

  unsigned char** m_ppBits = nullptr;
  double* m_pdScales = nullptr;
  size_t m_uiCount = 0;
};

// The 8-byte frame header of IMM and BKG files, decoded: only the low bytes of
// the two bit counts count, and 0 stands for 8.
struct FrameHeader {
  uint16_t w = 0;
  uint16_t h = 0;
  uint8_t bipp = 0;
  uint8_t ebitpp = 0;

  bool operator==(const FrameHeader& o) const {
    return w == o.w && h == o.h && bipp == o.bipp && ebitpp == o.ebitpp;
  }
  bool operator!=(const FrameHeader& o) const { return !(*this == o); }
  // w x h x bipp / 8 without wrapping; the formats limit it to 32 bits.
  uint64_t frameBytes() const { return static_cast<uint64_t>(w) * h * bipp / 8; }
};

constexpr size_t kFrameHeaderBytes = 8;

inline FrameHeader decodeFrameHeader(const uint8_t* p) {
  FrameHeader hdr;
  hdr.w = getU16(p);
  hdr.bipp = p[2] != 0 ? p[2] : 8;
  hdr.h = getU16(p + 4);
  hdr.ebitpp = p[6] != 0 ? p[6] : 8;
  return hdr;
}

// From a record that the IMM/BKG geometry check has accepted. An 8-bit record
// writes both bit counts as 0, so it always reads back with ebpp 8.
inline void encodeFrameHeader(const VIDINFHDR& v, uint8_t* p) {
  const bool b8Bit = v.bpp == 8;
  const int iEffective = v.ebpp != 0 ? v.ebpp : v.bpp;
  putU16(p, static_cast<uint16_t>(v.width));
  putU16(p + 2, static_cast<uint16_t>(b8Bit ? 0 : (v.bpp & 0xFF)));
  putU16(p + 4, static_cast<uint16_t>(v.height));
  putU16(p + 6, static_cast<uint16_t>(b8Bit ? 0 : (iEffective & 0xFF)));
}

// Frame size of a record, wide; negative geometry gives 0.
inline uint64_t recordFrameBytes(const VIDINFHDR& v) {
  if (v.width < 0 || v.height < 0 || v.bpp < 0) return 0;
  return static_cast<uint64_t>(v.width) * static_cast<uint64_t>(v.height) *
         static_cast<uint64_t>(v.bpp) / 8;
}

// A record the writers can read from: frames and scales present.
inline bool hasFrames(const VIDINFHDR& v) {
  if (v.numframes <= 0 || v.framebits == nullptr || v.framescales == nullptr) return false;
  for (int32_t i = 0; i < v.numframes; ++i)
    if (v.framebits[i] == nullptr) return false;
  return true;
}

// Types 1 to 4 and 6 can be written; 5 (significance map) and -1 not.
inline bool isWritableType(int32_t iType) { return iType >= 1 && iType <= 6 && iType != 5; }

// The IMM and BKG headers carry 16-bit sizes and an 8-bit depth: a record
// outside that range would be written with a wrong header.
inline bool fitsFrameHeader(const VIDINFHDR& v) {
  return v.width >= 1 && v.width <= 0xFFFF && v.height >= 1 && v.height <= 0xFFFF && v.bpp >= 1 &&
         v.bpp <= 0xFF && recordFrameBytes(v) >= 1 && recordFrameBytes(v) <= UINT32_MAX;
}

}  // namespace qv::legacy
