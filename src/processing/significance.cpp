// Significance map: where does the mean of sequence A stay within factor
// standard deviations of sequence B's mean?
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "processing/legacy_frames.h"
#include "quivox3/quivox3.h"

namespace {

constexpr int kMapType = 5;
constexpr int kMapNotEmpty = -1;
constexpr int kTooFewFramesA = -2;
constexpr int kTooFewFramesB = -3;
constexpr int kFrameCountsDiffer = -4;
constexpr int kGeometryDiffers = -5;
constexpr int kOutOfMemory = -6;
constexpr int kUnsupportedDepth = -7;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

template <typename T>
MallocPtr<T> mallocArray(size_t aiCount) {
  return MallocPtr<T>(static_cast<T*>(std::malloc(aiCount * sizeof(T))));
}

bool hasTwoFrames(const VIDINFHDR* apV) {
  return apV != nullptr && apV->numframes >= 2 && qvproc::hasAllFrames(*apV);
}

// Frame by frame over whole arrays rather than pixel by pixel over all
// frames: each frame streams through once, and every pixel still sums its
// frames in index order.
template <typename Pixel>
void addFrames(const VIDINFHDR& aV, size_t aiPixels, double* apSums) {
  for (int32_t f = 0; f < aV.numframes; ++f) {
    const Pixel* pIn = qvproc::framePixels<Pixel>(aV, f);
    for (size_t i = 0; i < aiPixels; ++i) apSums[i] += static_cast<double>(pIn[i]);
  }
}

template <typename Pixel>
void addSquaredDeviations(const VIDINFHDR& aV, size_t aiPixels, const double* apMean,
                          double* apSquares) {
  for (int32_t f = 0; f < aV.numframes; ++f) {
    const Pixel* pIn = qvproc::framePixels<Pixel>(aV, f);
    for (size_t i = 0; i < aiPixels; ++i) {
      const double d = apMean[i] - static_cast<double>(pIn[i]);
      apSquares[i] += d * d;
    }
  }
}

template <typename Pixel>
void computeMap(const VIDINFHDR& aA, const VIDINFHDR& aB, double adFactor, size_t aiPixels,
                double* apMeanA, double* apMeanB, double* apSquares, Pixel* apMap) {
  const double dFrames = static_cast<double>(aA.numframes);
  for (size_t i = 0; i < aiPixels; ++i) apMeanA[i] = apMeanB[i] = apSquares[i] = 0.0;
  addFrames<Pixel>(aA, aiPixels, apMeanA);
  addFrames<Pixel>(aB, aiPixels, apMeanB);
  for (size_t i = 0; i < aiPixels; ++i) {
    apMeanA[i] /= dFrames;
    apMeanB[i] /= dFrames;
  }
  addSquaredDeviations<Pixel>(aB, aiPixels, apMeanB, apSquares);
  const double dDegrees = dFrames - 1.0;
  for (size_t i = 0; i < aiPixels; ++i) {
    const double dSpread = adFactor * std::sqrt(apSquares[i] / dDegrees);
    // A NaN on either side compares false and leaves the 0.
    if (dSpread >= apMeanA[i] - apMeanB[i]) apMap[i] = 1;
  }
}

}  // namespace

extern "C" QV_API int calculate_significance_map(VIDINFHDR* seqA, VIDINFHDR* seqB, VIDINFHDR* map,
                                                 double factor) {
  if (map == nullptr || map->type != qvproc::kEmptyType) return kMapNotEmpty;
  if (!hasTwoFrames(seqA)) return kTooFewFramesA;
  if (!hasTwoFrames(seqB)) return kTooFewFramesB;
  if (seqA->numframes != seqB->numframes) return kFrameCountsDiffer;
  if (seqA->width != seqB->width || seqA->height != seqB->height || seqA->bpp != seqB->bpp ||
      seqA->ebpp != seqB->ebpp) {
    return kGeometryDiffers;
  }
  if (!qvproc::isSupportedDepth(seqA->bpp)) return kUnsupportedDepth;
  const size_t iPixels = qvproc::pixelsPerFrame(*seqA);
  if (iPixels == 0) return kGeometryDiffers;

  const size_t iBytesPerPixel = static_cast<size_t>(seqA->bpp / 8);
  MallocPtr<unsigned char> pMapFrame(static_cast<unsigned char*>(std::calloc(iPixels, iBytesPerPixel)));
  auto pMeanA = mallocArray<double>(iPixels);
  auto pMeanB = mallocArray<double>(iPixels);
  auto pSquares = mallocArray<double>(iPixels);
  auto pBits = mallocArray<unsigned char*>(1);
  auto pScales = mallocArray<double>(1);
  if (!pMapFrame || !pMeanA || !pMeanB || !pSquares || !pBits || !pScales) return kOutOfMemory;

  qvproc::dispatchDepth(seqA->bpp, [&](auto aTag) {
    using Pixel = decltype(aTag);
    computeMap<Pixel>(*seqA, *seqB, factor, iPixels, pMeanA.get(), pMeanB.get(), pSquares.get(),
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
}
