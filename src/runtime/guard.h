// The one barrier between the library's C++ inside and its C callers: every
// exported call runs its body through guarded(), so no exception reaches an
// application. Out of memory (std::bad_alloc) becomes the call's
// out-of-memory result, any other exception its failure result; the call
// is named in the log. Whatever the body had taken must be held by objects
// that release it when unwinding (see the callers).
#pragma once

#include <cstddef>
#include <exception>
#include <new>
#include <utility>

namespace qv::runtime {

// A caller's reason buffer (may be null): a guarded call that fails on an
// exception writes a fixed text into it, cut to size - 1 characters.
struct ReasonBuffer {
  char* text = nullptr;
  size_t size = 0;
};

// Logs the failure and writes its reason; allocates nothing.
void reportGuardedFailure(const char* asCall, bool abOutOfMemory, const char* asWhat,
                          ReasonBuffer aReason) noexcept;

// Runs aBody() and returns its result; aOnNoMemory when it throws
// std::bad_alloc, aOnFailure for any other exception.
template <typename Result, typename Body>
Result guarded(const char* asCall, Result aOnNoMemory, Result aOnFailure, Body&& aBody,
               ReasonBuffer aReason = {}) noexcept {
  try {
    return std::forward<Body>(aBody)();
  } catch (const std::bad_alloc& e) {
    reportGuardedFailure(asCall, true, e.what(), aReason);
    return aOnNoMemory;
  } catch (const std::exception& e) {
    reportGuardedFailure(asCall, false, e.what(), aReason);
  } catch (...) {
    reportGuardedFailure(asCall, false, "unknown exception", aReason);
  }
  return aOnFailure;
}

// The same for a call with one result for every failure.
template <typename Result, typename Body>
Result guarded(const char* asCall, Result aOnFailure, Body&& aBody,
               ReasonBuffer aReason = {}) noexcept {
  return guarded(asCall, aOnFailure, aOnFailure, std::forward<Body>(aBody), aReason);
}

// The same for a call without a result: a failure only ends it.
template <typename Body>
void guarded(const char* asCall, Body&& aBody) noexcept {
  try {
    std::forward<Body>(aBody)();
  } catch (const std::bad_alloc& e) {
    reportGuardedFailure(asCall, true, e.what(), {});
  } catch (const std::exception& e) {
    reportGuardedFailure(asCall, false, e.what(), {});
  } catch (...) {
    reportGuardedFailure(asCall, false, "unknown exception", {});
  }
}

}  // namespace qv::runtime
