// NeXus reader: the file is a stranger until every part it relies on was
// checked (rank, type, sizes, chunk lengths against the file's size).
#include <algorithm>
#include <cstring>

#include "formats/header_fields.h"
#include "formats/nexus_file.h"
#include "image/image.h"

namespace qvformats::nexus {

namespace {

constexpr size_t kMaxListed = 8;

struct Listing {
  hid_t file;
  std::vector<std::string> found;
  size_t more = 0;
};

std::string describeDataset(hid_t file, const std::string& path) {
  h5::Object set = h5::dataset(H5Dopen2(file, path.c_str(), H5P_DEFAULT));
  if (!set) return "dataset";
  h5::Object extent = h5::space(H5Dget_space(set.get()));
  h5::Object stored = h5::type(H5Dget_type(set.get()));
  const int rank = extent ? H5Sget_simple_extent_ndims(extent.get()) : -1;
  std::string kind = "data";
  if (stored) {
    const size_t bits = H5Tget_size(stored.get()) * 8;
    switch (H5Tget_class(stored.get())) {
      case H5T_INTEGER:
        kind = (H5Tget_sign(stored.get()) == H5T_SGN_NONE ? "uint" : "int") + std::to_string(bits);
        break;
      case H5T_FLOAT:
        kind = "float" + std::to_string(bits);
        break;
      case H5T_STRING:
        kind = "text";
        break;
      default:
        break;
    }
  }
  return "dataset, " + std::to_string(rank) + "-D " + kind;
}

herr_t listObject(hid_t group, const char* name, const H5L_info_t*, void* data) {
  auto* listing = static_cast<Listing*>(data);
  if (listing->found.size() >= kMaxListed) {
    ++listing->more;
    return 0;
  }
  char path[1024];
  const ssize_t length = H5Iget_name(group, path, sizeof path);
  std::string full = length > 0 ? std::string(path) : std::string();
  if (full != "/") full += "/";
  full += name;
  H5O_info_t info;
  std::string what = "object";
  if (H5Oget_info_by_name2(group, name, &info, H5O_INFO_BASIC, H5P_DEFAULT) >= 0) {
    if (info.type == H5O_TYPE_GROUP) what = "group";
    if (info.type == H5O_TYPE_DATASET) what = describeDataset(listing->file, full);
  }
  listing->found.push_back(full + " (" + what + ")");
  return 0;
}

// "/a (group), /b (dataset, 2-D float64)": the top level and /entry.
std::string contentsOf(hid_t file) {
  Listing listing{file, {}, 0};
  hsize_t next = 0;
  H5Literate(file, H5_INDEX_NAME, H5_ITER_NATIVE, &next, listObject, &listing);
  if (h5::exists(file, "/entry")) {
    h5::Object entry = h5::group(H5Gopen2(file, "/entry", H5P_DEFAULT));
    next = 0;
    if (entry) H5Literate(entry.get(), H5_INDEX_NAME, H5_ITER_NATIVE, &next, listObject, &listing);
  }
  if (listing.found.empty()) return "nothing";
  std::string text;
  for (const std::string& item : listing.found) text += (text.empty() ? "" : ", ") + item;
  if (listing.more > 0) text += " and " + std::to_string(listing.more) + " more";
  return text;
}

}  // namespace

bool Reader::open(const std::string& path, std::string& why) {
  m_path = path;
  h5::QuietErrors quiet;
  if (H5Fis_hdf5(path.c_str()) <= 0) {
    why = "not an HDF5 file";
    return false;
  }
  m_file = h5::file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
  if (!m_file || H5Fget_filesize(m_file.get(), &m_fileBytes) < 0) {
    why = "the HDF5 file cannot be opened (damaged or cut short?)";
    return false;
  }
  return findData(why) && readGeometry(why) && readPipeline() && readHeaders(why);
}

bool Reader::findData(std::string& why) {
  const hid_t file = m_file.get();
  const char* detector = h5::exists(file, kDataPath)     ? kDetectorPath
                         : h5::exists(file, kSignalPath) ? "/entry/data"
                                                         : nullptr;
  if (detector == nullptr) {
    why = "no frames where NeXus files of frames keep them (" + std::string(kDataPath) + " or " +
          kSignalPath + "); the file holds " + contentsOf(file);
    return false;
  }
  m_detector = h5::group(H5Gopen2(file, detector, H5P_DEFAULT));
  m_data = h5::dataset(H5Dopen2(m_detector.get(), "data", H5P_DEFAULT));
  if (!m_detector || !m_data) {
    why = std::string(detector) + "/data is no data set";
    return false;
  }
  return true;
}

bool Reader::readGeometry(std::string& why) {
  const std::string where =
      H5Lexists(m_file.get(), kDataPath, H5P_DEFAULT) > 0 ? kDataPath : kSignalPath;
  h5::Object stored = h5::type(H5Dget_type(m_data.get()));
  h5::Object extent = h5::space(H5Dget_space(m_data.get()));
  if (!stored || !extent) {
    why = where + " cannot be read";
    return false;
  }
  const size_t sampleBytes = H5Tget_size(stored.get());
  if (H5Tget_class(stored.get()) != H5T_INTEGER || H5Tget_sign(stored.get()) != H5T_SGN_NONE ||
      (sampleBytes != 1 && sampleBytes != 2 && sampleBytes != 4)) {
    why = where + " is " + describeDataset(m_file.get(), where) +
          "; frames are unsigned integers of 8, 16 or 32 bits";
    return false;
  }
  hsize_t dims[4] = {0, 0, 0, 0};
  const int rank = H5Sget_simple_extent_ndims(extent.get());
  if (rank == 3 || rank == 4) H5Sget_simple_extent_dims(extent.get(), dims, nullptr);
  const bool rgb = rank == 4 && dims[3] == 3 && sampleBytes == 1;
  if (rank != 3 && !rgb) {
    why = where + " has " + std::to_string(rank) +
          " dimension(s); frames are [frames, height, width] or [frames, height, width, 3] "
          "(8-bit RGB)";
    return false;
  }
  Geometry& g = m_geometry;
  g.channels = rgb ? 3 : 1;
  g.sampleBytes = static_cast<uint32_t>(sampleBytes);
  g.littleEndian = sampleBytes == 1 || H5Tget_order(stored.get()) == H5T_ORDER_LE;
  if (dims[0] == 0 || dims[0] > qv::image::kMaxBunchFrames || dims[1] == 0 || dims[2] == 0 ||
      dims[1] > INT32_MAX || dims[2] > INT32_MAX ||
      dims[1] * dims[2] * g.channels * g.sampleBytes > static_cast<hsize_t>(MAX_TRANSPORT_SIZE)) {
    why = where + " holds " + std::to_string(dims[0]) + " frame(s) of " + std::to_string(dims[2]) +
          " x " + std::to_string(dims[1]) + " pixels, which no sequence can";
    return false;
  }
  g.height = static_cast<uint32_t>(dims[1]);
  g.width = static_cast<uint32_t>(dims[2]);
  m_headers.resize(dims[0]);
  return true;
}

bool Reader::readPipeline() {
  h5::Object layout = h5::plist(H5Dget_create_plist(m_data.get()));
  if (!layout || H5Pget_layout(layout.get()) != H5D_CHUNKED) return true;
  hsize_t chunk[4] = {0, 0, 0, 0};
  const int rank = H5Pget_chunk(layout.get(), 4, chunk);
  if (rank < 3 || chunk[0] != 1 || chunk[1] != m_geometry.height || chunk[2] != m_geometry.width ||
      (rank == 4 && chunk[3] != 3))
    return true;
  const int filters = H5Pget_nfilters(layout.get());
  bool deflate = false;
  for (int i = 0; i < filters; ++i) {
    unsigned flags = 0;
    size_t values = 0;
    const H5Z_filter_t filter = H5Pget_filter2(layout.get(), static_cast<unsigned>(i), &flags,
                                               &values, nullptr, 0, nullptr, nullptr);
    if (filter == H5Z_FILTER_SHUFFLE && i == 0 && !deflate) {
      m_shuffle = true;
      m_shuffleBit = 1u << i;
    } else if (filter == H5Z_FILTER_DEFLATE && !deflate) {
      deflate = true;
      m_deflateBit = 1u << i;
    } else {
      return true;  // another filter or order: HDF5 reads those frames
    }
  }
  m_chunksAreFrames = true;
  return true;
}

namespace {

// What the data set's shape says when the file has no header fields.
DIMAGE headerOfShape(const Geometry& g) {
  DIMAGE image = qv::image::unknownHeader();
  FRAMEHEADER& f = image.frameHeader;
  f.sourceWidth = f.aoiWidth = static_cast<int32_t>(g.width);
  f.sourceHeight = f.aoiHeight = static_cast<int32_t>(g.height);
  f.xStart = f.yStart = 0;
  f.bytesPerPixel = static_cast<int32_t>(g.channels * g.sampleBytes);
  f.effectiveBitsPerPixel = static_cast<int32_t>(8 * g.sampleBytes);
  f.horizontalBinning = f.verticalBinning = 1;
  f.sourceFormat = f.imageFormat = g.channels == 3 ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY;
  f.xScale = f.yScale = 1.0f;
  f.imageRotation = f.scale_x_offset = f.scale_y_offset = 0.0f;
  return image;
}

// The camera's fields, each only when present and of its kind.
bool readCameraFields(hid_t detector, DIMAGE& image, std::string& why) {
  // Files of other writers give the pixel's size in mm; the camera's exact
  // scales, when present, replace them below.
  double size = 0.0;
  if (h5::readScalar(detector, "x_pixel_size", H5T_NATIVE_DOUBLE, &size) && size > 0.0)
    image.frameHeader.xScale = static_cast<float>(1.0 / size);
  if (h5::readScalar(detector, "y_pixel_size", H5T_NATIVE_DOUBLE, &size) && size > 0.0)
    image.frameHeader.yScale = static_cast<float>(1.0 / size);
  if (!h5::exists(detector, "camera")) return true;
  h5::Object camera = h5::group(H5Gopen2(detector, "camera", H5P_DEFAULT));
  if (!camera) return true;
  for (const SequenceField& field : sequenceFields()) {
    if (!h5::exists(camera.get(), field.name)) continue;
    bool read = false;
    switch (field.kind) {
      case FieldKind::kInteger: {
        int32_t value = 0;
        read = h5::readScalar(camera.get(), field.name, H5T_NATIVE_INT32, &value);
        if (read) setInteger(field, image, value);
        break;
      }
      case FieldKind::kReal: {
        float value = 0.0f;
        read = h5::readScalar(camera.get(), field.name, H5T_NATIVE_FLOAT, &value);
        if (read) setReal(field, image, value);
        break;
      }
      case FieldKind::kPortId: {
        uint32_t value = 0;
        read = h5::readScalar(camera.get(), field.name, H5T_NATIVE_UINT32, &value);
        if (read) image.sourceHeader.cameraPortId = static_cast<int32_t>(value);
        break;
      }
      case FieldKind::kFormat:
      case FieldKind::kText: {
        std::string text;
        read = h5::readText(camera.get(), field.name, text) && setField(field, image, text);
        break;
      }
    }
    if (!read) {
      why = std::string(kDetectorPath) + "/camera/" + field.name + " cannot be read as a " +
            "value of its kind";
      return false;
    }
  }
  return true;
}

}  // namespace

bool Reader::readHeaders(std::string& why) {
  const Geometry& g = m_geometry;
  DIMAGE shared = headerOfShape(g);
  if (!readCameraFields(m_detector.get(), shared, why)) return false;
  // The data set decides; fields that contradict it would mislabel the pixels.
  Geometry described;
  std::string problem;
  if (!geometryOf(shared, described, problem) || described.width != g.width ||
      described.height != g.height || described.channels != g.channels ||
      described.sampleBytes != g.sampleBytes) {
    why = "the header fields in " + std::string(kDetectorPath) +
          "/camera do not describe the frames of the data set (" + std::to_string(g.width) + " x " +
          std::to_string(g.height) + ", " + std::to_string(g.channels * g.sampleBytes) +
          " byte(s) per pixel)";
    return false;
  }
  setFrameBytes(shared, static_cast<uint32_t>(g.frameBytes()));

  const hsize_t n = m_headers.size();
  std::vector<uint32_t> numbers(n), events(n, 0);
  std::vector<double> times(n, 0.0);
  std::vector<std::string> flags;
  const hid_t detector = m_detector.get();
  for (hsize_t i = 0; i < n; ++i) numbers[i] = static_cast<uint32_t>(i + 1);
  auto optional = [&](const char* name, bool read) {
    if (read || !h5::exists(detector, name)) return true;
    why = std::string(kDetectorPath) + "/" + name + " is not one value per frame";
    return false;
  };
  if (!optional("frame_number",
                h5::readVector(detector, "frame_number", H5T_NATIVE_UINT32, numbers.data(), n)) ||
      !optional("event_number",
                h5::readVector(detector, "event_number", H5T_NATIVE_UINT32, events.data(), n)) ||
      !optional("timestamp",
                h5::readVector(detector, "timestamp", H5T_NATIVE_DOUBLE, times.data(), n)) ||
      !optional("image_flags", h5::readTexts(detector, "image_flags", flags, n)))
    return false;

  const uint32_t endian = g.littleEndian ? CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER : 0u;
  for (hsize_t i = 0; i < n; ++i) {
    DIMAGE& image = m_headers[i];
    image = shared;
    image.frameHeader.frameNumber = numbers[i];
    image.frameHeader.eventNumber = events[i];
    uint32_t word = endian;
    if (!flags.empty() && !flagsFromText(flags[i], word)) {
      why = "the flags of frame " + std::to_string(i + 1) + " (\"" + flags[i] +
            "\") are no flag words";
      return false;
    }
    // The data set's byte order is what the pixels have.
    image.frameHeader.imageFlags =
        (word & ~CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) | (g.sampleBytes > 1 ? endian : word & 1u);
    if (!splitEpochSeconds(times[i], image.sourceHeader.timestampSeconds,
                           image.sourceHeader.timestampMicroseconds)) {
      why = "the time stamp of frame " + std::to_string(i + 1) + " is out of range";
      return false;
    }
  }
  return true;
}

bool Reader::readStored(uint32_t index, qv::codec::SlotBuffer& room, StoredChunk& chunk,
                        std::string& why) {
  h5::QuietErrors quiet;
  const hsize_t offset[4] = {index, 0, 0, 0};
  hsize_t bytes = 0;
  chunk = StoredChunk{};
  if (H5Dget_chunk_storage_size(m_data.get(), offset, &bytes) < 0 || bytes == 0) return true;
  const uint64_t frameBytes = m_geometry.frameBytes();
  if (bytes > m_fileBytes) {
    why = "frame " + std::to_string(index + 1) + " claims " + std::to_string(bytes) +
          " bytes, more than the file has";
    return false;
  }
  uint32_t skipped = 0;
  if (!room.reserve(bytes) ||
      H5Dread_chunk(m_data.get(), H5P_DEFAULT, offset, &skipped, room.data()) < 0) {
    why = "frame " + std::to_string(index + 1) + " cannot be read (damaged or cut short?)";
    return false;
  }
  chunk.bytes = room.data();
  chunk.length = bytes;
  chunk.deflated = m_deflateBit != 0 && (skipped & m_deflateBit) == 0;
  chunk.shuffled = m_shuffleBit != 0 && (skipped & m_shuffleBit) == 0;
  if (!chunk.deflated && bytes != frameBytes) {
    why = "frame " + std::to_string(index + 1) + " is stored with " + std::to_string(bytes) +
          " bytes instead of " + std::to_string(frameBytes);
    return false;
  }
  return true;
}

bool Reader::readFrame(uint32_t index, uint8_t* frame, std::string& why) {
  h5::QuietErrors quiet;
  const Geometry& g = m_geometry;
  const int rank = g.channels == 3 ? 4 : 3;
  const hsize_t start[4] = {index, 0, 0, 0};
  const hsize_t count[4] = {1, g.height, g.width, 3};
  h5::Object selection = h5::space(H5Dget_space(m_data.get()));
  h5::Object memory = h5::space(H5Screate_simple(rank, count, nullptr));
  h5::Object stored = h5::type(H5Dget_type(m_data.get()));
  if (!selection || !memory || !stored ||
      H5Sselect_hyperslab(selection.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0 ||
      H5Dread(m_data.get(), stored.get(), memory.get(), selection.get(), H5P_DEFAULT, frame) < 0) {
    why = "frame " + std::to_string(index + 1) + " cannot be read (damaged or cut short?)";
    return false;
  }
  return true;
}

}  // namespace qvformats::nexus
