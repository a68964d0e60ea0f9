// The single-frame and the multi-frame BKG readers.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  const char* path = qvfuzz::asFile(data, size, ".bkg");
  VIDINFHDR vinf;
  initialize_vidinfhdr(&vinf);
  load_bkg_file(path, &vinf);
  free_vidinfhdr(&vinf);
  initialize_vidinfhdr(&vinf);
  load_bkg_file_arb(path, &vinf);
  free_vidinfhdr(&vinf);
  return 0;
}
