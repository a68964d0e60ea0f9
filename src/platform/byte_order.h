// The byte order of every file the library reads and writes: little-endian.
// Fields are coded byte by byte with get/put; whole records and plain values
// may be read and written as they lie in memory, because the host order is
// checked to be little-endian when the library is built.
#pragma once

#include <cstdint>
#include <cstring>

namespace qv::platform {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "files are little-endian and records are read as they lie in memory");

inline uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t getI32(const uint8_t* p) { return static_cast<int32_t>(getU32(p)); }
inline uint64_t getU64(const uint8_t* p) {
  return static_cast<uint64_t>(getU32(p)) | (static_cast<uint64_t>(getU32(p + 4)) << 32);
}
inline double getF64(const uint8_t* p) {
  const uint64_t uiBits = getU64(p);
  double d;
  std::memcpy(&d, &uiBits, sizeof d);
  return d;
}

inline void putU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putF64(uint8_t* p, double d) {
  uint64_t uiBits;
  std::memcpy(&uiBits, &d, sizeof d);
  putU64(p, uiBits);
}

}  // namespace qv::platform
