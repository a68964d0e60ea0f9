// Plain words for a file the library would not load: decides from the
// content which format the file most resembles and, for a damaged sequence
// file, where it breaks off. Reads headers and lengths only, never pixels.
#pragma once

#include <string>

namespace qvtool {

// "x.imc2: file is truncated (image 3 of 10 incomplete)", "t.imm: not a
// sequence file this tool reads (looks like a truncated IMM file)", ...
// Empty when the file's structure looks sound, so the failure lies deeper
// (damaged compressed data, values out of range).
std::string explainUnreadable(const std::string& path);

}  // namespace qvtool
