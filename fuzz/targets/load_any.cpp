// Any sequence file through the exported load dispatch (IMC2/BKC2 and the
// legacy IMM, BKG, IMC, BKC readers), then what callers do with the result.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  QVBUNCHOFIMAGES bunch;
  qvInitializeBunchStructure(&bunch);
  char reason[256];
  if (qvLoadImagesFromFileEx(qvfuzz::asFile(data, size, ".dat"), &bunch, nullptr, nullptr, reason,
                             sizeof reason) == 0) {
    qvIsSequence(&bunch);
    qvIsCompleteSequence(&bunch);
    for (uint32_t i = 0; i < bunch.numFrames; ++i)
      qvCheckImageValidity(&bunch.imageArray[i], reason, sizeof reason);
  }
  qvFreeBunch(&bunch);
  return 0;
}
