// Multi-frame grab from a simulated server: 1000 frames of 1 MiB at a 1 ms
// link interval. Reports frames per second, the library's own cost per frame
// (time inside the link callback) next to one allocation plus one copy of a
// frame, and the delay from the last delivery to the return of the call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "tinesim/control.h"

namespace {

constexpr char kAddress[] = "/BENCH/VIDEO/CAM";
constexpr int kSide = 1024;  // 1024 x 1024 GRAY8 = 1 MiB
constexpr size_t kFrameBytes = static_cast<size_t>(kSide) * kSide;
constexpr unsigned kFrames = 1000;

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What every stored frame costs at least: one allocation and one copy. The
// frames are kept until the end, as the grab keeps them.
double mallocCopySecondsPerFrame(const std::vector<uint8_t>& source) {
  std::vector<void*> frames(kFrames);
  const double start = steadySeconds();
  for (void*& frame : frames) {
    frame = std::malloc(kFrameBytes);
    std::memcpy(frame, source.data(), kFrameBytes);
    benchmark::DoNotOptimize(frame);
  }
  const double seconds = (steadySeconds() - start) / kFrames;
  for (void* frame : frames) std::free(frame);
  return seconds;
}

void BM_GrabFrames1000x1MiB(benchmark::State& state) {
  setenv("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE", "1", 1);
  qvSetVerbose(0);
  tinesimReset();
  tinesimAddImageProperty(kAddress, "Frame", kSide, kSide, TINESIM_GRAY8);
  std::vector<uint8_t> source(kFrameBytes, 0x5A);
  double totalWall = 0, totalCallback = 0, totalDelay = 0, totalBaseline = 0;
  int totalCallbacks = 0, grabs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    int callbacksBefore = 0;
    double callbackBefore = 0;
    tinesimCallbackStatistics(&callbacksBefore, &callbackBefore, nullptr);
    QVBUNCHOFIMAGES bunch;
    qvInitializeBunchStructure(&bunch);
    int error = 0;
    state.ResumeTiming();

    const double start = steadySeconds();
    int received = qvGrabFramesEx2(&bunch, nullptr, kAddress, "Frame", kFrames, 1000, CM_TIMER,
                                   &error, nullptr, nullptr, nullptr);
    const double end = steadySeconds();

    state.PauseTiming();
    int callbacks = 0;
    double callbackSeconds = 0, lastReturn = 0;
    tinesimCallbackStatistics(&callbacks, &callbackSeconds, &lastReturn);
    if (received != static_cast<int>(kFrames) || error != 0) state.SkipWithError("grab incomplete");
    totalWall += end - start;
    totalCallback += callbackSeconds - callbackBefore;
    totalCallbacks += callbacks - callbacksBefore;
    totalDelay += end - lastReturn;
    qvFreeBunch(&bunch);
    totalBaseline += mallocCopySecondsPerFrame(source);
    ++grabs;
    state.ResumeTiming();
  }
  unsetenv("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE");
  if (grabs == 0 || totalCallbacks == 0) return;
  const double libraryPerFrame = totalCallback / totalCallbacks;
  const double baselinePerFrame = totalBaseline / grabs;
  state.counters["frames_per_s"] = kFrames * grabs / totalWall;
  state.counters["library_us_per_frame"] = libraryPerFrame * 1e6;
  state.counters["malloc_copy_us_per_frame"] = baselinePerFrame * 1e6;
  state.counters["library_vs_malloc_copy"] = libraryPerFrame / baselinePerFrame;
  state.counters["return_delay_ms"] = totalDelay / grabs * 1e3;
}
BENCHMARK(BM_GrabFrames1000x1MiB)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
