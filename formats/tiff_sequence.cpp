// Bunches to and from multi-page TIFF files: one page per frame, in order,
// deflated by libtiff, each page's description holding its frame's header
// fields as key=value lines. Plain pages of equal size, so that ImageJ and
// Fiji open the file as a stack.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "codec/frame_codec.h"
#include "formats/bunch_builder.h"
#include "formats/header_fields.h"
#include "formats/sequence_files.h"
#include "formats/tiff_file.h"
#include "image/image.h"
#include "platform/files.h"

namespace qvformats {

namespace {

using qv::platform::MallocBuffer;

constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
constexpr const char* kFrameKinds = "frames are 8- or 16-bit grey or 8-bit RGB";

// The pixels of a frame or page: size and sample layout.
struct Shape {
  uint32_t width = 0, height = 0;
  uint16_t samples = 1;  // 3 for RGB
  uint16_t bits = 8;     // per sample
  uint32_t bytesPerPixel() const { return samples * bits / 8u; }
  uint64_t rowBytes() const { return uint64_t{width} * bytesPerPixel(); }
  uint64_t frameBytes() const { return rowBytes() * height; }
  bool operator==(const Shape& o) const {
    return width == o.width && height == o.height && samples == o.samples && bits == o.bits;
  }
};

std::string formatName(int format) {
  char name[64];
  size_t size = sizeof name;
  const char* text = CDIMAGE::getFormatAsString(format, false, name, &size);
  return text != nullptr ? text : std::to_string(format);
}

std::string shapeText(const Shape& shape) {
  return std::to_string(shape.width) + " x " + std::to_string(shape.height) + " pixels of " +
         (shape.samples == 3 ? "8-bit RGB" : std::to_string(shape.bits) + "-bit grey");
}

std::string pageName(uint32_t page) { return "page " + std::to_string(page + 1); }
std::string frameName(uint32_t frame) { return "frame " + std::to_string(frame + 1); }

// ---- writing ----

bool frameShape(const DIMAGE& image, Shape& shape, std::string& why) {
  const FRAMEHEADER& f = image.frameHeader;
  const bool grey =
      f.imageFormat == CF_IMAGE_FORMAT_GRAY && (f.bytesPerPixel == 1 || f.bytesPerPixel == 2);
  const bool rgb = f.imageFormat == CF_IMAGE_FORMAT_RGB && f.bytesPerPixel == 3;
  if (!grey && !rgb) {
    why =
        "TIFF files hold grey frames of 1 or 2 bytes per pixel and RGB frames of 3; these "
        "frames have format " +
        formatName(f.imageFormat) + " with " + std::to_string(f.bytesPerPixel) +
        " byte(s) per pixel";
    return false;
  }
  shape.width = static_cast<uint32_t>(getAppendedWidth(image));
  shape.height = static_cast<uint32_t>(getAppendedHeight(image));
  shape.samples = rgb ? 3 : 1;
  shape.bits = f.bytesPerPixel == 2 ? 16 : 8;
  return true;
}

bool checkSequence(const QVBUNCHOFIMAGES& bunch, Shape& shape, std::string& why) {
  return requireSequence(bunch, why) && frameShape(bunch.imageArray[0], shape, why);
}

// Classic TIFF addresses 4 GiB. Beyond about 3.5 GiB of frames the pages'
// directories and descriptions, and deflate's expansion of frames that do
// not compress, could cross that.
bool needsBigTiff(const Shape& shape, uint32_t frames) {
  constexpr uint64_t kClassicLimit = uint64_t{3584} << 20;
  constexpr uint64_t kPageOverhead = 4096;
  const uint64_t pageBytes = shape.frameBytes() + shape.frameBytes() / 1024 + kPageOverhead;
  return pageBytes * frames > kClassicLimit;
}

// Strips of about 256 KiB. On 1280 x 1024 16-bit frames every size from
// 64 KiB to a strip per frame writes and reads equally fast; strips this
// size compress within 0.5 % of one strip and spare readers a buffer of a
// whole frame.
uint32_t rowsPerStrip(const Shape& shape) {
  constexpr uint64_t kStripBytes = 256 << 10;
  const uint64_t rows = std::max<uint64_t>(1, kStripBytes / shape.rowBytes());
  return static_cast<uint32_t>(std::min<uint64_t>(rows, shape.height));
}

bool setPageTags(TIFF* tif, const Shape& shape, uint32_t page, uint32_t pages,
                 const std::string& description) {
  const uint16_t photometric = shape.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  // PageNumber counts in 16 bits; longer sequences are numbered by their order alone.
  const bool numbered = pages <= UINT16_MAX;
  return TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1 &&
         TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, shape.width) == 1 &&
         TIFFSetField(tif, TIFFTAG_IMAGELENGTH, shape.height) == 1 &&
         TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, shape.bits) == 1 &&
         TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, shape.samples) == 1 &&
         TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) == 1 &&
         TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) == 1 &&
         TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
         TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1 &&
         TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip(shape)) == 1 &&
         (!numbered || TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, pages) == 1) &&
         TIFFSetField(tif, TIFFTAG_SOFTWARE, "quivox3") == 1 &&
         TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description.c_str()) == 1;
}

void swapBytePairs(const uint8_t* in, uint8_t* out, uint64_t bytes) {
  for (uint64_t i = 0; i + 1 < bytes; i += 2) {
    out[i] = in[i + 1];
    out[i + 1] = in[i];
  }
}

// libtiff writes samples as the host holds them. A 16-bit frame of the
// other byte order is swapped into scratch: the caller's frame stays as it is.
const uint8_t* hostOrderPixels(const DIMAGE& image, const Shape& shape, MallocBuffer& scratch) {
  const bool little = (image.frameHeader.imageFlags & CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) != 0;
  if (shape.bits != 16 || little == kHostLittleEndian) return image.frameBuffer;
  if (!scratch) scratch = qv::platform::allocateBytes(shape.frameBytes());
  if (!scratch) return nullptr;
  swapBytePairs(image.frameBuffer, scratch.get(), shape.frameBytes());
  return scratch.get();
}

bool writeStrips(TIFF* tif, const Shape& shape, const uint8_t* pixels) {
  const uint32_t rows = rowsPerStrip(shape);
  const uint64_t rowBytes = shape.rowBytes();
  for (uint32_t strip = 0, row = 0; row < shape.height; ++strip, row += rows) {
    const uint64_t bytes = std::min(rows, shape.height - row) * rowBytes;
    // Only read: the file has the host's byte order and no predictor.
    void* data = const_cast<uint8_t*>(pixels + row * rowBytes);
    if (TIFFWriteEncodedStrip(tif, strip, data, static_cast<tmsize_t>(bytes)) < 0) return false;
  }
  return true;
}

bool writePage(tiff::File& file, const DIMAGE& image, const Shape& shape, uint32_t frame,
               uint32_t frames, MallocBuffer& scratch, std::string& why) {
  Shape own;
  if (!frameShape(image, own, why) || !(own == shape)) {
    why = frameName(frame) + " differs from the first in size or pixel format";
    return false;
  }
  const uint8_t* pixels = hostOrderPixels(image, shape, scratch);
  if (pixels == nullptr) {
    why = "not enough memory to swap the bytes of " + frameName(frame);
    return false;
  }
  TIFF* tif = file.get();
  errno = 0;  // libtiff's texts of failed writes leave out the system's reason
  if (!setPageTags(tif, shape, frame, frames, headerText(image)) ||
      !writeStrips(tif, shape, pixels) || TIFFWriteDirectory(tif) != 1) {
    const int error = errno;
    why = "cannot write " + frameName(frame) + ": " + file.takeError("libtiff failed");
    if (error != 0) why += std::string(" (") + std::strerror(error) + ")";
    return false;
  }
  return true;
}

// ---- reading ----

// A page as the checks found it.
struct Page {
  Shape shape;
  uint32_t rowsPerStrip = 0;
  uint64_t storedBytes = 0;  // of its strips in the file
};

std::string sampleKind(uint16_t format) {
  switch (format) {
    case SAMPLEFORMAT_UINT:
      return "";
    case SAMPLEFORMAT_INT:
      return " signed";
    case SAMPLEFORMAT_IEEEFP:
      return " floating-point";
    case SAMPLEFORMAT_COMPLEXINT:
    case SAMPLEFORMAT_COMPLEXIEEEFP:
      return " complex";
    default:
      return " untyped";
  }
}

bool readSampleType(TIFF* tif, uint32_t page, Shape& shape, std::string& why) {
  uint16_t bits = 0, format = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  if (format != SAMPLEFORMAT_UINT || (bits != 8 && bits != 16)) {
    why = pageName(page) + " has " + std::to_string(bits) + "-bit" + sampleKind(format) +
          " samples; " + kFrameKinds;
    return false;
  }
  shape.bits = bits;
  return true;
}

std::string photometricName(uint16_t photometric) {
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
      return "grey";
    case PHOTOMETRIC_RGB:
      return "RGB";
    case PHOTOMETRIC_MINISWHITE:
      return "white-is-zero grey";
    case PHOTOMETRIC_PALETTE:
      return "palette colour";
    case PHOTOMETRIC_MASK:
      return "transparency mask";
    case PHOTOMETRIC_SEPARATED:
      return "separated (CMYK)";
    case PHOTOMETRIC_YCBCR:
      return "YCbCr";
    case PHOTOMETRIC_CFA:
      return "colour filter array";
    default:
      return "photometric " + std::to_string(photometric);
  }
}

bool readSampleCount(TIFF* tif, uint32_t page, Shape& shape, std::string& why) {
  uint16_t samples = 0, photometric = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1) {
    why = pageName(page) + " does not say what its samples are (no photometric interpretation)";
    return false;
  }
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK && samples == 1;
  const bool rgb = photometric == PHOTOMETRIC_RGB && samples == 3 && shape.bits == 8;
  if (!grey && !rgb) {
    why = pageName(page) + " holds " + photometricName(photometric) + " pixels of " +
          std::to_string(samples) + " " + std::to_string(shape.bits) + "-bit sample(s); " +
          kFrameKinds;
    return false;
  }
  shape.samples = samples;
  return true;
}

bool checkLayout(TIFF* tif, uint32_t page, const Shape& shape, std::string& why) {
  uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (TIFFIsTiled(tif)) {
    why = pageName(page) + " is tiled; pages are read in strips";
    return false;
  }
  if (shape.samples > 1 && planar != PLANARCONFIG_CONTIG) {
    why = pageName(page) + " keeps its colours in separate planes; RGB pages are read interleaved";
    return false;
  }
  if (TIFFIsCODECConfigured(compression) != 1) {
    why = pageName(page) + " is compressed with scheme " + std::to_string(compression) +
          ", which libtiff here cannot decode";
    return false;
  }
  return true;
}

bool readSize(TIFF* tif, uint32_t page, Shape& shape, std::string& why) {
  uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  shape.width = width;
  shape.height = height;
  // Each side alone first: their product could pass 64 bits.
  if (width == 0 || height == 0 || width > MAX_TRANSPORT_SIZE || height > MAX_TRANSPORT_SIZE ||
      shape.frameBytes() > MAX_TRANSPORT_SIZE) {
    why = pageName(page) + " is " + shapeText(shape) + ", which no frame can be (at most " +
          std::to_string(MAX_TRANSPORT_SIZE) + " bytes)";
    return false;
  }
  return true;
}

// Stored bytes that cannot decode to a whole frame mark a damaged or forged
// page; it is refused before memory is allocated for it.
bool storedBytesSuffice(uint16_t compression, uint64_t stored, uint64_t frameBytes) {
  switch (compression) {
    case COMPRESSION_NONE:
      return stored >= frameBytes;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return qv::codec::mayInflateTo(stored, frameBytes);
    default:
      return true;
  }
}

bool readStrips(TIFF* tif, uint32_t page, uint64_t fileBytes, Page& out, std::string& why) {
  const Shape& shape = out.shape;
  uint32_t rows = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
  rows = std::min(rows, shape.height);
  const uint64_t strips = rows == 0 ? 0 : (uint64_t{shape.height} + rows - 1) / rows;
  if (strips == 0 || TIFFNumberOfStrips(tif) != strips) {
    why = pageName(page) + " has " + std::to_string(TIFFNumberOfStrips(tif)) + " strip(s) of " +
          std::to_string(rows) + " row(s) for its " + std::to_string(shape.height) + " rows";
    return false;
  }
  uint64_t stored = 0;
  for (uint32_t strip = 0; strip < strips; ++strip) {
    int failed = 0;
    const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, strip, &failed);
    const uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, strip, &failed);
    if (failed != 0 || bytes == 0 || bytes > fileBytes || offset > fileBytes - bytes) {
      why = pageName(page) + " has a strip outside the file (cut short?)";
      return false;
    }
    stored += bytes;
  }
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (!storedBytesSuffice(compression, stored, shape.frameBytes())) {
    why = pageName(page) + " stores " + std::to_string(stored) + " bytes, too few for " +
          shapeText(shape);
    return false;
  }
  out.rowsPerStrip = rows;
  out.storedBytes = stored;
  return true;
}

// The checks every page passes before its pixels are read.
bool readPage(tiff::File& file, uint32_t page, Page& out, std::string& why) {
  TIFF* tif = file.get();
  return readSampleType(tif, page, out.shape, why) && readSampleCount(tif, page, out.shape, why) &&
         checkLayout(tif, page, out.shape, why) && readSize(tif, page, out.shape, why) &&
         readStrips(tif, page, file.size(), out, why);
}

// What the page itself tells: the header of a page without a description,
// and the start for one with a description.
DIMAGE pageDefaults(const Shape& shape, uint32_t page) {
  DIMAGE image = qv::image::unknownHeader();
  FRAMEHEADER& f = image.frameHeader;
  f.sourceWidth = f.aoiWidth = static_cast<int32_t>(shape.width);
  f.sourceHeight = f.aoiHeight = static_cast<int32_t>(shape.height);
  f.xStart = f.yStart = 0;
  f.bytesPerPixel = static_cast<int32_t>(shape.bytesPerPixel());
  f.effectiveBitsPerPixel = shape.bits;
  f.horizontalBinning = f.verticalBinning = 1;
  f.sourceFormat = f.imageFormat = shape.samples == 3 ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY;
  f.xScale = f.yScale = 1.0f;
  f.imageRotation = f.scale_x_offset = f.scale_y_offset = 0.0f;
  f.frameNumber = page + 1;
  f.imageFlags = kHostLittleEndian ? CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER : 0u;
  return image;
}

std::string headerPixelsText(const DIMAGE& image) {
  const FRAMEHEADER& f = image.frameHeader;
  return std::to_string(getAppendedWidth(image)) + " x " +
         std::to_string(getAppendedHeight(image)) + " pixels of " +
         std::to_string(f.bytesPerPixel) + " byte(s), " + formatName(f.imageFormat);
}

bool describesPixels(const DIMAGE& image, const Shape& shape) {
  const FRAMEHEADER& f = image.frameHeader;
  const int32_t format = shape.samples == 3 ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY;
  return getAppendedWidth(image) == static_cast<int64_t>(shape.width) &&
         getAppendedHeight(image) == static_cast<int64_t>(shape.height) &&
         f.bytesPerPixel == static_cast<int32_t>(shape.bytesPerPixel()) && f.imageFormat == format;
}

bool readHeader(tiff::File& file, uint32_t page, const Shape& shape, DIMAGE& header,
                std::string& why) {
  // Without its description a page would pass for one of another writer.
  if (file.takeDroppedTag("ImageDescription")) {
    why = "the description of " + pageName(page) + " cannot be read (damaged or cut short?)";
    return false;
  }
  header = pageDefaults(shape, page);
  const char* description = nullptr;
  std::string reason;
  if (TIFFGetField(file.get(), TIFFTAG_IMAGEDESCRIPTION, &description) == 1 &&
      description != nullptr && !applyHeaderText(description, header, reason)) {
    why = "the description of " + pageName(page) + ": " + reason;
    return false;
  }
  if (!describesPixels(header, shape)) {
    why = "the description of " + pageName(page) + " does not describe its pixels (it gives " +
          headerPixelsText(header) + ", the page holds " + shapeText(shape) + ")";
    return false;
  }
  // libtiff hands samples out in the host's order, whatever the file's.
  if (shape.bits == 16) {
    header.frameHeader.imageFlags &= ~CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
    if (kHostLittleEndian) header.frameHeader.imageFlags |= CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
  }
  const uint32_t frameBytes = static_cast<uint32_t>(shape.frameBytes());
  setFrameBytes(header, frameBytes);
  if (!CDIMAGE::checkValidity(qv::image::withStandInFrame(header, frameBytes), reason)) {
    why = "the description of " + pageName(page) + " gives an invalid header: " + reason;
    return false;
  }
  return true;
}

// A classic directory with the three entries no page can do without (width,
// length, strip offsets) takes 42 bytes: a file cannot hold more pages.
constexpr uint64_t kSmallestPageBytes = 2 + 3 * 12 + 4;

bool nextPage(tiff::File& file, uint32_t page, std::string& why) {
  file.takeError("");  // what was said before is not about this page
  if (TIFFReadDirectory(file.get()) == 1) return true;
  why = pageName(page) + " cannot be read: " + file.takeError("libtiff failed");
  return false;
}

// One page of the walk: checked, alike the first, with strips of its own,
// and its frame's header made.
bool takePage(tiff::File& file, uint32_t page, Shape& first, uint64_t& stored,
              std::vector<DIMAGE>& headers, std::string& why) {
  Page found;
  DIMAGE header;
  if (!readPage(file, page, found, why) || !readHeader(file, page, found.shape, header, why))
    return false;
  if (page == 0) first = found.shape;
  if (!(found.shape == first)) {
    why = pageName(page) + " is " + shapeText(found.shape) + ", page 1 " + shapeText(first) +
          "; the frames of a sequence are all alike";
    return false;
  }
  // Pages sharing strips could claim frames of far more bytes than the
  // file holds.
  stored += found.storedBytes;
  if (stored > file.size()) {
    why = "the pages claim more stored bytes than the file has (shared strips?)";
    return false;
  }
  headers.push_back(header);
  return true;
}

bool lastPageComplete(tiff::File& file, uint32_t page, std::string& why) {
  if (file.currentDirectoryComplete()) return true;
  why = "the directory of " + pageName(page) + " is cut short (the file ends inside it)";
  return false;
}

// Walks every page once, before any frame is allocated.
bool scanPages(tiff::File& file, const Control& control, Shape& shape, std::vector<DIMAGE>& headers,
               std::string& why) {
  const uint64_t maxPages =
      std::min<uint64_t>(qv::image::kMaxBunchFrames, file.size() / kSmallestPageBytes);
  uint64_t stored = 0;
  for (uint32_t page = 0; page < maxPages; ++page) {
    if (stopRequested(control, why) || !takePage(file, page, shape, stored, headers, why))
      return false;
    if (TIFFLastDirectory(file.get()) != 0) return lastPageComplete(file, page, why);
    if (!nextPage(file, page + 1, why)) return false;
  }
  why = "the file claims more pages than it can hold";
  return false;
}

// Decodes a page's strips straight into its frame. Each strip is bounded by
// the rows it must hold, so nothing is written past the frame whatever the
// strip decodes to.
bool decodePage(tiff::File& file, uint32_t page, const Shape& shape, uint8_t* frame,
                std::string& why) {
  Page found;
  if (!readPage(file, page, found, why)) return false;
  if (!(found.shape == shape)) {
    why = pageName(page) + " changed while the file was read";
    return false;
  }
  const uint64_t rowBytes = shape.rowBytes();
  for (uint32_t strip = 0, row = 0; row < shape.height; ++strip, row += found.rowsPerStrip) {
    const auto bytes =
        static_cast<tmsize_t>(std::min(found.rowsPerStrip, shape.height - row) * rowBytes);
    if (TIFFReadEncodedStrip(file.get(), strip, frame + row * rowBytes, bytes) != bytes) {
      why = "cannot decode " + pageName(page) + ": " + file.takeError("its strip is damaged");
      return false;
    }
  }
  return true;
}

bool readFrames(tiff::File& file, const Shape& shape, BunchBuilder& frames, const Control& control,
                std::string& why) {
  const uint32_t n = frames.size();
  for (uint32_t page = 0; page < n; ++page) {
    if (stopRequested(control, why)) return false;
    if (page == 0 && TIFFSetDirectory(file.get(), 0) != 1) {
      why = "page 1 cannot be read again: " + file.takeError("libtiff failed");
      return false;
    }
    if ((page > 0 && !nextPage(file, page, why)) ||
        !decodePage(file, page, shape, frames[page].frameBuffer, why))
      return false;
    reportFraction(control, page + 1, n);
  }
  return true;
}

}  // namespace

bool saveTiff(const QVBUNCHOFIMAGES& bunch, const std::string& path, const Control& control,
              std::string& why) {
  Shape shape;
  if (!checkSequence(bunch, shape, why)) return false;
  const uint32_t n = bunch.numFrames;
  tiff::File file;
  if (!file.create(path, needsBigTiff(shape, n), why)) return false;
  MallocBuffer scratch;
  for (uint32_t i = 0; i < n; ++i) {
    if (!writePage(file, bunch.imageArray[i], shape, i, n, scratch, why)) return false;
    reportFraction(control, i + 1, n);
    if (stopRequested(control, why)) return false;
  }
  return file.commit(why);
}

bool loadTiff(const std::string& path, QVBUNCHOFIMAGES* bunch, const Control& control,
              std::string& why, qv::image::FrameBlock* block) {
  if (!requireEmptyBunch(bunch, why)) return false;
  tiff::File file;
  if (!file.open(path, why)) return false;
  Shape shape;
  std::vector<DIMAGE> headers;
  if (!scanPages(file, control, shape, headers, why)) return false;
  BunchBuilder frames(block);
  if (!frames.allocate(headers.data(), static_cast<uint32_t>(headers.size()), shape.frameBytes(),
                       why) ||
      !readFrames(file, shape, frames, control, why) || !frames.checkAll(why))
    return false;
  frames.handOver(bunch);
  return true;
}

}  // namespace qvformats
