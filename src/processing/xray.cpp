// Spike filter: isolated bright pixels become the mean of their neighbours.
#include <cstdint>

#include "processing/legacy_frames.h"
#include "quivox3/quivox3.h"

namespace {

constexpr int kMinimumSide = 4;
constexpr int kSpikeNeighbourCount = 4;  // of eight neighbours below the threshold

// In place and in scan order: neighbours above and to the left already hold
// their filtered values when a pixel is examined. The threshold 2c/3 is
// formed in 64 bits for every depth, so 32-bit pixels neither wrap nor use a
// different rule from 8 and 16 bits.
template <typename Pixel>
void filterFrame(Pixel* apFrame, size_t aiWidth, size_t aiHeight) {
  for (size_t y = 1; y + 1 < aiHeight; ++y) {
    const Pixel* pAbove = apFrame + (y - 1) * aiWidth;
    Pixel* pRow = apFrame + y * aiWidth;
    const Pixel* pBelow = apFrame + (y + 1) * aiWidth;
    for (size_t x = 1; x + 1 < aiWidth; ++x) {
      const uint64_t iCentre = pRow[x];
      if (iCentre == 0) continue;
      const uint64_t iThreshold = (2 * iCentre) / 3;
      const uint64_t n0 = pAbove[x - 1], n1 = pAbove[x], n2 = pAbove[x + 1];
      const uint64_t n3 = pRow[x - 1], n4 = pRow[x + 1];
      const uint64_t n5 = pBelow[x - 1], n6 = pBelow[x], n7 = pBelow[x + 1];
      const int iBelow = (n0 < iThreshold) + (n1 < iThreshold) + (n2 < iThreshold) +
                         (n3 < iThreshold) + (n4 < iThreshold) + (n5 < iThreshold) +
                         (n6 < iThreshold) + (n7 < iThreshold);
      if (iBelow >= kSpikeNeighbourCount) {
        pRow[x] = static_cast<Pixel>((n0 + n1 + n2 + n3 + n4 + n5 + n6 + n7) >> 3);
      }
    }
  }
}

}  // namespace

extern "C" QV_API int xrayfilter(VIDINFHDR* vinf) {
  if (vinf == nullptr || vinf->type == qvproc::kEmptyType) return -1;
  if (vinf->width < kMinimumSide || vinf->height < kMinimumSide) return -1;
  if (!qvproc::isSupportedDepth(vinf->bpp)) return -1;
  if (qvproc::pixelsPerFrame(*vinf) == 0 || !qvproc::hasAllFrames(*vinf)) return -1;

  const size_t iWidth = static_cast<size_t>(vinf->width);
  const size_t iHeight = static_cast<size_t>(vinf->height);
  qvproc::dispatchDepth(vinf->bpp, [&](auto aTag) {
    using Pixel = decltype(aTag);
    for (int32_t i = 0; i < vinf->numframes; ++i) {
      filterFrame(qvproc::framePixels<Pixel>(*vinf, i), iWidth, iHeight);
    }
  });
  return 0;
}
