// Writes every field of an image header into the log, one line per field,
// for the diagnosis of images that were refused.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "image/image.h"
#include "platform/platform.h"
#include "runtime/log.h"

namespace {

const char kConversionError[] = "(Error converting to string)";

void formatTimestamp(const DIMAGE& aImg, char (&asTimeString)[100]) {
  const uint32_t uiSeconds = aImg.sourceHeader.timestampSeconds;
  const uint32_t uiMicroseconds = aImg.sourceHeader.timestampMicroseconds;
  std::snprintf(asTimeString, sizeof asTimeString, "%d:%d (epochsec:msec)",
                static_cast<int>(uiSeconds), static_cast<int>(uiMicroseconds));
  struct tm local;
  if (!qv::platform::localCalendar(static_cast<int32_t>(uiSeconds), local)) return;
  std::snprintf(asTimeString, sizeof asTimeString, "[%02d.%02d.%02d %02d:%02d:%02d:%03d LTM]",
                local.tm_mday, local.tm_mon + 1, (local.tm_year + 1900) % 100, local.tm_hour,
                local.tm_min, local.tm_sec, static_cast<int>(uiMicroseconds / 1000));
}

// A tag byte that is a terminator or a control character would cut or break
// the log line; it is shown as a dot, the hexadecimal value tells the rest.
char printableTagByte(uint32_t auiTag, int aiIndex) {
  const unsigned char c = static_cast<unsigned char>(auiTag >> (8 * aiIndex));
  return std::isprint(c) ? static_cast<char>(c) : '.';
}

}  // namespace

void _internal_dumpImageHeader(const DIMAGE* apImg) {
  if (apImg == nullptr) return;
  const SOURCEHEADER& s = apImg->sourceHeader;
  const FRAMEHEADER& f = apImg->frameHeader;

  char timeString[100];
  formatTimestamp(*apImg, timeString);

  char sTmp[30];
  size_t iSize = sizeof sTmp;
  const char* sSourceFormat = CDIMAGE::getFormatAsString(f.sourceFormat, true, sTmp, &iSize);
  const std::string sSourceFormatText = sSourceFormat != nullptr ? sSourceFormat : kConversionError;
  iSize = sizeof sTmp;
  const char* sImageFormat = CDIMAGE::getFormatAsString(f.imageFormat, true, sTmp, &iSize);
  const std::string sImageFormatText = sImageFormat != nullptr ? sImageFormat : kConversionError;

  char sTmpFlags[200];
  size_t iFlagsSize = sizeof sTmpFlags;
  const char* sFlags = CDIMAGE::getFlagsAsString(f.imageFlags, sTmpFlags, &iFlagsSize);
  if (sFlags == nullptr || sFlags[0] == '\0') sFlags = kConversionError;

  _internal_log("Dumping qvv3 image header START");
  _internal_log("===============================");
  _internal_log("%s", "");
  _internal_log("DIMAGE.sourceHeader");
  _internal_log("   baseTag='%c%c%c%c' (%xh)", printableTagByte(s.baseTag, 0),
                printableTagByte(s.baseTag, 1), printableTagByte(s.baseTag, 2),
                printableTagByte(s.baseTag, 3), s.baseTag);
  _internal_log("   cameraPortId=%d", s.cameraPortId);
  _internal_log("   versionTag=%u", s.versionTag);
  _internal_log("   totalLength=%u (bytes)", s.totalLength);
  _internal_log("   timestampSeconds=%u (sec since epoch)", s.timestampSeconds);
  _internal_log("   timestampMicroseconds=%u (usec offset, 0 <= value < 1.000.000)",
                s.timestampMicroseconds);
  _internal_log("   =timestamp %s", timeString);
  _internal_log("   cameraPortName=\"%.64s\"", s.cameraPortName);
  _internal_log("%s", "");
  _internal_log("DIMAGE.frameHeader");
  _internal_log("   sourceWidth  = %d (pixels)", f.sourceWidth);
  _internal_log("   sourceHeight = %d (pixels)", f.sourceHeight);
  _internal_log("   aoiWidth     = %d (pixels)", f.aoiWidth);
  _internal_log("   aoiHeight    = %d (pixels)", f.aoiHeight);
  _internal_log("   xStart = %d (offset in pixels, see flags!)", f.xStart);
  _internal_log("   yStart = %d (offset in pixels, see flags!)", f.yStart);
  _internal_log("   bytesPerPixel = %d (bytes)", f.bytesPerPixel);
  _internal_log("   effectiveBPP = %d (bits per pixel)", f.effectiveBitsPerPixel);
  _internal_log("   horizontalBinning = %d (%d to 1 pixel merged)", f.horizontalBinning,
                f.horizontalBinning);
  _internal_log("   verticalBinning = %d (%d to 1 pixel merged)", f.verticalBinning,
                f.verticalBinning);
  _internal_log("   sourceFormat = %d (=%s)", f.sourceFormat, sSourceFormatText.c_str());
  _internal_log("   imageFormat = %d (=%s)", f.imageFormat, sImageFormatText.c_str());
  _internal_log("   frameNumber = %u", f.frameNumber);
  _internal_log("   eventNumber = %u", f.eventNumber);
  _internal_log("   xScale = %f (pixel per millimetre)", static_cast<double>(f.xScale));
  _internal_log("   yScale = %f (pixel per millimetre)", static_cast<double>(f.yScale));
  _internal_log("   imageRotation = %f (degrees, +CW -CCW)", static_cast<double>(f.imageRotation));
  _internal_log("   scale_x_offset = %f", static_cast<double>(f.scale_x_offset));
  _internal_log("   scale_y_offset = %f", static_cast<double>(f.scale_y_offset));
  _internal_log("   fspare3 = %f", static_cast<double>(f.fspare3));
  _internal_log("   imageFlags = %xh (=%s)", f.imageFlags, sFlags);
  _internal_log("   ispare1 = %d", f.ispare1);
  _internal_log("   ispare2 = %d", f.ispare2);
  _internal_log("   ispare3 = %d", f.ispare3);
  _internal_log("   appendedFrameSize = %d (bytes)", f.appendedFrameSize);
  _internal_log("%s", "");
  _internal_log("DIMAGE.frameBufferSize=%u (bytes)", apImg->frameBufferSize);
  _internal_log("DIMAGE.frameBuffer=0x%#llx (memory location ptr)",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(apImg->frameBuffer)));
  _internal_log("Dumping qvv3 image header end");
  _internal_log("=============================");
}
