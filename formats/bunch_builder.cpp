#include "formats/bunch_builder.h"

#include <cstdlib>

#include "image/image.h"

namespace qvformats {

BunchBuilder::~BunchBuilder() {
  for (uint32_t i = 0; m_bunch.imageArray != nullptr && i < m_bunch.numFrames; ++i) {
    DIMAGE& image = m_bunch.imageArray[i];
    if (image.frameBuffer >= m_blockBegin && image.frameBuffer < m_blockEnd)
      image.frameBuffer = nullptr;  // the block's, not ours
  }
  qvFreeBunch(&m_bunch);
}

bool BunchBuilder::allocate(const DIMAGE* headers, uint32_t images, uint64_t frameBytes,
                            std::string& why) {
  auto* records = static_cast<DIMAGE*>(std::calloc(images, sizeof(DIMAGE)));
  if (records == nullptr) {
    why = "not enough memory for " + std::to_string(images) + " image records";
    return false;
  }
  m_bunch.imageArray = records;
  m_bunch.numFrames = images;
  uint8_t* base = m_block != nullptr ? m_block->reserve(images, frameBytes) : nullptr;
  if (base != nullptr) {
    m_blockBegin = base;
    m_blockEnd = base + images * frameBytes;
  }
  for (uint32_t i = 0; i < images; ++i) {
    DIMAGE& image = records[i];
    image = headers[i];
    image.frameBuffer =
        base != nullptr ? base + i * frameBytes : static_cast<uint8_t*>(std::malloc(frameBytes));
    if (image.frameBuffer == nullptr) {
      why = "not enough memory for frame " + std::to_string(i + 1) + " (" +
            std::to_string(frameBytes) + " bytes)";
      return false;
    }
    image.frameBufferSize = static_cast<uint32_t>(frameBytes);
  }
  return true;
}

bool BunchBuilder::checkAll(std::string& why) const {
  for (uint32_t i = 0; i < m_bunch.numFrames; ++i) {
    std::string reason;
    if (!CDIMAGE::checkValidity(m_bunch.imageArray[i], reason)) {
      why = "frame " + std::to_string(i + 1) + " has an invalid header: " + reason;
      return false;
    }
  }
  return true;
}

void BunchBuilder::handOver(QVBUNCHOFIMAGES* bunch) {
  *bunch = m_bunch;
  qvInitializeBunchStructure(&m_bunch);
}

}  // namespace qvformats
