#include "sequence.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "diagnose.h"
#include "formats/sequence_files.h"
#include "progress.h"

namespace qvtool {

// HDF5 and TIFF files go to the formats component.
static bool loadWithComponent(const std::string& path, qvformats::Container container, Bunch& bunch,
                              int* interrupt, Problem& problem) {
  std::string why;
  bool loaded = false;
  withProgress("loading", [&](double* progress) {
    const qvformats::Control control{interrupt, progress};
    loaded = container == qvformats::Container::kHdf5
                 ? qvformats::loadNexus(path, bunch.get(), control, why)
                 : qvformats::loadTiff(path, bunch.get(), control, why);
    return loaded ? 0 : -1;
  });
  if (loaded) return true;
  if (interrupt != nullptr && *interrupt == 1)
    problem = {"interrupted while reading " + path, why, kInterrupted};
  else
    problem = {path + ": cannot be read: " + why, why, kFailure};
  return false;
}

// A regular file with something in it that this process may open.
static bool readableFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) || std::filesystem::is_empty(path, error))
    return false;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

std::string fileFormatOf(const std::string& path) {
  switch (qvformats::containerOf(path)) {
    case qvformats::Container::kHdf5:
      return "HDF5/NeXus";
    case qvformats::Container::kTiff:
      return "TIFF";
    default:
      return fileFormatName(qvCheckFileFormat(path.c_str(), nullptr, 0));
  }
}

bool loadSequence(const std::string& path, Bunch& bunch, int* interrupt, Problem& problem) {
  if (!readableFile(path)) {
    const int error = errno;
    const std::string explanation = explainUnreadable(path);
    problem = {explanation.empty() ? path + ": " + systemReason(error) : explanation, "", kFailure};
    return false;
  }
  const qvformats::Container container = qvformats::containerOf(path);
  if (container != qvformats::Container::kOther)
    return loadWithComponent(path, container, bunch, interrupt, problem);
  char reason[1024] = "";
  const int code = withProgress("loading", [&](double* progress) {
    return qvLoadImagesFromFileEx(path.c_str(), bunch.get(), interrupt, progress, reason,
                                  sizeof reason);
  });
  if (code == 0) return true;
  if (interrupt != nullptr && *interrupt == 1) {
    problem = {"interrupted while reading " + path, reason, kInterrupted};
    return false;
  }
  const std::string explanation = explainUnreadable(path);
  problem = {explanation.empty() ? path + ": cannot be read: " + reason : explanation, reason,
             kFailure};
  return false;
}

std::string fileFormatName(int code) {
  switch (code) {
    case QV_FILE_IMC2:
      return "IMC2/BKC2";
    case QV_FILE_IMC:
      return "IMC/BKC";
    case QV_FILE_IMM:
      return "IMM";
    case QV_FILE_BKG:
      return "BKG";
    default:
      return "IMC2/BKC2 (with bytes after the last image)";
  }
}

std::string pixelFormatName(int code) {
  char buffer[64];
  size_t size = sizeof buffer;
  const char* name = QVV3_INTERNAL_CDIMAGE_getFormatAsString(code, buffer, &size);
  return name != nullptr ? name : "format " + std::to_string(code);
}

std::string flagWords(uint32_t flags) {
  char buffer[256];
  size_t size = sizeof buffer;
  const char* words = QVV3_INTERNAL_CDIMAGE_getFlagsAsString(flags, buffer, &size);
  return words != nullptr ? words : "";
}

std::string utcText(uint32_t seconds, uint32_t microseconds) {
  if (seconds == 0) return "";
  char buffer[64];
  const char* text = QVV3_INTERNAL_platformTimeToUTCString(
      seconds, static_cast<int>(microseconds % 1000000u), 1, 0, 0, buffer, sizeof buffer);
  return text != nullptr ? text : "";
}

std::string cameraPortName(const DIMAGE& image) {
  const char* name = image.sourceHeader.cameraPortName;
  return std::string(name, strnlen(name, sizeof image.sourceHeader.cameraPortName));
}

int frameWidth(const DIMAGE& image) {
  return image.frameHeader.aoiWidth > 0 ? image.frameHeader.aoiWidth
                                        : image.frameHeader.sourceWidth;
}

int frameHeight(const DIMAGE& image) {
  return image.frameHeader.aoiHeight > 0 ? image.frameHeader.aoiHeight
                                         : image.frameHeader.sourceHeight;
}

std::string byteCount(uint64_t bytes) {
  char text[96];
  const double gib = static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0);
  if (gib >= 0.1)
    std::snprintf(text, sizeof text, "%llu bytes (%.1f GiB)",
                  static_cast<unsigned long long>(bytes), gib);
  else
    std::snprintf(text, sizeof text, "%llu bytes (%.1f MiB)",
                  static_cast<unsigned long long>(bytes),
                  static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace qvtool
