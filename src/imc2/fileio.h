// Byte-mode file access shared by the IMC2/BKC2 reader and the probes:
// 64-bit positions and sizes, exact reads of plain values.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>

struct FileCloser {
  void operator()(FILE* apFile) const {
    if (apFile != nullptr) fclose(apFile);
  }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

inline bool seekTo64(FILE* apFile, int64_t aiOffset, int aiWhence) {
#if defined(_WIN32)
  return _fseeki64(apFile, aiOffset, aiWhence) == 0;
#else
  return fseeko(apFile, static_cast<off_t>(aiOffset), aiWhence) == 0;
#endif
}

inline int64_t tell64(FILE* apFile) {
#if defined(_WIN32)
  return _ftelli64(apFile);
#else
  return static_cast<int64_t>(ftello(apFile));
#endif
}

// Size of the file by seeking to its end; the position is restored.
inline bool fileSize64(FILE* apFile, int64_t& aiSize) {
  const int64_t iPosition = tell64(apFile);
  if (iPosition < 0 || !seekTo64(apFile, 0, SEEK_END)) return false;
  aiSize = tell64(apFile);
  return aiSize >= 0 && seekTo64(apFile, iPosition, SEEK_SET);
}

// Last-modification time in seconds since the epoch; false when unknown.
inline bool fileModificationTime(const char* asPath, int64_t& aiSeconds) {
  struct stat st;
  if (stat(asPath, &st) != 0) return false;
  aiSeconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

template <typename T>
bool readValue(FILE* apFile, T& aValue) {
  return fread(&aValue, sizeof aValue, 1, apFile) == 1;
}
