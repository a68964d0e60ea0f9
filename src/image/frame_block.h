// Memory a caller lends for the frames of one load or grab, so that they lie
// one after the other in a block of its own (an array of a scripting
// language, say) instead of one malloc'd buffer each.
#pragma once

#include <cstdint>

namespace qv::image {

class FrameBlock {
 public:
  virtual ~FrameBlock() = default;
  // Room for `images` frames of frameBytes each, or null when there is none.
  // Called at most once, before the first frame arrives. Frame i goes to
  // offset i x frameBytes when its size is frameBytes; any other frame is
  // malloc'd as usual, and only those are the bunch's to free.
  virtual uint8_t* reserve(uint32_t images, uint64_t frameBytes) = 0;
};

}  // namespace qv::image
