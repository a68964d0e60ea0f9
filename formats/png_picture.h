// PNG pictures of frames, at their full depth: 8- or 16-bit grey, 8-bit RGB.
#pragma once

#include <string>

#include "quivox3/quivox3.h"

namespace qvformats {

// True when writePng takes the frame as it is (GRAY of 1 or 2 bytes per
// pixel, RGB of 3); JPEG and other coded frames must be decoded first.
bool pngCanHold(const DIMAGE& image);

// Writes the frame (its area of interest) to a new PNG file at `path`:
// 16-bit samples keep their value, the effective bits go into the sBIT
// chunk. False with the reason on failure; no file is left then.
bool writePng(const std::string& path, const DIMAGE& image, std::string& why);

}  // namespace qvformats
