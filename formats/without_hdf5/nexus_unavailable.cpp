// The HDF5/NeXus calls of a build without HDF5: each one refuses, in words
// the tool and its users can act on, and writes nothing.
#include "formats/sequence_files.h"

namespace qvformats {

namespace {
constexpr char kUnavailable[] =
    "HDF5 files are not supported by this build (it has no HDF5 library)";
}

bool saveNexus(const QVBUNCHOFIMAGES&, const std::string&, const NexusOptions&, const Control&,
               std::string& why) {
  why = kUnavailable;
  return false;
}

bool loadNexus(const std::string&, QVBUNCHOFIMAGES*, const Control&, std::string& why,
               qv::image::FrameBlock*) {
  why = kUnavailable;
  return false;
}

Conversion convertImc2ToNexus(const std::string&, const std::string&, const NexusOptions&,
                              const Control&, std::string& why, uint32_t& frames) {
  frames = 0;
  why = kUnavailable;
  return Conversion::kFailed;
}

Conversion convertNexusToImc2(const std::string&, const std::string&, const Control&,
                              std::string& why, uint32_t& frames) {
  frames = 0;
  why = kUnavailable;
  return Conversion::kFailed;
}

}  // namespace qvformats
