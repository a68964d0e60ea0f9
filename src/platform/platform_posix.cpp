#include "platform/platform.h"

#include <pthread.h>
#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

namespace qv::platform {

struct Semaphore {
  std::mutex mutex;
  std::condition_variable available;
  unsigned count;
  unsigned maximum;
};

SemaphoreHandle semaphoreCreate(unsigned initialCount, unsigned maximumCount) {
  if (maximumCount == 0 || initialCount > maximumCount) return nullptr;
  auto* semaphore = new (std::nothrow) Semaphore;
  if (semaphore == nullptr) return nullptr;
  semaphore->count = initialCount;
  semaphore->maximum = maximumCount;
  return semaphore;
}

bool semaphoreWait(SemaphoreHandle handle, long timeoutMs) {
  if (handle == nullptr) return false;
  std::unique_lock<std::mutex> lock(handle->mutex);
  auto ready = [handle] { return handle->count > 0; };
  if (timeoutMs < 0) {
    handle->available.wait(lock, ready);
  } else if (!handle->available.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return false;
  }
  --handle->count;
  return true;
}

bool semaphoreRelease(SemaphoreHandle handle) {
  if (handle == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(handle->mutex);
    if (handle->count >= handle->maximum) return false;
    ++handle->count;
  }
  handle->available.notify_one();
  return true;
}

void semaphoreClose(SemaphoreHandle handle) { delete handle; }

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

bool executablePath(std::string& path) {
  char buffer[1024];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  path.assign(buffer, static_cast<size_t>(length));
  return true;
}

bool userName(std::string& name) {
  char buffer[1024];
  struct passwd entry;
  struct passwd* result = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &result) == 0 && result != nullptr &&
      result->pw_name != nullptr && result->pw_name[0] != '\0') {
    name = result->pw_name;
    return true;
  }
  return false;
}

bool computerName(std::string& name) {
  char buffer[1024];
  if (::gethostname(buffer, sizeof buffer) != 0) return false;
  buffer[sizeof buffer - 1] = '\0';
  name = buffer;
  return !name.empty();
}

std::string temporaryDirectory() {
  const char* directory = std::getenv("TEMP");
  if (directory == nullptr) directory = std::getenv("TMPDIR");
  if (directory == nullptr) directory = "/tmp";
  if (std::strlen(directory) >= 1024) return std::string();
  return directory;
}

void sleepMilliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void currentTime(int64_t& seconds, unsigned& milliseconds) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  seconds = static_cast<int64_t>(now.tv_sec);
  milliseconds = static_cast<unsigned>(now.tv_nsec / 1000000);
}

bool localCalendar(int64_t seconds, struct tm& out) {
  time_t value = static_cast<time_t>(seconds);
  return ::localtime_r(&value, &out) != nullptr;
}

bool utcCalendar(int64_t seconds, struct tm& out) {
  if (seconds < 0) return false;
  time_t value = static_cast<time_t>(seconds);
  return ::gmtime_r(&value, &out) != nullptr;
}

}  // namespace qv::platform
