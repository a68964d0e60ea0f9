#include "support/threads.h"

#include <gtest/gtest.h>

#include "support/environment.h"
#include "support/tempdir.h"

#if defined(_WIN32)
#include <windows.h>
// after windows.h
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

namespace qvtest {

namespace {
constexpr const char* kVariable = "KELTA_CLIENTLIB_CODEC_THREADS";

#if !defined(_WIN32)
// Whether the task is past the start of its exit: pthread_join returns
// before the system has taken the thread off the process's list.
bool taskIsEnding(const char* tid) {
  constexpr unsigned long kExiting = 0x4;  // the kernel's PF_EXITING
  const std::string stat = readFile(std::string("/proc/self/task/") + tid + "/stat");
  const size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return true;  // gone already
  // After the name: state, parent, group, session, terminal, terminal group, flags.
  std::istringstream fields(stat.substr(nameEnd + 1));
  std::string field;
  for (int i = 0; i < 6; ++i) fields >> field;
  unsigned long flags = 0;
  return !(fields >> flags) || (flags & kExiting) != 0;
}
#endif

void setVariable(const char* value) {
  if (value != nullptr) {
    setEnvironment(kVariable, value);
  } else {
    unsetEnvironment(kVariable);
  }
}
}  // namespace

size_t threadsInProcess() {
  size_t count = 0;
#if defined(_WIN32)
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == self) ++count;
  CloseHandle(snapshot);
#else
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.' && !taskIsEnding(entry->d_name)) ++count;
    }
    closedir(dir);
  }
#endif
  return count;
}

size_t threadsAfterWarmUp() {
  std::thread([] {}).join();
  // The test framework watches, on Windows, each thread that keeps a trace
  // with a thread of its own: the calling thread's comes now.
  { SCOPED_TRACE("warm-up"); }
  return threadsInProcess();
}

ScopedCodecThreads::ScopedCodecThreads(const char* value) {
  if (const char* previous = std::getenv(kVariable)) m_previous = previous;
  setVariable(value);
}

ScopedCodecThreads::~ScopedCodecThreads() {
  setVariable(m_previous ? m_previous->c_str() : nullptr);
}

}  // namespace qvtest
