#include "support/threads.h"

#include <dirent.h>

#include <cstdlib>
#include <thread>

namespace qvtest {

namespace {
constexpr const char* kVariable = "KELTA_CLIENTLIB_CODEC_THREADS";

void setVariable(const char* value) {
  if (value != nullptr) {
    setenv(kVariable, value, 1);
  } else {
    unsetenv(kVariable);
  }
}
}  // namespace

size_t threadsInProcess() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}

size_t threadsAfterWarmUp() {
  std::thread([] {}).join();
  return threadsInProcess();
}

ScopedCodecThreads::ScopedCodecThreads(const char* value) {
  if (const char* previous = std::getenv(kVariable)) m_previous = previous;
  setVariable(value);
}

ScopedCodecThreads::~ScopedCodecThreads() {
  setVariable(m_previous ? m_previous->c_str() : nullptr);
}

}  // namespace qvtest
