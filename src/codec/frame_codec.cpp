#include "codec/frame_codec.h"

#include <zlib.h>
#ifndef QV_DEFLATE_ZLIB
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace qv::codec {

#ifdef QV_DEFLATE_ZLIB

namespace {

// zlib's one-shot calls take lengths as uLong, which is 32 bits on some hosts.
bool fitsULong(uint64_t n) { return n <= std::numeric_limits<uLong>::max(); }

}  // namespace

const char* engineName() { return "zlib"; }

void releaseThreadEngines() {}  // zlib keeps no state between calls

uint64_t compressBound(uint64_t frameBytes) {
  if (!fitsULong(frameBytes)) return frameBytes + frameBytes / 1000 + 64;
  return std::max<uint64_t>(::compressBound(static_cast<uLong>(frameBytes)), frameBytes);
}

Compressed compressFrame(const uint8_t* frame, uint64_t frameBytes, uint8_t* out, uint64_t capacity,
                         uint64_t& streamBytes) {
  if (frame == nullptr || out == nullptr || !fitsULong(frameBytes)) return Compressed::kFailed;
  uLongf length =
      static_cast<uLongf>(std::min<uint64_t>(capacity, std::numeric_limits<uLong>::max()));
  const int result = ::compress(out, &length, frame, static_cast<uLong>(frameBytes));
  if (result == Z_BUF_ERROR && capacity < compressBound(frameBytes)) return Compressed::kDidNotFit;
  if (result != Z_OK) return Compressed::kFailed;
  streamBytes = length;
  return Compressed::kDone;
}

bool inflateExactly(const uint8_t* stream, uint64_t streamBytes, uint8_t* frame,
                    uint64_t frameBytes) {
  if (stream == nullptr || frame == nullptr || !fitsULong(streamBytes) || !fitsULong(frameBytes))
    return false;
  if (!mayInflateTo(streamBytes, frameBytes)) return false;
  uLongf produced = static_cast<uLongf>(frameBytes);
  return ::uncompress(frame, &produced, stream, static_cast<uLong>(streamBytes)) == Z_OK &&
         produced == frameBytes;
}

#else

namespace {

constexpr int kLevel = 6;  // zlib's default level, and its header

// One engine state per thread, kept between frames: allocating one costs
// more than compressing a small frame. Plain pointers, released by
// releaseThreadEngines: a thread_local destructor may run after the
// thread's storage is gone on some platforms' runtimes (Windows with
// emulated TLS), so none is used.
struct ThreadEngines {
  libdeflate_compressor* compressor;
  libdeflate_decompressor* decompressor;
};
thread_local ThreadEngines t_engines{nullptr, nullptr};

libdeflate_compressor* threadCompressor() {
  if (t_engines.compressor == nullptr) t_engines.compressor = libdeflate_alloc_compressor(kLevel);
  return t_engines.compressor;
}

libdeflate_decompressor* threadDecompressor() {
  if (t_engines.decompressor == nullptr) t_engines.decompressor = libdeflate_alloc_decompressor();
  return t_engines.decompressor;
}

bool fitsSize(uint64_t n) { return n <= std::numeric_limits<size_t>::max(); }

}  // namespace

const char* engineName() { return "libdeflate"; }

void releaseThreadEngines() {
  libdeflate_free_compressor(t_engines.compressor);
  libdeflate_free_decompressor(t_engines.decompressor);
  t_engines = ThreadEngines{nullptr, nullptr};
}

uint64_t compressBound(uint64_t frameBytes) {
  // The bound does not depend on the compressor's state.
  const uint64_t bound = fitsSize(frameBytes) ? libdeflate_zlib_compress_bound(
                                                    nullptr, static_cast<size_t>(frameBytes))
                                              : frameBytes + frameBytes / 1000 + 64;
  return std::max(bound, frameBytes);
}

Compressed compressFrame(const uint8_t* frame, uint64_t frameBytes, uint8_t* out, uint64_t capacity,
                         uint64_t& streamBytes) {
  if (frame == nullptr || out == nullptr || !fitsSize(frameBytes)) return Compressed::kFailed;
  libdeflate_compressor* compressor = threadCompressor();
  if (compressor == nullptr) return Compressed::kFailed;
  const size_t length =
      libdeflate_zlib_compress(compressor, frame, static_cast<size_t>(frameBytes), out,
                               static_cast<size_t>(std::min<uint64_t>(capacity, SIZE_MAX)));
  if (length == 0)
    return capacity < compressBound(frameBytes) ? Compressed::kDidNotFit : Compressed::kFailed;
  streamBytes = length;
  return Compressed::kDone;
}

bool inflateExactly(const uint8_t* stream, uint64_t streamBytes, uint8_t* frame,
                    uint64_t frameBytes) {
  if (stream == nullptr || frame == nullptr || !fitsSize(streamBytes) || !fitsSize(frameBytes))
    return false;
  if (!mayInflateTo(streamBytes, frameBytes)) return false;
  libdeflate_decompressor* decompressor = threadDecompressor();
  if (decompressor == nullptr) return false;
  // Without an out-length the call succeeds only for exactly frameBytes bytes.
  return libdeflate_zlib_decompress(decompressor, stream, static_cast<size_t>(streamBytes), frame,
                                    static_cast<size_t>(frameBytes), nullptr) == LIBDEFLATE_SUCCESS;
}

#endif

StreamCheck checkStreamInFile(FILE* file, uint64_t streamBytes, uint64_t frameBytes) {
  constexpr size_t kChunk = 64 * 1024;
  std::unique_ptr<uint8_t[]> in(new (std::nothrow) uint8_t[kChunk]);
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kChunk]);
  if (!in || !out) return StreamCheck::kNoMemory;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit(&zs) != Z_OK) return StreamCheck::kNoMemory;
  uint64_t left = streamBytes, expanded = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    if (zs.avail_in == 0) {
      if (left == 0) break;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
      if (std::fread(in.get(), 1, n, file) != n) {
        inflateEnd(&zs);
        return StreamCheck::kReadError;
      }
      left -= n;
      zs.next_in = in.get();
      zs.avail_in = static_cast<uInt>(n);
    }
    zs.next_out = out.get();
    zs.avail_out = kChunk;
    result = inflate(&zs, Z_NO_FLUSH);
    expanded += kChunk - zs.avail_out;
    if (expanded > frameBytes) result = Z_BUF_ERROR;
  }
  inflateEnd(&zs);
  return result == Z_STREAM_END && expanded == frameBytes ? StreamCheck::kExact
                                                          : StreamCheck::kMismatch;
}

}  // namespace qv::codec
