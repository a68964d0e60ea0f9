#include "failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Per thread: -1 disarmed, else the allocations still allowed. Plain values
// with constant initialisation: reading them never allocates.
thread_local int64_t t_allowed = -1;
thread_local bool t_once = false;
thread_local bool t_refused = false;

std::atomic<int64_t> g_live{0};

// True when the calling thread must refuse this allocation.
bool refuseNow() {
  if (t_allowed < 0) return false;
  if (t_allowed > 0) {
    --t_allowed;
    return false;
  }
  t_refused = true;
  if (t_once) t_allowed = -1;
  return true;
}

void* allocate(std::size_t aiSize) noexcept {
  if (refuseNow()) return nullptr;
  void* p = std::malloc(aiSize != 0 ? aiSize : 1);
  if (p != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void release(void* p) noexcept {
  if (p == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

void* allocateOrThrow(std::size_t aiSize) {
  void* p = allocate(aiSize);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t aiSize) { return allocateOrThrow(aiSize); }
void* operator new[](std::size_t aiSize) { return allocateOrThrow(aiSize); }
void* operator new(std::size_t aiSize, const std::nothrow_t&) noexcept { return allocate(aiSize); }
void* operator new[](std::size_t aiSize, const std::nothrow_t&) noexcept {
  return allocate(aiSize);
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace qvtest {

FailingAllocations::FailingAllocations(int64_t aiSuccessfulAllocations) {
  t_refused = false;
  t_once = false;
  t_allowed = aiSuccessfulAllocations < 0 ? 0 : aiSuccessfulAllocations;
}

FailingAllocations::~FailingAllocations() { t_allowed = -1; }

bool FailingAllocations::refused() const { return t_refused; }

void failNextAllocationOnThisThread() {
  t_refused = false;
  t_once = true;
  t_allowed = 0;
}

void stopFailingOnThisThread() { t_allowed = -1; }

int64_t liveAllocations() { return g_live.load(std::memory_order_relaxed); }

}  // namespace qvtest
