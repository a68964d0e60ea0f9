#include "report.h"

#include <cstdio>
#include <cstring>

namespace qvtool {

namespace {
bool g_verbose = false;
}

void setVerbose(bool isVerbose) { g_verbose = isVerbose; }
bool verbose() { return g_verbose; }

int report(const Problem& problem) {
  std::fprintf(stderr, "qvtool: %s\n", problem.message.c_str());
  if (g_verbose && !problem.libraryReason.empty() && problem.libraryReason != problem.message)
    std::fprintf(stderr, "  library: %s\n", problem.libraryReason.c_str());
  return problem.exitCode;
}

int fail(const std::string& message, const std::string& libraryReason) {
  return report({message, libraryReason, kFailure});
}

int usageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "qvtool %s: %s\n(qvtool %s --help shows the options)\n", command.c_str(),
               message.c_str(), command.c_str());
  return kUsage;
}

void warn(const std::string& message) {
  std::fprintf(stderr, "qvtool: warning: %s\n", message.c_str());
}

void note(const std::string& message) { std::fprintf(stderr, "qvtool: %s\n", message.c_str()); }

std::string systemReason(int error) { return std::strerror(error); }
std::string systemReason(const std::error_code& error) { return error.message(); }

}  // namespace qvtool
