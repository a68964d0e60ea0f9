// Threads of the test process, and the codec's thread count set for a scope.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qvtest {

// Threads the process has right now. On Linux a thread that is ending (one
// just joined, say, which the system lists a moment longer) does not count.
size_t threadsInProcess();
// The same, after one thread was started and joined and the caller kept a
// test trace: the runtime's own helpers (a sanitizer's background thread, the
// test framework's watcher of the caller's trace on Windows) exist from then on.
size_t threadsAfterWarmUp();

// Sets KELTA_CLIENTLIB_CODEC_THREADS (null: unsets it) until the scope ends.
class ScopedCodecThreads {
 public:
  explicit ScopedCodecThreads(const char* value);
  explicit ScopedCodecThreads(unsigned threads)
      : ScopedCodecThreads(std::to_string(threads).c_str()) {}
  ~ScopedCodecThreads();
  ScopedCodecThreads(const ScopedCodecThreads&) = delete;
  ScopedCodecThreads& operator=(const ScopedCodecThreads&) = delete;

 private:
  std::optional<std::string> m_previous;
};

}  // namespace qvtest
