// Retyping of legacy records; collapsing a sequence into one background
// frame by averaging or by a maximum projection.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "processing/legacy_frames.h"
#include "processing/projection.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

constexpr int kTypeImm = 1;
constexpr int kTypeImc = 2;
constexpr int kTypeBkg = 3;
constexpr int kTypeBkc = 4;

constexpr int kModeNone = 0;
constexpr int kModeAverage = 1;
constexpr int kModeMaximum = 2;

constexpr int kProjectionBadDepth = -5;
constexpr int kProjectionOutOfMemory = -6;

// Pixels summed per pass: the sums of one block stay in cache while every
// frame's block streams through once, in frame order.
constexpr size_t kAverageBlockPixels = 2048;

// Adds one frame's run of pixels to the sums; the fixed length of a full
// block lets the compiler vectorise the loop.
template <typename Pixel, size_t kCount>
void addBlock(uint64_t* __restrict apSums, const Pixel* __restrict apIn) {
  for (size_t i = 0; i < kCount; ++i) apSums[i] += apIn[i];
}

template <typename Pixel>
void addRun(uint64_t* __restrict apSums, const Pixel* __restrict apIn, size_t aiCount) {
  for (size_t i = 0; i < aiCount; ++i) apSums[i] += apIn[i];
}

template <typename Pixel>
void averageInto(const VIDINFHDR& aV, size_t aiPixels, Pixel* apOut) {
  // Integer sums are exact and, below 2^53, equal to summing in double.
  uint64_t aSums[kAverageBlockPixels];
  const double dFrames = static_cast<double>(aV.numframes);
  for (size_t iStart = 0; iStart < aiPixels; iStart += kAverageBlockPixels) {
    const size_t iCount = std::min(kAverageBlockPixels, aiPixels - iStart);
    std::fill(aSums, aSums + iCount, uint64_t{0});
    for (int32_t f = 0; f < aV.numframes; ++f) {
      const Pixel* pIn = qv::processing::framePixels<Pixel>(aV, f) + iStart;
      if (iCount == kAverageBlockPixels) {
        addBlock<Pixel, kAverageBlockPixels>(aSums, pIn);
      } else {
        addRun(aSums, pIn, iCount);
      }
    }
    for (size_t i = 0; i < iCount; ++i) {
      apOut[iStart + i] = static_cast<Pixel>(static_cast<double>(aSums[i]) / dFrames);
    }
  }
}

template <typename Pixel>
void keepLarger(Pixel* __restrict apOut, const Pixel* __restrict apIn, size_t aiPixels) {
  size_t i = 0;
  for (; i + qv::processing::kVectorBlock <= aiPixels; i += qv::processing::kVectorBlock) {
    for (size_t k = 0; k < qv::processing::kVectorBlock; ++k) {
      apOut[i + k] = apIn[i + k] > apOut[i + k] ? apIn[i + k] : apOut[i + k];
    }
  }
  for (; i < aiPixels; ++i) apOut[i] = apIn[i] > apOut[i] ? apIn[i] : apOut[i];
}

template <typename Pixel>
void maximumInto(const VIDINFHDR& aV, size_t aiPixels, Pixel* apOut) {
  std::memcpy(apOut, aV.framebits[0], aiPixels * sizeof(Pixel));
  for (int32_t f = 1; f < aV.numframes; ++f) {
    keepLarger(apOut, qv::processing::framePixels<Pixel>(aV, f), aiPixels);
  }
}

void releaseFrames(VIDINFHDR& aV) {
  for (int32_t f = 0; f < aV.numframes; ++f) std::free(aV.framebits[f]);
  std::free(aV.framebits);
  std::free(aV.framescales);
}

// Builds the single frame in new blocks; the record changes only once all of
// them exist, so a failure leaves it as it was.
int projectFrames(VIDINFHDR* vinf, bool abAverage) {
  if (!qv::processing::isSupportedDepth(vinf->bpp)) return kProjectionBadDepth;
  const size_t iPixels = qv::processing::pixelsPerFrame(*vinf);
  if (iPixels == 0 || vinf->numframes < 1 || !qv::processing::hasAllFrames(*vinf)) return -1;

  const size_t iFrameBytes = iPixels * static_cast<size_t>(vinf->bpp / 8);
  auto* pScales = static_cast<double*>(std::malloc(sizeof(double)));
  auto* pBits = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*)));
  auto* pFrame = static_cast<unsigned char*>(std::malloc(iFrameBytes));
  if (pScales == nullptr || pBits == nullptr || pFrame == nullptr) {
    std::free(pScales);
    std::free(pBits);
    std::free(pFrame);
    return kProjectionOutOfMemory;
  }

  qv::processing::dispatchDepth(vinf->bpp, [&](auto aTag) {
    using Pixel = decltype(aTag);
    if (abAverage) {
      averageInto(*vinf, iPixels, reinterpret_cast<Pixel*>(pFrame));
    } else {
      maximumInto(*vinf, iPixels, reinterpret_cast<Pixel*>(pFrame));
    }
  });

  releaseFrames(*vinf);
  pScales[0] = vinf->scale;
  pBits[0] = pFrame;
  vinf->framescales = pScales;
  vinf->framebits = pBits;
  vinf->numframes = 1;
  return 0;
}

}  // namespace

int averageframes(VIDINFHDR* vinf) { return projectFrames(vinf, true); }
int maxframes(VIDINFHDR* vinf) { return projectFrames(vinf, false); }

extern "C" QV_API int convert_format(VIDINFHDR* vinf, int newType, int mode) {
  return qv::runtime::guarded("convert_format", kProjectionOutOfMemory, [&] {
    if (vinf == nullptr || vinf->type < kTypeImm || vinf->type > kTypeBkc) return -1;
    switch (newType) {
      case kTypeImm:
      case kTypeImc:
      case kTypeBkc:
        if (mode != kModeNone) return -3;
        break;
      case kTypeBkg:
        if (vinf->numframes > 1) {
          if (mode == kModeNone) return -4;
          if (mode != kModeAverage && mode != kModeMaximum) return -3;
          const int iResult = mode == kModeAverage ? averageframes(vinf) : maxframes(vinf);
          if (iResult != 0) return iResult;
        }
        break;
      default:
        return -2;
    }
    vinf->type = newType;
    return 0;
  });
}
