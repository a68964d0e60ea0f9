// The guard itself, an exception on the TINE callback thread, the guard's
// log line, and malloc failing under an address-space limit.
#include <gtest/gtest.h>
#include <malloc.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "failing_allocations.h"
#include "guard_world.h"
#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"
#include "support/log_capture.h"
#include "tine/grab_multi.h"
#include "tinesim/control.h"

namespace {

using qv::runtime::guarded;
using qv::runtime::ReasonBuffer;

// ---- the guard ---------------------------------------------------------------

TEST(Guard, MapsExceptionsToTheCallsResults) {
  struct Case {
    const char* name;
    void (*thrower)();
    int expected;  // with -7 for out of memory and -2 for other failures
    const char* reason;
  } cases[] = {
      {"nothing", [] {}, 1, ""},
      {"bad_alloc", [] { throw std::bad_alloc(); }, -7, "call: Out of memory."},
      {"length_error", [] { throw std::length_error("too long"); }, -2,
       "call: Internal error (too long)."},
      {"runtime_error", [] { throw std::runtime_error("broken"); }, -2,
       "call: Internal error (broken)."},
      {"not an exception class", [] { throw 42; }, -2, "call: Internal error (unknown exception)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char reason[64] = "";
    const int r = guarded(
        "call", -7, -2,
        [&] {
          c.thrower();
          return 1;
        },
        ReasonBuffer{reason, sizeof reason});
    EXPECT_EQ(r, c.expected);
    EXPECT_STREQ(reason, c.reason);
  }
}

TEST(Guard, OneResultForEveryFailureAndCallsWithoutResult) {
  EXPECT_EQ(guarded("call", -3, []() -> int { throw std::bad_alloc(); }), -3);
  EXPECT_EQ(guarded("call", -3, []() -> int { throw std::logic_error("x"); }), -3);
  EXPECT_EQ(guarded("call", static_cast<const char*>(nullptr),
                    []() -> const char* { throw std::bad_alloc(); }),
            nullptr);
  bool ran = false;
  guarded("call", [&] {
    ran = true;
    throw std::bad_alloc();
  });
  EXPECT_TRUE(ran);
  char reason[8] = "keep";
  EXPECT_EQ(guarded(
                "call", 0, []() -> int { throw std::bad_alloc(); }, ReasonBuffer{reason, 1}),
            0);
  EXPECT_STREQ(reason, "keep");  // a buffer of one byte is not written
}

TEST(Guard, NamesTheCallInTheLog) {
  GuardWorld w;
  LogCapture log;
  qvtest::FailingAllocations failing(0);
  const int r = qvLoadImagesFromFileEx(w.imc2File.c_str(), &w.out, nullptr, nullptr, w.reason,
                                       sizeof w.reason);
  qvtest::stopFailingOnThisThread();
  EXPECT_EQ(r, QV_E_LOAD_NO_MEMORY);
  EXPECT_STREQ(w.reason, "qvLoadImagesFromFileEx: Out of memory.");
  EXPECT_TRUE(
      log.contains("Error: qvLoadImagesFromFileEx: out of memory (std::bad_alloc); the "
                   "call fails."))
      << log.text();
}

TEST(Guard, RefusedVerbosityChangeChangesNothing) {
  LogCapture log;
  int level = 0;
  char before[QV_LOG_FILE_NAME_SIZE], after[QV_LOG_FILE_NAME_SIZE];
  int size = sizeof before;
  ASSERT_EQ(qvGetVerboseEx(&level, before, &size), 1);
  // Composing the default name needs memory; without it the old file stays.
  int r = 0;
  {
    qvtest::FailingAllocations failing(0);
    r = qvSetVerboseEx(QV_VERBOSE_FILE, "");
  }
  EXPECT_EQ(r, 0);
  size = sizeof after;
  ASSERT_EQ(qvGetVerboseEx(&level, after, &size), 1);
  EXPECT_EQ(level, QV_VERBOSE_FILE);
  EXPECT_STREQ(after, before);
}

// ---- the TINE callback thread ------------------------------------------------

// Frame source of the stand-in: from frame 2 on it refuses the next
// allocation of the cycle thread, which is then running the library's
// callback: the stand-in's GetDataFromCallbackId throws there.
int refuseOnCycleThread(void* apArmed, uint32_t auiFrameNumber, DIMAGE*, uint8_t* apPixels,
                        uint32_t auiCapacity) {
  qvtest::stopFailingOnThisThread();
  std::memset(apPixels, static_cast<int>(auiFrameNumber), auiCapacity);
  if (auiFrameNumber >= 2 && *static_cast<bool*>(apArmed)) qvtest::failNextAllocationOnThisThread();
  return static_cast<int>(auiCapacity);
}

TEST(GuardedCallback, AnExceptionOnTheCycleThreadEndsTheGrab) {
  if (!qvtest::kRefusalsReachTheStandIn) GTEST_SKIP() << "the stand-in allocates on its own";
  GuardWorld w;
  LogCapture log;
  bool armed = true;
  ASSERT_EQ(tinesimSetGenerator(kGuardCamera, "Frame", refuseOnCycleThread, &armed), 0);
  DTYPE containers[kGuardFrames];
  const int n = qvGrabFramesEx2(&w.out, containers, kGuardCamera, "Frame", kGuardFrames, 5,
                                QV_CM_TIMER, &w.error, &w.tineError, nullptr, nullptr);
  armed = false;
  EXPECT_EQ(w.error, QV_E_GRAB_NO_MEMORY);
  EXPECT_EQ(n, 1);  // the frames before the failed one are kept
  EXPECT_EQ(w.out.numFrames, 1u);
  EXPECT_EQ(tinesimOpenLinkCount(), 0);
  EXPECT_FALSE(qv::tine::_internal_grabCallbackAllowed());
  EXPECT_TRUE(log.contains("Error: qvGrabFrames(Ex,Ex2): Callback: out of memory")) << log.text();
  qvFreeBunch(&w.out);

  // The next grab works: nothing of the failed one is left running.
  EXPECT_EQ(qvGrabFramesEx2(&w.out, containers, kGuardCamera, "Frame", kGuardFrames, 5, QV_CM_TIMER,
                            &w.error, &w.tineError, nullptr, nullptr),
            static_cast<int>(kGuardFrames));
  EXPECT_EQ(w.error, QV_E_NONE);
}

// ---- malloc failing ------------------------------------------------------------

// A sanitizer reserves address space beyond any useful limit.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !defined(_WIN32)

// Address space of the process now, in bytes.
uint64_t addressSpaceInUse() {
  unsigned long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// Lets the process grow by at most aiBytes from here; 0 lifts the limit.
void limitGrowth(uint64_t aiBytes) {
  struct rlimit limit;
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = aiBytes == 0 ? limit.rlim_max : addressSpaceInUse() + aiBytes;
  setrlimit(RLIMIT_AS, &limit);
}

int g_mismatches = 0;

void expectInChild(bool abHolds, const char* asWhat, int aiResult) {
  if (abHolds) return;
  std::fprintf(stderr, "%s (result %d)\n", asWhat, aiResult);
  ++g_mismatches;
}

// Runs in a child process: every large block below comes from malloc, which
// fails once the address-space limit is reached.
[[noreturn]] void exhaustAddressSpace() {
  // Large blocks always from fresh mappings, which the limit counts, and one
  // heap for every thread: the heap of another thread would grow inside
  // space it reserved at its start.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);
  mallopt(M_ARENA_MAX, 1);
  qvSetVerbose(QV_VERBOSE_OFF);
  constexpr int32_t kSide = 1024;  // frames of 2 MiB
  constexpr uint32_t kFrames = 8;
  constexpr uint64_t kBudget = 5u << 20;
  TempDir dir;
  QVBUNCHOFIMAGES big, out;
  qvInitializeBunchStructure(&out);
  if (!makeGreySequence(big, kFrames, kSide, kSide, 2)) _exit(2);
  const std::string imc2 = dir.file("big.imc2"), imm = dir.file("big.imm"),
                    saved = dir.file("saved.imc2");
  if (qvSaveImagesToFile(&big, imc2.c_str()) != 0 || qvSaveImagesToFile(&big, imm.c_str()) != 0)
    _exit(3);
  tinesimAddImageProperty(kGuardCamera, "Frame", kSide, kSide, TINESIM_GRAY16);
  tinesimAddImageProperty(kGuardJpegCamera, "Frame", 2048, 2048, TINESIM_JPEG_GRAY);
  DIMAGE* jpeg = qvInitializeImageEx(MAX_TRANSPORT_SIZE);
  int code = 0, error = 0;
  if (jpeg == nullptr ||
      qvGrabFrame(jpeg, nullptr, kGuardJpegCamera, "Frame", 2000, QV_CA_READ, &code) != 1)
    _exit(4);
  // TINE, its cycle thread and the thread's heap exist before the limit.
  if (qvGrabFramesEx(&out, kGuardCamera, "Frame", 1, 5, QV_CM_TIMER, &error, nullptr, nullptr,
                     nullptr) != 1)
    _exit(5);
  qvFreeBunch(&out);

  char reason[256];
  limitGrowth(kBudget);
  int r = qvLoadImagesFromFileEx(imc2.c_str(), &out, nullptr, nullptr, reason, sizeof reason);
  limitGrowth(0);
  expectInChild(r == QV_E_LOAD_NO_MEMORY && out.imageArray == nullptr && out.numFrames == 0,
                "IMC2 load", r);

  limitGrowth(kBudget);
  r = qvLoadImagesFromFileEx(imm.c_str(), &out, nullptr, nullptr, reason, sizeof reason);
  limitGrowth(0);
  expectInChild((r == QV_E_LOAD_IMM || r == QV_E_LOAD_NO_MEMORY) && out.imageArray == nullptr &&
                    out.numFrames == 0 && std::strstr(reason, "Out of memory") != nullptr,
                "IMM load", r);

  limitGrowth(1u << 20);
  r = qvSaveImagesToFileEx(&big, saved.c_str(), reason, sizeof reason, nullptr, nullptr);
  limitGrowth(0);
  expectInChild(r == QV_E_SAVE_NO_MEMORY && !fileExists(saved), "IMC2 save", r);

  limitGrowth(kBudget);
  r = qvCreateBunchStructure(&out, kFrames, 2u << 20);
  limitGrowth(0);
  expectInChild(r == 0 && out.imageArray == nullptr, "bunch creation", r);
  qvInitializeBunchStructure(&out);

  limitGrowth(kBudget);
  DIMAGE* image = qvInitializeImageEx(16 << 20);
  limitGrowth(0);
  expectInChild(image == nullptr, "image creation", 0);

  DIMAGE decoded;
  limitGrowth(1u << 20);
  r = qvDecompressImage(&decoded, jpeg);
  limitGrowth(0);
  expectInChild(r == -1, "JPEG decoding", r);

  // Frames are taken on the cycle thread: the grab ends with those that fit.
  limitGrowth(kBudget);
  const int n = qvGrabFramesEx(&out, kGuardCamera, "Frame", kFrames, 5, QV_CM_TIMER, &error,
                               nullptr, nullptr, nullptr);
  limitGrowth(0);
  expectInChild(error == QV_E_GRAB_NO_MEMORY && n >= 0 && n < static_cast<int>(kFrames) &&
                    out.numFrames == static_cast<uint32_t>(n) && tinesimOpenLinkCount() == 0,
                "multi-frame grab", error);
  qvFreeBunch(&out);

  qvFreeImage(jpeg);
  qvFreeBunch(&big);
  std::fflush(stderr);
  _exit(g_mismatches == 0 ? 0 : 1);
}

TEST(AddressSpaceLimit, MallocFailuresGiveTheDocumentedCodes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exhaustAddressSpace(), ::testing::ExitedWithCode(0), "");
}

#else

TEST(AddressSpaceLimit, MallocFailuresGiveTheDocumentedCodes) {
  GTEST_SKIP() << "needs an address space limit, which a sanitizer's reservations and Windows "
                  "do not allow; the failing operator new tests cover those builds";
}

#endif

}  // namespace
