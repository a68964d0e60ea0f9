// The optional interrupt flag and progress value that long operations share
// with another thread of the caller's. Both are plain C objects owned by the
// caller, so they are accessed with atomic built-ins: every read sees the
// latest store and no access tears.
#pragma once

namespace qv::runtime {

// Current value of the caller's interrupt flag (0 when there is none).
inline int readInterruptFlag(const int* apiInterrupt) {
  return apiInterrupt != nullptr ? __atomic_load_n(apiInterrupt, __ATOMIC_ACQUIRE) : 0;
}

// Work stops when the flag holds exactly 1; any other value means go on.
inline bool interruptRequested(const int* apiInterrupt) {
  return readInterruptFlag(apiInterrupt) == 1;
}

inline void reportProgress(double* apdProgress, double adValue) {
  if (apdProgress != nullptr) __atomic_store(apdProgress, &adValue, __ATOMIC_RELEASE);
}

}  // namespace qv::runtime
