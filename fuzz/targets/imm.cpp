// The IMM reader, directly and through the legacy dispatch by name.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  const char* path = qvfuzz::asFile(data, size, ".imm");
  VIDINFHDR vinf;
  initialize_vidinfhdr(&vinf);
  load_imm_file(path, &vinf);
  free_vidinfhdr(&vinf);
  initialize_vidinfhdr(&vinf);
  load_file(0, path, &vinf);
  free_vidinfhdr(&vinf);
  return 0;
}
