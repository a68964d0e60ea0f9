// export: frames as PNG pictures at full depth, or as 8-bit BMP pictures with
// 16-bit frames scaled down from their effective bits; JPEG frames decoded.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "export.h"
#include "interrupts.h"
#include "output.h"
#include "sequence.h"

namespace qvtool {

namespace {

struct ExportOptions {
  std::string input;
  std::string folder;
  std::string format = "png";
  std::string palette = "grey";
  std::string prefix = "frame_";
  uint32_t frames = 0;
  bool force = false;
};

// Palettes of the BMP writer by name (their numbers are accepted too).
int paletteCode(const std::string& name) {
  static const char* const kNames[][2] = {{"grey", "0"}, {"bands", "1"}, {"rainbow", "2"}};
  for (int code = 0; code < 3; ++code)
    if (name == kNames[code][0] || name == kNames[code][1] || (code == 0 && name == "gray"))
      return code;
  return -1;
}

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Moves every staged picture into the folder; a refusal leaves none behind.
std::optional<Problem> placeAll(const StagingFolder& staging, const std::string& folder,
                                const std::vector<std::string>& names, bool force) {
  auto target = [&](const std::string& name) { return folder + sys::kPathSeparator + name; };
  for (const std::string& name : names)
    if (auto problem = checkTarget(target(name), force)) return problem;
  std::vector<std::string> placed;
  for (const std::string& name : names) {
    if (auto problem = placeFile(staging.file(name), target(name), force)) {
      if (!force)
        for (const std::string& done : placed) std::remove(done.c_str());
      return problem;
    }
    placed.push_back(target(name));
  }
  return std::nullopt;
}

int runExport(const ExportOptions& options) {
  if (options.format != "png" && options.format != "bmp")
    return usageError("export", "--format wants png or bmp");
  const int palette = paletteCode(options.palette);
  if (palette < 0)
    return usageError("export", "--palette wants grey, bands or rainbow (or 0, 1, 2)");
  if (options.prefix.empty() || options.prefix.find('/') != std::string::npos)
    return usageError("export", "--prefix must be a plain file name start");
  InterruptScope interrupts;
  Bunch bunch;
  Problem problem;
  if (!loadSequence(options.input, bunch, interrupts.firstStage(), problem)) return report(problem);

  std::string created;
  if (auto failure = makeFolders(options.folder, created)) return report(*failure);
  int code = kSuccess;
  std::vector<std::string> names;
  {
    StagingFolder staging;
    std::optional<Problem> failure = staging.create(options.folder);
    if (!failure) {
      failure = options.format == "png"
                    ? writePngFiles(bunch, staging.file(options.prefix), options.frames)
                    : writeBmpFiles(bunch, staging.file(options.prefix), palette, options.frames);
    }
    if (!failure && interrupts.interrupted())
      failure = Problem{"interrupted; no picture written", "", kInterrupted};
    if (!failure) {
      names = filesIn(staging.path());
      failure = placeAll(staging, options.folder, names, options.force);
    }
    if (failure) code = report(*failure);
  }
  if (code != kSuccess) {
    removeEmptyFolders(options.folder, created);
    return code;
  }
  std::printf("%zu %s file(s) in %s: %s ... %s\n", names.size(),
              options.format == "png" ? "PNG" : "BMP", options.folder.c_str(),
              names.front().c_str(), names.back().c_str());
  return kSuccess;
}

}  // namespace

void addExportCommand(CLI::App& app, Action& action) {
  std::shared_ptr<ExportOptions> options;
  CLI::App* command = addCommand(
      app, action, "export",
      "Write the frames of a sequence file as pictures named DIR/PREFIX001.png, ...: PNG at "
      "the frames' full depth (8- or 16-bit grey, RGB; the effective bits in the sBIT "
      "chunk), or with --format bmp 8-bit BMP, 16-bit frames scaled down from their "
      "effective bits. JPEG frames are decoded. DIR is created when missing; existing "
      "pictures are replaced only with --force.",
      "  qvtool export cam1.imc2 png\n"
      "  qvtool export cam1.imc2 bmp --format bmp --frames 2 --palette rainbow --prefix cam1_\n",
      options, runExport);
  command->add_option("IN", options->input, "sequence file to read")->required();
  command->add_option("DIR", options->folder, "folder for the pictures")->required();
  command->add_option("--format", options->format, "png or bmp")
      ->type_name("NAME")
      ->capture_default_str();
  command
      ->add_option("--palette", options->palette,
                   "BMP only: grey (0), bands (1: blue, green, red thirds) or rainbow (2)")
      ->type_name("NAME")
      ->capture_default_str();
  command->add_option("--prefix", options->prefix, "start of the picture names")
      ->type_name("NAME")
      ->capture_default_str();
  command->add_option("--frames", options->frames, "write only the first N frames (0: all)")
      ->type_name("N")
      ->check(CLI::Range(0u, 100000000u));
  command->add_flag("-f,--force", options->force, "replace existing pictures of the same names");
}

}  // namespace qvtool
