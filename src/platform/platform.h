// Operating-system services the library needs: counting semaphores, process
// and user information, sleeping and the wall clock. Everything that differs
// between Windows and Linux stays behind this header.
#pragma once

#include <cstdint>
#include <string>

namespace qv::platform {

// Counting semaphore; a null handle means "none".
struct Semaphore;
using SemaphoreHandle = Semaphore*;

SemaphoreHandle semaphoreCreate(unsigned initialCount, unsigned maximumCount);
// Waits without a time limit when timeoutMs is negative. True when taken.
bool semaphoreWait(SemaphoreHandle handle, long timeoutMs = -1);
// False when the handle is null or the count is already at its maximum.
bool semaphoreRelease(SemaphoreHandle handle);
void semaphoreClose(SemaphoreHandle handle);

unsigned long processId();
// Full path of the running executable; false when it cannot be read.
bool executablePath(std::string& path);
bool userName(std::string& name);
bool computerName(std::string& name);

// Directory for per-process files: TEMP as on Windows, else TMPDIR, else
// /tmp; empty (the working directory) when the value is too long to use.
std::string temporaryDirectory();

void sleepMilliseconds(unsigned milliseconds);

// Seconds since the Unix epoch and the milliseconds of that second.
void currentTime(int64_t& seconds, unsigned& milliseconds);

// Local and UTC calendar conversion; false when the value cannot be converted.
bool localCalendar(int64_t seconds, struct tm& out);
bool utcCalendar(int64_t seconds, struct tm& out);

// Directory separator of the file names the library composes.
#if defined(_WIN32)
constexpr char kDirectorySeparator = '\\';
#else
constexpr char kDirectorySeparator = '/';
#endif

}  // namespace qv::platform
