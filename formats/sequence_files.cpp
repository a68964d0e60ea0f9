#include "formats/sequence_files.h"

#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "runtime/caller_flags.h"

namespace qvformats {

bool stopRequested(const Control& control, std::string& why) {
  if (!qv::runtime::interruptRequested(control.interrupt)) return false;
  why = "interrupted";
  return true;
}

void reportFraction(const Control& control, uint32_t done, uint32_t total) {
  if (total > 0) qv::runtime::reportProgress(control.progress, static_cast<double>(done) / total);
}

bool requireEmptyBunch(const QVBUNCHOFIMAGES* bunch, std::string& why) {
  if (bunch != nullptr && bunch->numFrames == 0 && bunch->imageArray == nullptr) return true;
  why = "the bunch to load into must be empty";
  return false;
}

Container containerOf(const std::string& path) {
  qv::platform::FilePtr file = qv::platform::openForReading(path.c_str());
  if (!file) return Container::kOther;
  unsigned char head[8] = {};
  const size_t got = std::fread(head, 1, sizeof head, file.get());
  static const unsigned char kHdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  // HDF5 files may start with a user block of 512, 1024, ... bytes; the
  // files of this layout have none, and HDF5 itself looks further.
  if (got == 8 && std::memcmp(head, kHdf5, 8) == 0) return Container::kHdf5;
  if (got >= 4 &&
      ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
       (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43))))
    return Container::kTiff;
  return Container::kOther;
}

bool requireSequence(const QVBUNCHOFIMAGES& bunch, std::string& why) {
  if (bunch.numFrames == 0 || bunch.imageArray == nullptr) {
    why = "no frames to save";
    return false;
  }
  if (qvIsSequence(const_cast<QVBUNCHOFIMAGES*>(&bunch)) != 1) {
    why = "the frames are no sequence (invalid headers, or headers that differ)";
    return false;
  }
  return true;
}

}  // namespace qvformats
