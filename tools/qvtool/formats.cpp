#include "formats.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "formats/sequence_files.h"
#include "output.h"
#include "progress.h"

namespace qvtool {

const std::vector<OutputFormat>& outputFormats() {
  static const std::vector<OutputFormat> kFormats = {
      {"imc2", ".imc2", "IMC2/BKC2", Writer::kLibrary,
       "compressed sequence, keeps every header field"},
      {"bkc2", ".bkc2", "IMC2/BKC2", Writer::kLibrary, "the same format under its background name"},
      {"imc", ".imc", "IMC/BKC", Writer::kLegacy, "legacy compressed sequence of grey frames"},
      {"bkc", ".bkc", "IMC/BKC", Writer::kLegacy, "legacy compressed background sequence"},
      {"imm", ".imm", "IMM", Writer::kLegacy, "legacy uncompressed sequence of grey frames"},
      {"bkg", ".bkg", "BKG", Writer::kLegacy, "legacy single uncompressed background frame"},
      {"h5", ".h5", "HDF5/NeXus", Writer::kNexus,
       "HDF5 in the NeXus layout, keeps every header field"},
      {"nxs", ".nxs", "HDF5/NeXus", Writer::kNexus, "the same under the NeXus extension"},
      {"tif", ".tif", "TIFF", Writer::kTiff,
       "multi-page TIFF, header fields in each page's description"},
      {"tiff", ".tiff", "TIFF", Writer::kTiff, "the same under the long extension"},
  };
  return kFormats;
}

static std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const OutputFormat* formatNamed(const std::string& name) {
  const std::string wanted = lowered(name);
  for (const OutputFormat& format : outputFormats())
    if (wanted == format.name) return &format;
  return nullptr;
}

const OutputFormat* formatOfFile(const std::string& path) {
  const std::string name = lowered(baseName(path));
  for (const OutputFormat& format : outputFormats()) {
    const std::string extension = format.extension;
    if (name.size() > extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
      return &format;
  }
  return nullptr;
}

std::string formatList() {
  std::string list;
  for (const OutputFormat& format : outputFormats())
    list += (list.empty() ? "" : " ") + std::string(format.extension);
  return list;
}

std::string formatNames() {
  std::string list;
  for (const OutputFormat& format : outputFormats())
    list += (list.empty() ? "" : ", ") + std::string(format.name);
  return list;
}

std::optional<Problem> chooseFormat(const std::string& target, const std::string& formatOption,
                                    const OutputFormat*& format) {
  if (!formatOption.empty()) {
    format = formatNamed(formatOption);
    if (format == nullptr)
      return Problem{"unknown format '" + formatOption + "'; known formats: " + formatNames(), "",
                     kUsage};
    return std::nullopt;
  }
  format = formatOfFile(target);
  if (format == nullptr)
    return Problem{"cannot tell the output format from the name '" + target +
                       "'; use one of the extensions " + formatList() + " or --format NAME",
                   "", kUsage};
  return std::nullopt;
}

// ---- what a format can hold ----------------------------------------------------

static std::string droppedByLegacy(const Bunch& bunch) {
  bool times = false, numbers = false, events = false, port = false, flags = false;
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    const DIMAGE& image = bunch[i];
    times |= image.sourceHeader.timestampSeconds != 0;
    numbers |= image.frameHeader.frameNumber != i + 1;
    events |= image.frameHeader.eventNumber != 0;
    port |= image.sourceHeader.cameraPortName[0] != '\0' || image.sourceHeader.cameraPortId != 0;
    flags |= (image.frameHeader.imageFlags & ~3u) != 0;
  }
  std::string lost;
  auto add = [&](bool present, const char* what) {
    if (present) lost += (lost.empty() ? "" : ", ") + std::string(what);
  };
  add(times, "per-frame time stamps (read back as the file's time)");
  add(numbers, "frame numbers (read back as 1..N)");
  add(events, "event numbers");
  add(port, "camera port name and id");
  add(flags, "image flags");
  return lost;
}

static bool hasJpegFrames(const Bunch& bunch) {
  for (uint32_t i = 0; i < bunch.size(); ++i)
    if (bunch[i].frameHeader.imageFormat == CF_IMAGE_FORMAT_JPEG) return true;
  return false;
}

std::optional<Problem> prepareFor(const OutputFormat& format, Bunch& bunch,
                                  const std::string& target, std::vector<std::string>& warnings) {
  if (hasJpegFrames(bunch)) {
    // Sequence files hold raw GRAY or RGB pixels.
    if (qvDecompressSequence(bunch.get(), 1) != 1)
      return Problem{"cannot decode the JPEG frames", ""};
    warnings.push_back(target + ": JPEG frames are stored decoded");
  }
  if (format.writer != Writer::kLegacy) return std::nullopt;
  const std::string name = std::string(format.name);
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "bkg" && bunch.size() != 1)
    return Problem{target + ": a BKG file holds one frame, the sequence has " +
                       std::to_string(bunch.size()) + " (a .bkc file holds a background sequence)",
                   ""};
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    const FRAMEHEADER& f = bunch[i].frameHeader;
    if (f.imageFormat != CF_IMAGE_FORMAT_GRAY || (f.bytesPerPixel != 1 && f.bytesPerPixel != 2))
      return Problem{target + ": " + upper +
                         " files hold grey frames of 1 or 2 bytes per pixel; frame " +
                         std::to_string(i + 1) + " is " + pixelFormatName(f.imageFormat) +
                         " with " + std::to_string(f.bytesPerPixel) + " byte(s) per pixel",
                     ""};
  }
  const std::string lost = droppedByLegacy(bunch);
  if (!lost.empty()) warnings.push_back(target + ": " + upper + " files keep no " + lost);
  return std::nullopt;
}

uint64_t saveMemoryFactor(const OutputFormat& format) {
  return format.writer == Writer::kLegacy ? 2 : 1;
}

// ---- saving ----------------------------------------------------------------------

constexpr int kCreateFailed = QV_E_SAVE_CREATE;
constexpr int kWriteFailed = QV_E_SAVE_WRITE;

// The library's reasons start with the (staged) file name: drop it.
static std::string withoutFilePrefix(const std::string& reason) {
  for (const char* marker : {" save error: ", " write error: ", " write error"}) {
    const size_t at = reason.find(marker);
    if (reason.compare(0, 6, "File \"") == 0 && at != std::string::npos) {
      const std::string rest = reason.substr(at + std::strlen(marker));
      if (!rest.empty()) return rest;
    }
  }
  return reason;
}

static std::string stagedName(const std::string& target, const OutputFormat& format) {
  const std::string name = baseName(target);
  return formatOfFile(name) == &format ? name : name + format.extension;
}

// The formats component's writers: a reason in plain words, no code.
static std::optional<Problem> saveWithComponent(const Bunch& bunch, const OutputFormat& format,
                                                const std::string& staged,
                                                const std::string& target, int* interrupt,
                                                const SaveChoices& choices) {
  std::string why;
  bool saved = false;
  withProgress("saving", [&](double* progress) {
    const qvformats::Control control{interrupt, progress};
    saved = format.writer == Writer::kNexus
                ? qvformats::saveNexus(*bunch.get(), staged, {choices.shuffle}, control, why)
                : qvformats::saveTiff(*bunch.get(), staged, control, why);
    return saved ? 0 : -1;
  });
  if (interrupt != nullptr && *interrupt == 1)
    return Problem{"interrupted while saving " + target + "; nothing written", why, kInterrupted};
  if (!saved) return Problem{"cannot save " + target + ": " + why, why};
  return std::nullopt;
}

std::optional<Problem> saveSequence(const Bunch& bunch, const OutputFormat& format,
                                    const std::string& target, bool force, int* interrupt,
                                    const SaveChoices& choices) {
  if (auto problem = checkTarget(target, force)) return problem;
  StagingFolder staging;
  if (auto problem = staging.create(folderOf(target))) return problem;
  const std::string staged = staging.file(stagedName(target, format));
  if (format.writer == Writer::kNexus || format.writer == Writer::kTiff) {
    if (auto problem = saveWithComponent(bunch, format, staged, target, interrupt, choices))
      return problem;
    return placeFile(staged, target, force);
  }
  char reason[1024] = "";
  int error = 0;
  const int code = withProgress("saving", [&](double* progress) {
    errno = 0;
    const int result =
        qvSaveImagesToFileEx(const_cast<QVBUNCHOFIMAGES*>(bunch.get()), staged.c_str(), reason,
                             sizeof reason, interrupt, progress);
    error = errno;
    return result;
  });
  if (interrupt != nullptr && *interrupt == 1)
    return Problem{"interrupted while saving " + target + "; nothing written", reason,
                   kInterrupted};
  if (code != 0) {
    // Codes -4 and -5 (creating or writing the file failed) come with the
    // system's reason: a full disk, a quota, an I/O error.
    const bool systemFailure = (code == kCreateFailed || code == kWriteFailed) && error != 0;
    return Problem{"cannot save " + target + ": " +
                       (systemFailure ? systemReason(error) : withoutFilePrefix(reason)),
                   reason};
  }
  return placeFile(staged, target, force);
}

// ---- direct conversions ------------------------------------------------------------

bool convertDirectly(const std::string& input, const OutputFormat& format,
                     const std::string& target, bool force, int* interrupt,
                     const SaveChoices& choices, std::optional<Problem>& problem,
                     uint32_t& frames) {
  const bool toNexus = format.writer == Writer::kNexus &&
                       qvCheckFileFormat(input.c_str(), nullptr, 0) == QV_FILE_IMC2;
  const bool toImc2 = format.writer == Writer::kLibrary &&
                      qvformats::containerOf(input) == qvformats::Container::kHdf5;
  if (!toNexus && !toImc2) return false;
  problem = checkTarget(target, force);
  if (problem) return true;
  StagingFolder staging;
  problem = staging.create(folderOf(target));
  if (problem) return true;
  const std::string staged = staging.file(stagedName(target, format));
  std::string why;
  qvformats::Conversion outcome = qvformats::Conversion::kFailed;
  withProgress("converting", [&](double* progress) {
    const qvformats::Control control{interrupt, progress};
    outcome = toNexus ? qvformats::convertImc2ToNexus(input, staged, {choices.shuffle}, control,
                                                      why, frames)
                      : qvformats::convertNexusToImc2(input, staged, control, why, frames);
    return outcome == qvformats::Conversion::kDone ? 0 : -1;
  });
  if (outcome == qvformats::Conversion::kNotDirect) return false;
  if (interrupt != nullptr && *interrupt == 1)
    problem = Problem{"interrupted while converting to " + target + "; nothing written", why,
                      kInterrupted};
  else if (outcome == qvformats::Conversion::kFailed)
    problem = Problem{"cannot convert " + input + ": " + why, why};
  else
    problem = placeFile(staged, target, force);
  return true;
}

}  // namespace qvtool
