#include "guard_world.h"

#include <cstring>
#include <stdexcept>

#include "tinesim/control.h"

void setGreyImage(DIMAGE& img, uint32_t i, int32_t width, int32_t height, int32_t bytesPerPixel) {
  uint8_t* pFrame = img.frameBuffer;
  const uint32_t uiCapacity = img.frameBufferSize;
  const int32_t iBytes = width * height * bytesPerPixel;
  std::memset(&img, 0, sizeof img);
  img.frameBuffer = pFrame;
  img.frameBufferSize = uiCapacity;
  img.sourceHeader.baseTag = QV_BASE_TAG;
  img.sourceHeader.versionTag = 1;
  img.sourceHeader.totalLength = QV_HDR_IMAGE_SIZE + static_cast<uint32_t>(iBytes);
  img.sourceHeader.timestampSeconds = 1700000000u + i;
  std::strcpy(img.sourceHeader.cameraPortName, "/GUARD/VIDEO/SMALL");
  img.sourceHeader.cameraPortId = 7;
  img.frameHeader.sourceWidth = width;
  img.frameHeader.sourceHeight = height;
  img.frameHeader.aoiWidth = -1;
  img.frameHeader.aoiHeight = -1;
  img.frameHeader.bytesPerPixel = bytesPerPixel;
  img.frameHeader.effectiveBitsPerPixel = 8 * bytesPerPixel;
  img.frameHeader.sourceFormat = CF_IMAGE_FORMAT_GRAY;
  img.frameHeader.imageFormat = CF_IMAGE_FORMAT_GRAY;
  img.frameHeader.frameNumber = i + 1;
  img.frameHeader.eventNumber = i + 100;
  img.frameHeader.xScale = 0.5f;
  img.frameHeader.yScale = 0.5f;
  img.frameHeader.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
  img.frameHeader.appendedFrameSize = iBytes;
  for (int32_t b = 0; b < iBytes; ++b) pFrame[b] = static_cast<uint8_t>((b / 7 + 3 * i) & 0x3F);
}

bool makeGreySequence(QVBUNCHOFIMAGES& bunch, uint32_t n, int32_t width, int32_t height,
                      int32_t bytesPerPixel) {
  qvInitializeBunchStructure(&bunch);
  const uint32_t uiBytes = static_cast<uint32_t>(width * height * bytesPerPixel);
  if (qvCreateBunchStructure(&bunch, n, uiBytes) != 1) {
    qvFreeBunch(&bunch);
    return false;
  }
  for (uint32_t i = 0; i < n; ++i)
    setGreyImage(bunch.imageArray[i], i, width, height, bytesPerPixel);
  return true;
}

GuardWorld::GuardWorld() {
  tinesimReset();
  tinesimAddImageProperty(kGuardCamera, "Frame", 64, 16, TINESIM_GRAY8);
  tinesimAddImageProperty(kGuardJpegCamera, "Frame", 64, 48, TINESIM_JPEG_GRAY);
  qvInitializeBunchStructure(&out);
  initialize_vidinfhdr(&record);
  if (!makeGreySequence(sequence, kGuardFrames, 64, 48, 2)) throw std::runtime_error("no sequence");

  imc2File = dir.file("sequence.imc2");
  imcFile = dir.file("sequence.imc");
  immFile = dir.file("sequence.imm");
  for (const char* extension : {".imc2", ".imc", ".imm"})
    m_outputs[extension] = dir.file(std::string("output") + extension);
  for (const std::string* file : {&imc2File, &imcFile, &immFile})
    if (qvSaveImagesToFile(&sequence, file->c_str()) != QV_E_NONE)
      throw std::runtime_error("cannot save " + *file);

  jpeg = qvInitializeImageEx(64 * 48 * 3);
  int code = 0;
  if (jpeg == nullptr ||
      qvGrabFrame(jpeg, nullptr, kGuardJpegCamera, "Frame", 1000, QV_CA_READ, &code) != 1 ||
      jpeg->frameHeader.imageFormat != CF_IMAGE_FORMAT_JPEG)
    throw std::runtime_error("no JPEG frame");

  initialize_vidinfhdr(&legacy);
  if (qvBunchToVIDINFHDR(&sequence, &legacy) != 1) throw std::runtime_error("no legacy record");

  invalid = sequence.imageArray[0];
  invalid.frameHeader.bytesPerPixel = 9;
}

GuardWorld::~GuardWorld() {
  qvFreeBunch(&sequence);
  qvFreeBunch(&out);
  free_vidinfhdr(&record);
  free_vidinfhdr(&legacy);
  qvFreeImage(jpeg);
  tinesimReset();
}

const std::string& GuardWorld::output(const char* asExtension) const {
  return m_outputs.at(asExtension);
}
