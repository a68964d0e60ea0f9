// A bunch of images held by Python. Frames the library allocated are freed
// with it; frames it placed in the bunch's own block stay in that block,
// which numpy arrays view without a copy. Arrays keep the bunch alive.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>

#include "image/frame_block.h"
#include "quivox3/quivox3.h"

namespace qvpy {

namespace py = pybind11;

class Bunch : public qv::image::FrameBlock {
 public:
  Bunch();
  ~Bunch() override;
  Bunch(const Bunch&) = delete;
  Bunch& operator=(const Bunch&) = delete;

  QVBUNCHOFIMAGES* get() { return &m_bunch; }
  uint32_t size() const { return m_bunch.numFrames; }
  const DIMAGE& image(int64_t index) const;

  // One contiguous block for the frames of a load or a grab (FrameBlock).
  uint8_t* reserve(uint32_t images, uint64_t frameBytes) override;
  // Images over the frames of a C-contiguous array of the caller's, which
  // the bunch keeps alive and never frees: (n, h, w) or (h, w) of unsigned
  // 8 or 16 bits are GRAY, (n, h, w, 3) or (h, w, 3) of 8 bits RGB.
  // Valid headers; `fields` (header keys, per-frame lists for frame_number,
  // event_number and timestamp_us) complete them.
  static std::unique_ptr<Bunch> overArray(const py::array& array, const py::dict& fields);

  // True when every frame shares geometry, depth and format.
  bool uniform() const;
  // The frames in order in the block, so that one array views them all.
  bool contiguous() const;

 private:
  void release();

  QVBUNCHOFIMAGES m_bunch;
  // Frames inside [m_pBlock, m_pBlock + m_iBlockBytes) are not the
  // library's: the block is this bunch's own (m_bOwnsBlock) or an array's.
  uint8_t* m_pBlock = nullptr;
  uint64_t m_iBlockBytes = 0;
  uint64_t m_iBlockFrameBytes = 0;
  bool m_bOwnsBlock = false;
  py::object m_array;
};

// numpy's view of frame `index` (height, width) or (height, width, 3); its
// base is the Python object of the bunch. Raises for frames numpy cannot
// describe (JPEG and other coded formats).
py::array frameArray(py::handle bunch, int64_t index);
// All frames as one (n, height, width[, 3]) array: a view when the frames
// lie in order in one block, else a copy.
py::array stackedArray(py::handle bunch);
// Every header field of image `index`, formats and flags as text.
py::dict headerOf(const Bunch& bunch, int64_t index);
// The image's pixel array type: dtype and shape; false when numpy cannot
// describe the frame.
bool pixelLayout(const DIMAGE& image, py::dtype& dtype, std::vector<py::ssize_t>& shape,
                 std::string& why);

void registerBunch(py::module_& m);

}  // namespace qvpy
