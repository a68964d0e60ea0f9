// Legacy IMM and IMC files of 100 frames of 1280 x 1024 x 16 bit: the library's
// readers and writers against the bare work on the same bytes (stdio block
// transfers; zlib compress/uncompress for IMC).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "legacy/legacy.h"
#include "quivox3/quivox3.h"

namespace {

constexpr int kWidth = 1280, kHeight = 1024, kFrames = 100;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;

std::string benchPath(const char* asName) {
  const char* sDir = std::getenv("TMPDIR");
  return std::string(sDir ? sDir : "/tmp") + "/qv_bench_legacy_" + asName;
}

// 12-bit camera-like frames: a gradient with some noise, so zlib has work to do.
VIDINFHDR& sequence() {
  static VIDINFHDR v = [] {
    VIDINFHDR r;
    r.width = kWidth;
    r.height = kHeight;
    r.bpp = 16;
    r.ebpp = 12;
    r.numframes = kFrames;
    r.type = 1;
    r.framebits = static_cast<unsigned char**>(std::malloc(kFrames * sizeof(unsigned char*)));
    r.framescales = static_cast<double*>(std::malloc(kFrames * sizeof(double)));
    uint32_t uiSeed = 12345;
    for (int i = 0; i < kFrames; ++i) {
      auto* p = static_cast<uint16_t*>(std::malloc(kFrameBytes));
      for (int k = 0; k < kWidth * kHeight; ++k) {
        uiSeed = uiSeed * 1664525u + 1013904223u;
        p[k] = static_cast<uint16_t>(((k % kWidth) + (k / kWidth) + i + (uiSeed >> 28)) & 0xFFF);
      }
      r.framebits[i] = reinterpret_cast<unsigned char*>(p);
      r.framescales[i] = 1.0;
    }
    r.scale = 1.0;
    return r;
  }();
  return v;
}

const std::string& immFile() {
  static const std::string s = [] {
    const std::string sPath = benchPath("in.imm");
    save_imm_file(sPath.c_str(), &sequence());
    return sPath;
  }();
  return s;
}
const std::string& imcFile() {
  static const std::string s = [] {
    const std::string sPath = benchPath("in.imc");
    save_imc_file(sPath.c_str(), &sequence());
    return sPath;
  }();
  return s;
}

void freeFrames(std::vector<unsigned char*>& frames) {
  for (unsigned char* p : frames) std::free(p);
  frames.clear();
}

bool immLoad() {
  VIDINFHDR v;
  initialize_vidinfhdr(&v);
  const bool bOk = load_imm_file(immFile().c_str(), &v) == 0;
  free_vidinfhdr(&v);
  return bOk;
}

bool immLoadBare() {
  std::vector<unsigned char*> frames;
  FILE* f = std::fopen(immFile().c_str(), "rb");
  unsigned char header[8], scale[8];
  for (int i = 0; i < kFrames; ++i) {
    frames.push_back(static_cast<unsigned char*>(std::malloc(kFrameBytes)));
    std::fread(header, 1, 8, f);
    std::fread(frames.back(), 1, kFrameBytes, f);
    std::fread(scale, 1, 8, f);
  }
  std::fclose(f);
  freeFrames(frames);
  return true;
}

bool immSave() { return save_imm_file(benchPath("out.imm").c_str(), &sequence()) == 0; }

bool immSaveBare() {
  const unsigned char header[8] = {0}, scale[8] = {0};
  FILE* f = std::fopen(benchPath("out_bare.imm").c_str(), "wb");
  for (int i = 0; i < kFrames; ++i) {
    std::fwrite(header, 1, 8, f);
    std::fwrite(sequence().framebits[i], 1, kFrameBytes, f);
    std::fwrite(scale, 1, 8, f);
  }
  return std::fclose(f) == 0;
}

bool imcLoad() {
  VIDINFHDR v;
  initialize_vidinfhdr(&v);
  const bool bOk = load_imc_file(imcFile().c_str(), &v) == 0;
  free_vidinfhdr(&v);
  return bOk;
}

bool imcLoadBare() {
  std::vector<unsigned char*> frames;
  std::vector<unsigned char> compressed(compressBound(kFrameBytes));
  FILE* f = std::fopen(imcFile().c_str(), "rb");
  unsigned char header[16];
  std::fread(header, 1, 16, f);
  for (int i = 0; i < kFrames; ++i) {
    std::fread(header, 1, 16, f);
    uint32_t uiLength;
    std::memcpy(&uiLength, header + 8, 4);
    std::fread(compressed.data(), 1, uiLength, f);
    frames.push_back(static_cast<unsigned char*>(std::malloc(kFrameBytes)));
    uLongf uiOut = kFrameBytes;
    uncompress(frames.back(), &uiOut, compressed.data(), uiLength);
  }
  std::fclose(f);
  freeFrames(frames);
  return true;
}

bool imcSave() { return save_imc_file(benchPath("out.imc").c_str(), &sequence()) == 0; }

bool imcSaveBare() {
  std::vector<unsigned char> compressed(compressBound(kFrameBytes));
  const unsigned char header[16] = {0};
  FILE* f = std::fopen(benchPath("out_bare.imc").c_str(), "wb");
  std::fwrite(header, 1, 16, f);
  for (int i = 0; i < kFrames; ++i) {
    uLongf uiLength = compressed.size();
    compress(compressed.data(), &uiLength, sequence().framebits[i], kFrameBytes);
    std::fwrite(header, 1, 16, f);
    std::fwrite(compressed.data(), 1, uiLength, f);
  }
  return std::fclose(f) == 0;
}

double secondsOf(bool (*apWork)(), bool& bOk) {
  const auto t0 = std::chrono::steady_clock::now();
  bOk = apWork() && bOk;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Library and bare work alternate in one process, after one warm-up of each,
// so that both meet the same allocator and page-cache state. The reported time
// is the library's; the counter "ratio" is library time over bare time.
void compare(benchmark::State& state, bool (*apLibrary)(), bool (*apBare)()) {
  bool bOk = true;
  secondsOf(apLibrary, bOk);
  secondsOf(apBare, bOk);
  double dLibrary = 0, dBare = 0;
  int iRound = 0;
  for (auto _ : state) {
    double dLib, dRef;
    if (iRound++ % 2 == 0) {
      dLib = secondsOf(apLibrary, bOk);
      dRef = secondsOf(apBare, bOk);
    } else {
      dRef = secondsOf(apBare, bOk);
      dLib = secondsOf(apLibrary, bOk);
    }
    dLibrary += dLib;
    dBare += dRef;
    state.SetIterationTime(dLib);
  }
  if (!bOk) state.SkipWithError("library or bare work failed");
  state.counters["bare_ms"] = 1000.0 * dBare / iRound;
  state.counters["ratio"] = dLibrary / dBare;
  std::remove(benchPath("out.imm").c_str());
  std::remove(benchPath("out_bare.imm").c_str());
  std::remove(benchPath("out.imc").c_str());
  std::remove(benchPath("out_bare.imc").c_str());
}

void BM_ImmLoad(benchmark::State& state) { compare(state, immLoad, immLoadBare); }
void BM_ImmSave(benchmark::State& state) { compare(state, immSave, immSaveBare); }
void BM_ImcLoad(benchmark::State& state) { compare(state, imcLoad, imcLoadBare); }
void BM_ImcSave(benchmark::State& state) { compare(state, imcSave, imcSaveBare); }

}  // namespace

BENCHMARK(BM_ImmLoad)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(BM_ImmSave)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(BM_ImcLoad)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);
BENCHMARK(BM_ImcSave)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

BENCHMARK_MAIN();
