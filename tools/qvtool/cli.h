// Shared pieces of the qvtool subcommands: argument parsing, exit codes,
// progress display with Ctrl-C interruption, and bunch ownership.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

namespace qvtool {

enum ExitCode { kSuccess = 0, kFailure = 1, kUsage = 2 };

// Parsed command line of one subcommand: positional arguments and options.
struct Arguments {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // name without dashes, value
  bool has(const std::string& name) const;
  std::string value(const std::string& name, const std::string& fallback = "") const;
};

// Options listed in valueOptions take a value ("-n 5", "--rate=100");
// flagOptions take none. Unknown options make parsing fail with a message.
bool parseArguments(int argc, char** argv, const std::vector<std::string>& valueOptions,
                    const std::vector<std::string>& flagOptions, Arguments& out,
                    std::string& error);
bool parseInt(const std::string& text, long minimum, long maximum, long& out);

int usageError(const char* command, const std::string& message, const char* usage);
int failure(const std::string& message);

// A bunch that frees itself.
class Bunch {
 public:
  Bunch() { qvInitializeBunchStructure(&m_bunch); }
  ~Bunch() { qvFreeBunch(&m_bunch); }
  Bunch(const Bunch&) = delete;
  Bunch& operator=(const Bunch&) = delete;
  QVBUNCHOFIMAGES* get() { return &m_bunch; }
  const QVBUNCHOFIMAGES& operator*() const { return m_bunch; }
  uint32_t size() const { return m_bunch.numFrames; }
  DIMAGE& operator[](uint32_t i) { return m_bunch.imageArray[i]; }

 private:
  QVBUNCHOFIMAGES m_bunch;
};

// Runs long work with a progress bar on a terminal; Ctrl-C sets the
// interrupt flag the library polls. The work receives both pointers.
class LongOperation {
 public:
  explicit LongOperation(const char* label);
  ~LongOperation();
  int* interruptFlag();
  double* progress() { return &m_progress; }
  bool interrupted() const;
  // Runs the work on this thread while another thread draws the bar.
  int run(const std::function<int(int*, double*)>& work);

 private:
  const char* m_label;
  double m_progress = 0.0;
};

std::string formatName(int code);  // file format code of qvCheckFileFormat
std::string pixelFormatName(int code);
std::string flagWords(uint32_t flags);
std::string utcText(uint32_t seconds, uint32_t microseconds);
bool loadFile(const std::string& path, Bunch& bunch, std::string& error, bool showProgress = true);

int cmdInfo(int argc, char** argv);
int cmdCheck(int argc, char** argv);
int cmdConvert(int argc, char** argv);
int cmdExport(int argc, char** argv);
int cmdGrab(int argc, char** argv);
int cmdNames(int argc, char** argv);
int cmdDemo(int argc, char** argv);

// Writes the frames of a bunch as 8-bit grey BMP files prefix001.bmp, ...
bool exportBmp(Bunch& bunch, const std::string& prefix, int palette, uint32_t maxFrames,
               std::string& error);

}  // namespace qvtool
