// IMC2/BKC2 frames as the file stores them, for converters that move them
// into another container without inflating and compressing them again: the
// reader hands each frame's stored bytes to a sink, and the writer takes
// them from a source. Both keep every check of the ordinary read and write
// except inflating the streams (a damaged stream is carried over as it is;
// its check sum still tells whoever inflates it).
#pragma once

#include <cstdint>
#include <string>

#include "codec/frame_order.h"
#include "quivox3/quivox3.h"

namespace qv::imc2 {

// A zlib stream shorter than the frame, or the frame itself.
struct StoredFrame {
  const uint8_t* bytes = nullptr;
  uint64_t length = 0;
  bool compressed = false;
};

// Code of a read or write that the sink or the source ended; the text is
// theirs.
constexpr int kStoppedByPeer = -100;

class StoredFrameSink {
 public:
  virtual ~StoredFrameSink() = default;
  // Once, before the first frame: the header every image starts from (no
  // frame buffer) and the number of images the file announces.
  virtual bool begin(const DIMAGE& aLayout, uint32_t aiImages, std::string& sWhy) = 0;
  // Each image in order (from 0) with its complete, checked header (no frame
  // buffer) and its stored bytes, valid during the call.
  virtual bool frame(uint32_t aiIndex, const DIMAGE& aHeader, const StoredFrame& aStored,
                     std::string& sWhy) = 0;
};

class StoredFrameSource {
 public:
  virtual ~StoredFrameSource() = default;
  // Image aiIndex (from 0) of aiFrameBytes uncompressed bytes, in order: its
  // stored bytes, in aRoom or in memory of the source's own that stays valid
  // until the next call. A stream must be shorter than the frame.
  virtual bool frame(uint32_t aiIndex, uint64_t aiFrameBytes, codec::SlotBuffer& aRoom,
                     StoredFrame& aStored, std::string& sWhy) = 0;
};

}  // namespace qv::imc2

// Reads the file as _internal_readIMC2File does, handing the frames to the
// sink instead of a bunch. Code 0 on success; kStoppedByPeer with the sink's
// text when it refused.
bool _internal_readIMC2Stored(const char* asFilePath, qv::imc2::StoredFrameSink& aSink,
                              int* apiOutErrorCode, std::string& sOutErrorString,
                              int* apiInInterrupt, double* apdOutPercentageFinished);

// Writes a new file as _internal_writeIMC2File does from a bunch of headers
// (frame buffers not needed: the source gives the frames' bytes).
bool _internal_writeIMC2Stored(QVBUNCHOFIMAGES* apHeaders, const char* asFilePath,
                               qv::imc2::StoredFrameSource& aSource, int* apiOutErrorCode,
                               std::string& sOutErrorString, int* apiInInterrupt,
                               double* apdOutPercentageFinished);
