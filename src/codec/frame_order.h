// Frames of a sequence compressed or inflated on several threads, while the
// caller's thread keeps doing everything a caller can observe (file I/O,
// progress, the interrupt flag, the first failure) in image order.
//
// Threads are started and joined inside runInFrameOrder: none outlives it.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/files.h"

namespace qv::codec {

// Worker threads for a call over `frames` frames: the number in the
// environment variable KELTA_CLIENTLIB_CODEC_THREADS (1 to 64) or, without a
// valid one, the machine's cores, at most 8; never more than the frames.
// 1 means that everything runs on the caller's thread.
unsigned codecThreads(uint64_t frames);

// Slots a run with `threads` workers uses: one per worker, and one more for
// the frame the caller's thread reads or writes meanwhile.
constexpr unsigned frameSlots(unsigned threads) { return threads <= 1 ? 1 : threads + 1; }

// The three steps of one frame. `slot` (0 to frameSlots(threads) - 1) names
// the buffer the frame may use: no two frames in flight share a slot, so one
// buffer per slot bounds the memory whatever the sequence's length.
struct FrameSteps {
  // Caller's thread, in order, before the work (reading a stream, say).
  // False ends the run; the frames before it are still finished first.
  std::function<bool(uint32_t frame, unsigned slot)> prepare;
  // Any thread: the codec's work. Its result goes to finish.
  std::function<bool(uint32_t frame, unsigned slot)> work;
  // Caller's thread, in order: writes, checks, progress, interrupt.
  // False ends the run.
  std::function<bool(uint32_t frame, unsigned slot, bool worked)> finish;
};

// Runs the steps of frames 0 to frames - 1 with `threads` workers (1: all on
// the caller's thread, one frame after the other). A failing prepare or
// finish ends the run at the first failure in frame order, as the one-thread
// run would: every frame before it is finished, none after it; a later frame
// may have been prepared already, and work started on it is waited for but
// never reported. Workers that cannot be started leave their frames to the
// others (or to the caller). True when every frame was finished.
bool runInFrameOrder(uint32_t frames, unsigned threads, const FrameSteps& steps);

// The buffer of one slot: it grows to the largest frame it serves.
class SlotBuffer {
 public:
  // False when the memory is short. The contents are not kept.
  bool reserve(uint64_t bytes) {
    if (bytes <= m_capacity && m_data) return true;
    m_data.reset();
    m_capacity = 0;
    m_data = platform::allocateBytes(bytes > 0 ? bytes : 1);
    if (!m_data) return false;
    m_capacity = bytes;
    return true;
  }
  uint8_t* data() const { return m_data.get(); }

 private:
  platform::MallocBuffer m_data;
  uint64_t m_capacity = 0;
};

}  // namespace qv::codec
