// Process-wide calls: cycle timer, buffer space, IPC pipes, version text,
// the front-end log and completion-code texts.
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "state.h"

using namespace tinesim;

namespace {

struct CodeText {
  int code;
  const char* text;
};

// Completion-code texts of the stand-in; codes without an entry are "unknown".
constexpr CodeText kCodeTexts[] = {
    {0, "success"},
    {1, "operation busy"},
    {2, "out of range"},
    {3, "illegal property"},
    {4, "no such device"},
    {5, "server not responding"},
    {6, "property not available"},
    {7, "operation timed out"},
    {8, "link error"},
    {9, "illegal format"},
    {10, "illegal access"},
    {12, "link not open"},
    {20, "argument list error"},
    {23, "dimension error"},
    {25, "not supported"},
    {26, "illegal context"},
    {40, "non existent elements"},
    {43, "buffer too small"},
    {62, "illegal protocol"},
    {103, "invalid data"},
    {513, "decompression error"},
    {516, "not signalled"},
    {517, "link blacklisted"},
};
constexpr int kErrorListSize = 600;

}  // namespace

TINESIM_API const char* GetSystemVersionString(void) { return "5.2.1-sim"; }

TINESIM_API int GetErrorListSize(void) { return kErrorListSize; }

TINESIM_API const char* cc2str(int aCode) {
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == aCode) return entry.text;
  return "unknown error";
}

TINESIM_API int feclog(const char* aFormat, ...) {
  char line[1024];
  va_list args;
  va_start(args, aFormat);
  std::vsnprintf(line, sizeof line, aFormat, args);
  va_end(args);
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.feclogCount;
  s.lastFeclog = line;
  return 0;
}

TINESIM_API int SystemStartCycleTimer(void) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "SystemStartCycleTimer");
  if (s.cycleRunning) return 0;
  s.stopCycle = false;
  s.cycleThread = std::thread(cycleLoop);
  s.cycleThreadId = s.cycleThread.get_id();
  s.cycleRunning = true;
  return 0;
}

TINESIM_API int SystemKillCycleTimer(void) {
  State& s = state();
  std::thread stopping;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    countCall(s, "SystemKillCycleTimer");
    if (!s.cycleRunning) return 0;
    s.stopCycle = true;
    s.cycleRunning = false;
    stopping = std::move(s.cycleThread);
  }
  s.wake.notify_all();
  if (stopping.get_id() == std::this_thread::get_id())
    stopping.detach();
  else
    stopping.join();
  return 0;
}

TINESIM_API int SetClnRecvQueueDepth(int) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "SetClnRecvQueueDepth");
  return 0;
}

TINESIM_API int _SystemAssignBufferSpace(int, int) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "_SystemAssignBufferSpace");
  return s.bufferSpaceResult;
}

TINESIM_API int OpenIpcPipe(const char* aPipeName) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "OpenIpcPipe");
  s.lastPipeName = aPipeName != nullptr ? aPipeName : "";
  return s.pipeOpenResult;
}

TINESIM_API int CloseIpcPipe(const char*) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "CloseIpcPipe");
  return s.pipeCloseResult;
}
