// Frames to 8-bit BMP pictures through the library's legacy writer.
#pragma once

#include <optional>
#include <string>

#include "report.h"
#include "sequence.h"

namespace qvtool {

// Writes prefix001.bmp, ... for the first maxFrames frames (0: all).
std::optional<Problem> writeBmpFiles(Bunch& bunch, const std::string& prefix, int palette,
                                     uint32_t maxFrames);

}  // namespace qvtool
