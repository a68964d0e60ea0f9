// Bring-up is once per process, so each case runs in a fresh child process.
#include <thread>
#include <vector>

#include "quivox3/quivox3.h"
#include "support/environment.h"
#include "tine/bringup.h"
#include "tine_fixture.h"

namespace {

class BringUp : public TineTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TineTest::SetUp();
  }
};

TEST_F(BringUp, TwoGrabsStartTineOnceWithoutPipe) {
  EXPECT_EXIT(
      {
        qvtest::unsetEnvironment("KELTA_CLIENTLIB_TINE_PIPE");
        qvEstimateMaxFrameSizeBytes(kCam1, "Frame");
        qvEstimateMaxFrameSizeBytes(kCam1, "Frame");
        bool ok = tinesimCallCount("SystemStartCycleTimer") == 1 &&
                  tinesimCallCount("SetClnRecvQueueDepth") == 1 &&
                  tinesimCallCount("_SystemAssignBufferSpace") == 1 &&
                  tinesimCallCount("OpenIpcPipe") == 0 && tinesimCycleTimerRunning() == 1;
        _internal_StopTineIfAlreadyStarted();
        ok = ok && tinesimCallCount("SystemKillCycleTimer") == 1 &&
             tinesimCallCount("CloseIpcPipe") == 0 && tinesimCycleTimerRunning() == 0;
        _internal_StopTineIfAlreadyStarted();  // a second stop does nothing
        ok = ok && tinesimCallCount("SystemKillCycleTimer") == 1;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(BringUp, ConcurrentFirstCallersStartTineOnce) {
  EXPECT_EXIT(
      {
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
          threads.emplace_back([] { qvEstimateMaxFrameSizeBytes(kCam1, "Frame"); });
        for (std::thread& t : threads) t.join();
        std::_Exit(tinesimCallCount("SystemStartCycleTimer") == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(BringUp, PipeOpenedAndClosed) {
  EXPECT_EXIT(
      {
        qvtest::setEnvironment("KELTA_CLIENTLIB_TINE_PIPE", "qvpipe");
        tinesimSetBufferSpaceResult(43);
        _internal_StartTineIfNotStartedAlready();
        char name[32];
        tinesimLastPipeName(name, sizeof name);
        bool ok = tinesimCallCount("OpenIpcPipe") == 1 && std::string(name) == "qvpipe" &&
                  log->contains(
                      "Warning: _internal_StartTineIfNotStartedAlready: TINE "
                      "_SystemAssignBufferSpace() returned not successful: cc=43") &&
                  log->contains(
                      "Info: _internal_StartTineIfNotStartedAlready: TINE "
                      "OpenIpcPipe(\"qvpipe\") successful.");
        tinesimSetPipeResults(0, 5);
        _internal_StopTineIfAlreadyStarted();
        ok = ok && tinesimCallCount("CloseIpcPipe") == 1 &&
             log->contains(
                 "Warning: _internal_StopTineIfAlreadyStarted: TINE "
                 "CloseIpcPipe(\"qvpipe\") returned not successful: cc=5");
        // Still open: the next shutdown after a new bring-up tries again.
        _internal_StartTineIfNotStartedAlready();
        tinesimSetPipeResults(0, 0);
        _internal_StopTineIfAlreadyStarted();
        ok = ok && tinesimCallCount("CloseIpcPipe") == 2 &&
             tinesimCallCount("SystemStartCycleTimer") == 2;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(BringUp, PipeThatFailsToOpenIsNotClosed) {
  EXPECT_EXIT(
      {
        qvtest::setEnvironment("KELTA_CLIENTLIB_TINE_PIPE", "qvpipe");
        tinesimSetPipeResults(6, 0);
        _internal_StartTineIfNotStartedAlready();
        bool ok = log->contains(
            "Warning: _internal_StartTineIfNotStartedAlready: TINE "
            "OpenIpcPipe(\"qvpipe\") returned not successful: cc=6");
        _internal_StopTineIfAlreadyStarted();
        ok = ok && tinesimCallCount("CloseIpcPipe") == 0 &&
             tinesimCallCount("SystemKillCycleTimer") == 1;
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
