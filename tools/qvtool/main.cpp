// qvtool: look at, check, convert and export sequence files, grab frames and
// list the cameras of a system list, through the library's exported calls.
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"info", qvtool::cmdInfo, "format, frames, geometry, pixel format and time stamps of a file"},
    {"check", qvtool::cmdCheck, "load a file and validate every frame"},
    {"convert", qvtool::cmdConvert, "convert between IMC2/BKC2 and the legacy formats"},
    {"export", qvtool::cmdExport, "write frames as 8-bit grey BMP files"},
    {"grab", qvtool::cmdGrab, "grab frames from a video server into a file"},
    {"names", qvtool::cmdNames, "list the image sources and raw video servers of a system list"},
    {"demo", qvtool::cmdDemo, "grab, save, load back, verify and export from the default server"},
};

int usage(FILE* out) {
  std::fprintf(out, "usage: qvtool [-v] COMMAND [ARGS]   (qvtool COMMAND --help for details)\n\n");
  for (const Command& command : kCommands) std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
  std::fprintf(out, "\n  -v       library messages on standard error\n");
  return out == stderr ? qvtool::kUsage : qvtool::kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  int verbosity = 0;  // a command-line tool keeps the library quiet unless asked
  if (first < argc && std::strcmp(argv[first], "-v") == 0) {
    verbosity = 1;
    ++first;
  }
  qvSetVerbose(verbosity);
  if (first >= argc) return usage(stderr);
  const char* name = argv[first];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 || std::strcmp(name, "help") == 0)
    return usage(stdout);
  for (const Command& command : kCommands)
    if (std::strcmp(name, command.name) == 0) return command.run(argc - first - 1, argv + first + 1);
  std::fprintf(stderr, "qvtool: unknown command '%s'\n", name);
  return usage(stderr);
}
