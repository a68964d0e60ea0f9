// Spike filter: isolated bright pixels become the mean of their neighbours.
#include <cstdint>

#include "processing/legacy_frames.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

constexpr int kMinimumSide = 4;
constexpr int kSpikeNeighbourCount = 4;  // of eight neighbours below the threshold

// 2c/3 truncated, for every depth, without forming 2c: with c = 3q + r it is
// 2q, plus 1 when r is 2. So 32-bit pixels neither wrap nor need a rule of
// their own.
inline uint32_t spikeThreshold(uint32_t aiCentre) {
  const uint32_t q = aiCentre / 3;
  return 2 * q + (aiCentre - 3 * q == 2 ? 1u : 0u);
}

template <typename Pixel>
inline int neighboursBelow(const Pixel* apAbove, const Pixel* apRow, const Pixel* apBelow, size_t x,
                           uint32_t aiThreshold) {
  return (apAbove[x - 1] < aiThreshold) + (apAbove[x] < aiThreshold) +
         (apAbove[x + 1] < aiThreshold) + (apRow[x - 1] < aiThreshold) +
         (apRow[x + 1] < aiThreshold) + (apBelow[x - 1] < aiThreshold) +
         (apBelow[x] < aiThreshold) + (apBelow[x + 1] < aiThreshold);
}

// In place and in scan order: neighbours above and to the left already hold
// their filtered values when a pixel is examined.
template <typename Pixel>
void filterRun(const Pixel* apAbove, Pixel* apRow, const Pixel* apBelow, size_t aiFrom,
               size_t aiTo) {
  for (size_t x = aiFrom; x < aiTo; ++x) {
    const uint32_t iCentre = apRow[x];
    if (iCentre == 0) continue;
    if (neighboursBelow(apAbove, apRow, apBelow, x, spikeThreshold(iCentre)) <
        kSpikeNeighbourCount) {
      continue;
    }
    const uint64_t iSum = uint64_t{apAbove[x - 1]} + apAbove[x] + apAbove[x + 1] + apRow[x - 1] +
                          apRow[x + 1] + apBelow[x - 1] + apBelow[x] + apBelow[x + 1];
    apRow[x] = static_cast<Pixel>(iSum >> 3);
  }
}

// Spikes are rare. A block in which no pixel is a spike with the values as
// they stand stays as it is when filtered in order, so the test for a whole
// block runs without the order dependency (and vectorised); only blocks that
// may hold a spike take the sequential path. The test is a necessary
// condition in the pixels' own width: a spike has a neighbour m below 2c/3,
// so 3m < 2c, that is m < c and m/2 < c - m (truncating m/2 keeps it exact).
template <typename Pixel>
bool blockMayHoldSpike(const Pixel* apAbove, const Pixel* apRow, const Pixel* apBelow,
                       size_t aiFrom) {
  Pixel iFound = 0;
  for (size_t k = 0; k < qv::processing::kVectorBlock; ++k) {
    const size_t x = aiFrom + k;
    auto lesser = [](Pixel a, Pixel b) { return a < b ? a : b; };
    const Pixel m =
        lesser(lesser(lesser(apAbove[x - 1], apAbove[x]), lesser(apAbove[x + 1], apRow[x - 1])),
               lesser(lesser(apRow[x + 1], apBelow[x - 1]), lesser(apBelow[x], apBelow[x + 1])));
    const Pixel c = apRow[x];
    const Pixel iCandidate = (m < c) & (static_cast<Pixel>(m >> 1) < static_cast<Pixel>(c - m));
    iFound |= iCandidate;
  }
  return iFound != 0;
}

template <typename Pixel>
void filterFrame(Pixel* apFrame, size_t aiWidth, size_t aiHeight) {
  const size_t iLast = aiWidth - 1;  // the rightmost column is never changed
  for (size_t y = 1; y + 1 < aiHeight; ++y) {
    const Pixel* pAbove = apFrame + (y - 1) * aiWidth;
    Pixel* pRow = apFrame + y * aiWidth;
    const Pixel* pBelow = apFrame + (y + 1) * aiWidth;
    size_t x = 1;
    for (; x + qv::processing::kVectorBlock <= iLast; x += qv::processing::kVectorBlock) {
      if (blockMayHoldSpike(pAbove, pRow, pBelow, x)) {
        filterRun(pAbove, pRow, pBelow, x, x + qv::processing::kVectorBlock);
      }
    }
    filterRun(pAbove, pRow, pBelow, x, iLast);
  }
}

}  // namespace

extern "C" QV_API int xrayfilter(VIDINFHDR* vinf) {
  return qv::runtime::guarded("xrayfilter", -1, [&] {
    if (vinf == nullptr || vinf->type == qv::processing::kEmptyType) return -1;
    if (vinf->width < kMinimumSide || vinf->height < kMinimumSide) return -1;
    if (!qv::processing::isSupportedDepth(vinf->bpp)) return -1;
    if (qv::processing::pixelsPerFrame(*vinf) == 0 || !qv::processing::hasAllFrames(*vinf))
      return -1;

    const size_t iWidth = static_cast<size_t>(vinf->width);
    const size_t iHeight = static_cast<size_t>(vinf->height);
    qv::processing::dispatchDepth(vinf->bpp, [&](auto aTag) {
      using Pixel = decltype(aTag);
      for (int32_t i = 0; i < vinf->numframes; ++i) {
        filterFrame(qv::processing::framePixels<Pixel>(*vinf, i), iWidth, iHeight);
      }
    });
    return 0;
  });
}
