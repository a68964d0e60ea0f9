// Significance map: where does the mean of sequence A stay within factor
// standard deviations of sequence B's mean?
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "platform/files.h"
#include "processing/legacy_frames.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

constexpr int kMapType = 5;
constexpr int kMapNotEmpty = -1;
constexpr int kTooFewFramesA = -2;
constexpr int kTooFewFramesB = -3;
constexpr int kFrameCountsDiffer = -4;
constexpr int kGeometryDiffers = -5;
constexpr int kOutOfMemory = -6;
constexpr int kUnsupportedDepth = -7;

using qv::platform::MallocPtr;

template <typename T>
MallocPtr<T> mallocArray(size_t aiCount) {
  return MallocPtr<T>(static_cast<T*>(std::malloc(aiCount * sizeof(T))));
}

bool hasTwoFrames(const VIDINFHDR* apV) {
  return apV != nullptr && apV->numframes >= 2 && qv::processing::hasAllFrames(*apV);
}

// Pixels handled per pass. A block's sums stay in cache while the block of
// every frame streams through, and B's blocks are still cached when they are
// read again for the spread; each pixel sums its frames in index order.
constexpr size_t kBlockPixels = 1024;

struct BlockSums {
  double meanA[kBlockPixels];
  double meanB[kBlockPixels];
  double squares[kBlockPixels];
};

template <typename Pixel, size_t kCount>
void addValues(double* __restrict apSums, const Pixel* __restrict apIn) {
  for (size_t i = 0; i < kCount; ++i) apSums[i] += static_cast<double>(apIn[i]);
}

template <typename Pixel, size_t kCount>
void addSquaredDeviations(double* __restrict apSquares, const double* __restrict apMean,
                          const Pixel* __restrict apIn) {
  for (size_t i = 0; i < kCount; ++i) {
    const double d = apMean[i] - static_cast<double>(apIn[i]);
    apSquares[i] += d * d;
  }
}

// kCount is the block length, or 1 for the pixels of a short last block,
// which then go one by one.
template <typename Pixel, size_t kCount>
void mapPixels(const VIDINFHDR& aA, const VIDINFHDR& aB, double adFactor, size_t aiFirst,
               BlockSums& aSums, Pixel* apMap) {
  const int32_t iFrames = aA.numframes;
  const double dFrames = static_cast<double>(iFrames);
  for (size_t i = 0; i < kCount; ++i) aSums.meanA[i] = aSums.meanB[i] = aSums.squares[i] = 0.0;
  for (int32_t f = 0; f < iFrames; ++f) {
    addValues<Pixel, kCount>(aSums.meanA, qv::processing::framePixels<Pixel>(aA, f) + aiFirst);
    addValues<Pixel, kCount>(aSums.meanB, qv::processing::framePixels<Pixel>(aB, f) + aiFirst);
  }
  for (size_t i = 0; i < kCount; ++i) {
    aSums.meanA[i] /= dFrames;
    aSums.meanB[i] /= dFrames;
  }
  for (int32_t f = 0; f < iFrames; ++f) {
    addSquaredDeviations<Pixel, kCount>(aSums.squares, aSums.meanB,
                                        qv::processing::framePixels<Pixel>(aB, f) + aiFirst);
  }
  const double dDegrees = dFrames - 1.0;
  for (size_t i = 0; i < kCount; ++i) {
    const double dSpread = adFactor * std::sqrt(aSums.squares[i] / dDegrees);
    // A NaN on either side compares false and leaves the 0.
    if (dSpread >= aSums.meanA[i] - aSums.meanB[i]) apMap[aiFirst + i] = 1;
  }
}

template <typename Pixel>
void computeMap(const VIDINFHDR& aA, const VIDINFHDR& aB, double adFactor, size_t aiPixels,
                BlockSums& aSums, Pixel* apMap) {
  size_t i = 0;
  for (; i + kBlockPixels <= aiPixels; i += kBlockPixels) {
    mapPixels<Pixel, kBlockPixels>(aA, aB, adFactor, i, aSums, apMap);
  }
  for (; i < aiPixels; ++i) mapPixels<Pixel, 1>(aA, aB, adFactor, i, aSums, apMap);
}

}  // namespace

extern "C" QV_API int calculate_significance_map(VIDINFHDR* seqA, VIDINFHDR* seqB, VIDINFHDR* map,
                                                 double factor) {
  return qv::runtime::guarded("calculate_significance_map", kOutOfMemory, [&] {
    if (map == nullptr || map->type != qv::processing::kEmptyType) return kMapNotEmpty;
    if (!hasTwoFrames(seqA)) return kTooFewFramesA;
    if (!hasTwoFrames(seqB)) return kTooFewFramesB;
    if (seqA->numframes != seqB->numframes) return kFrameCountsDiffer;
    if (seqA->width != seqB->width || seqA->height != seqB->height || seqA->bpp != seqB->bpp ||
        seqA->ebpp != seqB->ebpp) {
      return kGeometryDiffers;
    }
    if (!qv::processing::isSupportedDepth(seqA->bpp)) return kUnsupportedDepth;
    const size_t iPixels = qv::processing::pixelsPerFrame(*seqA);
    if (iPixels == 0) return kGeometryDiffers;

    const size_t iBytesPerPixel = static_cast<size_t>(seqA->bpp / 8);
    MallocPtr<unsigned char> pMapFrame(
        static_cast<unsigned char*>(std::calloc(iPixels, iBytesPerPixel)));
    auto pSums = mallocArray<BlockSums>(1);
    auto pBits = mallocArray<unsigned char*>(1);
    auto pScales = mallocArray<double>(1);
    if (!pMapFrame || !pSums || !pBits || !pScales) return kOutOfMemory;

    qv::processing::dispatchDepth(seqA->bpp, [&](auto aTag) {
      using Pixel = decltype(aTag);
      computeMap<Pixel>(*seqA, *seqB, factor, iPixels, *pSums,
                        reinterpret_cast<Pixel*>(pMapFrame.get()));
    });

    map->width = seqA->width;
    map->height = seqA->height;
    map->bpp = seqA->bpp;
    map->ebpp = seqA->ebpp;
    map->scale = seqA->scale;
    map->numframes = 1;
    pBits.get()[0] = pMapFrame.release();
    pScales.get()[0] = seqA->scale;
    map->framebits = pBits.release();
    map->framescales = pScales.release();
    map->type = kMapType;
    return 0;
  });
}
