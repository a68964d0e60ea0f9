// The one codec of compressed frames in sequence files: every frame is one
// zlib-format stream. Writers compress a frame into a buffer of the bound's
// size; readers inflate a stream into exactly the frame's length, refusing
// streams that cannot expand that far before they allocate for them.
//
// The engine is libdeflate (zlib-format streams at level 6, with the default
// level's header, read by every zlib reader), or zlib itself when the build
// asks for it (QV_DEFLATE=zlib: the bytes of zlib's compress). Either engine
// reads the streams of the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace qv::codec {

// Deflate's largest expansion: one stream byte yields at most 1032 bytes.
constexpr uint64_t kMaxExpansion = 1032;

// False when a stream of streamBytes cannot inflate to frameBytes: a header
// claiming such a frame is damaged, whatever its stream holds.
constexpr bool mayInflateTo(uint64_t streamBytes, uint64_t frameBytes) {
  return frameBytes / kMaxExpansion <= streamBytes;
}

// Capacity a compressed frame of frameBytes may need (never below frameBytes).
uint64_t compressBound(uint64_t frameBytes);

enum class Compressed { kDone, kDidNotFit, kFailed };
// Compresses frameBytes bytes into out (capacity bytes) at the default
// level; the stream's length goes to streamBytes. A capacity below
// compressBound(frameBytes) asks for a stream that fits it: kDidNotFit when
// it cannot (the engine may stop early, so an incompressible frame costs
// less than a whole attempt). kFailed when the engine failed.
Compressed compressFrame(const uint8_t* frame, uint64_t frameBytes, uint8_t* out, uint64_t capacity,
                         uint64_t& streamBytes);

// Name of the engine in this build: "libdeflate" or "zlib".
const char* engineName();

// Frees this thread's engine states (the next frame makes new ones). The
// frame order's threads call it before they end, and its callers' threads
// when a run is over.
void releaseThreadEngines();

// True when stream (streamBytes) is one zlib stream that inflates to exactly
// frameBytes bytes, written to frame. A shorter or longer result is a failure:
// it would leave part of the frame undefined or describe another frame.
bool inflateExactly(const uint8_t* stream, uint64_t streamBytes, uint8_t* frame,
                    uint64_t frameBytes);

enum class StreamCheck { kExact, kMismatch, kReadError, kNoMemory };
// Reads streamBytes from the file's current position and tells whether they
// form one zlib stream of exactly frameBytes bytes, holding little memory
// whatever the frame's size.
StreamCheck checkStreamInFile(FILE* file, uint64_t streamBytes, uint64_t frameBytes);

}  // namespace qv::codec
