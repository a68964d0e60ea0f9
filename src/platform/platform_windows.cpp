// The Windows side of the platform layer: kernel semaphores, the process's
// and user's names from the Win32 calls, the system clock in file-time units.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/platform.h"

namespace qv::platform {

struct Semaphore {
  HANDLE handle;
};

SemaphoreHandle semaphoreCreate(unsigned initialCount, unsigned maximumCount) {
  if (maximumCount == 0 || initialCount > maximumCount || maximumCount > LONG_MAX) return nullptr;
  HANDLE handle = ::CreateSemaphoreW(nullptr, static_cast<LONG>(initialCount),
                                     static_cast<LONG>(maximumCount), nullptr);
  if (handle == nullptr) return nullptr;
  return new Semaphore{handle};
}

bool semaphoreWait(SemaphoreHandle semaphore, long timeoutMs) {
  if (semaphore == nullptr) return false;
  const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return ::WaitForSingleObject(semaphore->handle, wait) == WAIT_OBJECT_0;
}

bool semaphoreRelease(SemaphoreHandle semaphore) {
  // Fails by itself when the count would pass the maximum.
  return semaphore != nullptr && ::ReleaseSemaphore(semaphore->handle, 1, nullptr) != 0;
}

void semaphoreClose(SemaphoreHandle semaphore) {
  if (semaphore == nullptr) return;
  ::CloseHandle(semaphore->handle);
  delete semaphore;
}

unsigned long processId() { return static_cast<unsigned long>(::GetCurrentProcessId()); }

bool executablePath(std::string& path) {
  std::vector<char> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 6; ++attempt) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      path.assign(buffer.data(), length);
      return true;
    }
    buffer.resize(buffer.size() * 2);  // cut short: try a larger buffer
  }
  return false;
}

bool userName(std::string& name) {
  char buffer[257];
  DWORD size = sizeof buffer;
  if (!::GetUserNameA(buffer, &size) || buffer[0] == '\0') return false;
  name = buffer;
  return true;
}

bool computerName(std::string& name) {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof buffer;
  if (!::GetComputerNameA(buffer, &size) || size == 0) return false;
  name.assign(buffer, size);
  return true;
}

std::string temporaryDirectory() {
  const char* directory = std::getenv("TEMP");
  if (directory == nullptr) directory = std::getenv("TMP");
  if (directory == nullptr) return std::string();
  if (std::strlen(directory) >= 1024) return std::string();
  return directory;
}

void sleepMilliseconds(unsigned milliseconds) { ::Sleep(milliseconds); }

void currentTime(int64_t& seconds, unsigned& milliseconds) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  // 100-ns ticks since 1601-01-01.
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr uint64_t kEpochTicks = 116444736000000000ull;
  const uint64_t sinceEpoch = ticks - kEpochTicks;
  seconds = static_cast<int64_t>(sinceEpoch / 10000000ull);
  milliseconds = static_cast<unsigned>((sinceEpoch / 10000ull) % 1000ull);
}

bool localCalendar(int64_t seconds, struct tm& out) {
  const __time64_t value = static_cast<__time64_t>(seconds);
  return ::_localtime64_s(&out, &value) == 0;
}

bool utcCalendar(int64_t seconds, struct tm& out) {
  if (seconds < 0) return false;
  const __time64_t value = static_cast<__time64_t>(seconds);
  return ::_gmtime64_s(&out, &value) == 0;
}

}  // namespace qv::platform
