// Image model internals: derived sizes, the CDIMAGE class with the validity
// rules and the text renderings, header dumps, and image comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/compiler.h"
#include "quivox3/quivox3.h"

static_assert(sizeof(SOURCEHEADER) == 88, "SOURCEHEADER is an external format");
static_assert(sizeof(FRAMEHEADER) == 100, "FRAMEHEADER is an external format");
static_assert(sizeof(IMAGEHEADER) == QV_HDR_IMAGE_SIZE, "hdrImage is an external format");
static_assert(sizeof(DIMAGE) == QV_DIMAGE_SIZE, "DIMAGE is 200 bytes");
static_assert(offsetof(DIMAGE, frameHeader) == 88, "DIMAGE layout");
static_assert(offsetof(DIMAGE, frameHeader.appendedFrameSize) == 184, "DIMAGE layout");
static_assert(offsetof(DIMAGE, frameBufferSize) == 188, "DIMAGE layout");
static_assert(offsetof(DIMAGE, frameBuffer) == 192, "DIMAGE layout");

// Area of interest when above 0, else the source size.
inline int32_t getAppendedWidth(const DIMAGE& aImg) {
  return aImg.frameHeader.aoiWidth > 0 ? aImg.frameHeader.aoiWidth : aImg.frameHeader.sourceWidth;
}
inline int32_t getAppendedHeight(const DIMAGE& aImg) {
  return aImg.frameHeader.aoiHeight > 0 ? aImg.frameHeader.aoiHeight
                                        : aImg.frameHeader.sourceHeight;
}
inline int32_t getBytesPerPixel(const DIMAGE& aImg) { return aImg.frameHeader.bytesPerPixel; }

namespace qv::image {

// What uncompressedFrameSize gives for a header whose size no frame can have.
constexpr int64_t kUnrepresentableFrameSize = INT64_MAX;

// Width x height x bytes per pixel of the uncompressed frame. Three 32-bit
// factors can exceed 64 bits: such a size cannot be represented, and is
// reported as kUnrepresentableFrameSize, larger than any frame a buffer holds.
inline int64_t uncompressedFrameSize(const DIMAGE& aImg) {
  int64_t iSize = 0;
  if (!qv::platform::multiplyChecked(getAppendedWidth(aImg), getAppendedHeight(aImg), iSize) ||
      !qv::platform::multiplyChecked(iSize, getBytesPerPixel(aImg), iSize)) {
    return kUnrepresentableFrameSize;
  }
  return iSize;
}

// The header as the validity rules would see it with its frame present: the
// rules look at the buffer's address and size, never at its bytes.
inline DIMAGE withStandInFrame(DIMAGE aHeader, uint32_t aiFrameBytes) {
  static uint8_t s_standIn;
  aHeader.frameBuffer = &s_standIn;
  aHeader.frameBufferSize = aiFrameBytes;
  return aHeader;
}

// The header a loader starts from: tags set, every field unknown (-1), no
// time stamp, no frame.
inline DIMAGE unknownHeader() {
  DIMAGE t{};
  t.sourceHeader.baseTag = QV_BASE_TAG;
  t.sourceHeader.versionTag = 1;
  t.sourceHeader.totalLength = QV_HDR_IMAGE_SIZE;
  FRAMEHEADER& f = t.frameHeader;
  for (int32_t* p : {&f.sourceWidth, &f.sourceHeight, &f.aoiWidth, &f.aoiHeight, &f.xStart,
                     &f.yStart, &f.bytesPerPixel, &f.effectiveBitsPerPixel, &f.horizontalBinning,
                     &f.verticalBinning, &f.sourceFormat, &f.imageFormat, &f.ispare1, &f.ispare2,
                     &f.ispare3, &f.appendedFrameSize}) {
    *p = -1;
  }
  for (float* p :
       {&f.xScale, &f.yScale, &f.imageRotation, &f.scale_x_offset, &f.scale_y_offset, &f.fspare3}) {
    *p = -1.0f;
  }
  return t;
}

// Most records a bunch may hold: n x 200 bytes must fit 32 bits, the width
// of every size in the interface; larger requests are refused.
constexpr uint32_t kMaxBunchFrames = UINT32_MAX / sizeof(DIMAGE);

// Tolerance of isApproximately on the scales of a sequence's images.
constexpr float kScaleTolerance = 1e-5f;

}  // namespace qv::image

class CDIMAGE {
 public:
  explicit CDIMAGE(const DIMAGE& aImg);
  ~CDIMAGE();
  CDIMAGE(const CDIMAGE&) = delete;
  CDIMAGE& operator=(const CDIMAGE&) = delete;

  // Validity rules; on false sMessageWhyInvalid holds the reason.
  static bool checkValidity(const DIMAGE& aImg, std::string& sMessageWhyInvalid);

  // Flag words: always written (cut to the buffer), size needed always reported.
  static char* getFlagsAsString(uint32_t auiFlags, char* asBuffer, size_t* apiSize);
  static bool getFlagsFromString(const char* asWords, uint32_t* apuiFlags);
  // Format names: written only when they fit; otherwise null and size needed.
  static char* getFormatAsString(int aiFormat, bool abLongForm, char* asBuffer, size_t* apiSize);
  static bool getFormatFromString(const char* asName, int* apiFormat);

  char* getImageFormatAsString(char* asBuffer, size_t* apiSize) const;
  char* getSourceFormatAsString(char* asBuffer, size_t* apiSize) const;

 private:
  DIMAGE m_Img;
  bool m_bOwnsFrameBuffer;
};

// 1 valid, 0 null image, -1 invalid; logs and returns the reason otherwise.
int _internal_qvCheckImageValidityEx(DIMAGE* apImg, std::string& sErrorString);
bool _internal_qvCheckImageValidity(DIMAGE* apImg);

void _internal_dumpImageHeader(const DIMAGE* apImg);

// Equality within a tolerance; NaN on either side is unequal.
bool isApproximately(float afValue, float afReference, float afTolerance);
bool isApproximately(double adValue, double adReference, double adTolerance);

// 1 alike, else -1..-15: the first header field that differs.
int _internal_qvcompareTwoValidImagesINT(const DIMAGE* apFirst, const DIMAGE* apSecond);
