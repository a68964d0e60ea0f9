// Sequence files by content on load and by name on save: the work behind the
// exported calls, for the library's own bindings.
#pragma once

#include <string>

#include "imc2/imc2.h"
#include "quivox3/quivox3.h"

namespace qv::files {

// What qvLoadImagesFromFileEx does, the reason as a string. With a block,
// the frames of an IMC2/BKC2 file go into it where they fit (legacy files
// never use it). Returns 0 or the load code.
int loadImages(const char* asFilePath, QVBUNCHOFIMAGES* apImages, int* apiInInterrupt,
               double* apdOutPercentageFinished, std::string& sReason,
               qv::image::FrameBlock* apBlock = nullptr);

}  // namespace qv::files
