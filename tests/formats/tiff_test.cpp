// Multi-page TIFF sequences: round trips of every pixel kind with full
// headers, what libtiff's own tool sees, pages of other writers, hostile
// files, and writes that fail.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <tiffio.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "formats/sequence_files.h"
#include "image/frame_block.h"
#include "support/bunch.h"
#include "support/tempdir.h"

namespace {

using qvformats::Control;
using qvformats::loadTiff;
using qvformats::saveTiff;

testing::AssertionResult contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << text << "\" lacks \"" << part << "\"";
}

// ---- frames of the round trips ----

struct Kind {
  const char* name;
  int32_t bytesPerPixel;
  int32_t format;
  bool bigEndian;  // 16-bit frames whose samples lie most significant byte first
  bool aoi;
  bool intoBlock;  // loaded into a caller's block instead of malloc'd frames
};

// 1000 x 300 frames take three strips, the last one shorter.
constexpr int32_t kWidth = 1000, kHeight = 300;

uint8_t pixelByte(uint32_t frame, size_t byte) {
  return static_cast<uint8_t>((byte * 2654435761u >> 13) + frame * 37 + (byte >> 9));
}

// Every header field set to something a blank header would not have, and
// the per-frame fields different in every frame.
void describeFrames(TestBunch& bunch, const Kind& kind) {
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    SOURCEHEADER& s = bunch[i].sourceHeader;
    FRAMEHEADER& f = bunch[i].frameHeader;
    s.cameraPortId = static_cast<int32_t>(0x80000001u);
    std::strncpy(s.cameraPortName, "TTF2.CAM/Port 7", sizeof s.cameraPortName);
    s.timestampSeconds = 1765340400u + i;
    s.timestampMicroseconds = 1 + 333331 * i;
    f.frameNumber = 100 + i;
    f.eventNumber = 7000 + 3 * i;
    f.xScale = 0.0123f;
    f.yScale = 0.0456f;
    f.imageRotation = 90.5f;
    f.scale_x_offset = -1.25f;
    f.scale_y_offset = 3.5e-3f;
    f.effectiveBitsPerPixel = kind.bytesPerPixel == 2 ? 12 : 8;
    f.horizontalBinning = 2;
    f.verticalBinning = 2;
    f.imageFlags = (kind.bigEndian ? 0u : CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) |
                   CF_IMAGE_FLAG_GLOBAL_TIMESTAMP | CF_IMAGE_FLAG_SCALE_OFFSET |
                   (i == 1 ? CF_IMAGE_FLAG_TIMESTAMP_EXTRAPOLATED : 0u);
    if (kind.aoi) {
      f.sourceWidth = kWidth + 30;
      f.sourceHeight = kHeight + 20;
      f.aoiWidth = kWidth;
      f.aoiHeight = kHeight;
      f.xStart = 30;
      f.yStart = 20;
    }
  }
}

void expectSameHeader(const DIMAGE& expected, const DIMAGE& loaded) {
  const SOURCEHEADER &es = expected.sourceHeader, &ls = loaded.sourceHeader;
  const FRAMEHEADER &ef = expected.frameHeader, &lf = loaded.frameHeader;
  EXPECT_EQ(es.baseTag, ls.baseTag);
  EXPECT_EQ(es.cameraPortId, ls.cameraPortId);
  EXPECT_EQ(es.versionTag, ls.versionTag);
  EXPECT_EQ(es.totalLength, ls.totalLength);
  EXPECT_EQ(es.timestampSeconds, ls.timestampSeconds);
  EXPECT_EQ(es.timestampMicroseconds, ls.timestampMicroseconds);
  EXPECT_EQ(0, std::memcmp(es.cameraPortName, ls.cameraPortName, sizeof es.cameraPortName));
  EXPECT_EQ(ef.sourceWidth, lf.sourceWidth);
  EXPECT_EQ(ef.sourceHeight, lf.sourceHeight);
  EXPECT_EQ(ef.aoiWidth, lf.aoiWidth);
  EXPECT_EQ(ef.aoiHeight, lf.aoiHeight);
  EXPECT_EQ(ef.xStart, lf.xStart);
  EXPECT_EQ(ef.yStart, lf.yStart);
  EXPECT_EQ(ef.bytesPerPixel, lf.bytesPerPixel);
  EXPECT_EQ(ef.effectiveBitsPerPixel, lf.effectiveBitsPerPixel);
  EXPECT_EQ(ef.horizontalBinning, lf.horizontalBinning);
  EXPECT_EQ(ef.verticalBinning, lf.verticalBinning);
  EXPECT_EQ(ef.sourceFormat, lf.sourceFormat);
  EXPECT_EQ(ef.imageFormat, lf.imageFormat);
  EXPECT_EQ(ef.frameNumber, lf.frameNumber);
  EXPECT_EQ(ef.eventNumber, lf.eventNumber);
  EXPECT_EQ(ef.xScale, lf.xScale);
  EXPECT_EQ(ef.yScale, lf.yScale);
  EXPECT_EQ(ef.imageRotation, lf.imageRotation);
  EXPECT_EQ(ef.scale_x_offset, lf.scale_x_offset);
  EXPECT_EQ(ef.scale_y_offset, lf.scale_y_offset);
  EXPECT_EQ(ef.imageFlags, lf.imageFlags);
  EXPECT_EQ(ef.appendedFrameSize, lf.appendedFrameSize);
}

// Big-endian frames come back with their sample values in little-endian order.
void expectSamePixels(const DIMAGE& saved, const DIMAGE& loaded, bool swapped) {
  const size_t bytes = static_cast<size_t>(saved.frameHeader.appendedFrameSize);
  ASSERT_EQ(static_cast<size_t>(loaded.frameHeader.appendedFrameSize), bytes);
  if (!swapped) {
    EXPECT_EQ(0, std::memcmp(saved.frameBuffer, loaded.frameBuffer, bytes));
    return;
  }
  size_t differing = 0;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const uint16_t value =
        static_cast<uint16_t>(saved.frameBuffer[i] << 8 | saved.frameBuffer[i + 1]);
    const uint16_t back =
        static_cast<uint16_t>(loaded.frameBuffer[i] | loaded.frameBuffer[i + 1] << 8);
    differing += value != back;
  }
  EXPECT_EQ(differing, 0u);
}

// A caller's memory for the frames of a load.
class VectorBlock : public qv::image::FrameBlock {
 public:
  uint8_t* reserve(uint32_t images, uint64_t frameBytes) override {
    m_bytes.assign(images * frameBytes, 0);
    return m_bytes.data();
  }
  bool holds(const uint8_t* p) const {
    return !m_bytes.empty() && p >= m_bytes.data() && p < m_bytes.data() + m_bytes.size();
  }

 private:
  std::vector<uint8_t> m_bytes;
};

std::vector<uint8_t> framesAndHeaders(TestBunch& bunch) {
  std::vector<uint8_t> bytes;
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    const auto* header = reinterpret_cast<const uint8_t*>(&bunch[i]);
    bytes.insert(bytes.end(), header, header + sizeof(DIMAGE));
    bytes.insert(bytes.end(), bunch[i].frameBuffer,
                 bunch[i].frameBuffer + bunch[i].frameHeader.appendedFrameSize);
  }
  return bytes;
}

// ---- files written with libtiff as other programs would ----

struct PageLayout {
  uint32_t width = 24, height = 10;
  uint16_t samples = 1, bits = 8, sampleFormat = SAMPLEFORMAT_UINT;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
  uint16_t compression = COMPRESSION_NONE, predictor = PREDICTOR_NONE;
  uint32_t rowsPerStrip = 0;  // 0: one strip
  bool tiled = false;
  std::string description;
};

// The bytes libtiff is handed for page p: pixelByte in the host's order.
std::vector<uint8_t> pageBytes(uint32_t page, size_t bytes) {
  std::vector<uint8_t> data(bytes);
  for (size_t b = 0; b < bytes; ++b) data[b] = pixelByte(page + 50, b);
  return data;
}

void setPageFields(TIFF* tif, const PageLayout& layout) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, layout.sampleFormat);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, layout.planar);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
  if (layout.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, layout.predictor);
  if (!layout.description.empty())
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, layout.description.c_str());
  if (layout.photometric == PHOTOMETRIC_PALETTE) {
    static std::vector<uint16_t> ramp(256);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint16_t>(i * 257);
    TIFFSetField(tif, TIFFTAG_COLORMAP, ramp.data(), ramp.data(), ramp.data());
  }
  if (layout.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 layout.rowsPerStrip != 0 ? layout.rowsPerStrip : layout.height);
  }
}

void writePageData(TIFF* tif, const PageLayout& layout, uint32_t page) {
  if (layout.tiled) {
    for (uint32_t t = 0; t < TIFFNumberOfTiles(tif); ++t) {
      std::vector<uint8_t> tile = pageBytes(page, static_cast<size_t>(TIFFTileSize(tif)));
      ASSERT_GE(TIFFWriteEncodedTile(tif, t, tile.data(), TIFFTileSize(tif)), 0);
    }
    return;
  }
  const size_t rowBytes = static_cast<size_t>(TIFFScanlineSize(tif));
  const uint32_t planes = layout.planar == PLANARCONFIG_SEPARATE ? layout.samples : 1;
  // libtiff may swap the bytes it is handed: each strip gets its own copy.
  const std::vector<uint8_t> data = pageBytes(page, rowBytes * layout.height);
  const uint32_t rows = layout.rowsPerStrip != 0 ? layout.rowsPerStrip : layout.height;
  uint32_t strip = 0;
  for (uint32_t plane = 0; plane < planes; ++plane) {
    for (uint32_t row = 0; row < layout.height; row += rows, ++strip) {
      const size_t bytes = std::min(rows, layout.height - row) * rowBytes;
      std::vector<uint8_t> copy(data.begin() + row * rowBytes,
                                data.begin() + row * rowBytes + bytes);
      ASSERT_GE(TIFFWriteEncodedStrip(tif, strip, copy.data(), static_cast<tmsize_t>(bytes)), 0);
    }
  }
}

// mode "w" writes the host's byte order, "wb" big-endian, "w8" BigTIFF.
void writePages(const std::string& path, const std::vector<PageLayout>& pages,
                const char* mode = "w") {
  TIFF* tif = TIFFOpen(path.c_str(), mode);
  ASSERT_NE(tif, nullptr);
  for (uint32_t p = 0; p < pages.size(); ++p) {
    setPageFields(tif, pages[p]);
    writePageData(tif, pages[p], p);
    ASSERT_EQ(TIFFWriteDirectory(tif), 1);
  }
  TIFFClose(tif);
}

// ---- byte edits of classic little-endian files ----

uint32_t get32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
                               static_cast<uint8_t>(b[at + 2]) << 16 |
                               static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}
uint16_t get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
void put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}

std::vector<uint32_t> directoryOffsets(const std::string& bytes) {
  std::vector<uint32_t> offsets;
  for (uint32_t at = get32(bytes, 4); at != 0 && offsets.size() < 100;
       at = get32(bytes, at + 2 + 12 * get16(bytes, at)))
    offsets.push_back(at);
  return offsets;
}

size_t entryOf(const std::string& bytes, uint32_t directory, uint16_t tag) {
  for (uint16_t i = 0; i < get16(bytes, directory); ++i) {
    const size_t entry = directory + 2 + 12u * i;
    if (get16(bytes, entry) == tag) return entry;
  }
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}

// One LONG value in place of whatever the entry held.
void setLong(std::string& bytes, uint32_t directory, uint16_t tag, uint32_t value) {
  const size_t entry = entryOf(bytes, directory, tag);
  put16(bytes, entry + 2, TIFF_LONG);
  put32(bytes, entry + 4, 1);
  put32(bytes, entry + 8, value);
}

// Copies of the first directory appended and chained: pages that all point
// to the first page's strips.
std::string sharingStrips(std::string bytes, int copies) {
  const uint32_t first = get32(bytes, 4);
  const size_t length = 2 + 12u * get16(bytes, first) + 4;
  const std::string directory = bytes.substr(first, length);
  size_t next = first + length - 4;
  for (int i = 0; i < copies; ++i) {
    if (bytes.size() % 2 != 0) bytes.push_back('\0');
    put32(bytes, next, static_cast<uint32_t>(bytes.size()));
    next = bytes.size() + length - 4;
    bytes += directory;
    put32(bytes, next, 0);
  }
  return bytes;
}

std::string runTiffinfo(const std::string& path) {
  FILE* pipe = ::popen(("tiffinfo '" + path + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) return "";
  std::string out;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  ::pclose(pipe);
  return out;
}

size_t occurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

struct Loaded {
  bool ok;
  std::string why;
  std::string printed;  // on stderr while loading
};

Loaded loadQuietly(const std::string& path, TestBunch& bunch, const Control& control = {}) {
  Loaded result;
  testing::internal::CaptureStderr();
  result.ok = loadTiff(path, bunch.get(), control, result.why);
  result.printed = testing::internal::GetCapturedStderr();
  return result;
}

}  // namespace

TEST(TiffSequence, RoundTripKeepsEveryHeaderFieldAndPixel) {
  const Kind kinds[] = {
      {"grey 8-bit", 1, CF_IMAGE_FORMAT_GRAY, false, false, false},
      {"grey 16-bit little-endian", 2, CF_IMAGE_FORMAT_GRAY, false, false, true},
      {"grey 16-bit big-endian", 2, CF_IMAGE_FORMAT_GRAY, true, false, false},
      {"grey 16-bit big-endian, area of interest", 2, CF_IMAGE_FORMAT_GRAY, true, true, true},
      {"RGB", 3, CF_IMAGE_FORMAT_RGB, false, false, false},
      {"RGB, area of interest", 3, CF_IMAGE_FORMAT_RGB, false, true, true},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    TempDir dir;
    const std::string path = dir.file("sequence.tif");
    TestBunch saved;
    makeBunch(saved, 3, kWidth, kHeight, kind.bytesPerPixel, kind.format, pixelByte);
    describeFrames(saved, kind);
    ASSERT_EQ(qvIsSequence(saved.get()), 1);
    const std::vector<uint8_t> before = framesAndHeaders(saved);

    std::string why;
    double progress = 0.0;
    ASSERT_TRUE(saveTiff(*saved.get(), path, Control{nullptr, &progress}, why)) << why;
    EXPECT_EQ(progress, 1.0);
    EXPECT_EQ(framesAndHeaders(saved), before) << "the caller's bunch was written to";

    TestBunch loaded;
    VectorBlock block;
    progress = 0.0;
    ASSERT_TRUE(loadTiff(path, loaded.get(), Control{nullptr, &progress}, why,
                         kind.intoBlock ? &block : nullptr))
        << why;
    EXPECT_EQ(progress, 1.0);
    ASSERT_EQ(loaded.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
      SCOPED_TRACE("frame " + std::to_string(i + 1));
      DIMAGE expected = saved[i];
      if (kind.bigEndian) expected.frameHeader.imageFlags |= CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
      expectSameHeader(expected, loaded[i]);
      expectSamePixels(saved[i], loaded[i], kind.bigEndian);
      EXPECT_EQ(block.holds(loaded[i].frameBuffer), kind.intoBlock);
      if (block.holds(loaded[i].frameBuffer)) loaded[i].frameBuffer = nullptr;  // not the bunch's
    }
  }
}

TEST(TiffSequence, TiffinfoSeesOneDeflatedPagePerFrame) {
#if defined(_WIN32)
  GTEST_SKIP() << "tiffinfo is the Linux build's outside reader";
#endif
  TempDir dir;
  const std::string path = dir.file("three.tif");
  TestBunch bunch;
  makeBunch(bunch, 3, 64, 48, 2);
  std::string why;
  ASSERT_TRUE(saveTiff(*bunch.get(), path, Control{}, why)) << why;

  const std::string info = runTiffinfo(path);
  EXPECT_EQ(occurrences(info, "TIFF Directory at offset"), 3u) << info;
  EXPECT_EQ(occurrences(info, "Bits/Sample: 16"), 3u) << info;
  EXPECT_EQ(occurrences(info, "Compression Scheme: AdobeDeflate"), 3u) << info;
  EXPECT_EQ(occurrences(info, "Image Width: 64 Image Length: 48"), 3u) << info;
  EXPECT_EQ(occurrences(info, "Photometric Interpretation: min-is-black"), 3u) << info;
  EXPECT_TRUE(contains(info, "Page Number: 2-3"));
  EXPECT_TRUE(contains(info, "framenumber=0"));
  EXPECT_EQ(occurrences(info, "ImageJ="), 0u);
}

TEST(TiffSequence, PagesOfOtherWritersLoadWithHeadersFromThePages) {
  struct Foreign {
    const char* name;
    PageLayout page;
    const char* mode;
  };
  PageLayout bigEndian16;
  bigEndian16.bits = 16;
  bigEndian16.rowsPerStrip = 3;
  PageLayout lzwImageJ;
  lzwImageJ.compression = COMPRESSION_LZW;
  lzwImageJ.predictor = PREDICTOR_HORIZONTAL;
  lzwImageJ.description = "ImageJ=1.54f\nimages=2\nslices=2\nunit=micron\n";
  PageLayout deflated;
  deflated.compression = COMPRESSION_ADOBE_DEFLATE;
  PageLayout rgbPackBits;
  rgbPackBits.samples = 3;
  rgbPackBits.photometric = PHOTOMETRIC_RGB;
  rgbPackBits.compression = COMPRESSION_PACKBITS;
  rgbPackBits.rowsPerStrip = 4;
  const Foreign files[] = {
      {"16-bit big-endian, uncompressed, strips of 3 rows", bigEndian16, "wb"},
      {"BigTIFF, 16-bit big-endian", bigEndian16, "w8b"},
      {"BigTIFF, 8-bit deflate", deflated, "w8"},
      {"8-bit LZW with predictor, ImageJ description", lzwImageJ, "w"},
      {"RGB PackBits", rgbPackBits, "w"},
  };
  for (const Foreign& file : files) {
    SCOPED_TRACE(file.name);
    TempDir dir;
    const std::string path = dir.file("other.tif");
    writePages(path, {file.page, file.page}, file.mode);
    TestBunch bunch;
    const Loaded result = loadQuietly(path, bunch);
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_EQ(result.printed, "");
    ASSERT_EQ(bunch.size(), 2u);
    const uint32_t bytesPerPixel = file.page.samples * file.page.bits / 8u;
    for (uint32_t i = 0; i < 2; ++i) {
      const FRAMEHEADER& f = bunch[i].frameHeader;
      EXPECT_EQ(f.sourceWidth, 24);
      EXPECT_EQ(f.sourceHeight, 10);
      EXPECT_EQ(f.bytesPerPixel, static_cast<int32_t>(bytesPerPixel));
      EXPECT_EQ(f.effectiveBitsPerPixel, file.page.bits);
      EXPECT_EQ(f.imageFormat, file.page.samples == 3 ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY);
      EXPECT_EQ(f.frameNumber, i + 1);
      EXPECT_EQ(f.xScale, 1.0f);
      EXPECT_EQ(f.imageFlags & CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER,
                CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER);
      const std::vector<uint8_t> expected = pageBytes(i, 24 * 10 * bytesPerPixel);
      EXPECT_EQ(0, std::memcmp(bunch[i].frameBuffer, expected.data(), expected.size()));
    }
  }
}

TEST(TiffSequence, HostileFilesAreRefusedWithAReason) {
  TempDir dir;
  const std::string validPath = dir.file("valid.tif");
  {
    TestBunch bunch;
    makeBunch(bunch, 3, 64, 40, 2, CF_IMAGE_FORMAT_GRAY, pixelByte);
    std::string why;
    ASSERT_TRUE(saveTiff(*bunch.get(), validPath, Control{}, why)) << why;
  }
  const std::string valid = readFile(validPath);
  const std::vector<uint32_t> directories = directoryOffsets(valid);
  ASSERT_EQ(directories.size(), 3u);
  PageLayout uncompressed;
  uncompressed.width = 200;
  uncompressed.height = 150;

  using Make = std::function<void(const std::string& path)>;
  auto bytes = [](std::string content) {
    return [content](const std::string& path) { writeFile(path, content); };
  };
  auto edited = [&](const std::function<void(std::string&)>& edit) {
    return [&valid, edit](const std::string& path) {
      std::string content = valid;
      edit(content);
      writeFile(path, content);
    };
  };
  auto secondPage = [](const std::function<void(PageLayout&)>& change) {
    return [change](const std::string& path) {
      PageLayout odd;
      change(odd);
      writePages(path, {PageLayout(), odd});
    };
  };
  auto describedAs = [](const std::string& description) {
    return [description](const std::string& path) {
      PageLayout page;
      page.description = description;
      writePages(path, {page});
    };
  };
  struct Hostile {
    const char* name;
    Make make;
    const char* reason;
  };
  const Hostile cases[] = {
      {"empty file", bytes(""), "not a TIFF file"},
      {"header only", bytes(valid.substr(0, 8)), "not a TIFF file"},
      {"garbage after the magic", bytes("II*\0" + std::string(200, '\xa7')), "not a TIFF file"},
      {"cut inside page 1's pixels", bytes(valid.substr(0, 200)), "not a TIFF file"},
      {"cut inside page 2", bytes(valid.substr(0, directories[1] - 100)), "page 2"},
      {"cut inside the last directory", bytes(valid.substr(0, directories[2] + 40)), "page 3"},
      {"cut inside the link to page 2",
       [&](const std::string& path) {
         writePages(path, {uncompressed, uncompressed});
         const std::string whole = readFile(path);
         const uint32_t first = get32(whole, 4);
         writeFile(path, whole.substr(0, first + 2 + 12 * get16(whole, first) + 2));
       },
       "the directory of page 1 is cut short"},
      {"float samples on page 2", secondPage([](PageLayout& p) {
         p.bits = 32;
         p.sampleFormat = SAMPLEFORMAT_IEEEFP;
       }),
       "page 2 has 32-bit floating-point samples; frames are 8- or 16-bit grey or 8-bit RGB"},
      {"32-bit samples", secondPage([](PageLayout& p) { p.bits = 32; }),
       "page 2 has 32-bit samples"},
      {"signed samples", secondPage([](PageLayout& p) {
         p.bits = 16;
         p.sampleFormat = SAMPLEFORMAT_INT;
       }),
       "page 2 has 16-bit signed samples"},
      {"12-bit samples", secondPage([](PageLayout& p) { p.bits = 12; }),
       "page 2 has 12-bit samples"},
      {"16-bit RGB", secondPage([](PageLayout& p) {
         p.bits = 16;
         p.samples = 3;
         p.photometric = PHOTOMETRIC_RGB;
       }),
       "page 2 holds RGB pixels of 3 16-bit sample(s)"},
      {"palette", secondPage([](PageLayout& p) { p.photometric = PHOTOMETRIC_PALETTE; }),
       "page 2 holds palette colour pixels"},
      {"white is zero", secondPage([](PageLayout& p) { p.photometric = PHOTOMETRIC_MINISWHITE; }),
       "page 2 holds white-is-zero grey pixels"},
      {"grey and alpha", secondPage([](PageLayout& p) { p.samples = 2; }),
       "page 2 holds grey pixels of 2 8-bit sample(s)"},
      {"RGB in separate planes", secondPage([](PageLayout& p) {
         p.samples = 3;
         p.photometric = PHOTOMETRIC_RGB;
         p.planar = PLANARCONFIG_SEPARATE;
       }),
       "page 2 keeps its colours in separate planes"},
      {"tiled", secondPage([](PageLayout& p) { p.tiled = true; }), "page 2 is tiled"},
      {"another size on page 2", secondPage([](PageLayout& p) { p.width = 25; }),
       "page 2 is 25 x 10 pixels of 8-bit grey, page 1 24 x 10 pixels of 8-bit grey"},
      {"huge claimed width",
       edited([&](std::string& b) { setLong(b, directories[0], 256, 1u << 30); }),
       "page 1 is 1073741824 x 40 pixels of 16-bit grey, which no frame can be"},
      {"huge claimed height",
       edited([&](std::string& b) { setLong(b, directories[1], 257, 0xffffffffu); }), "page 2"},
      {"strip beyond the end", edited([&](std::string& b) {
         setLong(b, directories[1], 273, static_cast<uint32_t>(valid.size()));
       }),
       "page 2 has a strip outside the file"},
      {"strip longer than the file",
       edited([&](std::string& b) { setLong(b, directories[0], 279, 0x7fffffffu); }),
       "page 1 has a strip outside the file"},
      {"directories in a loop", edited([&](std::string& b) {
         put32(b, directories[2] + 2 + 12 * get16(b, directories[2]), directories[0]);
       }),
       "page 4 cannot be read"},
      {"damaged deflate stream", edited([&](std::string& b) {
         const size_t strip = get32(b, entryOf(b, directories[1], 273) + 8);
         for (size_t i = 0; i < 64; ++i) b[strip + 10 + i] = static_cast<char>(0xff - i);
       }),
       "cannot decode page 2"},
      {"pages sharing their strips",
       [&](const std::string& path) {
         writePages(path, {uncompressed});
         writeFile(path, sharingStrips(readFile(path), 3));
       },
       "the pages claim more stored bytes than the file has"},
      {"description of other pixels", describedAs("aoi_width_px=-1\nsource_width_px=25\n"),
       "the description of page 1 does not describe its pixels (it gives 25 x 10 pixels of 1 "
       "byte(s), GRAY, the page holds 24 x 10 pixels of 8-bit grey)"},
      {"description with a malformed value", describedAs("bytes_per_pixel=one\n"),
       "the description of page 1: the value of bytes_per_pixel (\"one\") cannot be read"},
      {"description of an invalid header", describedAs("x_start_px=-3\n"),
       "the description of page 1 gives an invalid header"},
  };
  for (const Hostile& hostile : cases) {
    SCOPED_TRACE(hostile.name);
    const std::string path = dir.file("hostile.tif");
    std::remove(path.c_str());
    hostile.make(path);
    TestBunch bunch;
    const Loaded result = loadQuietly(path, bunch);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(contains(result.why, hostile.reason));
    EXPECT_EQ(result.printed, "") << "libtiff printed";
    EXPECT_EQ(bunch.size(), 0u);
    EXPECT_EQ(bunch.get()->imageArray, nullptr);
  }
}

// Any cut of a file fails with a reason, or loads what the file held.
TEST(TiffSequence, EveryCutOfAFileIsRefusedOrComplete) {
  TempDir dir;
  const std::string path = dir.file("whole.tif");
  TestBunch saved;
  makeBunch(saved, 3, 64, 40, 2, CF_IMAGE_FORMAT_GRAY, pixelByte);
  std::string why;
  ASSERT_TRUE(saveTiff(*saved.get(), path, Control{}, why)) << why;
  const std::string whole = readFile(path);
  const std::string cutPath = dir.file("cut.tif");
  size_t refused = 0;
  for (size_t length = 0; length < whole.size(); length += 3) {
    writeFile(cutPath, whole.substr(0, length));
    TestBunch bunch;
    const Loaded result = loadQuietly(cutPath, bunch);
    EXPECT_EQ(result.printed, "") << "cut at " << length;
    if (!result.ok) {
      EXPECT_NE(result.why, "") << "cut at " << length;
      ++refused;
      continue;
    }
    ASSERT_EQ(bunch.size(), 3u) << "cut at " << length;
    for (uint32_t i = 0; i < 3; ++i) {
      SCOPED_TRACE("cut at " + std::to_string(length) + ", frame " + std::to_string(i + 1));
      expectSameHeader(saved[i], bunch[i]);
      expectSamePixels(saved[i], bunch[i], false);
    }
  }
  EXPECT_GT(refused, 0u);
}

TEST(TiffSequence, FailedWritesLeaveNoFile) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 3, 64, 40, 2);
  int stop = 1;
  std::string why;

  const std::string existing = dir.file("existing.tif");
  writeFile(existing, "not to be replaced");
  EXPECT_FALSE(saveTiff(*bunch.get(), existing, Control{}, why));
  EXPECT_EQ(why, "the file already exists");
  EXPECT_EQ(readFile(existing), "not to be replaced");

  const std::string interrupted = dir.file("interrupted.tif");
  EXPECT_FALSE(saveTiff(*bunch.get(), interrupted, Control{&stop, nullptr}, why));
  EXPECT_EQ(why, "interrupted");
  EXPECT_FALSE(fileExists(interrupted));

  EXPECT_FALSE(saveTiff(*bunch.get(), dir.file("missing/folder.tif"), Control{}, why));
  EXPECT_TRUE(contains(why, "cannot create the file: No such file or directory"));

  TestBunch jpeg;
  makeBunch(jpeg, 2, 16, 8, 1);
  for (uint32_t i = 0; i < 2; ++i) jpeg[i].frameHeader.imageFormat = CF_IMAGE_FORMAT_JPEG;
  const std::string unsupported = dir.file("jpeg.tif");
  EXPECT_FALSE(saveTiff(*jpeg.get(), unsupported, Control{}, why));
  EXPECT_TRUE(contains(why,
                       "TIFF files hold grey frames of 1 or 2 bytes per pixel and RGB "
                       "frames of 3; these frames have format JPEG"));
  EXPECT_FALSE(fileExists(unsupported));

#if !defined(_WIN32)  // Linux only: a file size limit is a POSIX resource limit
  // Writing stops half-way through the file: the process may write no more.
  const std::string whole = dir.file("whole.tif");
  ASSERT_TRUE(saveTiff(*bunch.get(), whole, Control{}, why)) << why;
  const rlim_t limit = readFile(whole).size() / 2;
  const std::string cut = dir.file("cut.tif");
  auto saveUnderLimit = [&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{limit, limit};
    setrlimit(RLIMIT_FSIZE, &lim);
    std::string reason;
    const bool saved = saveTiff(*bunch.get(), cut, Control{}, reason);
    std::fprintf(stderr, "%s\n", reason.c_str());
    std::_Exit(!saved && !fileExists(cut) && reason.rfind("cannot write frame ", 0) == 0 ? 0 : 1);
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(saveUnderLimit(), testing::ExitedWithCode(0),
              "cannot write frame [23]: .+ \\(File too large\\)");
#endif
}

TEST(TiffSequence, InterruptedLoadLeavesTheBunchEmpty) {
  TempDir dir;
  const std::string path = dir.file("sequence.tif");
  TestBunch saved;
  makeBunch(saved, 3, 64, 40, 1);
  std::string why;
  ASSERT_TRUE(saveTiff(*saved.get(), path, Control{}, why)) << why;
  int stop = 1;
  TestBunch bunch;
  const Loaded result = loadQuietly(path, bunch, Control{&stop, nullptr});
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.why, "interrupted");
  EXPECT_EQ(bunch.size(), 0u);
}
