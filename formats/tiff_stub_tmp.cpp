#include "formats/sequence_files.h"
namespace qvformats {
bool saveTiff(const QVBUNCHOFIMAGES&, const std::string&, const Control&, std::string& why) { why = "TIFF not yet"; return false; }
bool loadTiff(const std::string&, QVBUNCHOFIMAGES*, const Control&, std::string& why, qv::image::FrameBlock*) { why = "TIFF not yet"; return false; }
}
