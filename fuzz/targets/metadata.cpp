// Metadata records: 252-byte records read from a stream, and key=value texts
// validated against the global and the per-image key tables.
#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"
#include "imc2/metadata.h"

namespace {

using qv::imc2::kGlobalMetadataKeys;
using qv::imc2::kImageMetadataKeys;
using qv::imc2::kNumGlobalMetadataKeys;
using qv::imc2::kNumImageMetadataKeys;

void validateLines(const std::string& text) {
  std::vector<METADATA_KEY_DEFINITION> global(std::begin(kGlobalMetadataKeys),
                                              std::end(kGlobalMetadataKeys));
  std::vector<METADATA_KEY_DEFINITION> image(std::begin(kImageMetadataKeys),
                                             std::end(kImageMetadataKeys));
  char message[256];
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    _internal_validate_metadata_keyvalue(line.c_str(), global.data(), kNumGlobalMetadataKeys,
                                         message, sizeof message);
    _internal_validate_metadata_keyvalue(line.c_str(), image.data(), kNumImageMetadataKeys, message,
                                         sizeof message);
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  if (size > 0) {
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (stream != nullptr) {
      std::string key, value;
      while (_internal_read_metadata_set_from_file(stream, key, value) == 0) {
      }
      std::fclose(stream);
    }
  }
  validateLines(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
