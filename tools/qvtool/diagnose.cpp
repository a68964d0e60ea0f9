#include "diagnose.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "report.h"

namespace qvtool {

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Sequential little-endian reads over an open file with its size known.
class Reader {
 public:
  Reader(FILE* file, uint64_t size) : m_file(file), m_size(size) {}
  uint64_t size() const { return m_size; }
  uint64_t position() const { return m_position; }
  uint64_t left() const { return m_size - std::min(m_size, m_position); }
  bool read(void* data, size_t bytes) {
    if (left() < bytes || std::fread(data, 1, bytes, m_file) != bytes) return false;
    m_position += bytes;
    return true;
  }
  template <typename T>
  bool value(T& out) {
    unsigned char bytes[sizeof(T)];
    if (!read(bytes, sizeof bytes)) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    std::memcpy(&out, &v, sizeof out);  // little-endian host
    return true;
  }
  bool skip(uint64_t bytes) {
    if (left() < bytes) return false;
    if (fseeko(m_file, static_cast<off_t>(m_position + bytes), SEEK_SET) != 0) return false;
    m_position += bytes;
    return true;
  }
  bool rewind() {
    m_position = 0;
    return fseeko(m_file, 0, SEEK_SET) == 0;
  }

 private:
  FILE* m_file;
  uint64_t m_size;
  uint64_t m_position = 0;
};

std::string lowerExtension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

std::string ordinal(uint64_t i, uint64_t n) {
  return "image " + std::to_string(i) + " of " + std::to_string(n);
}

// ---- IMC2/BKC2 -------------------------------------------------------------------

constexpr uint64_t kRecordSize = 252;

uint64_t imageCountOf(const char* text) {
  static const char kKey[] = "number_of_images=";
  const size_t keyLength = sizeof kKey - 1;
  for (size_t i = 0; i < keyLength; ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != kKey[i]) return 0;
  return std::strtoull(text + keyLength, nullptr, 10);
}

std::string walkImc2(Reader& in) {
  uint32_t magic1 = 0, magic2 = 0, globals = 0;
  unsigned char crlf[2];
  if (!in.value(magic1) || !in.value(magic2) || !in.value(globals) || !in.read(crlf, 2))
    return "file is truncated (in its header)";
  if (crlf[0] != 13 || crlf[1] != 10 || globals < 20 || globals > 100)
    return "file is damaged (its header is not that of an IMC2/BKC2 file)";
  uint64_t images = 0;
  char record[kRecordSize + 1] = {};
  for (uint32_t g = 0; g < globals; ++g) {
    if (!in.read(record, kRecordSize)) return "file is truncated (in the global metadata)";
    record[249] = '\0';
    if (uint64_t count = imageCountOf(record)) images = count;
  }
  if (images == 0) return "file is damaged (no image count in the global metadata)";
  for (uint64_t i = 1; i <= images; ++i) {
    uint64_t uncompressed = 0, compressed = 0;
    uint32_t records = 0;
    if (in.left() == 0) return "file is truncated (" + ordinal(i, images) + " missing)";
    if (!in.value(uncompressed) || !in.value(compressed) || !in.value(records) || !in.read(crlf, 2))
      return "file is truncated (" + ordinal(i, images) + " incomplete)";
    if (crlf[0] != 13 || crlf[1] != 10 || records < 2 || records > 10 || compressed == 0 ||
        compressed > uncompressed)
      return "file is damaged (" + ordinal(i, images) + " has a damaged header)";
    if (!in.skip(kRecordSize * records) || !in.skip(compressed))
      return "file is truncated (" + ordinal(i, images) + " incomplete)";
  }
  return "";
}

// ---- legacy formats ----------------------------------------------------------------

bool plausibleDepth(unsigned bits, unsigned effective) {
  return (bits == 0 || bits == 8 || bits == 16) && effective <= 16;
}

uint64_t pixelBytes(uint64_t w, uint64_t h, unsigned bits) {
  return w * h * (bits == 0 ? 8 : bits) / 8;
}

// IMC/BKC: a 16-byte header whose first image record announces exactly the
// frame size the header implies.
bool looksLikeImc(Reader& in, uint32_t& images, uint64_t& frame) {
  int32_t w = 0, h = 0;
  uint16_t bits = 0, effective = 0;
  double scale = 0;
  uint32_t compressed = 0, uncompressed = 0;
  if (!in.rewind() || !in.value(w) || !in.value(h) || !in.value(bits) || !in.value(effective) ||
      !in.value(images))
    return false;
  if (w <= 0 || h <= 0 || images == 0 || !plausibleDepth(bits, effective)) return false;
  frame = pixelBytes(static_cast<uint64_t>(w), static_cast<uint64_t>(h), bits);
  if (!in.value(scale) || !in.value(compressed) || !in.value(uncompressed)) return in.left() == 0;
  return std::isfinite(scale) && scale >= 0 && uncompressed == frame;
}

std::string walkImc(Reader& in, uint32_t images) {
  if (!in.rewind() || !in.skip(16)) return "truncated in its header";
  for (uint32_t i = 1; i <= images; ++i) {
    double scale = 0;
    uint32_t compressed = 0, uncompressed = 0;
    if (!in.value(scale) || !in.value(compressed) || !in.value(uncompressed) ||
        !in.skip(compressed))
      return ordinal(i, images) + " incomplete";
  }
  return "";
}

// IMM and BKG share an 8-byte frame header of 16-bit words.
bool looksLikeImmOrBkg(Reader& in, uint64_t& frame) {
  uint16_t w = 0, bits = 0, h = 0, effective = 0;
  if (!in.rewind() || !in.value(w) || !in.value(bits) || !in.value(h) || !in.value(effective))
    return false;
  if (w == 0 || h == 0 || !plausibleDepth(bits, effective)) return false;
  frame = pixelBytes(w, h, bits);
  return true;
}

std::string explainImmOrBkg(const std::string& path, uint64_t size, uint64_t frame) {
  const uint64_t record = frame + 16;
  const std::string extension = lowerExtension(path);
  const bool sayBkg = extension == ".bkg" || (extension != ".imm" && size < record);
  if (sayBkg) {
    if (size < frame + 8) return "looks like a truncated BKG file";
    return "looks like a BKG file with " + std::to_string(size - frame - 8) + " bytes too many";
  }
  if (size % record == 0) return "looks like an IMM file whose frames do not match their header";
  return "looks like a truncated IMM file: " + std::to_string(size / record) +
         " whole frame(s), then " + std::to_string(size % record) + " bytes of the next";
}

// ---- other files ---------------------------------------------------------------------

const char* pictureKind(const unsigned char* head, size_t length) {
  struct Signature {
    const char* bytes;
    size_t length;
    const char* kind;
  };
  static const Signature kSignatures[] = {
      {"BM", 2, "a BMP picture"},
      {"\x89PNG\r\n\x1a\n", 8, "a PNG picture"},
      {"II*\0", 4, "a TIFF picture"},
      {"MM\0*", 4, "a TIFF picture"},
      {"\xff\xd8\xff", 3, "a JPEG picture"},
      {"\x89HDF\r\n\x1a\n", 8, "an HDF5 file"},
      {"GIF8", 4, "a GIF picture"},
  };
  for (const Signature& s : kSignatures)
    if (length >= s.length && std::memcmp(head, s.bytes, s.length) == 0) return s.kind;
  return nullptr;
}

}  // namespace

std::string explainUnreadable(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return path + ": " + systemReason(error);
  if (std::filesystem::is_directory(status)) return path + ": is a directory";
  if (!std::filesystem::is_regular_file(status)) return path + ": is not a regular file";
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return path + ": " + systemReason(error);
  if (size == 0) return path + ": file is empty";
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return path + ": " + systemReason(errno);
  Reader in(file.get(), static_cast<uint64_t>(size));

  unsigned char head[16] = {};
  const size_t headLength = std::fread(head, 1, sizeof head, file.get());
  in.rewind();
  const std::string notOurs = path + ": not a sequence file this tool reads";
  if (headLength >= 8 && std::memcmp(head, "\0\0\0\0\1\0\0\0", 8) == 0) {
    const std::string broken = walkImc2(in);
    return broken.empty() ? "" : path + ": " + broken;
  }
  if (const char* kind = pictureKind(head, headLength)) return notOurs + " (it is " + kind + ")";
  uint32_t images = 0;
  uint64_t frame = 0;
  if (looksLikeImc(in, images, frame)) {
    const std::string broken = walkImc(in, images);
    return broken.empty() ? "" : notOurs + " (looks like a truncated IMC/BKC file: " + broken + ")";
  }
  if (looksLikeImmOrBkg(in, frame))
    return notOurs + " (" + explainImmOrBkg(path, in.size(), frame) + ")";
  if (headLength < 8) return path + ": file is too short for any sequence format";
  return notOurs;
}

}  // namespace qvtool
