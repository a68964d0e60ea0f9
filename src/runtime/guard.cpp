#include "runtime/guard.h"

#include <cstdio>

#include "runtime/log.h"

namespace qv::runtime {

void reportGuardedFailure(const char* asCall, bool abOutOfMemory, const char* asWhat,
                          ReasonBuffer aReason) noexcept {
  if (asWhat == nullptr) asWhat = "";
  if (abOutOfMemory) {
    _internal_log("Error: %s: out of memory (%s); the call fails.", asCall, asWhat);
  } else {
    _internal_log("Error: %s: internal error (%s); the call fails.", asCall, asWhat);
  }
  if (aReason.text == nullptr || aReason.size <= 1) return;
  if (abOutOfMemory) {
    std::snprintf(aReason.text, aReason.size, "%s: Out of memory.", asCall);
  } else {
    std::snprintf(aReason.text, aReason.size, "%s: Internal error (%s).", asCall, asWhat);
  }
}

}  // namespace qv::runtime
