// Sequences in the field's own file formats: HDF5 in the NeXus layout and
// multi-page TIFF, written from and read into the library's bunches, and
// conversions between IMC2 and HDF5 that move the stored frames as they are.
//
// Every call reports failure as false (or kFailed) with a reason in plain
// words, leaves no file behind when writing failed, and frees whatever it
// allocated. Writers never replace an existing file.
#pragma once

#include <string>

#include "image/frame_block.h"
#include "quivox3/quivox3.h"

namespace qvformats {

// Interrupt flag (1 abandons the call) and progress (0 to 1), both optional,
// as the library's own loaders and savers take them.
struct Control {
  int* interrupt = nullptr;
  double* progress = nullptr;
};
// For the component's own calls: true with why "interrupted" when the flag
// asks to stop; progress as the fraction of frames done; refusing a bunch
// that is not empty or frames that are no sequence.
bool stopRequested(const Control& control, std::string& why);
void reportFraction(const Control& control, uint32_t done, uint32_t total);
bool requireEmptyBunch(const QVBUNCHOFIMAGES* bunch, std::string& why);
// A bunch the writers take: frames that are one sequence.
bool requireSequence(const QVBUNCHOFIMAGES& bunch, std::string& why);

enum class Container { kOther, kHdf5, kTiff };
// By the file's first bytes, not its name.
Container containerOf(const std::string& path);

// ---- HDF5 / NeXus ----
struct NexusOptions {
  bool shuffle = false;  // HDF5's byte shuffle before deflate (16- and 32-bit frames)
};
bool saveNexus(const QVBUNCHOFIMAGES& bunch, const std::string& path, const NexusOptions& options,
               const Control& control, std::string& why);
// Into an empty bunch, filled only on success (free it with qvFreeBunch). With
// a block, frames go into it where they fit (see qv::image::FrameBlock).
bool loadNexus(const std::string& path, QVBUNCHOFIMAGES* bunch, const Control& control,
               std::string& why, qv::image::FrameBlock* block = nullptr);

// Conversions without inflating and compressing the frames again. kNotDirect
// when the files do not allow it (then nothing was written): the caller
// loads and saves instead. `frames` is the number converted.
enum class Conversion { kDone, kNotDirect, kFailed };
Conversion convertImc2ToNexus(const std::string& imc2, const std::string& nexus,
                              const NexusOptions& options, const Control& control, std::string& why,
                              uint32_t& frames);
Conversion convertNexusToImc2(const std::string& nexus, const std::string& imc2,
                              const Control& control, std::string& why, uint32_t& frames);

// ---- TIFF ----
// One page per frame (8/16-bit grey, 8-bit RGB), deflate, the header fields
// as key=value lines in each page's description.
bool saveTiff(const QVBUNCHOFIMAGES& bunch, const std::string& path, const Control& control,
              std::string& why);
bool loadTiff(const std::string& path, QVBUNCHOFIMAGES* bunch, const Control& control,
              std::string& why, qv::image::FrameBlock* block = nullptr);

}  // namespace qvformats
