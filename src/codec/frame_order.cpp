#include "codec/frame_order.h"

#include "codec/frame_codec.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace qv::codec {

namespace {

constexpr unsigned kDefaultMaxThreads = 8;
constexpr unsigned kMaxThreads = 64;

// The count the environment asks for, or 0 without a valid one.
unsigned threadsFromEnvironment() {
  const char* text = std::getenv("KELTA_CLIENTLIB_CODEC_THREADS");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > static_cast<long>(kMaxThreads)) return 0;
  return static_cast<unsigned>(value);
}

// Runs the work of frames on its threads, first come first served, and
// tells per slot when the frame's work is done. The destructor drops what
// has not started and joins every thread.
class FrameWorkers {
 public:
  FrameWorkers(unsigned threads, unsigned slots, const FrameSteps& steps)
      : m_steps(steps), m_slots(slots) {
    try {
      m_threads.reserve(threads);
      for (unsigned t = 0; t < threads; ++t) m_threads.emplace_back([this] { serve(); });
    } catch (...) {
      // Out of threads or memory: the threads started so far do the work.
    }
  }
  ~FrameWorkers() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
      m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) t.join();
  }
  FrameWorkers(const FrameWorkers&) = delete;
  FrameWorkers& operator=(const FrameWorkers&) = delete;

  bool started() const { return !m_threads.empty(); }

  void submit(uint32_t frame, unsigned slot) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_slots[slot] = Slot{};
      m_queue.push_back(Job{frame, slot});
    }
    m_wake.notify_one();
  }

  // The work's result for the frame in the slot, once it is done.
  bool await(unsigned slot) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [&] { return m_slots[slot].done; });
    return m_slots[slot].worked;
  }

 private:
  struct Job {
    uint32_t frame;
    unsigned slot;
  };
  struct Slot {
    bool done = false;
    bool worked = false;
  };

  void serve() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
      if (m_stopping) {
        releaseThreadEngines();
        return;
      }
      const Job job = m_queue.front();
      m_queue.pop_front();
      lock.unlock();
      const bool worked = runWork(job);
      lock.lock();
      m_slots[job.slot] = Slot{true, worked};
      m_done.notify_all();
    }
  }

  // Nothing may leave a worker thread: an exception would end the process.
  bool runWork(const Job& job) noexcept {
    try {
      return m_steps.work(job.frame, job.slot);
    } catch (...) {
      return false;
    }
  }

  const FrameSteps& m_steps;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_done;
  std::deque<Job> m_queue;
  std::vector<Slot> m_slots;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

bool runOnCallersThread(uint32_t frames, const FrameSteps& steps) {
  for (uint32_t i = 0; i < frames; ++i) {
    if (!steps.prepare(i, 0)) return false;
    if (!steps.finish(i, 0, steps.work(i, 0))) return false;
  }
  return true;
}

}  // namespace

unsigned codecThreads(uint64_t frames) {
  unsigned threads = threadsFromEnvironment();
  if (threads == 0) {
    threads = std::clamp(std::thread::hardware_concurrency(), 1u, kDefaultMaxThreads);
  }
  return static_cast<unsigned>(std::clamp<uint64_t>(frames, 1, threads));
}

bool runInFrameOrder(uint32_t frames, unsigned threads, const FrameSteps& steps) {
  if (threads <= 1 || frames <= 1) {
    const bool finished = runOnCallersThread(frames, steps);
    releaseThreadEngines();  // the caller's thread keeps no state after the call
    return finished;
  }
  // A frame may start only when the frame that used its slot before has
  // been finished.
  const unsigned slots = frameSlots(threads);
  FrameWorkers workers(threads, slots, steps);
  if (!workers.started()) {
    const bool finished = runOnCallersThread(frames, steps);
    releaseThreadEngines();
    return finished;
  }

  uint32_t finished = 0;
  auto finishNext = [&] {
    const unsigned slot = finished % slots;
    const bool worked = workers.await(slot);
    return steps.finish(finished++, slot, worked);
  };
  for (uint32_t i = 0; i < frames; ++i) {
    if (i >= slots && !finishNext()) return false;
    if (!steps.prepare(i, i % slots)) {
      // The frames before it come first, as they would one at a time.
      while (finished < i) {
        if (!finishNext()) return false;
      }
      return false;
    }
    workers.submit(i, i % slots);
  }
  while (finished < frames) {
    if (!finishNext()) return false;
  }
  return true;
}

}  // namespace qv::codec
