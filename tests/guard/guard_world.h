// What the memory-pressure tests work on: a sequence of grey images, files
// of it in IMC2 and legacy formats, a JPEG image from the stand-in's camera,
// an invalid image and the stand-in's small camera for grabs.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "quivox3/quivox3.h"
#include "support/tempdir.h"

constexpr char kGuardCamera[] = "/GUARD/VIDEO/SMALL";
constexpr char kGuardJpegCamera[] = "/GUARD/VIDEO/JPEG";
constexpr uint32_t kGuardFrames = 3;

// Fills image i of a bunch whose frame buffers hold width x height x
// bytesPerPixel bytes with a valid GRAY header and a pattern.
void setGreyImage(DIMAGE& img, uint32_t i, int32_t width, int32_t height, int32_t bytesPerPixel);

// A bunch of n valid grey images; false when memory is short.
bool makeGreySequence(QVBUNCHOFIMAGES& bunch, uint32_t n, int32_t width, int32_t height,
                      int32_t bytesPerPixel);

class GuardWorld {
 public:
  GuardWorld();
  ~GuardWorld();
  GuardWorld(const GuardWorld&) = delete;
  GuardWorld& operator=(const GuardWorld&) = delete;

  TempDir dir;
  QVBUNCHOFIMAGES sequence{};              // kGuardFrames images, 64 x 48 GRAY16
  QVBUNCHOFIMAGES out{};                   // target of loads and grabs
  VIDINFHDR record{};                      // target of legacy loads and conversions
  VIDINFHDR legacy{};                      // the sequence as a legacy record
  DIMAGE* jpeg = nullptr;                  // a JPEG frame as the camera sent it
  DIMAGE decoded{};                        // target of decompression
  DIMAGE invalid{};                        // fails the validity rules
  std::string imc2File, imcFile, immFile;  // the sequence saved
  // Output files by extension (".imc2", ".imc", ".imm"), named beforehand.
  const std::string& output(const char* asExtension) const;
  char reason[256] = {};

 private:
  std::map<std::string, std::string> m_outputs;

 public:
  int error = -99;
  int tineError = -99;
};
