// How qvtool ends and speaks: exit codes, one plain line per failure on
// standard error, the library's own wording only when asked for (-v).
#pragma once

#include <string>
#include <system_error>

namespace qvtool {

enum ExitCode { kSuccess = 0, kFailure = 1, kUsage = 2, kInterrupted = 130 };

// A failure as the user reads it: a plain sentence, and what the library said.
struct Problem {
  std::string message;
  std::string libraryReason;
  int exitCode = kFailure;
};

void setVerbose(bool verbose);
bool verbose();

// "qvtool: <message>", then "  library: <reason>" with -v. Returns the exit code.
int report(const Problem& problem);
int fail(const std::string& message, const std::string& libraryReason = "");
int usageError(const std::string& command, const std::string& message);
void warn(const std::string& message);
// A message on standard error that is neither failure nor warning.
void note(const std::string& message);

// strerror for errno values, as a std::string; the system's text of a
// file-system error.
std::string systemReason(int error);
std::string systemReason(const std::error_code& error);

}  // namespace qvtool
