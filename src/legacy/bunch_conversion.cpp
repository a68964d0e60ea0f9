// Conversion between the two sequence models: a bunch of DIMAGE records and
// the legacy VIDINFHDR record with one geometry and raw frame buffers.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image.h"
#include "legacy/legacy.h"
#include "legacy/legacy_io.h"
#include "platform/compiler.h"
#include "runtime/guard.h"
#include "runtime/log.h"
#include "runtime/text.h"

using namespace qv::legacy;

namespace {

enum ConversionResult {
  kConvertOk = 1,
  kConvertParameter = 0,
  kConvertNoSequence = -1,
  kConvertNotConvertible = -2,
  kConvertOutOfMemory = -3,
};

std::string formatText(const char* asFormat, ...) QV_PRINTF_FORMAT(1, 2);
std::string formatText(const char* asFormat, ...) {
  char buffer[512];
  va_list args;
  va_start(args, asFormat);
  std::vsnprintf(buffer, sizeof buffer, asFormat, args);
  va_end(args);
  return buffer;
}

int checkArguments(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV, int aiLowMemoryConsumption,
                   std::string& sError) {
  if (aV == nullptr) {
    sError = "Parameter error (struct VIDINFHDR *aV is NULL).";
  } else if (aImages == nullptr) {
    sError = "Parameter error (QVBUNCHOFIMAGES *aImages is NULL).";
  } else if (aImages->numFrames == 0) {
    sError = "Parameter error(QVBUNCHOFIMAGES *aImages->numFrames is zero).";
  } else if (aImages->imageArray == nullptr) {
    sError = "Parameter error(QVBUNCHOFIMAGES *aImages->imageArray is NULL).";
  } else if (aiLowMemoryConsumption != 0 && aiLowMemoryConsumption != 1) {
    sError = "Parameter error(aiLowMemoryConsumption is neither zero nor one).";
  } else {
    return kConvertOk;
  }
  return kConvertParameter;
}

std::string formatName(int iFormat) {
  char buffer[64];
  size_t uiSize = sizeof buffer;
  const char* sName = CDIMAGE::getFormatAsString(iFormat, false, buffer, &uiSize);
  return sName != nullptr ? sName : "(Unknown error getting image format as string)";
}

// Only uncompressed grey sequences of 1 or 2 bytes per pixel with square
// pixels have a VIDINFHDR form.
int checkConvertible(QVBUNCHOFIMAGES* aImages, std::string& sError) {
  const int r = qvIsSequence(aImages);
  if (r != 1) {
    sError = "Parameter QVBUNCHOFIMAGES *aImages is no sequence (qvIsSequence(aImages) returned " +
             std::to_string(r) + ", but must return 1.";
    return kConvertNoSequence;
  }
  const FRAMEHEADER& f = aImages->imageArray[0].frameHeader;
  if (f.imageFormat != CF_IMAGE_FORMAT_GRAY) {
    sError = "Image format of images must be CF_IMAGE_FORMAT_GRAY(" +
             std::to_string(CF_IMAGE_FORMAT_GRAY) + ") but is " + formatName(f.imageFormat) + "(" +
             std::to_string(f.imageFormat) + ").";
    return kConvertNotConvertible;
  }
  if (f.bytesPerPixel != 1 && f.bytesPerPixel != 2) {
    sError = "Image bytesperpixel(" + std::to_string(f.bytesPerPixel) + ") must be either 1 or 2.";
    return kConvertNotConvertible;
  }
  if (!isApproximately(f.xScale, f.yScale, qv::image::kScaleTolerance)) {
    sError = formatText("The scaling factors for x(%f) and y(%f) must be identical.", f.xScale,
                        f.yScale);
    return kConvertNotConvertible;
  }
  // The validity rules compare the frame size in 32 bits; a frame smaller than
  // its true geometry would let the record's users read beyond it.
  const uint64_t uiNeeded =
      static_cast<uint64_t>(qv::image::uncompressedFrameSize(aImages->imageArray[0]));
  for (uint32_t j = 0; j < aImages->numFrames; ++j) {
    const int32_t iSize = aImages->imageArray[j].frameHeader.appendedFrameSize;
    if (iSize <= 0 || static_cast<uint64_t>(iSize) < uiNeeded) {
      sError = "Image " + std::to_string(j + 1) + " of " + std::to_string(aImages->numFrames) +
               " holds " + std::to_string(iSize) + " frame bytes, fewer than its geometry needs (" +
               std::to_string(uiNeeded) + ").";
      return kConvertNotConvertible;
    }
  }
  return kConvertOk;
}

// A scale not above 0 means "none"; NaN passes through unchanged.
double scaleOf(const DIMAGE& aImg) {
  const float fScale = aImg.frameHeader.xScale;
  return fScale <= 0.0f ? 1.0 : static_cast<double>(fScale);
}

int convertBunch(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV, bool bLowMemory, bool& bIntact,
                 std::string& sError) {
  const uint32_t n = aImages->numFrames;
  if (n > INT32_MAX) {
    sError = "Parameter error(QVBUNCHOFIMAGES *aImages->numFrames is too large).";
    return kConvertParameter;
  }
  const DIMAGE& first = aImages->imageArray[0];
  VIDINFHDR v;
  v.width = getAppendedWidth(first);
  v.height = getAppendedHeight(first);
  v.bpp = first.frameHeader.bytesPerPixel * 8;
  v.ebpp = first.frameHeader.effectiveBitsPerPixel == -1 ? v.bpp
                                                         : first.frameHeader.effectiveBitsPerPixel;
  v.scale = scaleOf(first);
  v.numframes = 0;
  v.type = 1;

  FrameArrays frames;
  if (!frames.allocate(n)) {
    sError = std::string("Memory allocation error at ") +
             (frames.hasScales() ? "v.framebits (" + std::to_string(uint64_t{n} * 8) + " bytes)."
                                 : "v.framescales (1 double for each of the " + std::to_string(n) +
                                       " video images.");
    return kConvertOutOfMemory;
  }
  for (uint32_t j = 0; j < n; ++j) {
    DIMAGE& img = aImages->imageArray[j];
    const size_t uiBytes = static_cast<size_t>(img.frameHeader.appendedFrameSize);
    frames.frame(j) = static_cast<unsigned char*>(std::malloc(uiBytes));
    if (frames.frame(j) == nullptr) {
      sError = "Memory allocation error (" + std::to_string(uiBytes) + " bytes for image " +
               std::to_string(j + 1) + " of " + std::to_string(n) + ").";
      return kConvertOutOfMemory;
    }
    std::memcpy(frames.frame(j), img.frameBuffer, uiBytes);
    if (bLowMemory) {
      std::free(img.frameBuffer);
      img.frameBuffer = nullptr;
      img.frameBufferSize = 0;
      bIntact = false;
    }
    frames.scale(j) = scaleOf(img);
  }
  v.numframes = static_cast<int32_t>(n);
  frames.handOver(v);
  *aV = v;
  return kConvertOk;
}

int bunchToVidInfHdr(const char* asCall, QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV,
                     char* asOutErrorString, unsigned int aiOutErrorStringSize,
                     int aiLowMemoryConsumption, int* apiOutBunchIntact) {
  std::string sError;
  bool bIntact = true;
  const qv::runtime::ReasonBuffer reason{asOutErrorString, aiOutErrorStringSize};
  // The conversion is guarded on its own: whichever way it ends, a bunch that
  // low-memory mode has begun to consume is released and the flag set.
  const int iResult = qv::runtime::guarded(
      asCall, static_cast<int>(kConvertOutOfMemory),
      [&] {
        int r = checkArguments(aImages, aV, aiLowMemoryConsumption, sError);
        if (r == kConvertOk) r = checkConvertible(aImages, sError);
        if (r == kConvertOk)
          r = convertBunch(aImages, aV, aiLowMemoryConsumption == 1, bIntact, sError);
        if (r != kConvertOk) qv::text::copyReason(sError, asOutErrorString, aiOutErrorStringSize);
        return r;
      },
      reason);
  // Low-memory mode has consumed the bunch either way: release what is left.
  if (!bIntact) qvFreeBunch(aImages);
  if (apiOutBunchIntact != nullptr) *apiOutBunchIntact = bIntact ? 1 : 0;
  return iResult;
}

}  // namespace

extern "C" QV_API int qvBunchToVIDINFHDREx2(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV,
                                            char* asOutErrorString,
                                            unsigned int aiOutErrorStringSize,
                                            int aiLowMemoryConsumption, int* apiOutBunchIntact) {
  return qv::runtime::guarded("qvBunchToVIDINFHDREx2", static_cast<int>(kConvertOutOfMemory),
                              [&] {
                                return bunchToVidInfHdr("qvBunchToVIDINFHDREx2", aImages, aV,
                                                        asOutErrorString, aiOutErrorStringSize,
                                                        aiLowMemoryConsumption, apiOutBunchIntact);
                              },
                              {asOutErrorString, aiOutErrorStringSize});
}

extern "C" QV_API int qvBunchToVIDINFHDREx(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV,
                                           int aiLowMemoryConsumption, int* apiOutBunchIntact) {
  return qv::runtime::guarded("qvBunchToVIDINFHDREx", static_cast<int>(kConvertOutOfMemory), [&] {
    return bunchToVidInfHdr("qvBunchToVIDINFHDREx", aImages, aV, nullptr, 0, aiLowMemoryConsumption,
                            apiOutBunchIntact);
  });
}

extern "C" QV_API int qvBunchToVIDINFHDR(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV) {
  return qv::runtime::guarded("qvBunchToVIDINFHDR", static_cast<int>(kConvertOutOfMemory), [&] {
    return bunchToVidInfHdr("qvBunchToVIDINFHDR", aImages, aV, nullptr, 0, 0, nullptr);
  });
}

// ---------------------------------------------------------------------------
// VIDINFHDR -> bunch

namespace {

bool checkRecordAndBunch(const VIDINFHDR* v, const QVBUNCHOFIMAGES* b, std::string& sError) {
  if (v == nullptr)
    sError = "Parameter apInVinf must not be NULL.";
  else if (v->numframes <= 0)
    sError = "Parameter apInVinf->numframes must be greater zero.";
  else if (v->framebits == nullptr)
    sError = "Parameter apInVinf->framebits must be greater zero.";
  else if (v->framescales == nullptr)
    sError = "Parameter apInVinf->framescales must be greater zero.";
  else if (v->bpp != 8 && v->bpp != 16)
    sError = "Parameter apInVinf->bpp must be either 8 or 16.";
  else if (v->width <= 0)
    sError = "Parameter apInVinf->width must be greater zero.";
  else if (v->height <= 0)
    sError = "Parameter apInVinf->height must be greater zero.";
  else if (b == nullptr)
    sError = "Parameter apOutImages must not be NULL.";
  else if (b->numFrames != 0)
    sError = "Parameter apOutImages->numFrames must be zero.";
  else if (b->imageArray != nullptr)
    sError = "Parameter apOutImages->imageArray must be zero.";
  else
    return true;
  return false;
}

// Fields every image of the converted record shares.
DIMAGE makeTemplate(const char* asFile, const VIDINFHDR& v) {
  DIMAGE t;
  std::memset(&t, 0, sizeof t);
  SOURCEHEADER& s = t.sourceHeader;
  std::memcpy(&s.baseTag, "QVV3", 4);
  s.cameraPortId = 0;
  s.versionTag = 1;
  s.totalLength = QV_HDR_IMAGE_SIZE;
  if (asFile != nullptr) {
    int64_t iModified = 0;
    if (qv::platform::fileModificationTime(asFile, iModified))
      s.timestampSeconds = static_cast<uint32_t>(iModified);
    _internal_shortenPath(asFile, s.cameraPortName, sizeof s.cameraPortName);
  }
  FRAMEHEADER& f = t.frameHeader;
  f.sourceWidth = v.width;
  f.sourceHeight = v.height;
  f.aoiWidth = -1;
  f.aoiHeight = -1;
  f.bytesPerPixel = v.bpp / 8;
  f.effectiveBitsPerPixel = v.ebpp < v.bpp ? v.ebpp : v.bpp;
  f.horizontalBinning = -1;
  f.verticalBinning = -1;
  f.sourceFormat = CF_IMAGE_FORMAT_GRAY;
  f.imageFormat = CF_IMAGE_FORMAT_GRAY;
  f.xScale = -1.0f;
  f.yScale = -1.0f;
  f.imageRotation = -1.0f;
  f.scale_x_offset = -1.0f;
  f.scale_y_offset = -1.0f;
  f.fspare3 = -1.0f;
  f.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER | CF_IMAGE_FLAG_IMAGE_LOSSLESS;
  f.ispare1 = f.ispare2 = f.ispare3 = -1;
  f.appendedFrameSize = -1;
  t.frameBufferSize = 0;
  t.frameBuffer = nullptr;
  return t;
}

// The fields of image i (from 0) over the template, for a frame of S bytes.
void setFrameFields(DIMAGE& img, const VIDINFHDR& v, int32_t i, uint32_t S) {
  img.sourceHeader.totalLength = QV_HDR_IMAGE_SIZE + S;
  img.frameHeader.frameNumber = static_cast<uint32_t>(i) + 1;
  img.frameHeader.xScale = static_cast<float>(v.framescales[i]);
  img.frameHeader.yScale = img.frameHeader.xScale;
  img.frameHeader.appendedFrameSize = static_cast<int32_t>(S);
  img.frameBufferSize = S;
}

// Logs the validity rules' reason for image i of a record whose frames are
// beyond the transport limit, the line the check of the built image would
// leave, without allocating that image's copy of the frame.
void logOversizedFrame(const DIMAGE& templateImg, const VIDINFHDR& v, int32_t i,
                       uint64_t uiFrameBytes) {
  if (uiFrameBytes <= static_cast<uint64_t>(INT32_MAX)) {
    // The image as it would be built; the record's own frame of the same
    // size stands in for the copy (the rules ask only whether a frame is
    // there, they never read it).
    DIMAGE probe = templateImg;
    setFrameFields(probe, v, i, static_cast<uint32_t>(uiFrameBytes));
    probe.frameBuffer = v.framebits[i];
    std::string sReason;
    _internal_qvCheckImageValidityEx(&probe, sReason);  // logs the reason line
    return;
  }
  // The size fields of an image cannot hold this frame: the transport rule's
  // reason with the frame's true size.
  _internal_log(
      "CDIMAGE::checkValidity error: In case Img.frameHeader.appendedFrameSize(%llu) is bigger "
      "than zero, it must not be bigger than MAX_TRANSPORT_SIZE(%d).",
      static_cast<unsigned long long>(uiFrameBytes), static_cast<int>(MAX_TRANSPORT_SIZE));
}

// The image array of a bunch being built. Every record starts zeroed, so
// that releasing it, on a failure or an exception, frees exactly the frame
// buffers made so far.
class ImagesUnderConstruction {
 public:
  explicit ImagesUnderConstruction(size_t aiCount)
      : m_pImages(static_cast<DIMAGE*>(std::calloc(aiCount, sizeof(DIMAGE)))), m_iCount(aiCount) {}
  ~ImagesUnderConstruction() { reset(); }
  ImagesUnderConstruction(const ImagesUnderConstruction&) = delete;
  ImagesUnderConstruction& operator=(const ImagesUnderConstruction&) = delete;

  DIMAGE* get() const { return m_pImages; }
  DIMAGE* release() {
    DIMAGE* pImages = m_pImages;
    m_pImages = nullptr;
    return pImages;
  }
  void reset() {
    if (m_pImages == nullptr) return;
    for (size_t i = 0; i < m_iCount; ++i) std::free(m_pImages[i].frameBuffer);
    std::free(m_pImages);
    m_pImages = nullptr;
  }

 private:
  DIMAGE* m_pImages;
  size_t m_iCount;
};

bool buildImages(const char* asFile, const VIDINFHDR& v, DIMAGE* pImages, int* apiUserBreak,
                 double* apdProgress, double dProgressStart, std::string& sError) {
  const DIMAGE templateImg = makeTemplate(asFile, v);
  const uint64_t uiFrameBytes = static_cast<uint64_t>(v.width) * v.height * (v.bpp / 8);
  const int32_t n = v.numframes;
  const uint32_t S = static_cast<uint32_t>(uiFrameBytes);
  for (int32_t i = 0; i < n; ++i) {
    if (interruptRequested(apiUserBreak)) {
      sError = "Interrupted by user.";
      return false;
    }
    if (v.framebits[i] == nullptr) {
      sError = "Parameter apInVinf->framebits[" + std::to_string(i) + "] must not be NULL.";
      return false;
    }
    // Frames beyond the transport limit cannot pass the validity check: they
    // are refused where the check would run, with its reason in the log, but
    // before their copy is allocated. This also keeps the 32-bit size fields
    // from wrapping. All frames share one size, so the first one decides.
    if (uiFrameBytes > MAX_TRANSPORT_SIZE) {
      logOversizedFrame(templateImg, v, i, uiFrameBytes);
      sError = "_internal_qvCheckImageValidity failed at image " + std::to_string(i + 1) + " of " +
               std::to_string(n) + ".";
      return false;
    }
    DIMAGE& imgI = pImages[i];
    imgI = templateImg;
    imgI.frameBuffer = static_cast<uint8_t*>(std::malloc(S));
    if (imgI.frameBuffer == nullptr) {
      sError = "Memory allocation error ImageBits[" + std::to_string(i + 1) + " of " +
               std::to_string(n) + "] size=" + std::to_string(S) + " bytes.";
      return false;
    }
    setFrameFields(imgI, v, i, S);
    std::memcpy(imgI.frameBuffer, v.framebits[i], S);
    if (!_internal_qvCheckImageValidity(&imgI)) {
      sError = "_internal_qvCheckImageValidity failed at image " + std::to_string(i + 1) + " of " +
               std::to_string(n) + ".";
      return false;
    }
    reportProgress(apdProgress,
                   dProgressStart + (1.0 - dProgressStart) * static_cast<double>(i + 1) / n);
  }
  return true;
}

}  // namespace

bool _internal_VIDINFHDRToBunch(const char* file, VIDINFHDR* in, QVBUNCHOFIMAGES* out,
                                int* userbreak, double* progress, double progressStart,
                                std::string& sErrorString) {
  std::string sError;
  if (!checkRecordAndBunch(in, out, sError)) {
    qvFreeBunch(out);  // the caller passes an empty bunch and gets one back
    sErrorString = sError;
    return false;
  }
  const size_t n = static_cast<size_t>(in->numframes);
  ImagesUnderConstruction images(n);
  if (images.get() == nullptr) {
    qvFreeBunch(out);
    sErrorString = "Memory allocation error imageArray[" + std::to_string(n) + "].";
    return false;
  }
  if (!buildImages(file, *in, images.get(), userbreak, progress, progressStart, sError)) {
    images.reset();
    qvFreeBunch(out);
    sErrorString = sError;
    return false;
  }
  out->imageArray = images.release();
  out->numFrames = static_cast<uint32_t>(n);
  return true;
}
