// IMC2/BKC2 save and load against the bare zlib work on the same frames.
//
// Each pair (library, bare) runs on the same bunch in the same process; the
// ratio of their times is what matters. QV_BENCH_FRAMES overrides the number
// of frames (default 100 frames of 1280 x 1024 x 16 bit).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

namespace {

constexpr int32_t kWidth = 1280;
constexpr int32_t kHeight = 1024;
constexpr int32_t kBytesPerPixel = 2;
constexpr uint32_t kFrameBytes = kWidth * kHeight * kBytesPerPixel;

uint32_t frameCount() {
  const char* s = getenv("QV_BENCH_FRAMES");
  const long n = s ? strtol(s, nullptr, 10) : 100;
  return n > 0 && n <= 10000 ? static_cast<uint32_t>(n) : 100;
}

std::string benchDirectory() {
  const char* s = getenv("QV_BENCH_DIR");
  if (s && *s) return s;
  const char* t = getenv("TMPDIR");
  return (t && *t) ? t : "/tmp";
}

struct XorShift {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s);
  }
};

// Camera-like content: a smooth 12-bit background with a bright blob that
// moves from frame to frame, plus noise in the low three bits.
void fillCameraFrame(uint16_t* px, uint32_t frame, XorShift& rng) {
  const double cx = 300 + 5.0 * frame, cy = 400 + 2.0 * frame;
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const double dx = x - cx, dy = y - cy;
      const double blob = 2500.0 / (1.0 + (dx * dx + dy * dy) / 20000.0);
      const double background = 200.0 + 0.3 * x + 0.2 * y;
      px[y * kWidth + x] = static_cast<uint16_t>(background + blob) + (rng.next() & 7);
    }
  }
}

void fillRandomFrame(uint16_t* px, XorShift& rng) {
  for (uint32_t i = 0; i < kWidth * kHeight; ++i) px[i] = static_cast<uint16_t>(rng.next());
}

// One bunch per content kind, built once and shared by the benchmarks.
class BenchBunch {
 public:
  explicit BenchBunch(bool camera) {
    qvInitializeBunchStructure(&m_bunch);
    const uint32_t n = frameCount();
    qvCreateBunchStructure(&m_bunch, n, kFrameBytes);
    XorShift rng;
    for (uint32_t i = 0; i < n; ++i) {
      DIMAGE& img = m_bunch.imageArray[i];
      memset(&img, 0, offsetof(DIMAGE, frameBufferSize));
      img.sourceHeader.baseTag = QV_BASE_TAG;
      img.sourceHeader.versionTag = 1;
      img.sourceHeader.totalLength = 188 + kFrameBytes;
      img.sourceHeader.timestampSeconds = 1690380185 + i;
      img.frameHeader.sourceWidth = kWidth;
      img.frameHeader.sourceHeight = kHeight;
      img.frameHeader.aoiWidth = -1;
      img.frameHeader.aoiHeight = -1;
      img.frameHeader.bytesPerPixel = kBytesPerPixel;
      img.frameHeader.effectiveBitsPerPixel = 12;
      img.frameHeader.horizontalBinning = 1;
      img.frameHeader.verticalBinning = 1;
      img.frameHeader.xScale = 0.01f;
      img.frameHeader.yScale = 0.01f;
      img.frameHeader.frameNumber = i + 1;
      img.frameHeader.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
      img.frameHeader.appendedFrameSize = static_cast<int32_t>(kFrameBytes);
      uint16_t* px = reinterpret_cast<uint16_t*>(img.frameBuffer);
      if (camera) {
        fillCameraFrame(px, i, rng);
      } else {
        fillRandomFrame(px, rng);
      }
    }
  }
  ~BenchBunch() { qvFreeBunch(&m_bunch); }
  QVBUNCHOFIMAGES* get() { return &m_bunch; }

 private:
  QVBUNCHOFIMAGES m_bunch;
};

BenchBunch& bunchFor(bool camera) {
  static BenchBunch cameraBunch(true);
  static BenchBunch randomBunch(false);
  return camera ? cameraBunch : randomBunch;
}

std::string benchFile(const char* name) {
  return benchDirectory() + "/qv_bench_" + std::to_string(getpid()) + "_" + name;
}

double threadCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}
double wallSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Times one run of each of two operations per iteration, alternating, and
// reports the library's time as a ratio to the bare time. The machine is
// shared, so the thread CPU time is the steadier of the two measures.
template <typename Library, typename Bare, typename Cleanup>
void comparePaired(benchmark::State& state, Library library, Bare bare, Cleanup cleanup) {
  double libCpu = 0, bareCpu = 0, libWall = 0, bareWall = 0;
  for (auto _ : state) {
    for (int which = 0; which < 2; ++which) {
      const double c0 = threadCpuSeconds(), w0 = wallSeconds();
      const bool ok = which == 0 ? bare() : library();
      const double c = threadCpuSeconds() - c0, w = wallSeconds() - w0;
      if (!ok) state.SkipWithError("operation failed");
      (which == 0 ? bareCpu : libCpu) += c;
      (which == 0 ? bareWall : libWall) += w;
      state.PauseTiming();
      cleanup();
      state.ResumeTiming();
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["lib_cpu_ms"] = libCpu / n * 1e3;
  state.counters["bare_cpu_ms"] = bareCpu / n * 1e3;
  state.counters["ratio_cpu"] = libCpu / bareCpu;
  state.counters["ratio_wall"] = libWall / bareWall;
}

// The least any writer of this format does: compress each frame and write
// the stream (or the frame when zlib cannot shrink it).
bool saveBare(QVBUNCHOFIMAGES* bunch, const std::string& path, Bytef* buffer, uLong bound) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = true;
  for (uint32_t i = 0; i < bunch->numFrames; ++i) {
    const DIMAGE& img = bunch->imageArray[i];
    uLongf n = bound;
    ok = ok && compress(buffer, &n, img.frameBuffer, kFrameBytes) == Z_OK;
    if (n < kFrameBytes) {
      ok = ok && fwrite(buffer, 1, n, f) == n;
    } else {
      ok = ok && fwrite(img.frameBuffer, 1, kFrameBytes, f) == kFrameBytes;
    }
  }
  return fclose(f) == 0 && ok;
}

void BM_Save(benchmark::State& state) {
  BenchBunch& bunch = bunchFor(state.range(0) != 0);
  const std::string libPath = benchFile("save.imc2");
  const std::string barePath = benchFile("save.bare");
  const uLong bound = compressBound(kFrameBytes);
  std::unique_ptr<Bytef[]> buffer(new Bytef[bound]);
  comparePaired(
      state, [&] { return qvSaveImagesToFile(bunch.get(), libPath.c_str()) == 0; },
      [&] { return saveBare(bunch.get(), barePath, buffer.get(), bound); },
      [&] {
        remove(libPath.c_str());
        remove(barePath.c_str());
      });
  state.SetBytesProcessed(state.iterations() * 2 * int64_t{kFrameBytes} * frameCount());
}

// Writes the file the load benchmarks read, once per content kind.
const std::string& savedFile(bool camera) {
  static std::string paths[2];
  std::string& path = paths[camera ? 1 : 0];
  if (path.empty()) {
    path = benchFile(camera ? "load_camera.imc2" : "load_random.imc2");
    remove(path.c_str());
    qvSaveImagesToFile(bunchFor(camera).get(), path.c_str());
  }
  return path;
}

// Where the frame data of each block lies; found once, outside the timing.
std::vector<std::pair<long, uint64_t>> frameBlocks(const std::string& path) {
  std::vector<std::pair<long, uint64_t>> blocks;
  FILE* f = fopen(path.c_str(), "rb");
  uint32_t head[3] = {};
  if (fread(head, 4, 3, f) != 3) return blocks;
  long pos = 14 + 252L * head[2];
  for (uint32_t i = 0; i < frameCount(); ++i) {
    uint64_t lens[2] = {};
    uint32_t p = 0;
    fseek(f, pos, SEEK_SET);
    if (fread(lens, 8, 2, f) != 2 || fread(&p, 4, 1, f) != 1) break;
    pos += 22 + 252L * p;
    blocks.emplace_back(pos, lens[1]);
    pos += static_cast<long>(lens[1]);
  }
  fclose(f);
  return blocks;
}

// The least any reader does: read each stored block and expand it into a
// frame buffer of its own.
bool loadBare(const std::string& path, const std::vector<std::pair<long, uint64_t>>& blocks,
              std::vector<uint8_t*>& frames) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bool ok = true;
  std::unique_ptr<Bytef[]> stream;
  for (const auto& block : blocks) {
    uint8_t* frame = static_cast<uint8_t*>(malloc(kFrameBytes));
    frames.push_back(frame);
    fseek(f, block.first, SEEK_SET);
    if (block.second < kFrameBytes) {
      stream.reset(new Bytef[block.second]);
      ok = ok && fread(stream.get(), 1, block.second, f) == block.second;
      uLongf n = kFrameBytes;
      ok = ok && uncompress(frame, &n, stream.get(), block.second) == Z_OK;
    } else {
      ok = ok && fread(frame, 1, kFrameBytes, f) == kFrameBytes;
    }
  }
  fclose(f);
  return ok;
}

void BM_Load(benchmark::State& state) {
  const std::string& path = savedFile(state.range(0) != 0);
  const auto blocks = frameBlocks(path);
  QVBUNCHOFIMAGES loaded;
  qvInitializeBunchStructure(&loaded);
  std::vector<uint8_t*> frames;
  comparePaired(
      state, [&] { return qvLoadImagesFromFile(path.c_str(), &loaded) == 0; },
      [&] { return loadBare(path, blocks, frames); },
      [&] {
        qvFreeBunch(&loaded);
        for (uint8_t* p : frames) free(p);
        frames.clear();
      });
  state.SetBytesProcessed(state.iterations() * 2 * int64_t{kFrameBytes} * frameCount());
}

void BM_CheckFileFormat(benchmark::State& state) {
  const std::string& path = savedFile(state.range(0) != 0);
  for (auto _ : state) {
    if (qvCheckFileFormat(path.c_str(), nullptr, 0) != 3) state.SkipWithError("not IMC2");
  }
}

void cleanUp() {
  remove(benchFile("load_camera.imc2").c_str());
  remove(benchFile("load_random.imc2").c_str());
}

}  // namespace

// Arg 1: camera content; arg 0: incompressible frames.
BENCHMARK(BM_Save)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Load)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CheckFileFormat)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  cleanUp();
  return 0;
}
