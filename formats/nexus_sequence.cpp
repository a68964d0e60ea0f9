// Bunches to and from NeXus files. Frames are compressed and inflated by the
// library's frame codec on its threads; HDF5 only stores and hands out the
// chunks, on the caller's thread, in frame order.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codec/frame_codec.h"
#include "codec/frame_order.h"
#include "formats/bunch_builder.h"
#include "formats/nexus_file.h"
#include "formats/sequence_files.h"

namespace qvformats {

namespace {

using qv::codec::SlotBuffer;

bool sameGeometry(const nexus::Geometry& a, const nexus::Geometry& b) {
  return a.width == b.width && a.height == b.height && a.channels == b.channels &&
         a.sampleBytes == b.sampleBytes && (a.sampleBytes == 1 || a.littleEndian == b.littleEndian);
}

// Every frame must fit the first one's chunk.
bool checkFrames(const QVBUNCHOFIMAGES& bunch, const nexus::Geometry& first, std::string& why) {
  for (uint32_t i = 0; i < bunch.numFrames; ++i) {
    const DIMAGE& image = bunch.imageArray[i];
    nexus::Geometry geometry;
    if (!nexus::geometryOf(image, geometry, why)) return false;
    if (!sameGeometry(geometry, first) || image.frameBuffer == nullptr ||
        image.frameHeader.appendedFrameSize != static_cast<int64_t>(first.frameBytes())) {
      why =
          "frame " + std::to_string(i + 1) + " differs from the first in size, depth or byte order";
      return false;
    }
  }
  return true;
}

struct CompressedChunk {
  SlotBuffer shuffled, stream;
  qv::codec::Compressed outcome = qv::codec::Compressed::kFailed;
  uint64_t streamBytes = 0;
};

}  // namespace

bool saveNexus(const QVBUNCHOFIMAGES& bunch, const std::string& path, const NexusOptions& options,
               const Control& control, std::string& why) {
  if (!requireSequence(bunch, why)) return false;
  nexus::Writer writer;
  if (!writer.create(path, bunch.imageArray[0], bunch.numFrames, options.shuffle, why) ||
      !checkFrames(bunch, writer.geometry(), why))
    return false;

  const uint32_t n = bunch.numFrames;
  const uint64_t frameBytes = writer.geometry().frameBytes();
  const uint32_t sampleBytes = writer.geometry().sampleBytes;
  const bool shuffle = writer.shuffles();
  const unsigned threads = qv::codec::codecThreads(n);
  std::vector<CompressedChunk> slots(qv::codec::frameSlots(threads));
  qv::codec::FrameSteps steps;
  steps.prepare = [](uint32_t, unsigned) { return true; };
  steps.work = [&](uint32_t frame, unsigned slot) {
    CompressedChunk& out = slots[slot];
    const uint8_t* source = bunch.imageArray[frame].frameBuffer;
    if (shuffle) {
      if (!out.shuffled.reserve(frameBytes)) return false;
      nexus::shuffleBytes(source, out.shuffled.data(), frameBytes, sampleBytes);
      source = out.shuffled.data();
    }
    // Only a stream shorter than the frame is worth keeping.
    if (!out.stream.reserve(std::max<uint64_t>(frameBytes - 1, 1))) return false;
    out.outcome = qv::codec::compressFrame(source, frameBytes, out.stream.data(), frameBytes - 1,
                                           out.streamBytes);
    return out.outcome != qv::codec::Compressed::kFailed;
  };
  steps.finish = [&](uint32_t frame, unsigned slot, bool worked) {
    const CompressedChunk& out = slots[slot];
    if (!worked) {
      why = "frame " + std::to_string(frame + 1) + " cannot be compressed (memory short?)";
      return false;
    }
    nexus::StoredChunk chunk;
    if (out.outcome == qv::codec::Compressed::kDone) {
      chunk = {out.stream.data(), out.streamBytes, true, shuffle};
    } else {  // stored as it is, every filter skipped
      chunk = {bunch.imageArray[frame].frameBuffer, frameBytes, false, false};
    }
    if (!writer.write(frame, bunch.imageArray[frame], chunk, why)) return false;
    reportFraction(control, frame + 1, n);
    return !stopRequested(control, why);
  };
  return qv::codec::runInFrameOrder(n, threads, steps) && writer.finish(why);
}

namespace {

struct ReadChunk {
  SlotBuffer stored, inflated;
  nexus::StoredChunk chunk;
};

// A stored chunk back into the frame: inflate, then unshuffle, as the
// chunk's filters say. Runs on any thread.
bool decodeChunk(ReadChunk& slot, uint8_t* frame, uint64_t frameBytes, uint32_t sampleBytes) {
  const nexus::StoredChunk& c = slot.chunk;
  if (c.length == 0) return true;  // read through HDF5 already
  const uint8_t* plain = c.bytes;
  if (c.deflated) {
    uint8_t* target = frame;
    if (c.shuffled) {
      if (!slot.inflated.reserve(frameBytes)) return false;
      target = slot.inflated.data();
    }
    if (!qv::codec::inflateExactly(c.bytes, c.length, target, frameBytes)) return false;
    plain = target;
  }
  if (c.shuffled) {
    nexus::unshuffleBytes(plain, frame, frameBytes, sampleBytes);
  } else if (plain != frame) {
    std::memcpy(frame, plain, frameBytes);
  }
  return true;
}

bool readChunks(nexus::Reader& reader, BunchBuilder& frames, const Control& control,
                std::string& why) {
  const uint32_t n = reader.frames();
  const uint64_t frameBytes = reader.geometry().frameBytes();
  const uint32_t sampleBytes = reader.geometry().sampleBytes;
  const unsigned threads = qv::codec::codecThreads(n);
  std::vector<ReadChunk> slots(qv::codec::frameSlots(threads));
  qv::codec::FrameSteps steps;
  steps.prepare = [&](uint32_t frame, unsigned slot) {
    if (stopRequested(control, why)) return false;
    ReadChunk& s = slots[slot];
    if (!reader.readStored(frame, s.stored, s.chunk, why)) return false;
    // A chunk never written holds the data set's fill value: HDF5 knows it.
    return s.chunk.length != 0 || reader.readFrame(frame, frames[frame].frameBuffer, why);
  };
  steps.work = [&](uint32_t frame, unsigned slot) {
    return decodeChunk(slots[slot], frames[frame].frameBuffer, frameBytes, sampleBytes);
  };
  steps.finish = [&](uint32_t frame, unsigned, bool decoded) {
    if (!decoded) {
      why = "frame " + std::to_string(frame + 1) + " cannot be inflated (damaged?)";
      return false;
    }
    reportFraction(control, frame + 1, n);
    return true;
  };
  return qv::codec::runInFrameOrder(n, threads, steps);
}

bool readThroughHdf5(nexus::Reader& reader, BunchBuilder& frames, const Control& control,
                     std::string& why) {
  const uint32_t n = reader.frames();
  for (uint32_t i = 0; i < n; ++i) {
    if (stopRequested(control, why)) return false;
    if (!reader.readFrame(i, frames[i].frameBuffer, why)) return false;
    reportFraction(control, i + 1, n);
  }
  return true;
}

}  // namespace

bool loadNexus(const std::string& path, QVBUNCHOFIMAGES* bunch, const Control& control,
               std::string& why, qv::image::FrameBlock* block) {
  if (!requireEmptyBunch(bunch, why)) return false;
  nexus::Reader reader;
  if (!reader.open(path, why)) return false;
  BunchBuilder frames(block);
  if (!frames.allocate(reader.headers().data(), reader.frames(), reader.geometry().frameBytes(),
                       why))
    return false;
  const bool read = reader.chunksAreFrames() ? readChunks(reader, frames, control, why)
                                             : readThroughHdf5(reader, frames, control, why);
  if (!read || !frames.checkAll(why)) return false;
  frames.handOver(bunch);
  return true;
}

}  // namespace qvformats
