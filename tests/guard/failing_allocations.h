// Allocation failures on purpose: this test program replaces the global
// operator new and delete (all plain and nothrow forms) with versions that
// count the blocks alive and, while armed on a thread, refuse that thread's
// allocations after a number of successful ones: the throwing forms throw
// std::bad_alloc, the nothrow forms return null. Other threads are not
// affected, so the stand-in TINE layer's cycle thread keeps working unless
// it arms itself.
#pragma once

#include <cstdint>

namespace qvtest {

// Whether the refusals reach the stand-in TINE layer's own allocations too:
// a Linux program's operator new replaces that of every shared object it
// loads, while a Windows DLL keeps the allocator it was linked with.
#if defined(_WIN32)
constexpr bool kRefusalsReachTheStandIn = false;
#else
constexpr bool kRefusalsReachTheStandIn = true;
#endif

// Arms the calling thread for the life of the object: after
// aiSuccessfulAllocations more allocations every further one fails.
class FailingAllocations {
 public:
  explicit FailingAllocations(int64_t aiSuccessfulAllocations);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

  // Whether an allocation of this thread has been refused since arming.
  bool refused() const;
};

// Refuses exactly the next allocation of the calling thread (then disarms).
void failNextAllocationOnThisThread();
// Disarms the calling thread.
void stopFailingOnThisThread();

// Blocks from operator new not yet given back, over all threads.
int64_t liveAllocations();

}  // namespace qvtest
