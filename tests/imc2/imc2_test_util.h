// Builders for bunches and for IMC2/BKC2 files composed byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"
#include "support/bunch.h"

// Little-endian byte composition of crafted files.
class Bytes {
 public:
  Bytes& u8(uint8_t v) {
    m_data.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& u32(uint32_t v) { return raw(&v, 4); }
  Bytes& u64(uint64_t v) { return raw(&v, 8); }
  Bytes& raw(const void* p, size_t n) {
    m_data.append(static_cast<const char*>(p), n);
    return *this;
  }
  Bytes& raw(const std::string& s) {
    m_data += s;
    return *this;
  }
  // One 252-byte metadata record with the text key=value.
  Bytes& record(const std::string& keyValue, uint8_t r = 13, uint8_t n = 10);
  Bytes& crlf() { return u8(13).u8(10); }
  const std::string& str() const { return m_data; }
  size_t size() const { return m_data.size(); }

 private:
  std::string m_data;
};

// The 20 mandatory global records of a w x h GRAY image with bpp bytes.
std::vector<std::string> globalRecords(uint32_t numImages, int32_t width, int32_t height,
                                       int32_t bytesPerPixel);

// zlib stream of bytes at the default level.
std::string zlibCompress(const std::string& bytes);

// Parsed record texts of a written file.
struct ParsedImageBlock {
  uint64_t lenUncompressed = 0;
  uint64_t lenCompressed = 0;
  std::vector<std::string> records;
  size_t blockOffset = 0;
  std::string data;
};
struct ParsedFile {
  uint32_t magic1 = 0, magic2 = 0;
  std::vector<std::string> globals;
  std::vector<ParsedImageBlock> images;
  bool wellFormed = false;
};
// Walks a file of the writer's layout; wellFormed when it ends exactly.
ParsedFile parseIMC2(const std::string& content, uint32_t numImages);
