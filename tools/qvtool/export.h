// Frames to pictures: PNG at full depth, or 8-bit BMP through the library's
// legacy writer.
#pragma once

#include <optional>
#include <string>

#include "report.h"
#include "sequence.h"

namespace qvtool {

// Writes prefix001.bmp, ... for the first maxFrames frames (0: all).
std::optional<Problem> writeBmpFiles(Bunch& bunch, const std::string& prefix, int palette,
                                     uint32_t maxFrames);

// Writes prefix001.png, ... for the first maxFrames frames (0: all): grey
// frames of 8 or 16 bits and RGB frames as they are, JPEG frames decoded.
std::optional<Problem> writePngFiles(Bunch& bunch, const std::string& prefix, uint32_t maxFrames);

}  // namespace qvtool
