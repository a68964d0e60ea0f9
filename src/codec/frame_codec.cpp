#include "codec/frame_codec.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace qv::codec {

namespace {

// zlib's one-shot calls take lengths as uLong, which is 32 bits on some hosts.
bool fitsULong(uint64_t n) { return n <= std::numeric_limits<uLong>::max(); }

}  // namespace

uint64_t compressBound(uint64_t frameBytes) {
  if (!fitsULong(frameBytes)) return frameBytes + frameBytes / 1000 + 64;
  return std::max<uint64_t>(::compressBound(static_cast<uLong>(frameBytes)), frameBytes);
}

bool compressFrame(const uint8_t* frame, uint64_t frameBytes, uint8_t* out, uint64_t capacity,
                   uint64_t& streamBytes) {
  if (frame == nullptr || out == nullptr || !fitsULong(frameBytes)) return false;
  uLongf length =
      static_cast<uLongf>(std::min<uint64_t>(capacity, std::numeric_limits<uLong>::max()));
  if (::compress(out, &length, frame, static_cast<uLong>(frameBytes)) != Z_OK) return false;
  streamBytes = length;
  return true;
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
