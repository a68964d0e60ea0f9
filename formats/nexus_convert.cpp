// IMC2 <-> NeXus without touching the pixels: an IMC2 frame is a zlib
// stream (or the frame itself), and so is a chunk behind HDF5's deflate
// filter, so the stored bytes move from one file to the other as they are.
#include <vector>

#include "codec/frame_codec.h"
#include "formats/nexus_file.h"
#include "formats/sequence_files.h"
#include "imc2/stored_frames.h"

namespace qvformats {

namespace {

// Receives the IMC2 reader's frames and writes them as chunks.
class ChunkWriter : public qv::imc2::StoredFrameSink {
 public:
  ChunkWriter(const std::string& path, const Control& control) : m_path(path), m_control(control) {}

  bool begin(const DIMAGE& layout, uint32_t images, std::string& why) override {
    nexus::Geometry geometry;
    if (!nexus::geometryOf(layout, geometry, why)) return notDirect(why);
    m_images = images;
    return true;
  }

  bool frame(uint32_t index, const DIMAGE& header, const qv::imc2::StoredFrame& stored,
             std::string& why) override {
    // The byte order is a per-frame flag: the first frame's makes the data set.
    if (index == 0 && !m_writer.create(m_path, header, m_images, false, why)) return false;
    // A frame of another size or byte order than the first cannot be a chunk
    // of the same data set.
    nexus::Geometry geometry;
    const nexus::Geometry& first = m_writer.geometry();
    if (!nexus::geometryOf(header, geometry, why) ||
        uint64_t(header.frameHeader.appendedFrameSize) != first.frameBytes() ||
        (first.sampleBytes > 1 && geometry.littleEndian != first.littleEndian))
      return notDirect(why);
    const nexus::StoredChunk chunk{stored.bytes, stored.length, stored.compressed, false};
    if (!m_writer.write(index, header, chunk, why)) return false;
    reportFraction(m_control, index + 1, m_images);
    return !stopRequested(m_control, why);
  }

  bool finish(std::string& why) { return m_writer.finish(why); }
  bool wasNotDirect() const { return m_notDirect; }
  uint32_t images() const { return m_images; }

 private:
  bool notDirect(std::string& why) {
    m_notDirect = true;
    why = "the frames cannot be moved as they are";
    return false;
  }

  std::string m_path;
  const Control& m_control;
  nexus::Writer m_writer;
  uint32_t m_images = 1;
  bool m_notDirect = false;
};

// Gives the IMC2 writer the file's chunks: a deflated chunk is the stream,
// an unfiltered one the frame.
class ChunkReader : public qv::imc2::StoredFrameSource {
 public:
  ChunkReader(nexus::Reader& reader, const Control& control)
      : m_reader(reader), m_control(control) {}

  bool frame(uint32_t index, uint64_t frameBytes, qv::codec::SlotBuffer& room,
             qv::imc2::StoredFrame& stored, std::string& why) override {
    if (stopRequested(m_control, why)) return false;
    nexus::StoredChunk chunk;
    if (!m_reader.readStored(index, room, chunk, why)) return false;
    if (chunk.length == 0) {  // never written: HDF5 gives its fill value
      if (!room.reserve(frameBytes) || !m_reader.readFrame(index, room.data(), why)) return false;
      stored = {room.data(), frameBytes, false};
    } else if (chunk.deflated && chunk.length >= frameBytes) {
      // IMC2 keeps streams only when shorter than the frame.
      if (!m_plain.reserve(frameBytes) ||
          !qv::codec::inflateExactly(chunk.bytes, chunk.length, m_plain.data(), frameBytes)) {
        why = "frame " + std::to_string(index + 1) + " cannot be inflated (damaged?)";
        return false;
      }
      stored = {m_plain.data(), frameBytes, false};
    } else {
      stored = {chunk.bytes, chunk.length, chunk.deflated};
    }
    reportFraction(m_control, index + 1, m_reader.frames());
    return true;
  }

 private:
  nexus::Reader& m_reader;
  const Control& m_control;
  qv::codec::SlotBuffer m_plain;
};

}  // namespace

Conversion convertImc2ToNexus(const std::string& imc2, const std::string& nexus,
                              const NexusOptions& options, const Control& control, std::string& why,
                              uint32_t& frames) {
  // Shuffled chunks are made of other bytes than the stored streams.
  if (options.shuffle) return Conversion::kNotDirect;
  ChunkWriter writer(nexus, control);
  int code = 0;
  std::string reason;
  if (_internal_readIMC2Stored(imc2.c_str(), writer, &code, reason, nullptr, nullptr)) {
    frames = writer.images();
    return writer.finish(why) ? Conversion::kDone : Conversion::kFailed;
  }
  if (writer.wasNotDirect()) return Conversion::kNotDirect;
  why = reason;
  return Conversion::kFailed;
}

Conversion convertNexusToImc2(const std::string& nexus, const std::string& imc2,
                              const Control& control, std::string& why, uint32_t& frames) {
  nexus::Reader reader;
  if (!reader.open(nexus, why)) return Conversion::kFailed;
  // Shuffled chunks are no zlib streams of the frames.
  if (!reader.chunksAreFrames() || reader.shuffles()) return Conversion::kNotDirect;
  std::vector<DIMAGE> headers = reader.headers();
  QVBUNCHOFIMAGES bunch{headers.data(), static_cast<uint32_t>(headers.size())};
  ChunkReader source(reader, control);
  int code = 0;
  frames = bunch.numFrames;
  if (_internal_writeIMC2Stored(&bunch, imc2.c_str(), source, &code, why, nullptr, nullptr))
    return Conversion::kDone;
  return Conversion::kFailed;
}

}  // namespace qvformats
