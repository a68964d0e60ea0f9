#include "harness.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace qvfuzz {

const char* asFile(const uint8_t* data, size_t size, const char* ending) {
  static std::string path;
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  path = std::string(folder) + "/qvfuzz-" + std::to_string(::getpid()) + ending;
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  return path.c_str();
}

void quietLibrary() {
  static bool done = false;
  if (done) return;
  done = true;
  qvSetVerbose(0);
}

}  // namespace qvfuzz
