#include "progress.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "system.h"

namespace qvtool {

namespace {

void drawBar(const char* label, double fraction) {
  if (!(fraction >= 0.0)) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  std::fprintf(stderr, "\r%-10s [%.*s%*s] %3d%%", label, filled, "##############################",
               kWidth - filled, "", static_cast<int>(fraction * 100.0 + 0.5));
  std::fflush(stderr);
}

}  // namespace

int withProgress(const char* label, const std::function<int(double*)>& work) {
  double progress = 0.0;
  if (!sys::standardErrorIsTerminal()) return work(&progress);
  std::atomic<bool> done{false};
  // The library stores the value with plain stores; a torn read can only
  // draw a momentarily odd bar.
  std::thread bar([&] {
    while (!done.load()) {
      drawBar(label, *static_cast<volatile double*>(&progress));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  const int result = work(&progress);
  done = true;
  bar.join();
  drawBar(label, progress);
  std::fputc('\n', stderr);
  return result;
}

}  // namespace qvtool
