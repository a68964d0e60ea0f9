// Runs qvtool as a child process and collects what it printed.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct Result {
  int exitCode = -1;  // exit status; 128 + signal number when a signal ended it
  int signal = 0;     // the signal that ended the tool, 0 when it exited itself
  std::string out;
  std::string err;
  double seconds = 0.0;          // from start to end of the process
  std::string describe() const;  // exit code and both outputs, for failure messages
};

// "NAME=value" sets NAME for the child, a bare "NAME" removes it. The child
// otherwise inherits this process's environment, except that
// KELTA_CLIENTLIB_LOGGING_PATH is removed unless given here.
using Environment = std::vector<std::string>;

// Starts qvtool with the arguments (stdin from /dev/null) in the working
// directory, when one is given, and waits for it; the hook runs while it
// works. A tool that runs longer than 60 s is killed.
Result runTool(const std::vector<std::string>& arguments,
               const std::function<void(pid_t)>& whileRunning = nullptr,
               const Environment& environment = {}, const std::string& workingDirectory = "");
