// demo: the library's round trip in one command: grab from the default
// server, save, load back, verify, export a picture.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "acquire.h"
#include "commands.h"
#include "export.h"
#include "formats.h"
#include "interrupts.h"
#include "output.h"

namespace qvtool {

namespace {

struct DemoOptions {
  uint32_t count = 10;
  std::string keep;
};

std::optional<Problem> verifySame(Bunch& grabbed, Bunch& loaded) {
  if (loaded.size() != grabbed.size())
    return Problem{std::to_string(loaded.size()) + " frames loaded back, " +
                       std::to_string(grabbed.size()) + " saved",
                   ""};
  for (uint32_t i = 0; i < grabbed.size(); ++i) {
    const DIMAGE& a = grabbed[i];
    const DIMAGE& b = loaded[i];
    if (a.frameHeader.appendedFrameSize != b.frameHeader.appendedFrameSize ||
        a.frameHeader.frameNumber != b.frameHeader.frameNumber ||
        std::memcmp(a.frameBuffer, b.frameBuffer,
                    static_cast<size_t>(a.frameHeader.appendedFrameSize)) != 0)
      return Problem{"frame " + std::to_string(i + 1) + " differs after loading it back", ""};
  }
  return std::nullopt;
}

int runDemo(const DemoOptions& options) {
  StagingFolder scratch;  // removed at the end unless the user keeps the results
  std::string folder = options.keep, created;
  if (!folder.empty()) {
    if (auto problem = makeFolders(folder, created)) return report(*problem);
  } else {
    if (auto problem = scratch.create(temporaryFolder())) return report(*problem);
    folder = scratch.path();
  }
  unsigned major = 0, minor = 0, sub = 0;
  char info[200];
  unsigned length = sizeof info;
  std::printf("library:  %s\n", qvLibraryInfoEx(&major, &minor, &sub, info, &length));
  Grab grab;
  grab.count = options.count;
  std::printf("server:   %s %s, frames up to %d bytes\n", grab.address.c_str(),
              grab.property.c_str(),
              qvEstimateMaxFrameSizeBytes(grab.address.c_str(), grab.property.c_str()));
  std::fflush(stdout);

  InterruptScope interrupts;
  Bunch grabbed;
  const GrabOutcome outcome = acquire(grab, grabbed, interrupts.firstStage());
  if (interrupts.interrupted()) return report({"interrupted", "", kInterrupted});
  if (outcome.error != 0 || grabbed.size() != grab.count) return fail(grabEnding(grab, outcome));
  const DIMAGE& first = grabbed[0];
  std::printf("grabbed:  %u frames #%u..#%u, %d x %d %s, %d bytes per pixel, %d effective bits\n",
              grabbed.size(), first.frameHeader.frameNumber,
              grabbed[grabbed.size() - 1].frameHeader.frameNumber, frameWidth(first),
              frameHeight(first), pixelFormatName(first.frameHeader.imageFormat).c_str(),
              first.frameHeader.bytesPerPixel, first.frameHeader.effectiveBitsPerPixel);
  std::printf("checked:  sequence %s, complete %s\n",
              qvIsSequence(grabbed.get()) == 1 ? "yes" : "no",
              qvIsCompleteSequence(grabbed.get()) == 1 ? "yes" : "no");

  const std::string file = folder + "/demo.imc2";
  if (auto problem =
          saveSequence(grabbed, *formatNamed("imc2"), file, false, interrupts.firstStage()))
    return report(*problem);
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(file, error);
  const long long fileBytes = error ? 0 : static_cast<long long>(size);
  uint64_t raw = 0;
  for (uint32_t i = 0; i < grabbed.size(); ++i)
    raw += static_cast<uint32_t>(grabbed[i].frameHeader.appendedFrameSize);
  std::printf("saved:    %s, %lld bytes for %llu bytes of pixels (%.1f%%)\n", file.c_str(),
              fileBytes, static_cast<unsigned long long>(raw),
              raw ? 100.0 * static_cast<double>(fileBytes) / static_cast<double>(raw) : 0.0);

  Bunch loaded;
  Problem problem;
  if (!loadSequence(file, loaded, interrupts.firstStage(), problem)) return report(problem);
  if (auto mismatch = verifySame(grabbed, loaded)) return report(*mismatch);
  std::printf("verified: %u frames loaded back, pixels and frame numbers identical\n",
              loaded.size());

  StagingFolder pictures;
  if (auto failure = pictures.create(folder)) return report(*failure);
  if (auto failure = writePngFiles(loaded, pictures.file("frame_"), 1)) return report(*failure);
  if (auto failure = placeFile(pictures.file("frame_001.png"), folder + "/frame_001.png", false))
    return report(*failure);
  std::printf("exported: %s/frame_001.png\n", folder.c_str());
  if (options.keep.empty())
    std::printf("(the files above are removed now; --keep DIR keeps them)\n");
  return kSuccess;
}

}  // namespace

void addDemoCommand(CLI::App& app, Action& action) {
  std::shared_ptr<DemoOptions> options;
  CLI::App* command =
      addCommand(app, action, "demo",
                 "Show the library at work. Grabs frames from the default server, saves them as "
                 "IMC2, loads them "
                 "back, verifies pixels and frame numbers, exports the first frame as PNG. Works "
                 "in a temporary "
                 "folder that it removes, unless --keep names a folder for the results.",
                 "  qvtool demo\n  qvtool demo -n 50 --keep demo-output\n", options, runDemo);
  command->add_option("-n,--frames", options->count, "number of frames")
      ->type_name("N")
      ->check(CLI::Range(1u, 1000u))
      ->capture_default_str();
  command->add_option("--keep", options->keep, "folder that keeps demo.imc2 and frame_001.png")
      ->type_name("DIR");
}

}  // namespace qvtool
