// The BMP reader, with palette indices kept or mapped to grey.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  qvfuzz::Input input(data, size);
  const int keepIndices = input.take<uint8_t>() & 1;
  VIDINFHDR vinf;
  initialize_vidinfhdr(&vinf);
  load_bmp_file(qvfuzz::asFile(input.rest(), input.left(), ".bmp"), &vinf, keepIndices);
  free_vidinfhdr(&vinf);
  return 0;
}
