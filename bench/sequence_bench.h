// Shared parts of the sequence-file benchmarks: frame content, the bare
// engines the library is measured against, and paired timing.
//
// Every comparison runs the library and the bare work on the same frames in
// the same process, in rounds whose order rotates, and reports medians: the
// ratios between them are the result, not the absolute times.
// QV_BENCH_FRAMES sets the frames (default 100 of 1280 x 1024 x 16 bit),
// QV_BENCH_ROUNDS the rounds (default 3), QV_BENCH_DIR the folder of the
// files (default TMPDIR or /tmp).
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>
#ifdef QV_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

namespace qvbench {

constexpr int32_t kWidth = 1280;
constexpr int32_t kHeight = 1024;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 2;

inline long environmentNumber(const char* name, long fallback, long most) {
  const char* s = std::getenv(name);
  const long n = s ? std::strtol(s, nullptr, 10) : fallback;
  return n > 0 && n <= most ? n : fallback;
}
inline uint32_t frameCount() {
  return static_cast<uint32_t>(environmentNumber("QV_BENCH_FRAMES", 100, 10000));
}
inline int rounds() { return static_cast<int>(environmentNumber("QV_BENCH_ROUNDS", 3, 100)); }

inline std::string benchDirectory() {
  for (const char* name : {"QV_BENCH_DIR", "TMPDIR"}) {
    const char* s = std::getenv(name);
    if (s && *s) return s;
  }
  return "/tmp";
}

// A fresh name for every file, so no timed save truncates an older file.
inline std::string freshPath(const std::string& tag) {
  static unsigned counter = 0;
  return benchDirectory() + "/qv_bench_" + std::to_string(getpid()) + "_" +
         std::to_string(counter++) + "_" + tag;
}

// Frames of one content kind, owned here (malloc'd, as the library's are).
class Frames {
 public:
  enum class Kind { kCamera, kNoise };
  explicit Frames(Kind kind) : m_frames(frameCount()) {
    for (uint32_t i = 0; i < m_frames.size(); ++i) {
      m_frames[i] = static_cast<uint8_t*>(std::malloc(kFrameBytes));
      uint16_t* px = reinterpret_cast<uint16_t*>(m_frames[i]);
      if (kind == Kind::kCamera) {
        fillCamera(px, i);
      } else {
        fillNoise(px, i);
      }
    }
  }
  ~Frames() {
    for (uint8_t* p : m_frames) std::free(p);
  }
  Frames(const Frames&) = delete;
  Frames& operator=(const Frames&) = delete;
  uint32_t size() const { return static_cast<uint32_t>(m_frames.size()); }
  uint8_t* operator[](uint32_t i) const { return m_frames[i]; }

  // Stream bytes over frame bytes with zlib's compress on the first frame.
  double zlibRatio() const {
    uLongf n = compressBound(kFrameBytes);
    std::vector<Bytef> out(n);
    compress(out.data(), &n, m_frames[0], kFrameBytes);
    return static_cast<double>(n) / kFrameBytes;
  }

 private:
  // A smooth 12-bit background with a bright blob that moves from frame to
  // frame, plus sensor noise in the low three bits.
  static void fillCamera(uint16_t* px, uint32_t frame) {
    uint64_t state = frame * 0x2545F4914F6CDD1Dull + 1;
    const double cx = 300 + 5.0 * frame, cy = 400 + 2.0 * frame;
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        const double dx = x - cx, dy = y - cy;
        const double blob = 2500.0 / (1.0 + (dx * dx + dy * dy) / 20000.0);
        const double background = 200.0 + 0.3 * x + 0.2 * y;
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        px[y * kWidth + x] = static_cast<uint16_t>(background + blob) + (state & 7);
      }
    }
  }
  // splitmix64: no deflate engine shrinks it.
  static void fillNoise(uint16_t* px, uint32_t frame) {
    uint64_t state = 0x9E3779B97F4A7C15ull * (frame + 1);
    for (size_t i = 0; i < kFrameBytes / 2; ++i) {
      uint64_t z = (state += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      px[i] = static_cast<uint16_t>(z ^ (z >> 31));
    }
  }
  std::vector<uint8_t*> m_frames;
};

// A bare engine: one-shot zlib-format compression and exact inflation, used
// single-threaded with one buffer, as the simplest writer and reader would.
struct Engine {
  const char* name;
  // Stream length, or 0 when the stream does not fit the capacity.
  std::function<size_t(const uint8_t*, size_t, uint8_t*, size_t)> compress;
  std::function<bool(const uint8_t*, size_t, uint8_t*, size_t)> inflate;
};

inline Engine zlibEngine() {
  return {"zlib",
          [](const uint8_t* in, size_t n, uint8_t* out, size_t capacity) -> size_t {
            uLongf length = capacity;
            return ::compress(out, &length, in, n) == Z_OK ? length : 0;
          },
          [](const uint8_t* in, size_t n, uint8_t* out, size_t frameBytes) {
            uLongf length = frameBytes;
            return ::uncompress(out, &length, in, n) == Z_OK && length == frameBytes;
          }};
}

#ifdef QV_BENCH_LIBDEFLATE
inline Engine libdeflateEngine() {
  static libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  return {"libdeflate",
          [](const uint8_t* in, size_t n, uint8_t* out, size_t capacity) {
            return libdeflate_zlib_compress(compressor, in, n, out, capacity);
          },
          [](const uint8_t* in, size_t n, uint8_t* out, size_t frameBytes) {
            return libdeflate_zlib_decompress(decompressor, in, n, out, frameBytes, nullptr) ==
                   LIBDEFLATE_SUCCESS;
          }};
}
#endif

// The bare engines of this build: zlib, and libdeflate where it is linked.
inline std::vector<Engine> bareEngines() {
  std::vector<Engine> engines{zlibEngine()};
#ifdef QV_BENCH_LIBDEFLATE
  engines.push_back(libdeflateEngine());
#endif
  return engines;
}

// One contender of a comparison: its timed work and the untimed clean-up
// after each run (removing its file, freeing what it loaded).
struct Contender {
  std::string name;
  std::function<bool()> run;
  std::function<void()> cleanUp;
};

inline void setCodecThreads(const char* value) {
  if (value) {
    setenv("KELTA_CLIENTLIB_CODEC_THREADS", value, 1);
  } else {
    unsetenv("KELTA_CLIENTLIB_CODEC_THREADS");
  }
}

// A ratio to report: the median of one contender over another's.
struct Ratio {
  size_t numerator, denominator;
};

// Runs every contender once per round, the order rotating from round to
// round, after one warm-up run each; reports each one's median in ms and the
// asked ratios of medians as counters ("<a>/<b>"). The iteration time is the
// first contender's median.
inline void compareContenders(benchmark::State& state, const std::vector<Contender>& contenders,
                              const std::vector<Ratio>& ratios) {
  bool ok = true;
  const size_t n = contenders.size();
  std::vector<std::vector<double>> times(n);
  for (const Contender& c : contenders) {
    ok = c.run() && ok;
    c.cleanUp();
  }
  for (auto _ : state) {
    for (int round = 0; round < rounds(); ++round) {
      for (size_t k = 0; k < n; ++k) {
        const size_t which = (k + round) % n;
        const auto t0 = std::chrono::steady_clock::now();
        ok = contenders[which].run() && ok;
        times[which].push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        contenders[which].cleanUp();
      }
    }
    std::vector<double> medians;
    for (auto& t : times) {
      std::sort(t.begin(), t.end());
      medians.push_back(t[t.size() / 2]);
      t.clear();
    }
    state.SetIterationTime(medians[0]);
    for (size_t k = 0; k < n; ++k) state.counters[contenders[k].name + "_ms"] = medians[k] * 1e3;
    for (const Ratio& r : ratios) {
      state.counters[contenders[r.numerator].name + "/" + contenders[r.denominator].name] =
          medians[r.numerator] / medians[r.denominator];
    }
  }
  if (!ok) state.SkipWithError("a contender failed");
}

// Refuses to measure "incompressible" frames that zlib still shrinks.
inline bool checkContent(benchmark::State& state, const Frames& frames, Frames::Kind kind) {
  const double ratio = frames.zlibRatio();
  state.counters["zlib_ratio"] = ratio;
  if (kind == Frames::Kind::kNoise && ratio < 1.0) {
    state.SkipWithError("the noise frames compress: the raw path would not be measured");
    return false;
  }
  return true;
}

// The camera-like and the incompressible frames, each made once.
inline Frames& framesOf(Frames::Kind kind) {
  static Frames camera(Frames::Kind::kCamera);
  static Frames noise(Frames::Kind::kNoise);
  return kind == Frames::Kind::kCamera ? camera : noise;
}

// Argument 0: camera-like frames; 1: incompressible frames.
inline Frames::Kind kindOf(const benchmark::State& state) {
  return state.range(0) == 0 ? Frames::Kind::kCamera : Frames::Kind::kNoise;
}

// The frames as a bunch of valid images; the bunch views them, so only its
// array is freed here.
class BunchOverFrames {
 public:
  explicit BunchOverFrames(const Frames& frames) {
    m_bunch.numFrames = frames.size();
    m_bunch.imageArray = static_cast<DIMAGE*>(calloc(frames.size(), sizeof(DIMAGE)));
    for (uint32_t i = 0; i < frames.size(); ++i) {
      DIMAGE& img = m_bunch.imageArray[i];
      img.sourceHeader.baseTag = QV_BASE_TAG;
      img.sourceHeader.versionTag = 1;
      img.sourceHeader.totalLength = static_cast<uint32_t>(QV_HDR_IMAGE_SIZE + kFrameBytes);
      img.sourceHeader.timestampSeconds = 1690380185 + i;
      FRAMEHEADER& f = img.frameHeader;
      f.sourceWidth = kWidth;
      f.sourceHeight = kHeight;
      f.aoiWidth = -1;
      f.aoiHeight = -1;
      f.bytesPerPixel = 2;
      f.effectiveBitsPerPixel = 12;
      f.horizontalBinning = 1;
      f.verticalBinning = 1;
      f.xScale = 0.01f;
      f.yScale = 0.01f;
      f.frameNumber = i + 1;
      f.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
      f.appendedFrameSize = static_cast<int32_t>(kFrameBytes);
      img.frameBuffer = frames[i];
      img.frameBufferSize = static_cast<uint32_t>(kFrameBytes);
    }
  }
  ~BunchOverFrames() { free(m_bunch.imageArray); }
  BunchOverFrames(const BunchOverFrames&) = delete;
  BunchOverFrames& operator=(const BunchOverFrames&) = delete;
  QVBUNCHOFIMAGES* get() { return &m_bunch; }

 private:
  QVBUNCHOFIMAGES m_bunch{};
};

// The contenders of a sequence comparison, in this order: the library with
// its codec threads and with one thread, then the bare engines.
enum SequenceContenders { kLibrary, kLibraryOneThread, kBareZlib, kBareLibdeflate };

inline std::vector<Contender> libraryContenders(const std::function<bool()>& run,
                                                const std::function<void()>& cleanUp) {
  return {{"library",
           [run] {
             setCodecThreads(nullptr);
             return run();
           },
           cleanUp},
          {"library_1thread",
           [run] {
             setCodecThreads("1");
             const bool ok = run();
             setCodecThreads(nullptr);
             return ok;
           },
           cleanUp}};
}

// The ratios the targets are stated in.
inline std::vector<Ratio> targetRatios() {
  return {{kLibrary, kBareZlib}, {kLibrary, kBareLibdeflate}, {kLibraryOneThread, kBareLibdeflate}};
}

}  // namespace qvbench
