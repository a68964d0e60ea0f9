// Byte-mode file access and malloc-backed buffers shared by every reader and
// writer: owned streams, 64-bit sizes and positions, a written file that
// disappears unless it was completed, and buffers that callers may release
// into records freed with free().
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/byte_order.h"

namespace qv::platform {

struct FileCloser {
  void operator()(FILE* apFile) const {
    if (apFile != nullptr) std::fclose(apFile);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Byte mode: no newline translation on any platform. A null or empty name
// opens nothing.
inline FilePtr openForReading(const char* asPath) {
  return FilePtr(asPath != nullptr && asPath[0] != '\0' ? std::fopen(asPath, "rb") : nullptr);
}

inline bool readExact(FILE* apFile, void* apBuffer, size_t aiBytes) {
  return std::fread(apBuffer, 1, aiBytes, apFile) == aiBytes;
}

// A plain value as it lies in memory: little-endian (see byte_order.h).
template <typename T>
bool readValue(FILE* apFile, T& aValue) {
  return readExact(apFile, &aValue, sizeof aValue);
}

// Positions beyond 2 GiB on every platform.
bool seekTo64(FILE* apFile, int64_t aiOffset, int aiWhence);
int64_t tell64(FILE* apFile);

// Size of the open file by seeking to its end; the position is put back.
// The size is written only on success.
bool fileSize(FILE* apFile, int64_t& aiSize);
bool fileSize(FILE* apFile, uint64_t& auiSize);

// Writes the bytes to the stream and flushes them as one piece: another
// process appending to the same file through this call never lands in the
// middle of them. False when not all bytes reached the file.
bool appendWhole(FILE* apStream, const void* apData, size_t aiBytes);

// Last-modification time in seconds since the epoch; false when unknown.
bool fileModificationTime(const char* asPath, int64_t& aiSeconds);

struct MallocFree {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, MallocFree>;
using MallocBuffer = MallocPtr<uint8_t>;

// Null when the size does not fit the address space or memory is short.
inline MallocBuffer allocateBytes(uint64_t auiBytes) {
  if (auiBytes > SIZE_MAX) return MallocBuffer();
  return MallocBuffer(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(auiBytes))));
}

// A file being written: unless commit() succeeds, it is closed and deleted
// (by discard() or the destructor), so no error path or user break can leave
// a partial file.
class OutputFile {
 public:
  enum class Mode {
    kReplace,    // an existing file is truncated
    kExclusive,  // an existing file is never opened; errno is EEXIST then
  };

  OutputFile() = default;
  explicit OutputFile(const char* asPath, Mode aMode = Mode::kReplace, size_t aiBufferBytes = 0) {
    create(asPath, aMode, aiBufferBytes);
  }
  ~OutputFile() { discard(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // A buffer size of 0 keeps the stream's default buffering. On failure
  // errno tells why the file could not be created.
  bool create(const char* asPath, Mode aMode = Mode::kReplace, size_t aiBufferBytes = 0);

  bool isOpen() const { return m_pFile != nullptr; }
  FILE* get() const { return m_pFile; }
  bool write(const void* apData, size_t aiBytes) {
    return std::fwrite(apData, 1, aiBytes, m_pFile) == aiBytes;
  }

  // Closing flushes the last buffered bytes: a failure there is a write
  // error, and the incomplete file is deleted as well.
  bool commit();
  void discard();

 private:
  std::unique_ptr<char[]> m_pBuffer;  // declared first: outlives the stream
  FILE* m_pFile = nullptr;
  std::string m_sPath;
};

}  // namespace qv::platform
