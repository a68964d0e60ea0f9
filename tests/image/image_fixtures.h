// Headers and bunches the image tests start from.
#pragma once

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

// A valid 640 x 480 GRAY frame of 1 byte per pixel, zero-based, no area of
// interest. The frame buffer is borrowed: the checks never read it.
inline DIMAGE validGrayImage(uint8_t* apFrameBuffer) {
  DIMAGE img;
  std::memset(&img, 0, sizeof img);
  img.sourceHeader.baseTag = QV_BASE_TAG;
  img.sourceHeader.versionTag = 1;
  img.sourceHeader.totalLength = 188 + 307200;
  std::strcpy(img.sourceHeader.cameraPortName, "port");
  img.frameHeader.sourceWidth = 640;
  img.frameHeader.sourceHeight = 480;
  img.frameHeader.aoiWidth = -1;
  img.frameHeader.aoiHeight = -1;
  img.frameHeader.bytesPerPixel = 1;
  img.frameHeader.effectiveBitsPerPixel = 8;
  img.frameHeader.sourceFormat = CF_IMAGE_FORMAT_GRAY;
  img.frameHeader.imageFormat = CF_IMAGE_FORMAT_GRAY;
  img.frameHeader.frameNumber = 1;
  img.frameHeader.xScale = 0.1f;
  img.frameHeader.yScale = 0.1f;
  img.frameHeader.appendedFrameSize = 307200;
  img.frameBufferSize = 307200;
  img.frameBuffer = apFrameBuffer;
  return img;
}

// Makes the size fields agree with an appended frame of the given length.
inline void setAppendedSize(DIMAGE& img, int32_t aiBytes) {
  img.frameHeader.appendedFrameSize = aiBytes;
  img.sourceHeader.totalLength = 188 + static_cast<uint32_t>(aiBytes > 0 ? aiBytes : 0);
  if (aiBytes > 0) img.frameBufferSize = static_cast<uint32_t>(aiBytes);
}

// The messages of a captured log, without their time stamps.
inline std::vector<std::string> logMessages(const std::string& asLog) {
  std::vector<std::string> messages;
  std::istringstream lines(asLog);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t pos = line.find(" LTM] ");
    messages.push_back(pos == std::string::npos ? line : line.substr(pos + 6));
  }
  return messages;
}
