#include "tine/bringup.h"

#include <cstdlib>
#include <mutex>

#include "platform/tine_api.h"
#include "runtime/log.h"

namespace {

constexpr int kTineBufferSpaceBytes = 4194304;
constexpr char kPipeVariable[] = "KELTA_CLIENTLIB_TINE_PIPE";

// Bring-up and shutdown run under this lock, so the flags change together
// with the calls they stand for.
std::mutex g_bringUpLock;
bool g_bTineStarted = false;
bool g_bTinePipeOpen = false;

const char* pipeName() {
  const char* name = std::getenv(kPipeVariable);
  return (name != nullptr && name[0] != '\0') ? name : nullptr;
}

}  // namespace

void _internal_StartTineIfNotStartedAlready() {
  std::lock_guard<std::mutex> lock(g_bringUpLock);
  if (g_bTineStarted) return;
  // Should starting the cycle timer throw, nothing is started and the next
  // call tries again; once it runs, a bring-up whose other calls fail is not
  // tried again.
  SystemStartCycleTimer();
  g_bTineStarted = true;
  SetClnRecvQueueDepth(0);
  int code = _SystemAssignBufferSpace(kTineBufferSpaceBytes, 0);
  if (code != 0)
    _internal_log(
        "Warning: _internal_StartTineIfNotStartedAlready: TINE _SystemAssignBufferSpace() returned "
        "not successful: cc=%d",
        code);
  const char* pipe = pipeName();
  if (pipe == nullptr) return;
  code = OpenIpcPipe(pipe);
  if (code != 0) {
    _internal_log(
        "Warning: _internal_StartTineIfNotStartedAlready: TINE OpenIpcPipe(\"%s\") returned not "
        "successful: cc=%d",
        pipe, code);
    return;
  }
  _internal_log(
      "Info: _internal_StartTineIfNotStartedAlready: TINE OpenIpcPipe(\"%s\") successful.", pipe);
  g_bTinePipeOpen = true;
}

void _internal_StopTineIfAlreadyStarted() {
  std::lock_guard<std::mutex> lock(g_bringUpLock);
  if (!g_bTineStarted) return;
  const char* pipe = pipeName();
  if (g_bTinePipeOpen && pipe != nullptr) {
    int code = CloseIpcPipe(pipe);
    if (code != 0)
      _internal_log(
          "Warning: _internal_StopTineIfAlreadyStarted: TINE CloseIpcPipe(\"%s\") returned not "
          "successful: cc=%d",
          pipe, code);
    else
      g_bTinePipeOpen = false;
  }
  SystemKillCycleTimer();
  g_bTineStarted = false;
}
