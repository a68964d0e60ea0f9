// HDF5/NeXus against the bytes it has to move: converting IMC2 to HDF5 and
// back (the stored frames move as they are) against copying the source file
// block by block, and saving a sequence to HDF5 against saving it to IMC2
// (the same compression work). File sizes with and without shuffle.
#include <sys/stat.h>

#include <memory>

#include "formats/sequence_files.h"
#include "sequence_bench.h"

using namespace qvbench;

namespace {

// What cp does: read the file and write the same bytes to a new one.
bool copyFile(const std::string& from, const std::string& to) {
  FILE* in = fopen(from.c_str(), "rb");
  FILE* out = in ? fopen(to.c_str(), "wb") : nullptr;
  std::vector<char> block(1 << 20);
  bool ok = in && out;
  for (size_t n = 0; ok && (n = fread(block.data(), 1, block.size(), in)) > 0;)
    ok = fwrite(block.data(), 1, n, out) == n;
  if (in) fclose(in);
  if (out) ok = fclose(out) == 0 && ok;
  return ok;
}

double fileBytes(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 ? static_cast<double>(status.st_size) : 0.0;
}

// The camera-like sequence once as IMC2 and once as HDF5, made untimed.
const std::string& sourceFile(const char* extension) {
  static std::string imc2, nexus;
  std::string& path = extension[1] == 'i' ? imc2 : nexus;
  if (path.empty()) {
    BunchOverFrames bunch(framesOf(Frames::Kind::kCamera));
    path = freshPath(std::string("source") + extension);
    std::string why;
    if (extension[1] == 'i')
      qvSaveImagesToFile(bunch.get(), path.c_str());
    else
      qvformats::saveNexus(*bunch.get(), path, {}, {}, why);
  }
  return path;
}

Contender fileCopy(const std::string& source, const char* extension) {
  auto target = std::make_shared<std::string>();
  return {"copy",
          [=] { return copyFile(source, *target = freshPath(std::string("copy") + extension)); },
          [=] { unlink(target->c_str()); }};
}

void BM_Imc2ToNexus(benchmark::State& state) {
  const std::string& imc2 = sourceFile(".imc2");
  auto target = std::make_shared<std::string>();
  const Contender direct{"direct",
                         [=] {
                           std::string why;
                           uint32_t frames = 0;
                           return qvformats::convertImc2ToNexus(imc2, *target = freshPath("to.h5"),
                                                                {}, {}, why, frames) ==
                                  qvformats::Conversion::kDone;
                         },
                         [=] { unlink(target->c_str()); }};
  compareContenders(state, {direct, fileCopy(imc2, ".imc2")}, {{0, 1}});
}

void BM_NexusToImc2(benchmark::State& state) {
  const std::string& nexus = sourceFile(".h5");
  auto target = std::make_shared<std::string>();
  const Contender direct{"direct",
                         [=] {
                           std::string why;
                           uint32_t frames = 0;
                           return qvformats::convertNexusToImc2(
                                      nexus, *target = freshPath("to.imc2"), {}, why, frames) ==
                                  qvformats::Conversion::kDone;
                         },
                         [=] { unlink(target->c_str()); }};
  compareContenders(state, {direct, fileCopy(nexus, ".h5")}, {{0, 1}});
}

// Saving the frames as a grab gives them: to HDF5, to HDF5 with shuffle, to IMC2.
void BM_SaveNexusAgainstImc2(benchmark::State& state) {
  auto bunch = std::make_shared<BunchOverFrames>(framesOf(Frames::Kind::kCamera));
  auto target = std::make_shared<std::string>();
  auto sizes = std::make_shared<std::vector<double>>(3, 0.0);
  auto nexus = [=](bool shuffle, size_t k) {
    return Contender{shuffle ? "hdf5_shuffle" : "hdf5",
                     [=] {
                       std::string why;
                       const bool ok = qvformats::saveNexus(
                           *bunch->get(), *target = freshPath("save.h5"), {shuffle}, {}, why);
                       (*sizes)[k] = fileBytes(*target);
                       return ok;
                     },
                     [=] { unlink(target->c_str()); }};
  };
  const Contender imc2{"imc2",
                       [=] {
                         const bool ok =
                             qvSaveImagesToFile(bunch->get(),
                                                (*target = freshPath("save.imc2")).c_str()) == 0;
                         (*sizes)[2] = fileBytes(*target);
                         return ok;
                       },
                       [=] { unlink(target->c_str()); }};
  compareContenders(state, {nexus(false, 0), nexus(true, 1), imc2}, {{0, 2}, {1, 2}});
  state.counters["hdf5_MiB"] = (*sizes)[0] / 1048576.0;
  state.counters["hdf5_shuffle_MiB"] = (*sizes)[1] / 1048576.0;
  state.counters["imc2_MiB"] = (*sizes)[2] / 1048576.0;
}

}  // namespace

BENCHMARK(BM_Imc2ToNexus)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NexusToImc2)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveNexusAgainstImc2)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
