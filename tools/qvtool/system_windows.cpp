#include <windows.h>
// after windows.h
#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "system.h"

namespace qvtool::sys {

namespace {

int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

int moveFile(const std::string& from, const std::string& to, DWORD flags) {
  if (::MoveFileExA(from.c_str(), to.c_str(), flags)) return 0;
  errno = errnoOf(::GetLastError());
  return -1;
}

}  // namespace

// The folder inherits the parent's access rules: on Windows a user's
// temporary folder is private already.
std::string makePrivateFolder(const std::string& parent, const std::string& prefix) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<int> letter(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = parent + "\\" + prefix;
    for (int i = 0; i < 6; ++i) path += kLetters[letter(random)];
    if (::CreateDirectoryA(path.c_str(), nullptr)) return path;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      errno = errnoOf(error);
      return {};
    }
  }
  errno = EEXIST;
  return {};
}

int renameNoReplace(const std::string& from, const std::string& to) {
  return moveFile(from, to, 0);
}

int renameReplacing(const std::string& from, const std::string& to) {
  return moveFile(from, to, MOVEFILE_REPLACE_EXISTING);
}

bool standardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

void setEnvironment(const char* name, const char* value) { ::_putenv_s(name, value); }
// An empty value removes the variable.
void unsetEnvironment(const char* name) { ::_putenv_s(name, ""); }

uint64_t availableMemory() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullAvailPhys : 0;
}

namespace {
std::atomic<void (*)()> g_handler{nullptr};
BOOL WINAPI onConsoleEvent(DWORD event) {
  void (*handler)() = g_handler.load();
  if (handler == nullptr) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      handler();
      return TRUE;
    default:
      return FALSE;
  }
}
}  // namespace

void onInterrupt(void (*handler)()) {
  g_handler = handler;
  ::SetConsoleCtrlHandler(onConsoleEvent, handler != nullptr);
}

}  // namespace qvtool::sys
