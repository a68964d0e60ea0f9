// Shared checks and pixel-type dispatch for the filters on VIDINFHDR records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quivox3/quivox3.h"

#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "frames are read as native integers");
#endif

namespace qv::processing {

constexpr int kEmptyType = -1;

inline bool isSupportedDepth(int aiBpp) { return aiBpp == 8 || aiBpp == 16 || aiBpp == 32; }

// width x height, or 0 when the geometry is not a usable frame or its byte
// size would not fit the address space.
inline size_t pixelsPerFrame(const VIDINFHDR& aV) {
  if (aV.width <= 0 || aV.height <= 0) return 0;
  const uint64_t iPixels = static_cast<uint64_t>(aV.width) * static_cast<uint64_t>(aV.height);
  if (iPixels > SIZE_MAX / 4) return 0;
  return static_cast<size_t>(iPixels);
}

// A filled record whose arrays and frames are all there: the filters touch
// every frame and must not meet a hole half way.
inline bool hasAllFrames(const VIDINFHDR& aV) {
  if (aV.type == kEmptyType || aV.numframes < 0) return false;
  if (aV.numframes == 0) return true;
  if (aV.framebits == nullptr) return false;
  for (int32_t i = 0; i < aV.numframes; ++i) {
    if (aV.framebits[i] == nullptr) return false;
  }
  return true;
}

// Frames are little-endian byte arrays; on the (little-endian) targets the
// pixels are read in place as unsigned integers of the stored width.
template <typename Pixel>
inline Pixel* framePixels(const VIDINFHDR& aV, int32_t aiFrame) {
  return reinterpret_cast<Pixel*>(aV.framebits[aiFrame]);
}

// Hot loops run over blocks of a fixed length, a form that compilers
// vectorise even at moderate optimisation levels; the tail runs plainly.
constexpr size_t kVectorBlock = 64;

template <typename Pixel>
inline Pixel largestInRun(const Pixel* apRun, size_t aiCount) {
  Pixel largest = 0;
  size_t i = 0;
  for (; i + kVectorBlock <= aiCount; i += kVectorBlock) {
    Pixel blockLargest = 0;
    for (size_t k = 0; k < kVectorBlock; ++k) {
      blockLargest = apRun[i + k] > blockLargest ? apRun[i + k] : blockLargest;
    }
    largest = blockLargest > largest ? blockLargest : largest;
  }
  for (; i < aiCount; ++i) largest = apRun[i] > largest ? apRun[i] : largest;
  return largest;
}

// Calls aFn with a value of the record's pixel type (a tag; its value is 0).
// The caller has checked the depth with isSupportedDepth.
template <typename Fn>
inline auto dispatchDepth(int aiBpp, Fn&& aFn) {
  switch (aiBpp) {
    case 8:
      return aFn(uint8_t{});
    case 16:
      return aFn(uint16_t{});
    default:
      return aFn(uint32_t{});
  }
}

}  // namespace qv::processing
