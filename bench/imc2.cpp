// IMC2/BKC2 save and load against the bare engines on the same frames: the
// library with its codec threads and with one thread, bare single-threaded
// zlib and bare single-threaded libdeflate, each with the same file I/O.
// Camera-like frames and incompressible ones (stored raw).
#include <cstddef>

#include "quivox3/quivox3.h"
#include "sequence_bench.h"

using namespace qvbench;

namespace {

// The least any writer of the format does: compress each frame and write the
// stream, or the frame when the stream would not be shorter.
bool saveBare(const Frames& frames, const Engine& engine, const std::string& path,
              std::vector<uint8_t>& buffer) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = true;
  for (uint32_t i = 0; i < frames.size(); ++i) {
    const size_t n = engine.compress(frames[i], kFrameBytes, buffer.data(), kFrameBytes - 1);
    ok = ok && (n > 0 ? fwrite(buffer.data(), 1, n, f) == n
                      : fwrite(frames[i], 1, kFrameBytes, f) == kFrameBytes);
  }
  return fclose(f) == 0 && ok;
}

void BM_Save(benchmark::State& state) {
  const Frames& frames = framesOf(kindOf(state));
  if (!checkContent(state, frames, kindOf(state))) return;
  BunchOverFrames bunch(frames);
  std::vector<uint8_t> buffer(kFrameBytes);
  std::string path;
  auto removeFile = [&] { remove(path.c_str()); };
  std::vector<Contender> contenders = libraryContenders(
      [&] {
        path = freshPath("save.imc2");
        return qvSaveImagesToFile(bunch.get(), path.c_str()) == 0;
      },
      removeFile);
  for (const Engine& engine : bareEngines()) {
    contenders.push_back({std::string("bare_") + engine.name,
                          [&, engine] {
                            path = freshPath("save.bare");
                            return saveBare(frames, engine, path, buffer);
                          },
                          removeFile});
  }
  compareContenders(state, contenders, targetRatios());
  state.SetBytesProcessed(state.iterations() * int64_t(kFrameBytes) * frames.size());
}

// Where the frame data of each block lies; found once, outside the timing.
struct Block {
  long offset;
  uint64_t length;
};
std::vector<Block> frameBlocks(const std::string& path) {
  std::vector<Block> blocks;
  FILE* f = fopen(path.c_str(), "rb");
  uint32_t head[3] = {};
  if (f == nullptr || fread(head, 4, 3, f) != 3) return blocks;
  long pos = 14 + 252L * head[2];
  for (;;) {
    uint64_t lengths[2] = {};
    uint32_t records = 0;
    fseek(f, pos, SEEK_SET);
    if (fread(lengths, 8, 2, f) != 2 || fread(&records, 4, 1, f) != 1) break;
    pos += 22 + 252L * records;
    blocks.push_back({pos, lengths[1]});
    pos += static_cast<long>(lengths[1]);
  }
  fclose(f);
  return blocks;
}

// The least any reader does: read each stored block and expand it into a
// fresh frame buffer (a raw one is read straight into it).
bool loadBare(const std::string& path, const std::vector<Block>& blocks, const Engine& engine,
              std::vector<uint8_t>& stream, std::vector<uint8_t*>& frames) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bool ok = true;
  for (const Block& block : blocks) {
    uint8_t* frame = static_cast<uint8_t*>(malloc(kFrameBytes));
    frames.push_back(frame);
    fseek(f, block.offset, SEEK_SET);
    if (block.length < kFrameBytes) {
      ok = ok && fread(stream.data(), 1, block.length, f) == block.length &&
           engine.inflate(stream.data(), block.length, frame, kFrameBytes);
    } else {
      ok = ok && fread(frame, 1, kFrameBytes, f) == kFrameBytes;
    }
  }
  fclose(f);
  return ok;
}

void BM_Load(benchmark::State& state) {
  const Frames& frames = framesOf(kindOf(state));
  if (!checkContent(state, frames, kindOf(state))) return;
  BunchOverFrames bunch(frames);
  const std::string path = freshPath("load.imc2");
  if (qvSaveImagesToFile(bunch.get(), path.c_str()) != 0) {
    state.SkipWithError("the file to load could not be written");
    return;
  }
  const std::vector<Block> blocks = frameBlocks(path);
  QVBUNCHOFIMAGES loaded;
  qvInitializeBunchStructure(&loaded);
  std::vector<uint8_t*> bareFrames;
  std::vector<uint8_t> stream(kFrameBytes);
  std::vector<Contender> contenders =
      libraryContenders([&] { return qvLoadImagesFromFile(path.c_str(), &loaded) == 0; },
                        [&] { qvFreeBunch(&loaded); });
  for (const Engine& engine : bareEngines()) {
    contenders.push_back(
        {std::string("bare_") + engine.name,
         [&, engine] { return loadBare(path, blocks, engine, stream, bareFrames); },
         [&] {
           for (uint8_t* p : bareFrames) free(p);
           bareFrames.clear();
         }});
  }
  compareContenders(state, contenders, targetRatios());
  remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t(kFrameBytes) * frames.size());
}

void BM_CheckFileFormat(benchmark::State& state) {
  BunchOverFrames bunch(framesOf(Frames::Kind::kCamera));
  const std::string path = freshPath("check.imc2");
  qvSaveImagesToFile(bunch.get(), path.c_str());
  for (auto _ : state) {
    if (qvCheckFileFormat(path.c_str(), nullptr, 0) != 3) state.SkipWithError("not IMC2");
  }
  remove(path.c_str());
}

}  // namespace

// Arg 0: camera-like frames; arg 1: incompressible frames.
BENCHMARK(BM_Save)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_CheckFileFormat)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
