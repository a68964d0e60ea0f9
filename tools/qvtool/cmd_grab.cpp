// Subcommands that reach video servers or system lists: grab, names, demo.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

namespace qvtool {

namespace {

constexpr char kDefaultAddress[] = "/SIM/VIDEO/CAM1";
constexpr char kDefaultProperty[] = "Frame";
constexpr char kGrabUsage[] =
    "qvtool grab [ADDRESS [PROPERTY]] -n N -o FILE [--rate MS] [--mode TIMER|EVENT...]";
constexpr char kNamesUsage[] = "qvtool names SYSTEMLIST";
constexpr char kDemoUsage[] = "qvtool demo [--dir DIR] [-n N]";

bool wantsHelp(const Arguments& args) { return args.has("help") || args.has("h"); }

// Grabs into the bunch; on failure error holds why.
bool grabFrames(const std::string& address, const std::string& property, unsigned count, int rate,
                int mode, Bunch& bunch, std::string& error, bool& interrupted) {
  int errorCode = 0, tineError = 0;
  LongOperation operation("grabbing");
  int received = operation.run([&](int* interrupt, double* progress) {
    return qvGrabFramesEx(bunch.get(), address.c_str(), property.c_str(), count, rate, mode,
                          &errorCode, &tineError, interrupt, progress);
  });
  interrupted = operation.interrupted();
  if (errorCode == 0 && received == static_cast<int>(count)) return true;
  char text[128] = "";
  size_t length = sizeof text;
  qvTineCodeToString(tineError, text, &length);
  error = "grab of " + std::to_string(count) + " frame(s) from " + address + " " + property +
          " got " + std::to_string(received) + " (error " + std::to_string(errorCode) +
          ", TINE code " + std::to_string(tineError) + (text[0] ? std::string(": ") + text : "") + ")";
  return false;
}

bool saveBunch(Bunch& bunch, const std::string& path, std::string& error) {
  char reason[512] = "";
  LongOperation operation("saving");
  int code = operation.run([&](int* interrupt, double* progress) {
    return qvSaveImagesToFileEx(bunch.get(), path.c_str(), reason, sizeof reason, interrupt, progress);
  });
  if (code == 0) return true;
  std::remove(path.c_str());
  error = reason[0] != '\0' ? reason : "save failed with code " + std::to_string(code);
  return false;
}

}  // namespace

int cmdGrab(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!parseArguments(argc, argv, {"n", "o", "rate", "mode"}, {"help", "h"}, args, error))
    return usageError("grab", error, kGrabUsage);
  if (wantsHelp(args)) return std::printf("usage: %s\n", kGrabUsage), kSuccess;
  if (args.positional.size() > 2) return usageError("grab", "too many arguments", kGrabUsage);
  long count = 0, rate = 0;
  if (!parseInt(args.value("n"), 1, 100000, count))
    return usageError("grab", "-n N (1..100000) is required", kGrabUsage);
  if (!parseInt(args.value("rate", "100"), 1, 60000, rate))
    return usageError("grab", "--rate must be 1..60000 ms", kGrabUsage);
  const int mode = QVV3_INTERNAL_tineDecodeModeStringCMnew(args.value("mode", "TIMER").c_str());
  if (mode < 0) return usageError("grab", "--mode is not a valid call mode", kGrabUsage);
  const std::string out = args.value("o");
  if (out.empty()) return usageError("grab", "-o FILE is required", kGrabUsage);
  if (::access(out.c_str(), F_OK) == 0) return failure(out + " already exists");
  const std::string address = args.positional.size() > 0 ? args.positional[0] : kDefaultAddress;
  const std::string property = args.positional.size() > 1 ? args.positional[1] : kDefaultProperty;
  Bunch bunch;
  bool interrupted = false;
  if (!grabFrames(address, property, static_cast<unsigned>(count), static_cast<int>(rate), mode,
                  bunch, error, interrupted))
    return failure(interrupted ? "interrupted: " + error : error);
  if (!saveBunch(bunch, out, error)) return failure(error);
  std::printf("grabbed %u frame(s) from %s %s into %s\n", bunch.size(), address.c_str(),
              property.c_str(), out.c_str());
  return kSuccess;
}

int cmdNames(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!parseArguments(argc, argv, {}, {"help", "h"}, args, error))
    return usageError("names", error, kNamesUsage);
  if (wantsHelp(args)) return std::printf("usage: %s\n", kNamesUsage), kSuccess;
  if (args.positional.size() != 1) return usageError("names", "expects one SYSTEMLIST", kNamesUsage);
  const char* path = args.positional[0].c_str();
  unsigned count = 0;
  if (qvGetAllImageSourceNames(path, nullptr, nullptr, &count) != 1)
    return failure(std::string("cannot load system list ") + path);
  std::vector<QVIMAGESOURCEPAIR> pairs(count);
  if (count > 0 && qvGetAllImageSourceNames(path, nullptr, pairs.data(), &count) != 1)
    return failure(std::string("cannot read image sources of ") + path);
  char context[65] = "";
  unsigned servers = 0;
  if (qvGetAllRawVideoServerNames(path, context, nullptr, &servers) != 1)
    return failure(std::string("cannot read raw video servers of ") + path);
  std::vector<char> names(static_cast<size_t>(servers) * 64);
  if (servers > 0 && qvGetAllRawVideoServerNames(path, nullptr, names.data(), &servers) != 1)
    return failure(std::string("cannot read raw video servers of ") + path);
  std::printf("TINE context: %.64s\n", context);
  std::printf("image sources (%u):\n", count);
  for (unsigned i = 0; i < count; ++i)
    std::printf("  %-40.64s id %d\n", pairs[i].name, pairs[i].nameId);
  std::printf("raw video servers (%u):\n", servers);
  for (unsigned i = 0; i < servers; ++i) std::printf("  %.64s\n", &names[static_cast<size_t>(i) * 64]);
  return kSuccess;
}

int cmdDemo(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!parseArguments(argc, argv, {"dir", "n"}, {"help", "h"}, args, error))
    return usageError("demo", error, kDemoUsage);
  if (wantsHelp(args)) return std::printf("usage: %s\n", kDemoUsage), kSuccess;
  long count = 10;
  if (!parseInt(args.value("n", "10"), 1, 1000, count)) return usageError("demo", "-n must be 1..1000", kDemoUsage);
  std::string dir = args.value("dir");
  if (dir.empty()) {
    char pattern[] = "/tmp/qvtool-demo-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return failure("cannot create a working directory");
    dir = pattern;
  }
  unsigned major = 0, minor = 0, sub = 0;
  char info[200];
  unsigned length = sizeof info;
  std::printf("library:  %s\n", qvLibraryInfoEx(&major, &minor, &sub, info, &length));

  const int frameBytes = qvEstimateMaxFrameSizeBytes(kDefaultAddress, kDefaultProperty);
  std::printf("server:   %s %s, frames up to %d bytes\n", kDefaultAddress, kDefaultProperty, frameBytes);
  Bunch grabbed;
  bool interrupted = false;
  if (!grabFrames(kDefaultAddress, kDefaultProperty, static_cast<unsigned>(count), 100, 3, grabbed,
                  error, interrupted))
    return failure(error);
  const DIMAGE& first = grabbed[0];
  std::printf("grabbed:  %u frames #%u..#%u, %d x %d %s, %d bytes per pixel, %d effective bits\n",
              grabbed.size(), first.frameHeader.frameNumber,
              grabbed[grabbed.size() - 1].frameHeader.frameNumber, first.frameHeader.sourceWidth,
              first.frameHeader.sourceHeight, pixelFormatName(first.frameHeader.imageFormat).c_str(),
              first.frameHeader.bytesPerPixel, first.frameHeader.effectiveBitsPerPixel);
  std::printf("checked:  sequence %s, complete %s\n", qvIsSequence(grabbed.get()) == 1 ? "yes" : "no",
              qvIsCompleteSequence(grabbed.get()) == 1 ? "yes" : "no");

  const std::string file = dir + "/demo.imc2";
  std::remove(file.c_str());
  if (!saveBunch(grabbed, file, error)) return failure(error);
  struct stat status;
  ::stat(file.c_str(), &status);
  uint64_t raw = 0;
  for (uint32_t i = 0; i < grabbed.size(); ++i) raw += static_cast<uint32_t>(grabbed[i].frameHeader.appendedFrameSize);
  std::printf("saved:    %s, %lld bytes for %llu bytes of pixels (%.1f%%)\n", file.c_str(),
              static_cast<long long>(status.st_size), static_cast<unsigned long long>(raw),
              raw ? 100.0 * static_cast<double>(status.st_size) / static_cast<double>(raw) : 0.0);

  Bunch loaded;
  if (!loadFile(file, loaded, error)) return failure(error);
  for (uint32_t i = 0; i < grabbed.size(); ++i) {
    const DIMAGE& a = grabbed[i];
    const DIMAGE& b = loaded[i];
    if (i >= loaded.size() || a.frameHeader.appendedFrameSize != b.frameHeader.appendedFrameSize ||
        a.frameHeader.frameNumber != b.frameHeader.frameNumber ||
        std::memcmp(a.frameBuffer, b.frameBuffer, static_cast<size_t>(a.frameHeader.appendedFrameSize)) != 0)
      return failure("frame " + std::to_string(i + 1) + " differs after loading it back");
  }
  std::printf("verified: %u frames loaded back, pixels and frame numbers identical\n", loaded.size());

  if (!exportBmp(loaded, dir + "/frame_", 0, 1, error)) return failure(error);
  std::printf("exported: %s/frame_001.bmp\n", dir.c_str());
  return kSuccess;
}

}  // namespace qvtool
