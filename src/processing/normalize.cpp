// Stretching of each frame's grey values to the full effective range.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "processing/legacy_frames.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

struct Rect {
  size_t x1, y1, x2, y2;  // inclusive, x1 <= x2, y1 <= y2
};

template <typename Pixel>
Pixel largestInRect(const Pixel* apFrame, size_t aiWidth, const Rect& aR) {
  Pixel maxValue = 0;
  const size_t iRun = aR.x2 - aR.x1 + 1;
  for (size_t y = aR.y1; y <= aR.y2; ++y) {
    maxValue =
        std::max(maxValue, qv::processing::largestInRun(apFrame + y * aiWidth + aR.x1, iRun));
  }
  return maxValue;
}

// Every pixel of the rectangle is at most the brightest one, m, so the
// scaled value of each possible pixel is worked out once, with the same
// double product, and the pixels are mapped through that table.
template <typename Pixel>
void scaleRectThroughTable(Pixel* apFrame, size_t aiWidth, const Rect& aR, Pixel aMax,
                           double adFactor, double adTop, Pixel* apTable) {
  for (size_t v = 0; v <= aMax; ++v) {
    apTable[v] = static_cast<Pixel>(std::min(static_cast<double>(v) * adFactor, adTop));
  }
  for (size_t y = aR.y1; y <= aR.y2; ++y) {
    Pixel* pRow = apFrame + y * aiWidth;
    for (size_t x = aR.x1; x <= aR.x2; ++x) pRow[x] = apTable[pRow[x]];
  }
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
  // Tables pay off for 8 and 16 bits; 32-bit pixels are scaled directly.
  constexpr bool kUseTable = sizeof(Pixel) <= 2;
  constexpr size_t kTableEntries = size_t{1} << (8 * (kUseTable ? sizeof(Pixel) : 1));
  // Without room for the table the direct path gives the same values.
  std::unique_ptr<Pixel[]> pTable(kUseTable ? new (std::nothrow) Pixel[kTableEntries] : nullptr);
  const size_t iRectPixels = (aR.x2 - aR.x1 + 1) * (aR.y2 - aR.y1 + 1);
  for (int32_t i = 0; i < aV.numframes; ++i) {
    Pixel* pFrame = qv::processing::framePixels<Pixel>(aV, i);
    Pixel maxValue = largestInRect(pFrame, iWidth, aR);
    if (maxValue == 0) maxValue = 1;
    const double dFactor = adTop / static_cast<double>(maxValue);
    // A table of maxValue + 1 entries only pays off when the rectangle holds
    // more pixels than that.
    if (pTable && iRectPixels > maxValue) {
      scaleRectThroughTable(pFrame, iWidth, aR, maxValue, dFactor, adTop, pTable.get());
    } else {
      scaleRect(pFrame, iWidth, aR, dFactor, adTop);
    }
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
  return qv::runtime::guarded("normalizeframes_rect", -1, [&] {
    if (vinf == nullptr || vinf->type == qv::processing::kEmptyType ||
        !qv::processing::isSupportedDepth(vinf->bpp)) {
      return -1;
    }
    if (qv::processing::pixelsPerFrame(*vinf) == 0 || !qv::processing::hasAllFrames(*vinf))
      return -1;
    Rect r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    if (r.x2 >= static_cast<size_t>(vinf->width) || r.y2 >= static_cast<size_t>(vinf->height)) {
      return -1;
    }
    const double dTop = static_cast<double>((uint64_t{1} << effectiveBits(*vinf)) - 1);
    qv::processing::dispatchDepth(
        vinf->bpp, [&](auto aTag) { normalizeAllFrames<decltype(aTag)>(*vinf, r, dTop); });
    return 0;
  });
}

extern "C" QV_API int normalizeframes(VIDINFHDR* vinf) {
  return qv::runtime::guarded("normalizeframes", -1, [&] {
    if (vinf == nullptr) return -1;
    return normalizeframes_rect(vinf, 0, 0, static_cast<unsigned>(vinf->width) - 1u,
                                static_cast<unsigned>(vinf->height) - 1u);
  });
}
