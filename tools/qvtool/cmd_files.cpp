// Subcommands that work on sequence files: info, check, convert, export.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli.h"

namespace qvtool {

namespace {

constexpr char kInfoUsage[] = "qvtool info FILE [--json]";
constexpr char kCheckUsage[] = "qvtool check FILE";
constexpr char kConvertUsage[] = "qvtool convert IN OUT [--force]   (OUT's extension selects the format: .imc .bkc .imm .bkg, else IMC2/BKC2)";
constexpr char kExportUsage[] = "qvtool export IN DIR [--palette 0|1|2] [--prefix NAME] [--frames N]";

bool wantsHelp(const Arguments& args) { return args.has("help") || args.has("h"); }

std::string jsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) continue;
    out += c;
  }
  return out + "\"";
}

bool isDirectory(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

int cmdInfo(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!parseArguments(argc, argv, {}, {"json", "help", "h"}, args, error))
    return usageError("info", error, kInfoUsage);
  if (wantsHelp(args)) return std::printf("usage: %s\n", kInfoUsage), kSuccess;
  if (args.positional.size() != 1) return usageError("info", "expects one FILE", kInfoUsage);
  const std::string& path = args.positional[0];
  Bunch bunch;
  if (!loadFile(path, bunch, error, !args.has("json"))) return failure(error);
  char reason[256] = "";
  const int format = qvCheckFileFormat(path.c_str(), reason, sizeof reason);
  const DIMAGE& first = bunch[0];
  const DIMAGE& last = bunch[bunch.size() - 1];
  const FRAMEHEADER& f = first.frameHeader;
  const int width = f.aoiWidth > 0 ? f.aoiWidth : f.sourceWidth;
  const int height = f.aoiHeight > 0 ? f.aoiHeight : f.sourceHeight;
  const int sequence = qvIsSequence(bunch.get());
  const int complete = qvIsCompleteSequence(bunch.get());
  const std::string firstTime = utcText(first.sourceHeader.timestampSeconds, first.sourceHeader.timestampMicroseconds);
  const std::string lastTime = utcText(last.sourceHeader.timestampSeconds, last.sourceHeader.timestampMicroseconds);
  if (args.has("json")) {
    std::printf(
        "{\"file\": %s, \"format\": %s, \"frames\": %u, \"width\": %d, \"height\": %d, "
        "\"source_width\": %d, \"source_height\": %d, \"pixel_format\": %s, \"bytes_per_pixel\": %d, "
        "\"effective_bits\": %d, \"flags\": %s, \"x_scale\": %g, \"y_scale\": %g, "
        "\"first_timestamp\": %s, \"last_timestamp\": %s, \"first_frame_number\": %u, "
        "\"last_frame_number\": %u, \"sequence\": %s, \"complete_sequence\": %s}\n",
        jsonText(path).c_str(), jsonText(formatName(format)).c_str(), bunch.size(), width, height,
        f.sourceWidth, f.sourceHeight, jsonText(pixelFormatName(f.imageFormat)).c_str(), f.bytesPerPixel,
        f.effectiveBitsPerPixel, jsonText(flagWords(f.imageFlags)).c_str(), f.xScale, f.yScale,
        jsonText(firstTime).c_str(), jsonText(lastTime).c_str(), f.frameNumber,
        last.frameHeader.frameNumber, sequence == 1 ? "true" : "false", complete == 1 ? "true" : "false");
    return kSuccess;
  }
  std::printf("file:            %s\n", path.c_str());
  std::printf("format:          %s\n", formatName(format).c_str());
  std::printf("frames:          %u\n", bunch.size());
  std::printf("geometry:        %d x %d (source %d x %d)\n", width, height, f.sourceWidth, f.sourceHeight);
  std::printf("pixel format:    %s, %d byte(s) per pixel, %d effective bits\n",
              pixelFormatName(f.imageFormat).c_str(), f.bytesPerPixel, f.effectiveBitsPerPixel);
  std::printf("flags:           %s\n", flagWords(f.imageFlags).c_str());
  std::printf("scales:          x %g, y %g pixel/mm\n", f.xScale, f.yScale);
  std::printf("first frame:     #%u at %s\n", f.frameNumber, firstTime.c_str());
  std::printf("last frame:      #%u at %s\n", last.frameHeader.frameNumber, lastTime.c_str());
  std::printf("sequence:        %s\n", sequence == 1 ? (complete == 1 ? "complete sequence" : "sequence (frame numbers not continuous)") : "no");
  return kSuccess;
}

int cmdCheck(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!parseArguments(argc, argv, {}, {"help", "h"}, args, error))
    return usageError("check", error, kCheckUsage);
  if (wantsHelp(args)) return std::printf("usage: %s\n", kCheckUsage), kSuccess;
  if (args.positional.size() != 1) return usageError("check", "expects one FILE", kCheckUsage);
  Bunch bunch;
  if (!loadFile(args.positional[0], bunch, error)) return failure(error);
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    char reason[512] = "";
    if (qvCheckImageValidity(&bunch[i], reason, sizeof reason) != 1)
      return failure("frame " + std::to_string(i + 1) + " of " + std::to_string(bunch.size()) +
                     " is invalid: " + reason);
  }
  std::printf("%s: %u frame(s), all valid\n", args.positional[0].c_str(), bunch.size());
  return kSuccess;
}

int cmdConvert(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!parseArguments(argc, argv, {}, {"force", "help", "h"}, args, error))
    return usageError("convert", error, kConvertUsage);
  if (wantsHelp(args)) return std::printf("usage: %s\n", kConvertUsage), kSuccess;
  if (args.positional.size() != 2) return usageError("convert", "expects IN and OUT", kConvertUsage);
  const std::string& in = args.positional[0];
  const std::string& out = args.positional[1];
  // The legacy writers would replace an existing file; never do that silently.
  if (::access(out.c_str(), F_OK) == 0) {
    if (!args.has("force")) return failure(out + " already exists (use --force to replace it)");
    if (std::remove(out.c_str()) != 0) return failure("cannot replace " + out);
  }
  Bunch bunch;
  if (!loadFile(in, bunch, error)) return failure(error);
  char reason[512] = "";
  LongOperation operation("saving");
  int code = operation.run([&](int* interrupt, double* progress) {
    return qvSaveImagesToFileEx(bunch.get(), out.c_str(), reason, sizeof reason, interrupt, progress);
  });
  if (code != 0) {
    std::remove(out.c_str());  // never leave a partial file, whatever the writer left
    return failure(reason[0] != '\0' ? reason : "save failed with code " + std::to_string(code));
  }
  std::printf("%s -> %s: %u frame(s)\n", in.c_str(), out.c_str(), bunch.size());
  return kSuccess;
}

bool exportBmp(Bunch& bunch, const std::string& prefix, int palette, uint32_t maxFrames,
               std::string& error) {
  VIDINFHDR vinf;
  initialize_vidinfhdr(&vinf);
  char reason[256] = "";
  int intact = 1;
  if (qvBunchToVIDINFHDREx2(bunch.get(), &vinf, reason, sizeof reason, 0, &intact) != 1) {
    error = std::string("cannot export: ") + reason;
    return false;
  }
  if (maxFrames > 0 && vinf.numframes > static_cast<int32_t>(maxFrames)) {
    for (int i = static_cast<int>(maxFrames); i < vinf.numframes; ++i) {
      std::free(vinf.framebits[i]);
      vinf.framebits[i] = nullptr;
    }
    vinf.numframes = static_cast<int32_t>(maxFrames);
  }
  if (vinf.bpp == 16) {
    // Scale the effective bits down to 8 so the picture uses the full grey range.
    const int shift = (vinf.ebpp > 8 && vinf.ebpp <= 16) ? vinf.ebpp - 8 : 8;
    const size_t pixels = static_cast<size_t>(vinf.width) * static_cast<size_t>(vinf.height);
    for (int i = 0; i < vinf.numframes; ++i) {
      const unsigned char* src = vinf.framebits[i];
      unsigned char* dst = vinf.framebits[i];  // shrinking in place is safe front to back
      for (size_t p = 0; p < pixels; ++p) {
        unsigned value = static_cast<unsigned>(src[2 * p]) | (static_cast<unsigned>(src[2 * p + 1]) << 8);
        value >>= shift;
        dst[p] = static_cast<unsigned char>(value > 255 ? 255 : value);
      }
    }
    vinf.bpp = 8;
    vinf.ebpp = 8;
  }
  int code = save_bmp_files(prefix.c_str(), &vinf, palette, 2);
  free_vidinfhdr(&vinf);
  if (code != 0) {
    error = "writing BMP files " + prefix + "NNN.bmp failed (code " + std::to_string(code) + ")";
    return false;
  }
  return true;
}

int cmdExport(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!parseArguments(argc, argv, {"palette", "prefix", "frames"}, {"help", "h"}, args, error))
    return usageError("export", error, kExportUsage);
  if (wantsHelp(args)) return std::printf("usage: %s\n", kExportUsage), kSuccess;
  if (args.positional.size() != 2) return usageError("export", "expects IN and DIR", kExportUsage);
  long palette = 0, frames = 0;
  if (!parseInt(args.value("palette", "0"), 0, 2, palette))
    return usageError("export", "palette must be 0, 1 or 2", kExportUsage);
  if (!parseInt(args.value("frames", "0"), 0, 1000000, frames))
    return usageError("export", "frames must be a count", kExportUsage);
  const std::string& dir = args.positional[1];
  if (!isDirectory(dir)) return failure(dir + " is not a directory");
  Bunch bunch;
  if (!loadFile(args.positional[0], bunch, error)) return failure(error);
  const std::string prefix = dir + "/" + args.value("prefix", "frame_");
  if (!exportBmp(bunch, prefix, static_cast<int>(palette), static_cast<uint32_t>(frames), error))
    return failure(error);
  const uint32_t written = frames > 0 && frames < static_cast<long>(bunch.size()) ? static_cast<uint32_t>(frames) : bunch.size();
  std::printf("%u BMP file(s): %s001.bmp ...\n", written, prefix.c_str());
  return kSuccess;
}

}  // namespace qvtool
