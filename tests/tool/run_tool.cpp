#include "run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/tempdir.h"

extern char** environ;

namespace {

constexpr auto kTimeLimit = std::chrono::seconds(60);

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The child's environment, composed before fork so the child only calls
// async-signal-safe functions.
std::vector<std::string> childEnvironment(const Environment& changes) {
  std::vector<std::string> removed = {"KELTA_CLIENTLIB_LOGGING_PATH"};
  for (const auto& change : changes) removed.push_back(nameOf(change));
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool keep = true;
    for (const auto& name : removed) keep = keep && nameOf(text) != name;
    if (keep) result.push_back(text);
  }
  for (const auto& change : changes)
    if (change.find('=') != std::string::npos) result.push_back(change);
  return result;
}

}  // namespace

std::string Result::describe() const {
  return "exit " + std::to_string(exitCode) +
         (signal ? " (signal " + std::to_string(signal) + ")" : "") + "\n--- stdout:\n" + out +
         "--- stderr:\n" + err;
}

Result runTool(const std::vector<std::string>& arguments,
               const std::function<void(pid_t)>& whileRunning, const Environment& environment,
               const std::string& workingDirectory) {
  TempDir capture;
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  std::vector<char*> argv{const_cast<char*>(QVTOOL_PATH)};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const std::vector<std::string> envText = childEnvironment(environment);
  std::vector<char*> envp;
  for (const auto& entry : envText) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0)
      ::_exit(126);
    if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) ::_exit(126);
    // A test runner may ignore or block signals; the tool starts with defaults.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(QVTOOL_PATH, argv.data(), envp.data());
    ::_exit(127);
  }
  Result result;
  if (pid < 0) return result;
  if (whileRunning) whileRunning(pid);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return result;
    if (std::chrono::steady_clock::now() - start > kTimeLimit) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
    result.exitCode = 128 + result.signal;
  }
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}
