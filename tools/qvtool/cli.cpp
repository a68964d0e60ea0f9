#include "cli.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qvtool {

bool Arguments::has(const std::string& name) const {
  for (const auto& option : options)
    if (option.first == name) return true;
  return false;
}

std::string Arguments::value(const std::string& name, const std::string& fallback) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it)
    if (it->first == name) return it->second;
  return fallback;
}

static bool contains(const std::vector<std::string>& list, const std::string& name) {
  for (const auto& entry : list)
    if (entry == name) return true;
  return false;
}

bool parseArguments(int argc, char** argv, const std::vector<std::string>& valueOptions,
                    const std::vector<std::string>& flagOptions, Arguments& out,
                    std::string& error) {
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() < 2 || arg[0] != '-') {
      out.positional.push_back(arg);
      continue;
    }
    std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
    std::string value;
    size_t equals = name.find('=');
    bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (contains(flagOptions, name) && !inlineValue) {
      out.options.emplace_back(name, "");
    } else if (contains(valueOptions, name)) {
      if (!inlineValue) {
        if (i + 1 >= argc) {
          error = "option " + arg + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      out.options.emplace_back(name, value);
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

bool parseInt(const std::string& text, long minimum, long maximum, long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < minimum || value > maximum) return false;
  out = value;
  return true;
}

int usageError(const char* command, const std::string& message, const char* usage) {
  std::fprintf(stderr, "qvtool %s: %s\nusage: %s\n", command, message.c_str(), usage);
  return kUsage;
}

int failure(const std::string& message) {
  std::fprintf(stderr, "qvtool: %s\n", message.c_str());
  return kFailure;
}

// The flag the library polls; written from the signal handler.
static volatile int g_interrupt = 0;
static void onInterrupt(int) { g_interrupt = 1; }

LongOperation::LongOperation(const char* label) : m_label(label) {
  g_interrupt = 0;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

LongOperation::~LongOperation() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
}

int* LongOperation::interruptFlag() { return const_cast<int*>(&g_interrupt); }

bool LongOperation::interrupted() const { return g_interrupt == 1; }

static void drawBar(const char* label, double fraction) {
  if (fraction < 0.0) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  constexpr int kWidth = 30;
  int filled = static_cast<int>(fraction * kWidth + 0.5);
  std::fprintf(stderr, "\r%-10s [%.*s%*s] %3d%%", label, filled,
               "##############################", kWidth - filled, "",
               static_cast<int>(fraction * 100.0 + 0.5));
  std::fflush(stderr);
}

int LongOperation::run(const std::function<int(int*, double*)>& work) {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  std::atomic<bool> done{false};
  std::thread bar;
  if (terminal) {
    // The library stores the progress with plain stores; a torn read can only
    // draw a momentarily odd bar, never affect the work.
    bar = std::thread([this, &done] {
      while (!done.load()) {
        drawBar(m_label, *static_cast<volatile double*>(&m_progress));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  int result = work(interruptFlag(), &m_progress);
  done = true;
  if (bar.joinable()) {
    bar.join();
    drawBar(m_label, m_progress);
    std::fputc('\n', stderr);
  }
  return result;
}

std::string formatName(int code) {
  switch (code) {
    case 3: return "IMC2/BKC2";
    case 2: return "IMC/BKC";
    case 0: return "IMM";
    case 1: return "BKG";
    default: return "unknown";
  }
}

std::string pixelFormatName(int code) {
  char buffer[64];
  size_t size = sizeof buffer;
  const char* name = QVV3_INTERNAL_CDIMAGE_getFormatAsString(code, buffer, &size);
  return name != nullptr ? name : "?";
}

std::string flagWords(uint32_t flags) {
  char buffer[256];
  size_t size = sizeof buffer;
  const char* words = QVV3_INTERNAL_CDIMAGE_getFlagsAsString(flags, buffer, &size);
  return words != nullptr ? words : "";
}

std::string utcText(uint32_t seconds, uint32_t microseconds) {
  char buffer[64];
  const char* text = QVV3_INTERNAL_platformTimeToUTCString(
      seconds, static_cast<int>(microseconds % 1000000u), 1, 0, 0, buffer, sizeof buffer);
  return text != nullptr ? text : "-";
}

bool loadFile(const std::string& path, Bunch& bunch, std::string& error, bool showProgress) {
  if (::access(path.c_str(), R_OK) != 0) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  char reason[512] = "";
  LongOperation operation("loading");
  auto load = [&](int* interrupt, double* progress) {
    return qvLoadImagesFromFileEx(path.c_str(), bunch.get(), interrupt, progress, reason,
                                  sizeof reason);
  };
  int code = showProgress ? operation.run(load) : load(operation.interruptFlag(), operation.progress());
  if (code != 0) {
    error = reason[0] != '\0' ? reason : "load failed with code " + std::to_string(code);
    return false;
  }
  return true;
}

}  // namespace qvtool
