// Records and byte builders shared by the legacy file tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

// A record that frees itself.
struct Record {
  VIDINFHDR v;
  Record() { initialize_vidinfhdr(&v); }
  ~Record() { free_vidinfhdr(&v); }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  bool empty() const { return v.type == -1 && v.framebits == nullptr && v.framescales == nullptr; }
  size_t frameBytes() const { return size_t(v.width) * v.height * v.bpp / 8; }
  std::string frame(int i) const {
    return std::string(reinterpret_cast<const char*>(v.framebits[i]), frameBytes());
  }
};

// Fills an empty record by hand (malloc'd blocks), pixels a per-frame pattern.
inline void fillRecord(VIDINFHDR& v, int w, int h, int bpp, int ebpp, int n, int type) {
  v.width = w;
  v.height = h;
  v.bpp = bpp;
  v.ebpp = ebpp;
  v.numframes = n;
  v.type = type;
  v.framebits = static_cast<unsigned char**>(std::calloc(n, sizeof(unsigned char*)));
  v.framescales = static_cast<double*>(std::calloc(n, sizeof(double)));
  const size_t s = size_t(w) * h * bpp / 8;
  for (int i = 0; i < n; ++i) {
    v.framebits[i] = static_cast<unsigned char*>(std::malloc(s ? s : 1));
    for (size_t k = 0; k < s; ++k) v.framebits[i][k] = static_cast<unsigned char>(k * 7 + i * 31);
    v.framescales[i] = 0.25 + i;
  }
  v.scale = v.framescales[0];
}

inline std::string le16(uint16_t x) { return std::string{char(x & 0xFF), char(x >> 8)}; }
inline std::string le32(uint32_t x) {
  return le16(static_cast<uint16_t>(x)) + le16(static_cast<uint16_t>(x >> 16));
}
inline std::string f64(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return le32(static_cast<uint32_t>(b)) + le32(static_cast<uint32_t>(b >> 32));
}
// IMM/BKG frame header words as stored.
inline std::string frameHeader(uint16_t w, uint16_t bipp, uint16_t h, uint16_t ebitpp) {
  return le16(w) + le16(bipp) + le16(h) + le16(ebitpp);
}
inline std::string bytes(size_t n, char c) { return std::string(n, c); }

#include <gtest/gtest.h>
#include <signal.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <functional>

#include "support/tempdir.h"

// Runs a writer in a fresh process whose files may not grow beyond a limit,
// so that writing fails part-way. The writer gets a path in its own temporary
// directory; the process exits 0 when it returned the expected code and left
// no file behind.
#if !defined(_WIN32)
inline int runWriterWithFileLimit(const std::function<int(const std::string&)>& writer,
                                  int iExpected) {
  TempDir dir;
  const std::string sPath = dir.file("out.dat");
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{1000, 1000};
  setrlimit(RLIMIT_FSIZE, &limit);
  const int iCode = writer(sPath);
  return (iCode == iExpected ? 0 : 1) + (fileExists(sPath) ? 2 : 0);
}

inline void expectWriteFailureLeavesNoFile(const std::function<int(const std::string&)>& writer,
                                           int iExpected) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(runWriterWithFileLimit(writer, iExpected)), ::testing::ExitedWithCode(0),
              "");
}
#else
// Windows has no file size limit for a child: Linux runs these.
inline void expectWriteFailureLeavesNoFile(const std::function<int(const std::string&)>&, int) {
  GTEST_SKIP() << "needs a file size limit (POSIX)";
}
#endif
