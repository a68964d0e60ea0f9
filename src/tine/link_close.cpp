#include "tine/link_close.h"

#include "platform/platform.h"
#include "platform/tine_api.h"
#include "runtime/log.h"
#include "runtime/logging.h"
#include "runtime/stopwatch.h"

namespace {

constexpr double kCloseGiveUpSeconds = 3.0;
constexpr unsigned kCloseRetryPauseMs = 100;

}  // namespace

int _internal_TineCloseLink(int aTineLinkID) {
  qv::runtime::Stopwatch watch;
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
  qv::runtime::Stopwatch watch;
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
