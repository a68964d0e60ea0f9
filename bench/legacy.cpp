// Legacy IMM and IMC files: the library's readers and writers against the
// bare work on the same frames. IMM is plain block transfers; IMC is
// measured as IMC2 is: the library with its codec threads and with one,
// bare single-threaded zlib and bare single-threaded libdeflate, each with
// the same file I/O, on camera-like and on incompressible frames.
#include <cstring>

#include "quivox3/quivox3.h"
#include "sequence_bench.h"

using namespace qvbench;

namespace {

// A 16-bit IMC record viewing the frames; only its arrays are freed here.
class RecordOverFrames {
 public:
  explicit RecordOverFrames(const Frames& frames)
      : m_bits(frames.size()), m_scales(frames.size(), 1.0) {
    for (uint32_t i = 0; i < frames.size(); ++i) m_bits[i] = frames[i];
    m_record.width = kWidth;
    m_record.height = kHeight;
    m_record.bpp = 16;
    m_record.ebpp = 12;
    m_record.scale = 1.0;
    m_record.numframes = static_cast<int32_t>(frames.size());
    m_record.type = 2;
    m_record.framebits = m_bits.data();
    m_record.framescales = m_scales.data();
  }
  VIDINFHDR* get() { return &m_record; }

 private:
  std::vector<unsigned char*> m_bits;
  std::vector<double> m_scales;
  VIDINFHDR m_record{};
};

void put32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The least an IMC writer does: per frame its header and its stream.
bool imcSaveBare(const Frames& frames, const Engine& engine, const std::string& path,
                 std::vector<uint8_t>& buffer) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  unsigned char header[16] = {};
  bool ok = fwrite(header, 1, 16, f) == 16;
  for (uint32_t i = 0; i < frames.size(); ++i) {
    const size_t n = engine.compress(frames[i], kFrameBytes, buffer.data(), buffer.size());
    put32(header + 8, static_cast<uint32_t>(n));
    put32(header + 12, static_cast<uint32_t>(kFrameBytes));
    ok = ok && n > 0 && fwrite(header, 1, 16, f) == 16 && fwrite(buffer.data(), 1, n, f) == n;
  }
  return fclose(f) == 0 && ok;
}

// The least an IMC reader does: per frame its header, its stream, and the
// stream inflated into a fresh frame.
bool imcLoadBare(const std::string& path, const Engine& engine, std::vector<uint8_t>& stream,
                 std::vector<uint8_t*>& frames) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char header[16];
  bool ok = fread(header, 1, 16, f) == 16;
  uint32_t count = 0;
  std::memcpy(&count, header + 12, 4);
  for (uint32_t i = 0; ok && i < count; ++i) {
    uint32_t length = 0;
    ok = fread(header, 1, 16, f) == 16;
    std::memcpy(&length, header + 8, 4);
    ok = ok && length <= stream.size() && fread(stream.data(), 1, length, f) == length;
    frames.push_back(static_cast<uint8_t*>(malloc(kFrameBytes)));
    ok = ok && engine.inflate(stream.data(), length, frames.back(), kFrameBytes);
  }
  fclose(f);
  return ok;
}

void freeAll(std::vector<uint8_t*>& frames) {
  for (uint8_t* p : frames) free(p);
  frames.clear();
}

void BM_ImcSave(benchmark::State& state) {
  const Frames& frames = framesOf(kindOf(state));
  if (!checkContent(state, frames, kindOf(state))) return;
  RecordOverFrames record(frames);
  std::vector<uint8_t> buffer(compressBound(kFrameBytes) + kFrameBytes / 100 + 1024);
  std::string path;
  auto removeFile = [&] { remove(path.c_str()); };
  std::vector<Contender> contenders = libraryContenders(
      [&] {
        path = freshPath("save.imc");
        return save_imc_file(path.c_str(), record.get()) == 0;
      },
      removeFile);
  for (const Engine& engine : bareEngines()) {
    contenders.push_back({std::string("bare_") + engine.name,
                          [&, engine] {
                            path = freshPath("save_bare.imc");
                            return imcSaveBare(frames, engine, path, buffer);
                          },
                          removeFile});
  }
  compareContenders(state, contenders, targetRatios());
  state.SetBytesProcessed(state.iterations() * int64_t(kFrameBytes) * frames.size());
}

void BM_ImcLoad(benchmark::State& state) {
  const Frames& frames = framesOf(kindOf(state));
  if (!checkContent(state, frames, kindOf(state))) return;
  RecordOverFrames record(frames);
  const std::string path = freshPath("load.imc");
  if (save_imc_file(path.c_str(), record.get()) != 0) {
    state.SkipWithError("the file to load could not be written");
    return;
  }
  VIDINFHDR loaded;
  initialize_vidinfhdr(&loaded);
  std::vector<uint8_t*> bareFrames;
  std::vector<uint8_t> stream(compressBound(kFrameBytes) + kFrameBytes / 100 + 1024);
  std::vector<Contender> contenders = libraryContenders(
      [&] { return load_imc_file(path.c_str(), &loaded) == 0; }, [&] { free_vidinfhdr(&loaded); });
  for (const Engine& engine : bareEngines()) {
    contenders.push_back({std::string("bare_") + engine.name,
                          [&, engine] { return imcLoadBare(path, engine, stream, bareFrames); },
                          [&] { freeAll(bareFrames); }});
  }
  compareContenders(state, contenders, targetRatios());
  remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t(kFrameBytes) * frames.size());
}

// IMM: a 8-byte frame header, the frame, an 8-byte scale per frame.
bool immSaveBare(const Frames& frames, const std::string& path) {
  const unsigned char header[8] = {}, scale[8] = {};
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = true;
  for (uint32_t i = 0; i < frames.size(); ++i) {
    ok = ok && fwrite(header, 1, 8, f) == 8 &&
         fwrite(frames[i], 1, kFrameBytes, f) == kFrameBytes && fwrite(scale, 1, 8, f) == 8;
  }
  return fclose(f) == 0 && ok;
}

bool immLoadBare(const std::string& path, uint32_t count, std::vector<uint8_t*>& frames) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char header[8], scale[8];
  bool ok = true;
  for (uint32_t i = 0; ok && i < count; ++i) {
    frames.push_back(static_cast<uint8_t*>(malloc(kFrameBytes)));
    ok = fread(header, 1, 8, f) == 8 && fread(frames.back(), 1, kFrameBytes, f) == kFrameBytes &&
         fread(scale, 1, 8, f) == 8;
  }
  fclose(f);
  return ok;
}

void BM_ImmSave(benchmark::State& state) {
  const Frames& frames = framesOf(Frames::Kind::kCamera);
  RecordOverFrames record(frames);
  record.get()->type = 1;
  std::string path;
  auto removeFile = [&] { remove(path.c_str()); };
  compareContenders(state,
                    {{"library",
                      [&] {
                        path = freshPath("save.imm");
                        return save_imm_file(path.c_str(), record.get()) == 0;
                      },
                      removeFile},
                     {"bare",
                      [&] {
                        path = freshPath("save_bare.imm");
                        return immSaveBare(frames, path);
                      },
                      removeFile}},
                    {{0, 1}});
}

void BM_ImmLoad(benchmark::State& state) {
  const Frames& frames = framesOf(Frames::Kind::kCamera);
  RecordOverFrames record(frames);
  record.get()->type = 1;
  const std::string path = freshPath("load.imm");
  if (save_imm_file(path.c_str(), record.get()) != 0) {
    state.SkipWithError("the file to load could not be written");
    return;
  }
  VIDINFHDR loaded;
  initialize_vidinfhdr(&loaded);
  std::vector<uint8_t*> bareFrames;
  compareContenders(state,
                    {{"library", [&] { return load_imm_file(path.c_str(), &loaded) == 0; },
                      [&] { free_vidinfhdr(&loaded); }},
                     {"bare", [&] { return immLoadBare(path, frames.size(), bareFrames); },
                      [&] { freeAll(bareFrames); }}},
                    {{0, 1}});
  remove(path.c_str());
}

}  // namespace

// Arg 0: camera-like frames; arg 1: incompressible frames.
BENCHMARK(BM_ImcSave)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);
BENCHMARK(BM_ImcLoad)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);
BENCHMARK(BM_ImmSave)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ImmLoad)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

BENCHMARK_MAIN();
