// Colour tables for grey images and the grey-to-RGB24 mapping through them.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

constexpr int kArgumentError = -1;
constexpr int kCapacityTooSmall = -2;
constexpr int kEntryBytes = 4;

enum Palette { kGrey = 0, kBlackBlueGreenRedWhite = 1, kBlueCyanYellowRed = 2 };

// Channel values are formed in double precision and truncated; the clamp only
// keeps a rounding step outside 0..255 from an undefined conversion.
unsigned char channel(double adValue) {
  const double d = std::trunc(adValue);
  if (!(d > 0.0)) return 0;
  if (d >= 255.0) return 255;
  return static_cast<unsigned char>(d);
}

void setEntry(unsigned char* apTable, size_t aiIndex, double adRed, double adGreen, double adBlue) {
  unsigned char* p = apTable + aiIndex * kEntryBytes;
  p[0] = channel(adRed);
  p[1] = channel(adGreen);
  p[2] = channel(adBlue);
  p[3] = 0;
}

void fillGrey(unsigned char* apTable, size_t aiN) {
  const double dTop = static_cast<double>(aiN - 1);
  for (size_t i = 0; i < aiN; ++i) {
    const double g = std::trunc(static_cast<double>(i) * 255.0 / dTop);
    setEntry(apTable, i, g, g, g);
  }
}

void fillBlackBlueGreenRedWhite(unsigned char* apTable, size_t aiN) {
  const double A = static_cast<double>(aiN);
  const double B1 = A / 3.0;
  const double B2 = A * 293.0 / 500.0;
  const double B3 = A * 2.0 / 3.0;
  const double v = -0.5608 / (B1 - 1.0);
  const double d = 0.561 / (B2 - B1);
  const double k = -0.4314 / (B2 - B1);
  const double o = 0.176 / (B3 - B2);
  const double u = 0.737 / (A - B3);
  const size_t iEnd1 = static_cast<size_t>(B1);
  const size_t iEnd2 = static_cast<size_t>(B2);
  const size_t iEnd3 = static_cast<size_t>(B3);

  setEntry(apTable, 0, 0, 0, 0);
  for (size_t i = 1; i <= iEnd1; ++i) {
    const double x = static_cast<double>(i);
    setEntry(apTable, i, 0, 0, (v * x + 1.0 - v) * 255.0);
  }
  for (size_t i = iEnd1 + 1; i <= iEnd2; ++i) {
    const double x = static_cast<double>(i);
    setEntry(apTable, i, 0, (d * x + 0.263 - d * B1) * 255.0, (k * x - k * B2) * 255.0);
  }
  for (size_t i = iEnd2 + 1; i <= iEnd3; ++i) {
    const double x = static_cast<double>(i);
    setEntry(apTable, i, 0, (o * x + 1.0 - o * B3) * 255.0, 0);
  }
  for (size_t i = iEnd3 + 1; i + 1 < aiN; ++i) {
    const double x = static_cast<double>(i);
    setEntry(apTable, i, (u * x + 1.0 - u * A) * 255.0, 0, 0);
  }
  setEntry(apTable, aiN - 1, 255, 255, 255);
}

void fillBlueCyanYellowRed(unsigned char* apTable, size_t aiN) {
  const size_t Q1 = aiN / 8, Q3 = 3 * aiN / 8, Q5 = 5 * aiN / 8, Q7 = 7 * aiN / 8;
  const double D = 2.0 * static_cast<double>(Q1);
  const double dQ1 = static_cast<double>(Q1);
  for (size_t i = 0; i < aiN - 1; ++i) {
    const double x = static_cast<double>(i);
    if (i < Q1) {
      setEntry(apTable, i, 0, 0, (x / 2.0 / dQ1 + 0.5) * 255.0);
    } else if (i < Q3) {
      setEntry(apTable, i, 0, (x / D - 0.5) * 255.0, 255);
    } else if (i < Q5) {
      setEntry(apTable, i, (x / D - 1.5) * 255.0, 255, (1.0 - (x / D - 1.5)) * 255.0);
    } else if (i < Q7) {
      setEntry(apTable, i, 255, (x / -D + 3.5) * 255.0, 0);
    } else {
      setEntry(apTable, i, (x / -D + 4.5) * 255.0, 0, 0);
    }
  }
  setEntry(apTable, aiN - 1, 255, 255, 255);
}

// Values above the effective range keep a colour no palette uses.
void fillOverflowMarker(unsigned char* apTable, size_t aiEntries) {
  for (size_t i = 0; i < aiEntries; ++i) {
    unsigned char* p = apTable + i * kEntryBytes;
    p[0] = 255;
    p[1] = 0;
    p[2] = 255;
    p[3] = 0;
  }
}

}  // namespace

extern "C" QV_API int QVV3_INTERNAL_qvCreateColourTable(unsigned char* apTable, int* apiInOutSize,
                                                        int aiPalette, int aiBytesPerPixel,
                                                        int aiEffectiveBits) {
  return qv::runtime::guarded("QVV3_INTERNAL_qvCreateColourTable", kArgumentError, [&] {
    if (apTable == nullptr || apiInOutSize == nullptr) return kArgumentError;
    if (aiPalette < kGrey || aiPalette > kBlueCyanYellowRed) return kArgumentError;
    if (aiBytesPerPixel != 1 && aiBytesPerPixel != 2) return kArgumentError;
    if (aiEffectiveBits < 8 || aiEffectiveBits > 16 || aiEffectiveBits > 8 * aiBytesPerPixel) {
      return kArgumentError;
    }
    const size_t iEntries = size_t{1} << (8 * aiBytesPerPixel);
    const int iNeeded = static_cast<int>(iEntries * kEntryBytes);
    if (*apiInOutSize < iNeeded) {
      *apiInOutSize = iNeeded;
      return kCapacityTooSmall;
    }

    fillOverflowMarker(apTable, iEntries);
    const size_t iPaletteEntries = size_t{1} << aiEffectiveBits;
    switch (aiPalette) {
      case kGrey:
        fillGrey(apTable, iPaletteEntries);
        break;
      case kBlackBlueGreenRedWhite:
        fillBlackBlueGreenRedWhite(apTable, iPaletteEntries);
        break;
      default:
        fillBlueCyanYellowRed(apTable, iPaletteEntries);
        break;
    }
    *apiInOutSize = iNeeded;
    return static_cast<int>(iEntries);
  });
}

namespace {

template <int kBytesPerPixel>
void mapThroughTable(const unsigned char* apSource, unsigned char* apDestination,
                     const unsigned char* apTable, size_t aiPixels) {
  for (size_t i = 0; i < aiPixels; ++i) {
    size_t iValue = apSource[i * kBytesPerPixel];
    if (kBytesPerPixel == 2) iValue |= static_cast<size_t>(apSource[i * 2 + 1]) << 8;
    const unsigned char* pEntry = apTable + iValue * kEntryBytes;
    apDestination[3 * i] = pEntry[0];
    apDestination[3 * i + 1] = pEntry[1];
    apDestination[3 * i + 2] = pEntry[2];
  }
}

}  // namespace

extern "C" QV_API int QVV3_INTERNAL_qvGrayToRGB24(const unsigned char* apSource, int aiSourceLength,
                                                  unsigned char* apDestination, int* apiInOutSize,
                                                  const unsigned char* apTable, int aiBytesPerPixel,
                                                  int aiPixelCount) {
  return qv::runtime::guarded("QVV3_INTERNAL_qvGrayToRGB24", kArgumentError, [&] {
    if (aiBytesPerPixel != 1 && aiBytesPerPixel != 2) return kArgumentError;
    if (aiPixelCount < 1) return kArgumentError;
    if (apSource == nullptr || apDestination == nullptr || apiInOutSize == nullptr ||
        apTable == nullptr) {
      return kArgumentError;
    }
    if (static_cast<int64_t>(aiSourceLength) <
        static_cast<int64_t>(aiPixelCount) * aiBytesPerPixel) {
      return kArgumentError;
    }
    // The needed size is reported through an int; a count whose output would
    // not fit it cannot be described, let alone converted.
    const int64_t iNeeded = static_cast<int64_t>(aiPixelCount) * 3;
    if (iNeeded > INT32_MAX) return kArgumentError;
    if (*apiInOutSize < iNeeded) {
      *apiInOutSize = static_cast<int>(iNeeded);
      return kCapacityTooSmall;
    }
    const size_t iPixels = static_cast<size_t>(aiPixelCount);
    if (aiBytesPerPixel == 1) {
      mapThroughTable<1>(apSource, apDestination, apTable, iPixels);
    } else {
      mapThroughTable<2>(apSource, apDestination, apTable, iPixels);
    }
    *apiInOutSize = static_cast<int>(iNeeded);
    return 0;
  });
}
