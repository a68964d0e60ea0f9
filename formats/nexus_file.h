// Sequences as HDF5 files in the NeXus layout:
//
//   /entry                               NXentry
//   /entry/instrument                    NXinstrument
//   /entry/instrument/detector           NXdetector
//       data          [frames, height, width(, 3)]  one chunk per frame, deflate
//                                                   (after shuffle when asked)
//       frame_number, event_number       [frames] uint32
//       timestamp     [frames] float64, seconds since the epoch (units, start)
//       image_flags   [frames] flag words
//       x_pixel_size, y_pixel_size       float64, units "mm" (1 / the scales)
//       camera/                          NXcollection, the other header fields
//   /entry/data                          NXdata, signal "data", data linking
//                                        to the detector's data
//
// The writer takes each frame's chunk as it is stored (a zlib stream or the
// frame itself) and writes it directly; the reader hands chunks out the same
// way, or reads frames through HDF5 where the layout is another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/frame_order.h"
#include "formats/h5_objects.h"
#include "quivox3/quivox3.h"

namespace qvformats::nexus {

constexpr const char* kDetectorPath = "/entry/instrument/detector";
constexpr const char* kDataPath = "/entry/instrument/detector/data";
constexpr const char* kSignalPath = "/entry/data/data";

// How a frame lies in the data set.
struct Geometry {
  uint32_t width = 0, height = 0;
  uint32_t channels = 1;     // 3 for RGB
  uint32_t sampleBytes = 1;  // 1, 2 or 4
  bool littleEndian = true;
  uint64_t frameBytes() const { return uint64_t{width} * height * channels * sampleBytes; }
};
// False with the reason when the layout cannot hold such frames.
bool geometryOf(const DIMAGE& image, Geometry& geometry, std::string& why);

// A chunk's bytes as stored, and which of the data set's filters made them.
struct StoredChunk {
  const uint8_t* bytes = nullptr;
  uint64_t length = 0;
  bool deflated = false;
  bool shuffled = false;
};

class Writer {
 public:
  Writer() = default;
  ~Writer();  // a file not finished is removed
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Creates a new file (never replaces one) for frames like `first`.
  bool create(const std::string& path, const DIMAGE& first, uint32_t frames, bool shuffle,
              std::string& why);
  const Geometry& geometry() const { return m_geometry; }
  bool shuffles() const { return m_shuffle; }
  // Frame `index`, in any order: its header's per-frame fields and its chunk,
  // deflated (and shuffled first, when the file shuffles) or raw.
  bool write(uint32_t index, const DIMAGE& header, const StoredChunk& chunk, std::string& why);
  // Writes the header fields and closes the file; it stays only on success.
  bool finish(std::string& why);

 private:
  bool createLayout(std::string& why);
  bool writeHeaderFields(std::string& why);

  std::string m_path;
  Geometry m_geometry;
  bool m_shuffle = false;
  DIMAGE m_first{};
  uint32_t m_frames = 0;
  std::vector<uint32_t> m_frameNumbers, m_eventNumbers, m_flags;
  std::vector<double> m_times;
  std::vector<uint32_t> m_firstTime;  // seconds and microseconds of frame 0
  h5::Object m_file, m_detector, m_data;
  bool m_created = false;
};

class Reader {
 public:
  // Opens a file of this layout; otherwise false, saying what the file holds.
  bool open(const std::string& path, std::string& why);
  uint32_t frames() const { return static_cast<uint32_t>(m_headers.size()); }
  const Geometry& geometry() const { return m_geometry; }
  // Every frame's complete header, without frames.
  const std::vector<DIMAGE>& headers() const { return m_headers; }

  // True when each frame is one chunk that readStored can give: no filters,
  // or deflate with or without shuffle before it.
  bool chunksAreFrames() const { return m_chunksAreFrames; }
  bool shuffles() const { return m_shuffle; }
  // Frame index's chunk into room (needs chunksAreFrames). A frame never
  // written reads as not stored: `length` 0.
  bool readStored(uint32_t index, qv::codec::SlotBuffer& room, StoredChunk& chunk,
                  std::string& why);
  // Frame index through HDF5's own filters, into frameBytes() bytes.
  bool readFrame(uint32_t index, uint8_t* frame, std::string& why);

 private:
  bool findData(std::string& why);
  bool readGeometry(std::string& why);
  bool readPipeline();
  bool readHeaders(std::string& why);

  std::string m_path;
  h5::Object m_file, m_detector, m_data;
  hsize_t m_fileBytes = 0;
  Geometry m_geometry;
  std::vector<DIMAGE> m_headers;
  bool m_chunksAreFrames = false;
  bool m_shuffle = false;
  unsigned m_deflateBit = 0, m_shuffleBit = 0;  // of the filter mask
};

// Byte shuffling as HDF5's filter does it: sample bytes gathered by their
// place in the sample (all first bytes, then all second bytes, ...).
void shuffleBytes(const uint8_t* in, uint8_t* out, uint64_t bytes, uint32_t sampleBytes);
void unshuffleBytes(const uint8_t* in, uint8_t* out, uint64_t bytes, uint32_t sampleBytes);

}  // namespace qvformats::nexus
