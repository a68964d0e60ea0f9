// The exported listings when an allocation fails: whatever is thrown inside,
// nothing leaves the C interface, and the call reports -1 (or succeeds when
// the failure was absorbed on the way).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"
#include "syslist_files.h"

using namespace sltest;

namespace {

// While armed, allocation number g_failAt (counted from 1) throws: a
// std::bad_alloc or, to stand for any other exception, a std::runtime_error.
bool g_armed = false;
bool g_fired = false;
bool g_throwBadAlloc = true;
long g_count = 0;
long g_failAt = 0;

void arm(long failAt, bool throwBadAlloc) {
  g_count = 0;
  g_failAt = failAt;
  g_throwBadAlloc = throwBadAlloc;
  g_fired = false;
  g_armed = true;
}

}  // namespace

void* operator new(std::size_t size) {
  if (g_armed && ++g_count == g_failAt) {
    g_armed = false;
    g_fired = true;
    if (g_throwBadAlloc) throw std::bad_alloc();
    throw std::runtime_error("injected");
  }
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
// Not inlined, so that the compiler sees no free() of what it takes for new's memory.
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

TEST(NamesExportFailures, NoExceptionLeavesTheInterface) {
  TempDir dir;
  const std::string path = dir.file("syslist.xml");
  writeFile(path,
            sysList(source("cam1=1") + source("cam2=2", "DirectShow") + group("g", "cam1:cam2"),
                    sgp("s1", "PCVision", groupRef("g")) + sgp("s2", "DirectShow"),
                    element("oGS2CLs", converter("GS2CL", "gs", sgpRef("s1")))));
  std::vector<char> slots(8 * 64);
  std::vector<QVIMAGESOURCEPAIR> pairs(8);
  char context[64];
  const struct {
    const char* what;
    int (*call)(const std::string&, char*, QVIMAGESOURCEPAIR*, char*);
  } calls[] = {
      {"image sources",
       [](const std::string& p, char* s, QVIMAGESOURCEPAIR* a, char*) {
         unsigned count = 8;
         return qvGetAllImageSourceNames(p.c_str(), s, a, &count);
       }},
      {"servers",
       [](const std::string& p, char* s, QVIMAGESOURCEPAIR*, char* c) {
         unsigned count = 8;
         return qvGetAllRawVideoServerNames(p.c_str(), c, s, &count);
       }},
  };
  for (const auto& call : calls) {
    for (const bool badAlloc : {true, false}) {
      SCOPED_TRACE(std::string(call.what) + (badAlloc ? ", bad_alloc" : ", other exception"));
      long failures = 0;
      for (long at = 1;; ++at) {
        ::testing::internal::CaptureStderr();  // the load failures are reported there
        int result = 0;
        arm(at, badAlloc);
        try {
          result = call.call(path, slots.data(), pairs.data(), context);
        } catch (...) {
          g_armed = false;
          ADD_FAILURE() << "an exception left the interface at allocation " << at;
        }
        g_armed = false;
        ::testing::internal::GetCapturedStderr();
        if (!g_fired) {
          EXPECT_EQ(result, 1);  // every allocation of a whole call passed
          break;
        }
        ++failures;
        EXPECT_TRUE(result == -1 || result == 1) << "allocation " << at << ": " << result;
      }
      EXPECT_GT(failures, 0);
      RecordProperty(std::string(call.what) + (badAlloc ? "_bad_alloc" : "_other"), failures);
    }
  }
}
