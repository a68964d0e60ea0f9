// The header rules every image passes before the library trusts it. Sums and
// products of header fields are formed in 64 bits: a hostile header must not
// wrap its way past a rule.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/image.h"
#include "runtime/guard.h"
#include "runtime/log.h"
#include "runtime/text.h"

namespace {

using std::to_string;

std::string hex32(uint32_t auiValue) {
  char sText[11];
  std::snprintf(sText, sizeof sText, "0x%08x", auiValue);
  return sText;
}

// Reasons are built only for the rule that fails, so a valid image costs
// only the comparisons.
bool fail(std::string& sReason, std::string sText) {
  sReason = std::move(sText);
  return false;
}

bool checkBaseTag(const DIMAGE& aImg, std::string& sReason) {
  if (aImg.sourceHeader.baseTag == QV_BASE_TAG) return true;
  return fail(sReason, "Img.sourceHeader.baseTag invalid (" + hex32(aImg.sourceHeader.baseTag) +
                           " not equal " + hex32(QV_BASE_TAG) + "(QVV3)).");
}

bool checkGeometry(const FRAMEHEADER& f, bool bOneBased, std::string& sReason) {
  const int64_t aoiW = f.aoiWidth, aoiH = f.aoiHeight, x = f.xStart, y = f.yStart;
  const int64_t srcW = f.sourceWidth, srcH = f.sourceHeight;

  if (f.sourceWidth < 1)
    return fail(sReason, "Img.frameHeader.sourceWidth=" + to_string(f.sourceWidth) +
                             " is invalid (must be >=1).");
  if (f.sourceHeight < 1)
    return fail(sReason, "Img.frameHeader.sourceHeight=" + to_string(f.sourceHeight) +
                             " is invalid (must be >=1).");
  if (f.aoiWidth < -1)
    return fail(sReason, "Img.frameHeader.aoiWidth=" + to_string(f.aoiWidth) +
                             " is invalid (must be >=-1).");
  if (f.aoiWidth > 0 && bOneBased && aoiW + x - 1 > srcW)
    return fail(sReason,
                "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiWidth(" +
                    to_string(f.aoiWidth) + ") + xStart-1(" + to_string(f.xStart) +
                    ",ONE_BASED) must be <= Img.frameHeader.sourceWidth(" +
                    to_string(f.sourceWidth) + ").");
  if (f.aoiWidth > 0 && !bOneBased && aoiW + x > srcW)
    return fail(sReason,
                "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiWidth(" +
                    to_string(f.aoiWidth) + ") + xStart(" + to_string(f.xStart) +
                    ",ZERO_BASED) must be <= Img.frameHeader.sourceWidth(" +
                    to_string(f.sourceWidth) + ").");
  if (f.aoiHeight < -1)
    return fail(sReason, "Img.frameHeader.aoiHeight=" + to_string(f.aoiHeight) +
                             " is invalid (must be >=-1).");
  // The height rules name aoiWidth in their first clause; log readers know
  // the texts in this form.
  if (f.aoiHeight > 0 && bOneBased && aoiH + y - 1 > srcH)
    return fail(sReason,
                "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiHeight(" +
                    to_string(f.aoiHeight) + ") + yStart-1(" + to_string(y - 1) +
                    ",ONE_BASED) must be <= Img.frameHeader.sourceHeight(" +
                    to_string(f.sourceHeight) + ").");
  if (f.aoiHeight > 0 && !bOneBased && aoiH + y > srcH)
    return fail(sReason,
                "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiHeight(" +
                    to_string(f.aoiHeight) + ") + yStart(" + to_string(f.yStart) +
                    ",ZERO_BASED) must be <= Img.frameHeader.sourceHeight(" +
                    to_string(f.sourceHeight) + ").");
  return true;
}

bool checkOffsetsOneBased(const FRAMEHEADER& f, std::string& sReason) {
  if (f.xStart < 1)
    return fail(sReason, "Img.frameHeader.xStart=" + to_string(f.xStart) +
                             " must be bigger than or equal one (imageFlag XYSTART_ONE_BASED is "
                             "set).");
  if (f.yStart < 1)
    return fail(sReason, "Img.frameHeader.yStart=" + to_string(f.yStart) +
                             " must be bigger than or equal one (imageFlag XYSTART_ONE_BASED is "
                             "set).");
  if (f.xStart > f.sourceWidth)
    return fail(sReason, "Img.frameHeader.xStart(" + to_string(f.xStart) +
                             ",XYSTART_ONE_BASED) must be smaller than or equal "
                             "Img.frameHeader.sourceWidth(" +
                             to_string(f.sourceWidth) + ").");
  if (f.xStart > 1 && f.aoiWidth <= 0)
    return fail(sReason, "If Img.frameHeader.xStart(" + to_string(f.xStart) +
                             ",XYSTART_ONE_BASED) is bigger than one, Img.frameHeader.aoiWidth(" +
                             to_string(f.aoiWidth) + ") must be greater than zero.");
  if (f.yStart > f.sourceHeight)
    return fail(sReason, "Img.frameHeader.yStart(" + to_string(f.yStart) +
                             ",XYSTART_ONE_BASED) must be smaller than or equal "
                             "Img.frameHeader.sourceHeight(" +
                             to_string(f.sourceHeight) + ").");
  if (f.yStart > 1 && f.aoiHeight <= 0)
    return fail(sReason, "If Img.frameHeader.yStart(" + to_string(f.yStart) +
                             ",XYSTART_ONE_BASED) is bigger than one, Img.frameHeader.aoiHeight(" +
                             to_string(f.aoiHeight) + ") must be greater than zero.");
  return true;
}

bool checkOffsetsZeroBased(const FRAMEHEADER& f, std::string& sReason) {
  if (f.xStart < 0)
    return fail(sReason, "Img.frameHeader.xStart=" + to_string(f.xStart) +
                             " must be bigger than or equal zero (imageFlag XYSTART_ONE_BASED is "
                             "not set).");
  if (f.yStart < 0)
    return fail(sReason, "Img.frameHeader.yStart=" + to_string(f.yStart) +
                             " must be bigger than or equal zero (imageFlag XYSTART_ONE_BASED is "
                             "not set).");
  if (f.xStart >= f.sourceWidth)
    return fail(sReason, "Img.frameHeader.xStart(" + to_string(f.xStart) +
                             ",XYSTART_ZERO_BASED) must be smaller than "
                             "Img.frameHeader.sourceWidth(" +
                             to_string(f.sourceWidth) + ").");
  if (f.xStart > 0 && f.aoiWidth <= 0)
    return fail(sReason, "If Img.frameHeader.xStart(" + to_string(f.xStart) +
                             ",XYSTART_ZERO_BASED) is bigger than zero, Img.frameHeader.aoiWidth(" +
                             to_string(f.aoiWidth) + ") must be greater than zero.");
  if (f.yStart >= f.sourceHeight)
    return fail(sReason, "Img.frameHeader.yStart(" + to_string(f.yStart) +
                             ",XYSTART_ZERO_BASED) must be smaller than "
                             "Img.frameHeader.sourceHeight(" +
                             to_string(f.sourceHeight) + ").");
  if (f.yStart > 0 && f.aoiHeight <= 0)
    return fail(sReason,
                "If Img.frameHeader.yStart(" + to_string(f.yStart) +
                    ",XYSTART_ZERO_BASED) is bigger than zero, Img.frameHeader.aoiHeight(" +
                    to_string(f.aoiHeight) + ") must be greater than zero.");
  return true;
}

bool checkPixelFormat(const FRAMEHEADER& f, std::string& sReason) {
  if (f.bytesPerPixel < 1 || f.bytesPerPixel > 4)
    return fail(sReason,
                "Img.frameHeader.bytesPerPixel=" + to_string(f.bytesPerPixel) + " must be [1..4].");
  if (f.sourceFormat < 0 || f.sourceFormat > CF_IMAGE_FORMAT_MAX)
    return fail(sReason, "Img.frameHeader.sourceFormat=" + to_string(f.sourceFormat) +
                             " is out of bounds ([0.." + to_string(CF_IMAGE_FORMAT_MAX) + "].");
  if (f.imageFormat < 0 || f.imageFormat > CF_IMAGE_FORMAT_MAX)
    return fail(sReason, "Img.frameHeader.imageFormat=" + to_string(f.imageFormat) +
                             " is out of bounds ([0.." + to_string(CF_IMAGE_FORMAT_MAX) + "].");
  return true;
}

bool checkFrameSizes(const DIMAGE& aImg, std::string& sReason) {
  const int32_t iAppended = aImg.frameHeader.appendedFrameSize;
  const uint32_t uiTotal = aImg.sourceHeader.totalLength;
  if (iAppended > 0) {
    if (static_cast<uint32_t>(iAppended) > aImg.frameBufferSize)
      return fail(sReason, "In case Img.frameHeader.appendedFrameSize(" + to_string(iAppended) +
                               ") is bigger than zero, it must be less than or equal "
                               "Img.frameBufferSize(" +
                               to_string(aImg.frameBufferSize) + ").");
    if (aImg.frameBuffer == nullptr)
      return fail(sReason, "In case Img.frameHeader.appendedFrameSize(" + to_string(iAppended) +
                               ") is bigger than zero, aImg.frameBuffer must not be NULL.");
    if (iAppended > MAX_TRANSPORT_SIZE)
      return fail(sReason, "In case Img.frameHeader.appendedFrameSize(" + to_string(iAppended) +
                               ") is bigger than zero, it must not be bigger than "
                               "MAX_TRANSPORT_SIZE(" +
                               to_string(MAX_TRANSPORT_SIZE) + ").");
    if (static_cast<int64_t>(uiTotal) != static_cast<int64_t>(QV_HDR_IMAGE_SIZE) + iAppended)
      return fail(sReason, "In case Img.frameHeader.appendedFrameSize(" + to_string(iAppended) +
                               ") is bigger than zero, aImg.sourceHeader.totalLength(" +
                               to_string(uiTotal) + ") must be equal to sizeof(hdrImage)=" +
                               to_string(QV_HDR_IMAGE_SIZE) + " plus appendedFrameSize.");
  } else if (uiTotal != QV_HDR_IMAGE_SIZE) {
    return fail(sReason, "In case Img.frameHeader.appendedFrameSize(" + to_string(iAppended) +
                             ") is not bigger than zero, aImg.sourceHeader.totalLength(" +
                             to_string(uiTotal) + ") must be equal to sizeof(hdrImage)=" +
                             to_string(QV_HDR_IMAGE_SIZE) + ".");
  }
  return true;
}

// Only the pixel layouts the library turns into pixels must carry a whole
// uncompressed frame.
bool hasUncompressedLayout(const FRAMEHEADER& f) {
  return (f.imageFormat == CF_IMAGE_FORMAT_RGB && f.bytesPerPixel == 3) ||
         (f.imageFormat == CF_IMAGE_FORMAT_GRAY && (f.bytesPerPixel == 1 || f.bytesPerPixel == 2));
}

bool checkUncompressedFrameSize(const DIMAGE& aImg, std::string& sReason) {
  const FRAMEHEADER& f = aImg.frameHeader;
  if (!hasUncompressedLayout(f)) return true;
  const int64_t iPresent = f.appendedFrameSize > 0 ? f.appendedFrameSize : 0;
  if (iPresent >= qv::image::uncompressedFrameSize(aImg)) return true;
  char sImgFmtBuf[36];
  size_t iFmtSize = sizeof sImgFmtBuf;
  const char* sFormat = CDIMAGE::getFormatAsString(f.imageFormat, false, sImgFmtBuf, &iFmtSize);
  return fail(sReason,
              "Img.frameHeader.imageFormat is " + std::string(sFormat != nullptr ? sFormat : "") +
                  "(Img.frameHeader.BytesPerPixel=" + to_string(f.bytesPerPixel) +
                  "). In case Img.frameHeader.imageFormat is RGB(Img.frameHeader.BytesPerPixel=3) "
                  "or GRAY(Img.frameHeader.BytesPerPixel=1 or 2), "
                  "Img.frameHeader.appendedFrameSize(" +
                  to_string(f.appendedFrameSize) + ") must be bigger or equal getAppendedWidth(" +
                  to_string(getAppendedWidth(aImg)) + ")= times getAppendedHeight(" +
                  to_string(getAppendedHeight(aImg)) + ") times getBytesPerPixel(" +
                  to_string(getBytesPerPixel(aImg)) + ").");
}

}  // namespace

bool CDIMAGE::checkValidity(const DIMAGE& aImg, std::string& sMessageWhyInvalid) {
  const FRAMEHEADER& f = aImg.frameHeader;
  const bool bOneBased = (f.imageFlags & CF_IMAGE_FLAG_XYSTART_ONE_BASED) != 0;
  return checkBaseTag(aImg, sMessageWhyInvalid) &&
         checkGeometry(f, bOneBased, sMessageWhyInvalid) &&
         (bOneBased ? checkOffsetsOneBased(f, sMessageWhyInvalid)
                    : checkOffsetsZeroBased(f, sMessageWhyInvalid)) &&
         checkPixelFormat(f, sMessageWhyInvalid) && checkFrameSizes(aImg, sMessageWhyInvalid) &&
         checkUncompressedFrameSize(aImg, sMessageWhyInvalid);
}

namespace {

const char kNullImage[] = "Parameter apImg must not be NULL.";

}  // namespace

int _internal_qvCheckImageValidityEx(DIMAGE* apImg, std::string& sErrorString) {
  if (apImg == nullptr) {
    _internal_log("CDIMAGE::checkValidity error: %s", kNullImage);
    sErrorString = kNullImage;
    return 0;
  }
  std::string sReason;
  if (CDIMAGE::checkValidity(*apImg, sReason)) return 1;
  _internal_log("CDIMAGE::checkValidity error: %s", sReason.c_str());
  sErrorString = std::move(sReason);
  return -1;
}

bool _internal_qvCheckImageValidity(DIMAGE* apImg) {
  std::string sIgnored;
  return _internal_qvCheckImageValidityEx(apImg, sIgnored) == 1;
}

extern "C" QV_API int qvCheckImageValidity(DIMAGE* apImg, char* asOutErrorString,
                                           size_t aiOutErrorStringSize) {
  return qv::runtime::guarded(
      "qvCheckImageValidity", -1,
      [&] {
        // The answer to a null image needs no memory.
        if (apImg == nullptr) {
          _internal_log("CDIMAGE::checkValidity error: %s", kNullImage);
          qv::text::copyReason(kNullImage, asOutErrorString, aiOutErrorStringSize);
          return 0;
        }
        std::string sErrorMessage;
        const int iCode = _internal_qvCheckImageValidityEx(apImg, sErrorMessage);
        if (iCode != 1) {
          qv::text::copyReason(sErrorMessage, asOutErrorString, aiOutErrorStringSize);
        }
        return iCode;
      },
      {asOutErrorString, aiOutErrorStringSize});
}
