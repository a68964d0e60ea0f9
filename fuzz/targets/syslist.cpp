// A system list file through every name listing.
#include <vector>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  const char* path = qvfuzz::asFile(data, size, ".xml");
  unsigned count = 0;
  if (qvGetAllImageSourceNames(path, nullptr, nullptr, &count) == 1 && count > 0 &&
      count < 100000) {
    std::vector<QVIMAGESOURCEPAIR> pairs(count);
    std::vector<char> names(static_cast<size_t>(count) * QV_NAME_SLOT_SIZE);
    unsigned asked = count;
    qvGetAllImageSourceNames(path, nullptr, pairs.data(), &asked);
    asked = count;
    qvGetAllImageSourceNames(path, names.data(), nullptr, &asked);
  }
  char context[QV_TINE_CONTEXT_SIZE + 1] = "";
  unsigned servers = 0;
  if (qvGetAllRawVideoServerNames(path, context, nullptr, &servers) == 1 && servers > 0 &&
      servers < 100000) {
    std::vector<char> names(static_cast<size_t>(servers) * QV_NAME_SLOT_SIZE);
    qvGetAllRawVideoServerNames(path, nullptr, names.data(), &servers);
  }
  return 0;
}
