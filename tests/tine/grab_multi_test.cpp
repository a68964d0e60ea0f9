#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "support/environment.h"
#include "tine/grab_multi.h"
#include "tine_fixture.h"

namespace {

using qv::tine::_internal_grabCallbackAllowed;
using qv::tine::_internal_grabFramesCallback;

constexpr char kSmall[] = "/TEST/VIDEO/SMALL";
constexpr int kFastRate = 5;  // ms between deliveries

class GrabFrames : public TineTest {
 protected:
  void SetUp() override {
    TineTest::SetUp();
    qvInitializeBunchStructure(&bunch);
    tinesimAddImageProperty(kSmall, "Frame", 64, 16, TINESIM_GRAY8);
  }
  void TearDown() override {
    qvFreeBunch(&bunch);
    TineTest::TearDown();
  }
  int grab(unsigned frames, int* interrupt = nullptr, double* fraction = nullptr,
           DTYPE* douts = nullptr, const char* address = kSmall) {
    return qvGrabFramesEx2(&bunch, douts, address, "Frame", frames, kFastRate, CM_TIMER, &error,
                           &tineError, interrupt, fraction);
  }
  void expectExactlySized(int frames) {
    ASSERT_EQ(bunch.numFrames, static_cast<uint32_t>(frames));
    for (int i = 0; i < frames; ++i) {
      const DIMAGE& image = bunch.imageArray[i];
      EXPECT_NE(image.frameBuffer, nullptr);
      EXPECT_EQ(static_cast<int64_t>(image.frameBufferSize), image.frameHeader.appendedFrameSize);
      EXPECT_EQ(tinesimPatternFrameNumber(&image), image.frameHeader.frameNumber) << i;
    }
  }
  QVBUNCHOFIMAGES bunch;
  int error = -99;
  int tineError = -99;
};

TEST_F(GrabFrames, CollectsFramesOnTheCycleThread) {
  EXPECT_EQ(grab(4), 4);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(tineError, 0);
  expectExactlySized(4);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(bunch.imageArray[i].frameHeader.frameNumber, i + 1);
  EXPECT_EQ(qvIsSequence(&bunch), 1);
  EXPECT_EQ(tinesimOpenLinkCount(), 0);
  int interval = 0, mode = 0, access = 0;
  tinesimLastAttach(&interval, &mode, &access);
  EXPECT_EQ(interval, kFastRate);
  EXPECT_EQ(mode, CM_TIMER);
  EXPECT_EQ(access, CA_READ);
  EXPECT_TRUE(
      log->contains("Warning: qvGrabFrames(Ex, Ex2): Parameter aTineTimeoutMilliseconds "
                    "exceeds recommended interval range (300-4000)."));
}

TEST_F(GrabFrames, RepeatsAreDropped) {
  tinesimSetFrameNumbering(kSmall, "Frame", 10, 1, 1);  // 10, 10, 11, 11, 12, ...
  EXPECT_EQ(grab(3), 3);
  EXPECT_EQ(error, 0);
  expectExactlySized(3);
  EXPECT_EQ(bunch.imageArray[0].frameHeader.frameNumber, 10u);
  EXPECT_EQ(bunch.imageArray[1].frameHeader.frameNumber, 11u);
  EXPECT_EQ(bunch.imageArray[2].frameHeader.frameNumber, 12u);
}

TEST_F(GrabFrames, FrameNumberZeroIsNeverARepeat) {
  tinesimSetFrameNumbering(kSmall, "Frame", 0, 0, 0);
  EXPECT_EQ(grab(3), 3);
  EXPECT_EQ(error, 0);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(bunch.imageArray[i].frameHeader.frameNumber, 0u);
}

TEST_F(GrabFrames, ErrorCodesOfTheLinkAreKept) {
  const int codes[] = {516, 0, 7, 0};
  tinesimScriptLinkCodes(kSmall, "Frame", codes, 4);
  EXPECT_EQ(grab(3), 3);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(tineError, 7);
  EXPECT_TRUE(log->contains("qvGrabFrames(Ex,Ex2): Callback: Info: TINE return code: 516"));
  EXPECT_TRUE(log->contains("qvGrabFrames(Ex,Ex2): Callback: Warning: TINE return code: 7"));
}

TEST_F(GrabFrames, ContainersPerFrame) {
  DTYPE douts[2];
  std::memset(douts, 0xAB, sizeof douts);
  EXPECT_EQ(grab(2, nullptr, nullptr, douts), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(douts[i].dFormat, CF_IMAGE);
    // Points at the stored image, never into the grab's own (freed) record.
    EXPECT_EQ(douts[i].data.vptr, &bunch.imageArray[i]);
  }
  qvFreeBunch(&bunch);
  tinesimSetGetDataResult(12);
  std::memset(douts, 0xAB, sizeof douts);
  EXPECT_EQ(grab(2, nullptr, nullptr, douts), 2);
  EXPECT_EQ(douts[1].dFormat, CF_DEFAULT);
  EXPECT_EQ(douts[1].dArrayLength, 0u);
  EXPECT_EQ(log->count("Callback: Warning: GetDataFromCallbackId TINE return code: 12"), 2);
}

TEST_F(GrabFrames, InterruptAfterOneFrame) {
  tinesimSetLinkStopAfter(kSmall, "Frame", 1);
  int interrupt = 0;
  double fraction = 0.0;
  std::thread watcher([&] {
    double seen = 0.0;
    while (seen <= 0.0) {
      __atomic_load(&fraction, &seen, __ATOMIC_ACQUIRE);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    __atomic_store_n(&interrupt, 1, __ATOMIC_RELEASE);
  });
  EXPECT_EQ(grab(3, &interrupt, &fraction), 1);
  watcher.join();
  EXPECT_EQ(error, -7);
  EXPECT_DOUBLE_EQ(fraction, 1.0 / 3.0);
  expectExactlySized(1);
}

TEST_F(GrabFrames, InterruptSetBeforeTheCallReturnsNothing) {
  tinesimSetLinkStopAfter(kSmall, "Frame", 0);
  int interrupt = 1;
  EXPECT_EQ(grab(3, &interrupt), 0);
  EXPECT_EQ(error, -7);
  EXPECT_EQ(bunch.numFrames, 0u);
  EXPECT_EQ(bunch.imageArray, nullptr);
  EXPECT_EQ(tinesimOpenLinkCount(), 0);
}

TEST_F(GrabFrames, OnlyOneInterrupts) {
  int interrupt = 2;
  double fraction = -1.0;
  EXPECT_EQ(grab(2, &interrupt, &fraction), 2);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(fraction, 1.0);
}

TEST_F(GrabFrames, NonEmptyBunchIsFreedFirst) {
  ASSERT_EQ(qvCreateBunchStructure(&bunch, 4, 128), 1);
  EXPECT_EQ(grab(1), 1);
  EXPECT_TRUE(
      log->contains("qvGrabFramesEx2: Warning: aImages->numFrames=4, but must be zero on "
                    "input, qvFreeBuch() will be performed."));
  expectExactlySized(1);
}

TEST_F(GrabFrames, RateAndModeOverrides) {
  qvtest::setEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE",
                         "1500");
  qvtest::setEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_MODE_FORCE", "TIMER|CONNECT");
  EXPECT_EQ(grab(1), 1);
  int interval = 0, mode = 0;
  tinesimLastAttach(&interval, &mode, nullptr);
  EXPECT_EQ(interval, 1500);
  EXPECT_EQ(mode, 0x2003);
  EXPECT_TRUE(log->contains(
      "Info: qvGrabFrames(Ex,Ex2): Environment variable "
      "\"KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE=1500\" set. This "
      "forces change of TINE access rate from '5' ms to '1500' ms."));
  EXPECT_TRUE(log->contains(
      "Info: qvGrabFrames(Ex,Ex2): Environment variable "
      "\"KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_MODE_FORCE=TIMER|CONNECT\" set. This forces "
      "change of TINE access mode from 3(TIMER) to 8195(TIMER|CONNECT)."));
  EXPECT_FALSE(log->contains("exceeds recommended interval range"));
}

TEST_F(GrabFrames, UnusableOverridesAreIgnored) {
  struct Case {
    const char* value;
    int code;
  } cases[] = {{"15x", 3}, {"", 3}, {"99999999999", 1}, {"-99999999999", 2}};
  for (const Case& c : cases) {
#if defined(_WIN32)
    if (c.value[0] == '\0') continue;  // Windows keeps no empty environment variables
#endif
    log->clear();
    qvFreeBunch(&bunch);
    qvtest::setEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE",
                           c.value);
    EXPECT_EQ(grab(1), 1);
    int interval = 0;
    tinesimLastAttach(&interval, nullptr, nullptr);
    EXPECT_EQ(interval, kFastRate);
    EXPECT_TRUE(log->contains(std::string("However, conversion of \"") + c.value +
                              "\" from string to int failed (E: " + std::to_string(c.code) +
                              "). No Tine access rate forcing will be performed."))
        << c.value << "\n"
        << log->text();
  }
  qvtest::setEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE",
                         " -7");
  qvFreeBunch(&bunch);
  EXPECT_EQ(grab(1), 1);  // blanks and a sign are allowed
  int interval = 0;
  tinesimLastAttach(&interval, nullptr, nullptr);
  EXPECT_EQ(interval, -7);
  qvtest::unsetEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE");
  qvtest::setEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_MODE_FORCE", "SYNCNOTIFY");
  qvFreeBunch(&bunch);
  EXPECT_EQ(grab(1), 1);
  EXPECT_TRUE(
      log->contains("However, conversion of \"SYNCNOTIFY\" to integer Tine mode failed "
                    "(E: -5). No Tine access mode forcing will be performed."));
}

TEST_F(GrabFrames, AttachFailure) {
  tinesimSetAttachResult(kSmall, "Frame", -12);
  EXPECT_EQ(grab(2), 0);
  EXPECT_EQ(error, -6);
  EXPECT_EQ(tineError, -12);
  EXPECT_EQ(bunch.imageArray, nullptr);
  EXPECT_TRUE(log->contains("qvGrabFrames(Ex,Ex2): AttachLinkEx2 unsuccessful return code (-12)."));
  EXPECT_TRUE(log->contains("Parameters passed: qvGrabFramesEx2(QVBUNCHOFIMAGES *aImages"));
  EXPECT_FALSE(_internal_grabCallbackAllowed());
}

TEST_F(GrabFrames, RefusedArguments) {
  EXPECT_EQ(qvGrabFramesEx2(&bunch, nullptr, kSmall, "Frame", 2, kFastRate, CM_TIMER, nullptr,
                            &tineError, nullptr, nullptr),
            0);
  EXPECT_EQ(tineError, 0);
  EXPECT_EQ(grab(0), 0);
  EXPECT_EQ(error, -1);
  EXPECT_EQ(qvGrabFramesEx2(nullptr, nullptr, kSmall, "Frame", 2, kFastRate, CM_TIMER, &error,
                            nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(error, -1);
  EXPECT_EQ(grab(2, nullptr, nullptr, nullptr, "/ctx//dev"), 0);
  EXPECT_EQ(error, -1);
  EXPECT_EQ(qvGrabFramesEx2(&bunch, nullptr, kSmall, nullptr, 2, kFastRate, CM_TIMER, &error,
                            nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(error, -1);
  EXPECT_EQ(log->count("Parameters passed: qvGrabFramesEx2("), 2);
  EXPECT_EQ(tinesimCallCount("AttachLinkEx2") + tinesimCallCount("alsnExecLink"), 0);
  EXPECT_EQ(bunch.imageArray, nullptr);
}

TEST_F(GrabFrames, RenewalThresholdFailureIsOnlyLogged) {
  tinesimSetRenewalThresholdResult(7);
  EXPECT_EQ(grab(1), 1);
  EXPECT_TRUE(log->contains(std::string("Warning: qvGrabFrames(Ex,Ex2): "
                                        "SetSubscriptionRenewalThreshold failed (tine error code: "
                                        "7(") +
                            cc2str(7) + "))."));
}

TEST_F(GrabFrames, CallbackRefusals) {
  _internal_grabFramesCallback(1, 0, nullptr);
  EXPECT_TRUE(log->contains(
      "qvGrabFrames(Ex,Ex2): Callback: aRef=0x0 (NULL)! Do nothing, just exit. (aId=1 aCC=0 "
      "_global_internal_bCallbackAllowed=false _global_internal_bCallbackRunning=false)"));
  int notAGrab = 0;
  _internal_grabFramesCallback(1, 0, &notAGrab);  // never dereferenced
  EXPECT_TRUE(
      log->contains("qvGrabFrames(Ex,Ex2): Callback: _global_internal_bCallbackAllowed == false!! "
                    "(aId=1, aCC=0"));
}

TEST_F(GrabFrames, ReducedForms) {
  int err = 0;
  EXPECT_EQ(qvGrabFramesEx(&bunch, kSmall, "Frame", 2, kFastRate, CM_TIMER, &err, nullptr, nullptr,
                           nullptr),
            2);
  EXPECT_EQ(err, 0);
  qvFreeBunch(&bunch);
  EXPECT_EQ(qvGrabFrames(&bunch, kSmall, "Frame", 2, kFastRate, CM_TIMER), 1);
  EXPECT_EQ(bunch.numFrames, 2u);
  qvFreeBunch(&bunch);
  tinesimSetAttachResult(kSmall, "Frame", -12);
  EXPECT_EQ(qvGrabFrames(&bunch, kSmall, "Frame", 2, kFastRate, CM_TIMER), -5);
  EXPECT_EQ(qvGrabFrames(&bunch, kSmall, "Frame", 0, kFastRate, CM_TIMER), 0);
}

TEST_F(GrabFrames, JpegFramesAreStoredWithTheirCodedLength) {
  tinesimAddImageProperty(kSmall, "Frame", 64, 32, TINESIM_JPEG_GRAY);
  EXPECT_EQ(grab(2), 2);
  for (uint32_t i = 0; i < 2; ++i) {
    const DIMAGE& image = bunch.imageArray[i];
    EXPECT_EQ(image.frameHeader.imageFormat, CF_IMAGE_FORMAT_JPEG);
    EXPECT_GT(image.frameHeader.appendedFrameSize, 0);
    EXPECT_EQ(image.frameBufferSize, static_cast<uint32_t>(image.frameHeader.appendedFrameSize));
    EXPECT_EQ(image.frameBuffer[0], 0xFF);
    EXPECT_EQ(image.frameBuffer[1], 0xD8);
  }
}

// The slow cases: more than 5 whole seconds without delivery, and a link
// that refuses to close for longer than the 3 seconds of retries.
TEST_F(GrabFrames, InactivityTimeoutKeepsTheFramesReceived) {
  tinesimSetLinkStopAfter(kSmall, "Frame", 2);
  EXPECT_EQ(grab(5), 2);
  EXPECT_EQ(error, -2);
  expectExactlySized(2);
  EXPECT_TRUE(
      log->contains("qvGrabFrames(Ex,Ex2): Timeout occurred (5 seconds) (2 of 5 frames "
                    "could be received up to then)."));
}

TEST_F(GrabFrames, LinkThatCannotBeClosedKeepsItsBuffers) {
  tinesimSetCloseLinkFailures(1000, 8);
  EXPECT_EQ(grab(2), 2);
  EXPECT_EQ(error, 0);
  expectExactlySized(2);
  EXPECT_TRUE(log->contains("needed to be repeated #"));
  EXPECT_TRUE(log->contains("qvGrabFrames(Ex,Ex2): CloseLink(1) failed (Tine Return Code: 8)."));
  EXPECT_TRUE(log->contains("could not be closed; its receive buffer"));
  // The link goes on delivering into the kept record; its callbacks are refused.
  const char kRefused[] = "_global_internal_bCallbackAllowed == false!!";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!log->contains(kRefused) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(tinesimOpenLinkCount(), 1);
  EXPECT_TRUE(log->contains(kRefused));
  EXPECT_EQ(bunch.numFrames, 2u);
  // Stop the link before the log settings change: the runtime's verbosity
  // is not meant to be changed while other threads log.
  tinesimReset();
}

}  // namespace

namespace {

// The log level is read once per process, so this runs in a fresh child.
TEST(GrabFramesTrace, AtLogLevelTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        qvtest::setEnvironment("KELTA_CLIENTLIB_LOGLEVEL", "2");
        tinesimReset();
        tinesimAddImageProperty(kSmall, "Frame", 64, 16, TINESIM_GRAY8);
        LogCapture capture;
        QVBUNCHOFIMAGES bunch;
        qvInitializeBunchStructure(&bunch);
        int result = qvGrabFrames(&bunch, kSmall, "Frame", 2, kFastRate, CM_TIMER);
        bool ok =
            result == 1 && capture.count("qvGrabFrames() called.") == 1 &&
            capture.count("qvGrabFramesEx() called.") == 1 &&
            capture.contains("qvGrabFramesEx2(QVBUNCHOFIMAGES *aImages, DTYPE *aImagesDOut") &&
            capture.contains(", \"/TEST/VIDEO/SMALL\", \"Frame\", 2, 5, 3h, ") &&
            capture.contains(
                "...qvGrabFramesEx2; return value: 2 (numRequested=2 "
                "inNumFrames=2) d.shutdownReason=1 iErrorCode=0, "
                "iTineErrorCode=0");
        qvFreeBunch(&bunch);
        if (!ok) std::fprintf(stderr, "%s", capture.text().c_str());
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
