// The content probes of every sequence format.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  char reason[256];
  qvCheckFileFormat(qvfuzz::asFile(data, size, ".dat"), reason, sizeof reason);
  return 0;
}
