// Synchronous reads of a frame property: each read answers with the
// property's next scripted completion code, where 0 delivers a frame.
#include "state.h"

using namespace tinesim;

TINESIM_API int alsnExecLinkEx(const char* aDevName, const char* aProperty, DTYPE* aDout, DTYPE*,
                               short aAccess, int aTimeoutMs, double* aDataTimeStamp) {
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  countCall(s, "alsnExecLinkEx");
  s.lastReadAccess = aAccess;
  s.lastReadCount = aDout != nullptr ? static_cast<int>(aDout->dArrayLength) : 0;
  s.lastReadTimeout = aTimeoutMs;
  Server* server = findServer(s, aDevName);
  if (server == nullptr) return kCodeNoSuchDevice;
  if (server->silent) {
    lock.unlock();
    waitSilently(aTimeoutMs);
    return kCodeTimedOut;
  }
  Property* p = findProperty(s, aDevName, aProperty);
  if (p == nullptr) return kCodeIllegalProperty;
  int code =
      p->readScriptPos < p->readScript.size() ? p->readScript[p->readScriptPos++] : p->readThenCode;
  if (code != 0) return code;
  code = deliverFrame(*server, *p, p->readsDelivered, aDout);
  if (code != 0) return code;
  ++p->readsDelivered;
  if (aDataTimeStamp != nullptr) *aDataTimeStamp = aDout->dTimeStamp;
  return 0;
}
