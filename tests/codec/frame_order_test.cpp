// Frames handed to the codec's threads: prepared and finished in order on the
// caller's thread, the first failure in frame order ends the run, no two
// frames in flight share a slot, and no thread outlives the run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/frame_order.h"
#include "support/threads.h"

namespace {

enum class Step { kNone, kPrepare, kWork, kFinish };

struct Scenario {
  unsigned threads;
  uint32_t frames;
  uint32_t failingFrame;  // ignored with kNone
  Step failingStep;
};

struct Observed {
  std::vector<uint32_t> prepared, finished;
  std::vector<bool> worked;
  std::atomic<int> working{0};
  std::atomic<int> workOnCaller{0};
  std::atomic<int> slotClashes{0};
  std::vector<std::atomic<int64_t>> owner;  // frame holding each slot, -1 none
  explicit Observed(unsigned slots) : owner(slots) {
    for (auto& o : owner) o = -1;
  }
};

bool runScenario(const Scenario& s, Observed& o) {
  const std::thread::id caller = std::this_thread::get_id();
  qv::codec::FrameSteps steps;
  auto failsAt = [&](uint32_t frame, Step step) {
    return s.failingStep == step && s.failingFrame == frame;
  };
  steps.prepare = [&](uint32_t frame, unsigned slot) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    int64_t idle = -1;
    if (!o.owner[slot].compare_exchange_strong(idle, frame)) ++o.slotClashes;
    o.prepared.push_back(frame);
    return !failsAt(frame, Step::kPrepare);
  };
  steps.work = [&](uint32_t frame, unsigned slot) {
    ++o.working;
    if (std::this_thread::get_id() == caller) ++o.workOnCaller;
    if (o.owner[slot] != frame) ++o.slotClashes;
    // Uneven work, so that frames complete out of order.
    std::this_thread::sleep_for(std::chrono::microseconds((frame * 7919) % 5 * 300));
    --o.working;
    return !failsAt(frame, Step::kWork);
  };
  steps.finish = [&](uint32_t frame, unsigned slot, bool worked) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    if (o.owner[slot] != frame) ++o.slotClashes;
    o.owner[slot] = -1;
    o.finished.push_back(frame);
    o.worked.push_back(worked);
    return worked && !failsAt(frame, Step::kFinish);
  };
  return qv::codec::runInFrameOrder(s.frames, s.threads, steps);
}

}  // namespace

TEST(FrameOrder, FramesFinishInOrderAndTheFirstFailureWins) {
  const Scenario scenarios[] = {
      {1, 9, 0, Step::kNone},    {2, 9, 0, Step::kNone},     {3, 40, 0, Step::kNone},
      {8, 5, 0, Step::kNone},    {2, 1, 0, Step::kNone},     {4, 0, 0, Step::kNone},
      {1, 9, 4, Step::kPrepare}, {2, 9, 4, Step::kPrepare},  {3, 9, 0, Step::kPrepare},
      {1, 9, 4, Step::kWork},    {2, 9, 4, Step::kWork},     {3, 9, 8, Step::kWork},
      {8, 30, 1, Step::kWork},   {1, 9, 4, Step::kFinish},   {2, 9, 4, Step::kFinish},
      {3, 9, 0, Step::kFinish},  {8, 30, 29, Step::kFinish},
  };
  const size_t baseline = qvtest::threadsAfterWarmUp();
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(testing::Message()
                 << s.threads << " threads, " << s.frames << " frames, step "
                 << static_cast<int>(s.failingStep) << " fails at " << s.failingFrame);
    Observed o(qv::codec::frameSlots(s.threads));
    const bool completed = runScenario(s, o);
    const bool fails = s.failingStep != Step::kNone;
    EXPECT_EQ(completed, !fails);

    // Finished: every frame before the failing one, and the failing one
    // itself when its work or finish failed.
    const uint32_t finishedFrames = !fails                            ? s.frames
                                    : s.failingStep == Step::kPrepare ? s.failingFrame
                                                                      : s.failingFrame + 1;
    ASSERT_EQ(o.finished.size(), finishedFrames);
    for (uint32_t i = 0; i < finishedFrames; ++i) {
      EXPECT_EQ(o.finished[i], i);
      EXPECT_EQ(o.worked[i], !(s.failingStep == Step::kWork && i == s.failingFrame));
    }
    for (size_t i = 0; i < o.prepared.size(); ++i) EXPECT_EQ(o.prepared[i], i) << "prepare order";
    EXPECT_LE(o.prepared.size(),
              static_cast<size_t>(finishedFrames) + qv::codec::frameSlots(s.threads));
    EXPECT_EQ(o.slotClashes, 0);
    EXPECT_EQ(o.working, 0) << "work still running after the call";
    if (s.threads > 1 && s.frames > 1) {
      EXPECT_EQ(o.workOnCaller, 0);
    }
    if (s.threads == 1) {
      EXPECT_EQ(o.workOnCaller, static_cast<int>(o.finished.size()));
    }
    EXPECT_EQ(qvtest::threadsInProcess(), baseline) << "a thread outlived the call";
  }
}

TEST(FrameOrder, ThreadCountFromTheEnvironmentOrTheMachine) {
  const unsigned machine = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  const struct {
    const char* value;  // null: unset
    uint64_t frames;
    unsigned expected;
  } cases[] = {
      {nullptr, 1000, machine}, {"3", 1000, 3},        {"3", 2, 2},          {"1", 1000, 1},
      {"64", 1000, 64},         {"65", 1000, machine}, {"0", 1000, machine}, {"2x", 1000, machine},
      {"", 1000, machine},      {"-2", 1000, machine}, {nullptr, 0, 1},
  };
  for (const auto& c : cases) {
    qvtest::ScopedCodecThreads env(c.value);
    EXPECT_EQ(qv::codec::codecThreads(c.frames), c.expected)
        << (c.value ? c.value : "(unset)") << ", " << c.frames << " frames";
  }
}
