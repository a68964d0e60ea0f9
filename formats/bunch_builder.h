// A bunch being loaded: records and frames that are freed unless handed
// over, frames placed in a caller's block where they fit.
#pragma once

#include <cstdint>
#include <string>

#include "image/frame_block.h"
#include "quivox3/quivox3.h"

namespace qvformats {

class BunchBuilder {
 public:
  explicit BunchBuilder(qv::image::FrameBlock* block = nullptr) : m_block(block) {
    qvInitializeBunchStructure(&m_bunch);
  }
  ~BunchBuilder();
  BunchBuilder(const BunchBuilder&) = delete;
  BunchBuilder& operator=(const BunchBuilder&) = delete;

  // Records of `headers` (copied, one per image) each with a frame of
  // frameBytes bytes. False with the reason when memory is short.
  bool allocate(const DIMAGE* headers, uint32_t images, uint64_t frameBytes, std::string& why);
  DIMAGE& operator[](uint32_t i) { return m_bunch.imageArray[i]; }
  uint32_t size() const { return m_bunch.numFrames; }
  // Checks every record with the validity rules; false names the first.
  bool checkAll(std::string& why) const;
  // The caller's bunch must be empty; it owns the records from now on.
  void handOver(QVBUNCHOFIMAGES* bunch);

 private:
  qv::image::FrameBlock* m_block;
  QVBUNCHOFIMAGES m_bunch;
  const uint8_t* m_blockBegin = nullptr;
  const uint8_t* m_blockEnd = nullptr;
};

}  // namespace qvformats
