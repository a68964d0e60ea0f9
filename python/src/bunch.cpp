#include "bunch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "errors.h"
#include "image/image.h"

namespace qvpy {

namespace {

std::string flagsText(uint32_t flags) {
  char text[256] = {};
  size_t size = sizeof text;
  QVV3_INTERNAL_CDIMAGE_getFlagsAsString(flags, text, &size);
  return text;
}

std::string formatText(int32_t format) {
  char text[64] = {};
  size_t size = sizeof text;
  return QVV3_INTERNAL_CDIMAGE_getFormatAsString(format, text, &size) != nullptr ? text : "";
}

// Same geometry, depth, format and byte order: one array type fits both.
bool sameLayout(const DIMAGE& a, const DIMAGE& b) {
  const FRAMEHEADER &x = a.frameHeader, &y = b.frameHeader;
  return ::getAppendedWidth(a) == ::getAppendedWidth(b) &&
         ::getAppendedHeight(a) == ::getAppendedHeight(b) && x.bytesPerPixel == y.bytesPerPixel &&
         x.imageFormat == y.imageFormat &&
         ((x.imageFlags ^ y.imageFlags) & CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) == 0;
}

void makeReadOnly(py::array& array) { array.attr("flags").attr("writeable") = false; }

}  // namespace

Bunch::Bunch() { qvInitializeBunchStructure(&m_bunch); }

Bunch::~Bunch() { release(); }

void Bunch::release() {
  if (m_pBlock != nullptr && m_bunch.imageArray != nullptr) {
    for (uint32_t i = 0; i < m_bunch.numFrames; ++i) {
      DIMAGE& img = m_bunch.imageArray[i];
      if (img.frameBuffer >= m_pBlock && img.frameBuffer < m_pBlock + m_iBlockBytes) {
        img.frameBuffer = nullptr;
      }
    }
  }
  qvFreeBunch(&m_bunch);
  if (m_bOwnsBlock) std::free(m_pBlock);
  m_pBlock = nullptr;
  m_iBlockBytes = 0;
}

const DIMAGE& Bunch::image(int64_t index) const {
  const int64_t n = m_bunch.numFrames;
  if (index < 0) index += n;
  if (index < 0 || index >= n) throw py::index_error("frame index out of range");
  return m_bunch.imageArray[index];
}

uint8_t* Bunch::reserve(uint32_t images, uint64_t frameBytes) {
  if (m_pBlock != nullptr || images == 0 || frameBytes == 0) return nullptr;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(images), frameBytes, &bytes) ||
      bytes > SIZE_MAX) {
    return nullptr;
  }
  void* block = nullptr;
  // Cache-line alignment, as numpy gives its own arrays.
  if (posix_memalign(&block, 64, static_cast<size_t>(bytes)) != 0) return nullptr;
  m_pBlock = static_cast<uint8_t*>(block);
  m_bOwnsBlock = true;
  m_iBlockBytes = bytes;
  m_iBlockFrameBytes = frameBytes;
  return m_pBlock;
}

namespace {

// A valid GRAY or RGB header for a frame of the given geometry.
void setHeader(DIMAGE& img, int32_t width, int32_t height, int32_t bytesPerPixel, int32_t format,
               bool littleEndian) {
  std::memset(&img, 0, sizeof img);
  const int32_t frameBytes = width * height * bytesPerPixel;
  img.sourceHeader.baseTag = QV_BASE_TAG;
  img.sourceHeader.versionTag = 1;
  img.sourceHeader.totalLength = static_cast<uint32_t>(QV_HDR_IMAGE_SIZE + frameBytes);
  FRAMEHEADER& f = img.frameHeader;
  f.sourceWidth = width;
  f.sourceHeight = height;
  f.aoiWidth = -1;
  f.aoiHeight = -1;
  f.bytesPerPixel = bytesPerPixel;
  f.effectiveBitsPerPixel = format == CF_IMAGE_FORMAT_RGB ? 8 : bytesPerPixel * 8;
  f.horizontalBinning = 1;
  f.verticalBinning = 1;
  f.sourceFormat = format;
  f.imageFormat = format;
  f.xScale = 1.0f;
  f.yScale = 1.0f;
  f.imageFlags = littleEndian ? CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER : 0;
  f.appendedFrameSize = frameBytes;
}

template <typename T>
T fieldValue(const py::handle& value, const char* key) {
  try {
    return value.cast<T>();
  } catch (const py::cast_error&) {
    raiseError("ArgumentError", -1, std::string("header field ") + key + " has a wrong type");
  }
}

// Applies one header field to every image, or per image for the per-frame keys.
void applyField(QVBUNCHOFIMAGES& bunch, const std::string& key, const py::handle& value) {
  const uint32_t n = bunch.numFrames;
  auto each = [&](auto&& set) {
    for (uint32_t i = 0; i < n; ++i) set(bunch.imageArray[i]);
  };
  auto perFrame = [&](auto&& set) {
    const py::sequence values = fieldValue<py::sequence>(value, key.c_str());
    if (static_cast<uint32_t>(py::len(values)) != n) {
      raiseError("ArgumentError", -1, key + " needs one value per frame");
    }
    for (uint32_t i = 0; i < n; ++i) set(bunch.imageArray[i], values[i]);
  };
  const char* k = key.c_str();
  if (key == "x_scale") {
    each([&](DIMAGE& d) { d.frameHeader.xScale = fieldValue<float>(value, k); });
  } else if (key == "y_scale") {
    each([&](DIMAGE& d) { d.frameHeader.yScale = fieldValue<float>(value, k); });
  } else if (key == "effective_bits") {
    each([&](DIMAGE& d) { d.frameHeader.effectiveBitsPerPixel = fieldValue<int32_t>(value, k); });
  } else if (key == "x_start") {
    each([&](DIMAGE& d) { d.frameHeader.xStart = fieldValue<int32_t>(value, k); });
  } else if (key == "y_start") {
    each([&](DIMAGE& d) { d.frameHeader.yStart = fieldValue<int32_t>(value, k); });
  } else if (key == "horizontal_binning") {
    each([&](DIMAGE& d) { d.frameHeader.horizontalBinning = fieldValue<int32_t>(value, k); });
  } else if (key == "vertical_binning") {
    each([&](DIMAGE& d) { d.frameHeader.verticalBinning = fieldValue<int32_t>(value, k); });
  } else if (key == "image_rotation") {
    each([&](DIMAGE& d) { d.frameHeader.imageRotation = fieldValue<float>(value, k); });
  } else if (key == "scale_x_offset") {
    each([&](DIMAGE& d) { d.frameHeader.scale_x_offset = fieldValue<float>(value, k); });
  } else if (key == "scale_y_offset") {
    each([&](DIMAGE& d) { d.frameHeader.scale_y_offset = fieldValue<float>(value, k); });
  } else if (key == "flags_value") {
    each([&](DIMAGE& d) { d.frameHeader.imageFlags = fieldValue<uint32_t>(value, k); });
  } else if (key == "camera_port_id") {
    each([&](DIMAGE& d) { d.sourceHeader.cameraPortId = fieldValue<int32_t>(value, k); });
  } else if (key == "camera_port_name") {
    const std::string name = fieldValue<std::string>(value, k);
    each([&](DIMAGE& d) {
      std::memset(d.sourceHeader.cameraPortName, 0, sizeof d.sourceHeader.cameraPortName);
      std::memcpy(d.sourceHeader.cameraPortName, name.data(),
                  std::min(name.size(), sizeof d.sourceHeader.cameraPortName));
    });
  } else if (key == "frame_number") {
    perFrame(
        [&](DIMAGE& d, py::handle v) { d.frameHeader.frameNumber = fieldValue<uint32_t>(v, k); });
  } else if (key == "event_number") {
    perFrame(
        [&](DIMAGE& d, py::handle v) { d.frameHeader.eventNumber = fieldValue<uint32_t>(v, k); });
  } else if (key == "timestamp_us") {
    perFrame([&](DIMAGE& d, py::handle v) {
      const int64_t us = fieldValue<int64_t>(v, k);
      if (us < 0 || us / 1000000 > UINT32_MAX) {
        raiseError("ArgumentError", -1, "time stamps must lie between 1970 and 2106");
      }
      d.sourceHeader.timestampSeconds = static_cast<uint32_t>(us / 1000000);
      d.sourceHeader.timestampMicroseconds = static_cast<uint32_t>(us % 1000000);
    });
  } else {
    raiseError("ArgumentError", -1, "unknown header field: " + key);
  }
}

}  // namespace

std::unique_ptr<Bunch> Bunch::overArray(const py::array& array, const py::dict& fields) {
  if (!(array.flags() & py::array::c_style)) {
    raiseError("ArgumentError", -1, "the array must be C-contiguous");
  }
  const py::dtype dtype = array.dtype();
  const char kind = dtype.kind();
  const py::ssize_t itemsize = dtype.itemsize();
  if (kind != 'u' || (itemsize != 1 && itemsize != 2)) {
    raiseError("ArgumentError", -1, "frames must be unsigned 8 or 16-bit integers");
  }
  const bool littleEndian = itemsize == 1 || dtype.attr("byteorder").cast<std::string>() != ">";
  const py::ssize_t nd = array.ndim();
  const bool rgb = itemsize == 1 && nd >= 3 && array.shape(nd - 1) == 3;
  const py::ssize_t planes = rgb ? nd - 1 : nd;
  if (planes != 2 && planes != 3) {
    raiseError("ArgumentError", -1,
               "frames are (n, height, width) or (height, width), with a last axis of 3 for RGB");
  }
  const py::ssize_t n = planes == 3 ? array.shape(0) : 1;
  const py::ssize_t height = array.shape(planes - 2), width = array.shape(planes - 1);
  const int32_t bytesPerPixel = rgb ? 3 : static_cast<int32_t>(itemsize);
  if (n < 1 || n > 10000 || width < 1 || height < 1 ||
      width * height * bytesPerPixel > MAX_TRANSPORT_SIZE) {
    raiseError("ArgumentError", -1, "frame count or frame size out of range");
  }
  auto bunch = std::make_unique<Bunch>();
  QVBUNCHOFIMAGES& b = bunch->m_bunch;
  b.imageArray = static_cast<DIMAGE*>(std::calloc(static_cast<size_t>(n), sizeof(DIMAGE)));
  if (b.imageArray == nullptr) throw std::bad_alloc();
  b.numFrames = static_cast<uint32_t>(n);
  const uint64_t frameBytes = static_cast<uint64_t>(width * height * bytesPerPixel);
  auto* data = static_cast<uint8_t*>(const_cast<void*>(array.data()));
  bunch->m_pBlock = data;
  bunch->m_iBlockBytes = frameBytes * static_cast<uint64_t>(n);
  bunch->m_iBlockFrameBytes = frameBytes;
  bunch->m_array = array;
  for (py::ssize_t i = 0; i < n; ++i) {
    DIMAGE& img = b.imageArray[i];
    setHeader(img, static_cast<int32_t>(width), static_cast<int32_t>(height), bytesPerPixel,
              rgb ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY, littleEndian);
    img.frameHeader.frameNumber = static_cast<uint32_t>(i + 1);
    img.frameBuffer = data + i * frameBytes;
    img.frameBufferSize = static_cast<uint32_t>(frameBytes);
  }
  for (const auto& item : fields) applyField(b, item.first.cast<std::string>(), item.second);
  return bunch;
}

bool Bunch::uniform() const {
  for (uint32_t i = 1; i < m_bunch.numFrames; ++i) {
    if (!sameLayout(m_bunch.imageArray[0], m_bunch.imageArray[i])) return false;
  }
  return true;
}

bool Bunch::contiguous() const {
  if (m_pBlock == nullptr || m_bunch.numFrames == 0 || !uniform()) return false;
  for (uint32_t i = 0; i < m_bunch.numFrames; ++i) {
    if (m_bunch.imageArray[i].frameBuffer != m_pBlock + i * m_iBlockFrameBytes) return false;
  }
  return true;
}

bool pixelLayout(const DIMAGE& image, py::dtype& dtype, std::vector<py::ssize_t>& shape,
                 std::string& why) {
  const FRAMEHEADER& f = image.frameHeader;
  const int64_t width = ::getAppendedWidth(image);
  const int64_t height = ::getAppendedHeight(image);
  const bool little = (f.imageFlags & CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) != 0;
  shape = {static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width)};
  if (f.imageFormat == CF_IMAGE_FORMAT_GRAY && f.bytesPerPixel == 1) {
    dtype = py::dtype("u1");
  } else if (f.imageFormat == CF_IMAGE_FORMAT_GRAY &&
             (f.bytesPerPixel == 2 || f.bytesPerPixel == 4)) {
    dtype = py::dtype(std::string(little ? "<u" : ">u") + std::to_string(f.bytesPerPixel));
  } else if (f.imageFormat == CF_IMAGE_FORMAT_RGB && f.bytesPerPixel == 3) {
    dtype = py::dtype("u1");
    shape.push_back(3);
  } else if (f.imageFormat == CF_IMAGE_FORMAT_RGBA && f.bytesPerPixel == 4) {
    dtype = py::dtype("u1");
    shape.push_back(4);
  } else if (f.imageFormat == CF_IMAGE_FORMAT_JPEG) {
    why = "the frame is JPEG-coded: decode it first (Sequence.decoded())";
    return false;
  } else {
    why = "frames of format " + formatText(f.imageFormat) + " with " +
          std::to_string(f.bytesPerPixel) + " bytes per pixel have no array form";
    return false;
  }
  const int64_t bytes = width * height * f.bytesPerPixel;
  if (width <= 0 || height <= 0 || image.frameBuffer == nullptr || bytes > f.appendedFrameSize ||
      static_cast<uint64_t>(bytes) > image.frameBufferSize) {
    why = "the frame buffer does not hold the frame its header describes";
    return false;
  }
  return true;
}

py::array frameArray(py::handle bunch, int64_t index) {
  const DIMAGE& image = bunch.cast<Bunch&>().image(index);
  py::dtype dtype;
  std::vector<py::ssize_t> shape;
  std::string why;
  if (!pixelLayout(image, dtype, shape, why)) raiseError("FormatError", -1, why);
  py::array array(dtype, shape, {}, image.frameBuffer, bunch);
  makeReadOnly(array);
  return array;
}

py::array stackedArray(py::handle handle) {
  Bunch& bunch = handle.cast<Bunch&>();
  if (bunch.size() == 0) throw py::value_error("the sequence holds no frames");
  if (!bunch.uniform()) {
    raiseError("FormatError", -1,
               "the frames differ in geometry, depth or format: take them one by one");
  }
  const DIMAGE& first = bunch.image(0);
  py::dtype dtype;
  std::vector<py::ssize_t> shape;
  std::string why;
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    if (!pixelLayout(bunch.image(i), dtype, shape, why)) raiseError("FormatError", -1, why);
  }
  shape.insert(shape.begin(), static_cast<py::ssize_t>(bunch.size()));
  if (bunch.contiguous()) {
    py::array array(dtype, shape, {}, first.frameBuffer, handle);
    makeReadOnly(array);
    return array;
  }
  // Frames the library allocated one by one: one copy into a new array.
  py::array array(dtype, shape);
  const size_t frameBytes = static_cast<size_t>(array.nbytes() / bunch.size());
  auto* out = static_cast<uint8_t*>(array.mutable_data());
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    std::memcpy(out + i * frameBytes, bunch.image(i).frameBuffer, frameBytes);
  }
  return array;
}

py::dict headerOf(const Bunch& bunch, int64_t index) {
  const DIMAGE& image = bunch.image(index);
  const SOURCEHEADER& s = image.sourceHeader;
  const FRAMEHEADER& f = image.frameHeader;
  py::dict h;
  h["width"] = ::getAppendedWidth(image);
  h["height"] = ::getAppendedHeight(image);
  h["source_width"] = f.sourceWidth;
  h["source_height"] = f.sourceHeight;
  h["aoi_width"] = f.aoiWidth;
  h["aoi_height"] = f.aoiHeight;
  h["x_start"] = f.xStart;
  h["y_start"] = f.yStart;
  h["bytes_per_pixel"] = f.bytesPerPixel;
  h["effective_bits"] = f.effectiveBitsPerPixel;
  h["horizontal_binning"] = f.horizontalBinning;
  h["vertical_binning"] = f.verticalBinning;
  h["source_format"] = formatText(f.sourceFormat);
  h["image_format"] = formatText(f.imageFormat);
  h["x_scale"] = f.xScale;
  h["y_scale"] = f.yScale;
  h["image_rotation"] = f.imageRotation;
  h["scale_x_offset"] = f.scale_x_offset;
  h["scale_y_offset"] = f.scale_y_offset;
  h["frame_number"] = f.frameNumber;
  h["event_number"] = f.eventNumber;
  h["flags"] = flagsText(f.imageFlags);
  h["flags_value"] = f.imageFlags;
  h["timestamp_seconds"] = s.timestampSeconds;
  h["timestamp_microseconds"] = s.timestampMicroseconds;
  h["camera_port_name"] =
      decodeText(s.cameraPortName, strnlen(s.cameraPortName, sizeof s.cameraPortName));
  h["camera_port_id"] = s.cameraPortId;
  h["frame_bytes"] = f.appendedFrameSize;
  return h;
}

namespace {

template <typename T, typename Field>
py::array_t<T> column(const Bunch& bunch, Field field) {
  py::array_t<T> out(static_cast<py::ssize_t>(bunch.size()));
  auto view = out.template mutable_unchecked<1>();
  for (uint32_t i = 0; i < bunch.size(); ++i) view(i) = field(bunch.image(i));
  return out;
}

// JPEG frames decoded into a new bunch; the others copied as they are.
std::unique_ptr<Bunch> decodedCopy(Bunch& source) {
  auto out = std::make_unique<Bunch>();
  const uint32_t n = source.size();
  int failure = 0;
  {
    py::gil_scoped_release unlocked;
    if (qvCreateBunchStructure(out->get(), n, 0) != 1) {
      failure = -1;
    } else {
      for (uint32_t i = 0; i < n && failure == 0; ++i) {
        DIMAGE& in = source.get()->imageArray[i];
        DIMAGE& target = out->get()->imageArray[i];  // no buffer yet (size 0)
        const int r = qvDecompressImage(&target, &in);
        if (r == 0) {  // not JPEG: a copy of the frame
          target = in;
          target.frameBuffer =
              static_cast<uint8_t*>(std::malloc(in.frameBufferSize ? in.frameBufferSize : 1));
          if (target.frameBuffer == nullptr) {
            failure = -1;
          } else {
            std::memcpy(target.frameBuffer, in.frameBuffer, in.frameBufferSize);
          }
        } else if (r != 1) {
          failure = r;
        }
      }
    }
  }
  if (failure == -1) throw std::bad_alloc();
  if (failure != 0) {
    raiseError("FormatError", failure,
               "a JPEG frame could not be decoded (" + std::to_string(failure) + ")");
  }
  return out;
}

}  // namespace

void registerBunch(py::module_& m) {
  py::class_<Bunch>(m, "_Bunch", "Images held by the library; frames are viewed, not copied.")
      .def(py::init<>())
      .def("__len__", &Bunch::size)
      .def("frame", [](py::object self, int64_t i) { return frameArray(self, i); })
      .def("stacked", [](py::object self) { return stackedArray(self); })
      .def("header", [](const Bunch& b, int64_t i) { return headerOf(b, i); })
      .def("uniform", &Bunch::uniform)
      .def("contiguous", &Bunch::contiguous)
      .def("is_jpeg",
           [](const Bunch& b, int64_t i) {
             return b.image(i).frameHeader.imageFormat == CF_IMAGE_FORMAT_JPEG;
           })
      .def("frame_numbers",
           [](const Bunch& b) {
             return column<uint32_t>(b, [](const DIMAGE& d) { return d.frameHeader.frameNumber; });
           })
      .def("event_numbers",
           [](const Bunch& b) {
             return column<uint32_t>(b, [](const DIMAGE& d) { return d.frameHeader.eventNumber; });
           })
      .def("timestamps_us",
           [](const Bunch& b) {
             return column<int64_t>(b, [](const DIMAGE& d) {
               return int64_t{d.sourceHeader.timestampSeconds} * 1000000 +
                      d.sourceHeader.timestampMicroseconds;
             });
           })
      .def("decoded", [](Bunch& b) { return decodedCopy(b); });
}

}  // namespace qvpy
