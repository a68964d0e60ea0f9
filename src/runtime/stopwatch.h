// Elapsed time for retry and timeout loops.
#pragma once

#include <chrono>

namespace qv::runtime {

// Measures on a monotonic clock, so that a change of the time setting can
// neither end a loop early nor keep it running for ever.
class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  }
  double milliseconds() const { return seconds() * 1000.0; }

 private:
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace qv::runtime
