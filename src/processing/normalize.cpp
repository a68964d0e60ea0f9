// Stretching of each frame's grey values to the full effective range.
#include <algorithm>
#include <cstdint>

#include "processing/legacy_frames.h"
#include "quivox3/quivox3.h"

namespace {

struct Rect {
  size_t x1, y1, x2, y2;  // inclusive, x1 <= x2, y1 <= y2
};

template <typename Pixel>
Pixel largestInRect(const Pixel* apFrame, size_t aiWidth, const Rect& aR) {
  Pixel maxValue = 0;
  for (size_t y = aR.y1; y <= aR.y2; ++y) {
    const Pixel* pRow = apFrame + y * aiWidth;
    for (size_t x = aR.x1; x <= aR.x2; ++x) maxValue = std::max(maxValue, pRow[x]);
  }
  return maxValue;
}

template <typename Pixel>
void scaleRect(Pixel* apFrame, size_t aiWidth, const Rect& aR, double adFactor, double adTop) {
  for (size_t y = aR.y1; y <= aR.y2; ++y) {
    Pixel* pRow = apFrame + y * aiWidth;
    for (size_t x = aR.x1; x <= aR.x2; ++x) {
      // The product of the brightest pixel and the factor may land a rounding
      // step above the top; the clamp keeps the conversion defined.
      const double dScaled = std::min(static_cast<double>(pRow[x]) * adFactor, adTop);
      pRow[x] = static_cast<Pixel>(dScaled);
    }
  }
}

template <typename Pixel>
void normalizeAllFrames(const VIDINFHDR& aV, const Rect& aR, double adTop) {
  const size_t iWidth = static_cast<size_t>(aV.width);
  for (int32_t i = 0; i < aV.numframes; ++i) {
    Pixel* pFrame = qvproc::framePixels<Pixel>(aV, i);
    Pixel maxValue = largestInRect(pFrame, iWidth, aR);
    if (maxValue == 0) maxValue = 1;
    scaleRect(pFrame, iWidth, aR, adTop / static_cast<double>(maxValue), adTop);
  }
}

// Effective bits outside 1..bpp carry no meaning; the stored width is the
// honest range then (the writers treat 0 the same way).
int effectiveBits(const VIDINFHDR& aV) {
  return (aV.ebpp >= 1 && aV.ebpp <= aV.bpp) ? aV.ebpp : aV.bpp;
}

}  // namespace

extern "C" QV_API int normalizeframes_rect(VIDINFHDR* vinf, unsigned int x1, unsigned int y1,
                                           unsigned int x2, unsigned int y2) {
  if (vinf == nullptr || vinf->type == qvproc::kEmptyType || !qvproc::isSupportedDepth(vinf->bpp)) {
    return -1;
  }
  if (qvproc::pixelsPerFrame(*vinf) == 0 || !qvproc::hasAllFrames(*vinf)) return -1;
  Rect r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
  if (r.x2 >= static_cast<size_t>(vinf->width) || r.y2 >= static_cast<size_t>(vinf->height)) {
    return -1;
  }
  const double dTop = static_cast<double>((uint64_t{1} << effectiveBits(*vinf)) - 1);
  qvproc::dispatchDepth(vinf->bpp, [&](auto aTag) {
    normalizeAllFrames<decltype(aTag)>(*vinf, r, dTop);
  });
  return 0;
}

extern "C" QV_API int normalizeframes(VIDINFHDR* vinf) {
  if (vinf == nullptr) return -1;
  return normalizeframes_rect(vinf, 0, 0, static_cast<unsigned>(vinf->width) - 1u,
                              static_cast<unsigned>(vinf->height) - 1u);
}
