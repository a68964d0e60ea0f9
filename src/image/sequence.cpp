// Whether a bunch holds frames of one sequence (alike headers) and whether
// their frame numbers run without gap.
#include <cmath>
#include <cstring>

#include "image/image.h"
#include "runtime/guard.h"
#include "runtime/log.h"

bool isApproximately(float afValue, float afReference, float afTolerance) {
  const float fTolerance = std::fabs(afTolerance);
  return afValue > afReference - fTolerance && afValue < afReference + fTolerance;
}

bool isApproximately(double adValue, double adReference, double adTolerance) {
  const double dTolerance = std::fabs(adTolerance);
  return adValue > adReference - dTolerance && adValue < adReference + dTolerance;
}

int _internal_qvcompareTwoValidImagesINT(const DIMAGE* apFirst, const DIMAGE* apSecond) {
  const SOURCEHEADER& s1 = apFirst->sourceHeader;
  const SOURCEHEADER& s2 = apSecond->sourceHeader;
  const FRAMEHEADER& f1 = apFirst->frameHeader;
  const FRAMEHEADER& f2 = apSecond->frameHeader;
  if (s1.cameraPortId != s2.cameraPortId) return -1;
  if (std::strncmp(s1.cameraPortName, s2.cameraPortName, sizeof s1.cameraPortName) != 0) return -2;
  if (f1.sourceWidth != f2.sourceWidth) return -3;
  if (f1.sourceHeight != f2.sourceHeight) return -4;
  if (f1.aoiWidth != f2.aoiWidth) return -5;
  if (f1.aoiHeight != f2.aoiHeight) return -6;
  if (f1.xStart != f2.xStart) return -7;
  if (f1.yStart != f2.yStart) return -8;
  if (f1.bytesPerPixel != f2.bytesPerPixel) return -9;
  if (f1.effectiveBitsPerPixel != f2.effectiveBitsPerPixel) return -10;
  if (f1.sourceFormat != f2.sourceFormat) return -11;
  if (f1.imageFormat != f2.imageFormat) return -12;
  if (!isApproximately(f1.xScale, f2.xScale, qv::image::kScaleTolerance)) return -13;
  if (!isApproximately(f1.yScale, f2.yScale, qv::image::kScaleTolerance)) return -14;
  if (!(f1.imageRotation == f2.imageRotation)) return -15;  // NaN counts as different
  return 1;
}

namespace {

int isSequence(QVBUNCHOFIMAGES* aImages) {
  if (aImages == nullptr) {
    _internal_log("qvIsSequence: Error: First parameter (aImages) is NULL. -1 will be returned.");
    return -1;
  }
  const uint32_t uiCount = aImages->numFrames;
  if (uiCount == 0) {
    _internal_log("qvIsSequence: aImages->numFrames is 0. Zero will be returned.");
    return 0;
  }
  if (aImages->imageArray == nullptr) {
    _internal_log("qvIsSequence: aImages->imageArray is NULL. -1 will be returned.");
    return -1;
  }
  // Every image is validated before the first comparison: an invalid image
  // anywhere is an error even when an earlier pair already differs.
  for (uint32_t i = 0; i < uiCount; ++i) {
    if (_internal_qvCheckImageValidity(&aImages->imageArray[i])) continue;
    _internal_log(
        "qvIsSequence: _internal_qvCheckImageValidity( aImages->imageArray[%d] ) returned false. "
        "aImages->numFrames=%d. -1 will be returned.",
        static_cast<int>(i), static_cast<int>(uiCount));
    if (_internal_getLogLevel() > 1) _internal_dumpImageHeader(&aImages->imageArray[i]);
    return -1;
  }
  if (uiCount == 1) return 1;
  const DIMAGE compare = aImages->imageArray[0];
  for (uint32_t i = 1; i < uiCount; ++i) {
    const int iResult = _internal_qvcompareTwoValidImagesINT(&compare, &aImages->imageArray[i]);
    if (iResult == 1) continue;
    _internal_log(
        "qvIsSequence: _internal_qvcompareTwoValidImagesINT( aImages->imageArray[0], "
        "aImages->imageArray[%d] ) returned %d. aImages->numFrames=%d. Zero will be returned.",
        static_cast<int>(i), iResult, static_cast<int>(uiCount));
    return 0;
  }
  return 1;
}

int isCompleteSequence(QVBUNCHOFIMAGES* aImages) {
  if (aImages == nullptr) return -1;
  const int iSequence = isSequence(aImages);
  if (iSequence != 1) return iSequence;
  const uint32_t uiCount = aImages->numFrames;
  if (uiCount == 1) return 1;
  const int iCount = static_cast<int>(uiCount);
  uint32_t uiPrevious = aImages->imageArray[0].frameHeader.frameNumber;
  if (uiPrevious == 0) {
    _internal_log(
        "qvIsCompleteSequence: No complete sequence because frameNumber of image#1 of %d is zero.",
        iCount);
    return 0;
  }
  for (uint32_t i = 1; i < uiCount; ++i) {
    const uint32_t uiFrame = aImages->imageArray[i].frameHeader.frameNumber;
    if (uiFrame == 0) {
      _internal_log(
          "qvIsCompleteSequence: No complete sequence because frameNumber of image#%d of %d is "
          "zero.",
          static_cast<int>(i + 1), iCount);
      return 0;
    }
    if (uiFrame != uiPrevious + 1u) {
      _internal_log(
          "qvIsCompleteSequence: No complete sequence because img(%d/%d).fno=%d != "
          "img(%d/%d).fno=%d + 1 .",
          static_cast<int>(i + 1), iCount, static_cast<int>(uiFrame), static_cast<int>(i), iCount,
          static_cast<int>(uiPrevious));
      return 0;
    }
    uiPrevious = uiFrame;
  }
  return 1;
}

}  // namespace

extern "C" QV_API int qvIsSequence(QVBUNCHOFIMAGES* aImages) {
  return qv::runtime::guarded("qvIsSequence", -1, [&] { return isSequence(aImages); });
}

extern "C" QV_API int qvIsCompleteSequence(QVBUNCHOFIMAGES* aImages) {
  return qv::runtime::guarded("qvIsCompleteSequence", -1,
                              [&] { return isCompleteSequence(aImages); });
}
