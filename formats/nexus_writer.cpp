// NeXus writer: the layout first, then each frame's chunk written directly,
// the header fields last, once every frame is in.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "formats/header_fields.h"
#include "formats/nexus_file.h"
#include "image/image.h"

namespace qvformats::nexus {

bool geometryOf(const DIMAGE& image, Geometry& geometry, std::string& why) {
  const FRAMEHEADER& f = image.frameHeader;
  const int32_t width = getAppendedWidth(image), height = getAppendedHeight(image);
  if (width < 1 || height < 1) {
    why = "frames of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
    return false;
  }
  geometry.width = static_cast<uint32_t>(width);
  geometry.height = static_cast<uint32_t>(height);
  geometry.littleEndian = (f.imageFlags & CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) != 0;
  if (f.imageFormat == CF_IMAGE_FORMAT_GRAY &&
      (f.bytesPerPixel == 1 || f.bytesPerPixel == 2 || f.bytesPerPixel == 4)) {
    geometry.channels = 1;
    geometry.sampleBytes = static_cast<uint32_t>(f.bytesPerPixel);
    return true;
  }
  if (f.imageFormat == CF_IMAGE_FORMAT_RGB && f.bytesPerPixel == 3) {
    geometry.channels = 3;
    geometry.sampleBytes = 1;
    return true;
  }
  why =
      "HDF5 files hold grey frames of 1, 2 or 4 bytes per pixel and RGB frames of 3; these "
      "frames have format " +
      std::to_string(f.imageFormat) + " with " + std::to_string(f.bytesPerPixel) +
      " byte(s) per pixel";
  return false;
}

void shuffleBytes(const uint8_t* in, uint8_t* out, uint64_t bytes, uint32_t sampleBytes) {
  const uint64_t samples = bytes / sampleBytes;
  for (uint32_t b = 0; b < sampleBytes; ++b) {
    uint8_t* plane = out + b * samples;
    const uint8_t* source = in + b;
    for (uint64_t s = 0; s < samples; ++s) plane[s] = source[s * sampleBytes];
  }
  // Bytes beyond whole samples stay where they are, as in HDF5's filter.
  std::memcpy(out + samples * sampleBytes, in + samples * sampleBytes, bytes % sampleBytes);
}

void unshuffleBytes(const uint8_t* in, uint8_t* out, uint64_t bytes, uint32_t sampleBytes) {
  const uint64_t samples = bytes / sampleBytes;
  for (uint32_t b = 0; b < sampleBytes; ++b) {
    const uint8_t* plane = in + b * samples;
    uint8_t* target = out + b;
    for (uint64_t s = 0; s < samples; ++s) target[s * sampleBytes] = plane[s];
  }
  std::memcpy(out + samples * sampleBytes, in + samples * sampleBytes, bytes % sampleBytes);
}

namespace {

hid_t sampleType(const Geometry& g) {
  switch (g.sampleBytes) {
    case 1:
      return H5T_STD_U8LE;
    case 2:
      return g.littleEndian ? H5T_STD_U16LE : H5T_STD_U16BE;
    default:
      return g.littleEndian ? H5T_STD_U32LE : H5T_STD_U32BE;
  }
}

bool failed(std::string& why, const std::string& what) {
  why = "cannot write " + what;
  return false;
}

}  // namespace

Writer::~Writer() {
  if (!m_created) return;
  m_data.reset();
  m_detector.reset();
  m_file.reset();
  ::unlink(m_path.c_str());
}

bool Writer::create(const std::string& path, const DIMAGE& first, uint32_t frames, bool shuffle,
                    std::string& why) {
  if (!geometryOf(first, m_geometry, why)) return false;
  if (frames == 0) {
    why = "no frames to write";
    return false;
  }
  h5::QuietErrors quiet;
  m_path = path;
  m_first = first;
  m_frames = frames;
  m_shuffle = shuffle && m_geometry.sampleBytes > 1;
  m_frameNumbers.assign(frames, 0);
  m_eventNumbers.assign(frames, 0);
  m_flags.assign(frames, 0);
  m_times.assign(frames, 0.0);
  if (::access(path.c_str(), F_OK) == 0) {
    why = "the file already exists";
    return false;
  }
  m_file = h5::file(H5Fcreate(path.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, H5P_DEFAULT));
  if (!m_file) {
    why = errno != 0 ? std::string("cannot create the file: ") + std::strerror(errno)
                     : "cannot create the file";
    return false;
  }
  m_created = true;
  return createLayout(why);
}

bool Writer::createLayout(std::string& why) {
  const hid_t root = m_file.get();
  if (!h5::writeTextAttribute(root, "default", "entry") ||
      !h5::writeTextAttribute(root, "creator", "quivox3"))
    return failed(why, "the file's attributes");
  h5::Object entry = h5::createGroup(root, "entry", "NXentry");
  if (!entry || !h5::writeTextAttribute(entry.get(), "default", "data"))
    return failed(why, "/entry");
  h5::Object instrument = h5::createGroup(entry.get(), "instrument", "NXinstrument");
  if (!instrument) return failed(why, "/entry/instrument");
  m_detector = h5::createGroup(instrument.get(), "detector", "NXdetector");
  if (!m_detector) return failed(why, kDetectorPath);

  const int rank = m_geometry.channels == 3 ? 4 : 3;
  const hsize_t dims[4] = {m_frames, m_geometry.height, m_geometry.width, 3};
  const hsize_t chunk[4] = {1, m_geometry.height, m_geometry.width, 3};
  h5::Object extent = h5::space(H5Screate_simple(rank, dims, nullptr));
  h5::Object layout = h5::plist(H5Pcreate(H5P_DATASET_CREATE));
  if (!extent || !layout || H5Pset_chunk(layout.get(), rank, chunk) < 0 ||
      (m_shuffle && H5Pset_shuffle(layout.get()) < 0) || H5Pset_deflate(layout.get(), 6) < 0 ||
      H5Pset_fill_time(layout.get(), H5D_FILL_TIME_NEVER) < 0)
    return failed(why, "the data's layout");
  m_data = h5::dataset(H5Dcreate2(m_detector.get(), "data", sampleType(m_geometry), extent.get(),
                                  H5P_DEFAULT, layout.get(), H5P_DEFAULT));
  if (!m_data) return failed(why, kDataPath);

  h5::Object data = h5::createGroup(entry.get(), "data", "NXdata");
  if (!data || !h5::writeTextAttribute(data.get(), "signal", "data") ||
      H5Lcreate_hard(m_detector.get(), "data", data.get(), "data", H5P_DEFAULT, H5P_DEFAULT) < 0)
    return failed(why, "/entry/data");
  return true;
}

bool Writer::write(uint32_t index, const DIMAGE& header, const StoredChunk& chunk,
                   std::string& why) {
  const uint64_t frameBytes = m_geometry.frameBytes();
  if (index >= m_frames || chunk.bytes == nullptr || chunk.length == 0 ||
      (!chunk.deflated && chunk.length != frameBytes) || (chunk.shuffled && !m_shuffle) ||
      chunk.length > UINT32_MAX) {
    why = "frame " + std::to_string(index + 1) + " does not fit the data set";
    return false;
  }
  // Filter 0 is shuffle when the file shuffles, then deflate; a set bit
  // says that filter was skipped for the chunk.
  const uint32_t shuffleBit = m_shuffle ? 1u : 0u;
  const uint32_t deflateBit = m_shuffle ? 2u : 1u;
  const uint32_t skipped = (chunk.deflated ? 0u : deflateBit) | (chunk.shuffled ? 0u : shuffleBit);
  const hsize_t offset[4] = {index, 0, 0, 0};
  h5::QuietErrors quiet;
  if (H5Dwrite_chunk(m_data.get(), H5P_DEFAULT, skipped, offset, static_cast<size_t>(chunk.length),
                     chunk.bytes) < 0)
    return failed(why, "frame " + std::to_string(index + 1) + " (is the disk full?)");
  m_frameNumbers[index] = header.frameHeader.frameNumber;
  m_eventNumbers[index] = header.frameHeader.eventNumber;
  m_flags[index] = header.frameHeader.imageFlags;
  m_times[index] =
      epochSeconds(header.sourceHeader.timestampSeconds, header.sourceHeader.timestampMicroseconds);
  if (index == 0)
    m_firstTime = {header.sourceHeader.timestampSeconds, header.sourceHeader.timestampMicroseconds};
  return true;
}

bool Writer::writeHeaderFields(std::string& why) {
  const hid_t detector = m_detector.get();
  std::vector<std::string> flagWords;
  flagWords.reserve(m_frames);
  for (uint32_t flags : m_flags) flagWords.push_back(flagsText(flags));
  if (!h5::writeVector(detector, "frame_number", H5T_NATIVE_UINT32, H5T_STD_U32LE,
                       m_frameNumbers.data(), m_frames) ||
      !h5::writeVector(detector, "event_number", H5T_NATIVE_UINT32, H5T_STD_U32LE,
                       m_eventNumbers.data(), m_frames) ||
      !h5::writeTexts(detector, "image_flags", flagWords))
    return failed(why, "the frames' numbers and flags");

  if (!h5::writeVector(detector, "timestamp", H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, m_times.data(),
                       m_frames))
    return failed(why, "the time stamps");
  {
    h5::Object times = h5::dataset(H5Dopen2(detector, "timestamp", H5P_DEFAULT));
    if (!times || !h5::writeTextAttribute(times.get(), "units", "s"))
      return failed(why, "the time stamps' units");
    if (m_firstTime.size() == 2 && m_firstTime[0] != 0 &&
        !h5::writeTextAttribute(times.get(), "start", isoTimestamp(m_firstTime[0], m_firstTime[1])))
      return failed(why, "the time of the first frame");
  }

  // The scales count pixels per millimetre; NeXus gives the pixel's size.
  const float scales[2] = {m_first.frameHeader.xScale, m_first.frameHeader.yScale};
  const char* sizeNames[2] = {"x_pixel_size", "y_pixel_size"};
  for (int i = 0; i < 2; ++i) {
    if (!(scales[i] > 0.0f)) continue;
    const double size = 1.0 / scales[i];
    if (!h5::writeScalar(detector, sizeNames[i], H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, &size))
      return failed(why, sizeNames[i]);
    h5::Object set = h5::dataset(H5Dopen2(detector, sizeNames[i], H5P_DEFAULT));
    if (!set || !h5::writeTextAttribute(set.get(), "units", "mm")) return failed(why, sizeNames[i]);
  }

  h5::Object camera = h5::createGroup(detector, "camera", "NXcollection");
  if (!camera) return failed(why, "the camera's header fields");
  for (const SequenceField& field : sequenceFields()) {
    bool written = false;
    switch (field.kind) {
      case FieldKind::kInteger: {
        const int32_t value = integerValue(field, m_first);
        written =
            h5::writeScalar(camera.get(), field.name, H5T_NATIVE_INT32, H5T_STD_I32LE, &value);
        break;
      }
      case FieldKind::kReal: {
        const float value = realValue(field, m_first);
        written =
            h5::writeScalar(camera.get(), field.name, H5T_NATIVE_FLOAT, H5T_IEEE_F32LE, &value);
        break;
      }
      case FieldKind::kPortId: {
        const uint32_t value = static_cast<uint32_t>(m_first.sourceHeader.cameraPortId);
        written =
            h5::writeScalar(camera.get(), field.name, H5T_NATIVE_UINT32, H5T_STD_U32LE, &value);
        break;
      }
      case FieldKind::kFormat:
      case FieldKind::kText:
        written = h5::writeText(camera.get(), field.name, fieldText(field, m_first));
        break;
    }
    if (!written) return failed(why, std::string("the header field ") + field.name);
  }
  return true;
}

bool Writer::finish(std::string& why) {
  h5::QuietErrors quiet;
  if (!writeHeaderFields(why)) return false;
  m_data.reset();
  m_detector.reset();
  if (H5Fflush(m_file.get(), H5F_SCOPE_GLOBAL) < 0 || !m_file.close())
    return failed(why, "the file (is the disk full?)");
  m_created = false;  // complete: it stays
  return true;
}

}  // namespace qvformats::nexus
