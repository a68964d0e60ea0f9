#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system.h"

namespace qvtool::sys {

std::string makePrivateFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// renameat2 where the file system has it, else a hard link (which never
// replaces) and an unlink.
int renameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}

int renameReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str());
}

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void setEnvironment(const char* name, const char* value) { ::setenv(name, value, 1); }
void unsetEnvironment(const char* name) { ::unsetenv(name); }

uint64_t availableMemory() {
  if (FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    unsigned long long kib = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, meminfo) != nullptr)
      found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
    std::fclose(meminfo);
    if (found) return static_cast<uint64_t>(kib) * 1024u;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                                   : 0;
}

namespace {
void (*volatile g_handler)() = nullptr;
void onSignal(int) {
  if (void (*handler)() = g_handler) handler();
}
}  // namespace

void onInterrupt(void (*handler)()) {
  g_handler = handler;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler != nullptr ? onSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace qvtool::sys
