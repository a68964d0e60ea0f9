// The IMC/BKC reader in each of its entry points; the first byte chooses.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  qvfuzz::Input input(data, size);
  const uint8_t choice = input.take<uint8_t>();
  const char* path = qvfuzz::asFile(input.rest(), input.left(), ".imc");
  VIDINFHDR vinf;
  initialize_vidinfhdr(&vinf);
  switch (choice % 3) {
    case 0:
      load_imc_file(path, &vinf);
      break;
    case 1:
      load_bkc_file(path, &vinf);
      break;
    default:
      load_imc_bkc_file(path, &vinf, static_cast<int8_t>(choice) >> 2);
      break;
  }
  free_vidinfhdr(&vinf);
  return 0;
}
