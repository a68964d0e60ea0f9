#include "tine/link_close.h"

#include <chrono>

#include "platform/platform.h"
#include "runtime/log.h"
#include "runtime/logging.h"
#include "tine/tine_api.h"

namespace {

constexpr double kCloseGiveUpSeconds = 3.0;
constexpr unsigned kCloseRetryPauseMs = 100;

// Monotonic, so that a clock step cannot end the retries early or make them
// run for ever.
class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  }

 private:
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace

int _internal_TineCloseLink(int aTineLinkID) {
  Stopwatch watch;
  int attempts = 0;
  int code = 0;
  for (;;) {
    ++attempts;
    if (attempts == 2)
      _internal_log(
          "kelta client library: v3clientapi: _internal_TineCloseLink(aTineLinkID=%d) needs to be "
          "repeated (try #%d). Last return code from CloseLink was %d.",
          aTineLinkID, 2, code);
    code = CloseLink(aTineLinkID);
    if (code != 0) qv::platform::sleepMilliseconds(kCloseRetryPauseMs);
    if (watch.seconds() > kCloseGiveUpSeconds || code == 0) break;
  }
  if (attempts > 2)
    _internal_log(
        "kelta client library: v3clientapi: _internal_TineCloseLink(aTineLinkID=%d) needed to be "
        "repeated #%d times! Last return code from CloseLink was %d.",
        aTineLinkID, attempts, code);
  return code;
}

int SafeTineCloseLink(int aTineLinkID, CLogging* apLogInstance) {
  Stopwatch watch;
  int attempts = 0;
  int code = 0;
  for (;;) {
    ++attempts;
    code = CloseLink(aTineLinkID);
    if (code != 0) {
      if (attempts >= 2 && apLogInstance != nullptr)
        apLogInstance->Log(
            "kelta tinehelper: SafeTineCloseLink(aTineLinkID=%d, apLogInstance) needs to be "
            "repeated (try #%d). Last return code from CloseLink was %d.",
            aTineLinkID, attempts, code);
      qv::platform::sleepMilliseconds(kCloseRetryPauseMs);
    }
    if (watch.seconds() > kCloseGiveUpSeconds || code == 0) break;
  }
  if (attempts > 2 && apLogInstance != nullptr)
    apLogInstance->Log(
        "kelta tinehelper: SafeTineCloseLink(aTineLinkID=%d, apLogInstance) needed to be repeated "
        "#%d times! Final return code from CloseLink was %d.",
        aTineLinkID, attempts, code);
  return code;
}
