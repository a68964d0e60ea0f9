// The UTC time text of sequence files, parsed and rendered back.
#include <string>

#include "harness.h"
#include "runtime/timetext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  const std::string text(reinterpret_cast<const char*>(data), size);
  int64_t seconds = 0;
  uint32_t microseconds = 0;
  if (platformUTCStringToTime(text.c_str(), &seconds, &microseconds)) {
    char rendered[64];
    QVV3_INTERNAL_platformTimeToUTCString(seconds, static_cast<int>(microseconds), 1, 0, 0,
                                          rendered, sizeof rendered);
  }
  return 0;
}
