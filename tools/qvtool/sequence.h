// Sequences as the tool holds them: a bunch that frees itself, loading with
// plain explanations, and the words for formats, flags and times.
#pragma once

#include <cstdint>
#include <string>

#include "quivox3/quivox3.h"
#include "report.h"

namespace qvtool {

class Bunch {
 public:
  Bunch() { qvInitializeBunchStructure(&m_bunch); }
  ~Bunch() { qvFreeBunch(&m_bunch); }
  Bunch(const Bunch&) = delete;
  Bunch& operator=(const Bunch&) = delete;
  QVBUNCHOFIMAGES* get() { return &m_bunch; }
  const QVBUNCHOFIMAGES* get() const { return &m_bunch; }
  uint32_t size() const { return m_bunch.numFrames; }
  bool empty() const { return m_bunch.numFrames == 0; }
  DIMAGE& operator[](uint32_t i) { return m_bunch.imageArray[i]; }
  const DIMAGE& operator[](uint32_t i) const { return m_bunch.imageArray[i]; }

 private:
  QVBUNCHOFIMAGES m_bunch;
};

// Loads any sequence file the library reads. interrupt may be null. On
// failure the problem says in plain words what is wrong with the file (exit
// code 130 when interrupted).
bool loadSequence(const std::string& path, Bunch& bunch, int* interrupt, Problem& problem);

std::string fileFormatName(int code);               // code of qvCheckFileFormat
std::string fileFormatOf(const std::string& path);  // any file loadSequence reads
std::string pixelFormatName(int code);
std::string flagWords(uint32_t flags);
std::string utcText(uint32_t seconds, uint32_t microseconds);
std::string cameraPortName(const DIMAGE& image);  // the 64-byte field, terminated or not
int frameWidth(const DIMAGE& image);              // area of interest, else the source size
int frameHeight(const DIMAGE& image);
std::string byteCount(uint64_t bytes);  // "53687091200 bytes (50.0 GiB)"

}  // namespace qvtool
