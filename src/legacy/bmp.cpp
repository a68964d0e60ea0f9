// BMP files: uncompressed 8-bit (palette) and 24-bit bitmaps read into a grey
// one-frame record; 8-bit frames written as numbered bitmaps with one of three
// palettes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "legacy/legacy.h"
#include "legacy/legacy_io.h"
#include "runtime/guard.h"
#include "runtime/log.h"

using namespace qv::legacy;

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr size_t kPaletteEntries = 256;
constexpr uint32_t kPixelOffset = kFileHeaderBytes + kInfoHeaderBytes + 4 * kPaletteEntries;
constexpr size_t kMaxFrameFileName = 254;

void checkpoint(int iStep) {
  if (_internal_getLogLevel() > 1) _internal_log("v2videofileload load_bmp_file #%d.", iStep);
}

// The final checkpoints close every call, whichever way it ends.
struct CheckpointsAtExit {
  ~CheckpointsAtExit() {
    checkpoint(9);
    checkpoint(10);
  }
};

struct BmpInfo {
  uint32_t offBits = 0;
  uint32_t size = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  uint32_t clrUsed = 0;
};

// Weights 0.299, 0.587 and 0.114 in exact integer arithmetic: the same as
// truncating the double sum, except that sums which are whole numbers are not
// lost to rounding, so grey pixels come back unchanged.
inline uint8_t greyOf(unsigned uiBlue, unsigned uiGreen, unsigned uiRed) {
  return static_cast<uint8_t>((299u * uiRed + 587u * uiGreen + 114u * uiBlue) / 1000u);
}

int readHeaders(FILE* f, BmpInfo& info) {
  uint8_t file[kFileHeaderBytes];
  if (!readExact(f, file, sizeof file)) return kReadShort;
  if (file[0] != 'B' || file[1] != 'M') return kReadBadContent;
  info.offBits = getU32(file + 10);
  uint8_t hdr[kInfoHeaderBytes];
  if (!readExact(f, hdr, sizeof hdr)) return kReadShort;
  info.size = getU32(hdr);
  info.width = getI32(hdr + 4);
  info.height = getI32(hdr + 8);
  info.planes = getU16(hdr + 12);
  info.bitCount = getU16(hdr + 14);
  info.compression = getU32(hdr + 16);
  info.sizeImage = getU32(hdr + 20);
  info.clrUsed = getU32(hdr + 32);
  if (info.compression != 0) return kReadDecompression;
  if (info.planes != 1) return kReadBadContent;
  if (info.size < kInfoHeaderBytes) return kReadDecompression;
  if (info.bitCount != 8 && info.bitCount != 24) return kReadDecompression;
  return kReadOk;
}

// Grey value of every palette index; entries the file does not give stay
// magenta.
int readPaletteGrey(FILE* f, const BmpInfo& info, uint8_t* grey) {
  uint8_t palette[4 * kPaletteEntries];
  for (size_t k = 0; k < kPaletteEntries; ++k) {
    palette[4 * k] = 255;
    palette[4 * k + 1] = 0;
    palette[4 * k + 2] = 255;
    palette[4 * k + 3] = 0;
  }
  const uint32_t uiUsed =
      info.clrUsed == 0 || info.clrUsed > kPaletteEntries ? kPaletteEntries : info.clrUsed;
  if (!seekTo64(f, static_cast<int64_t>(kFileHeaderBytes) + info.size, SEEK_SET) ||
      !readExact(f, palette, 4 * static_cast<size_t>(uiUsed)))
    return kReadShort;
  for (size_t k = 0; k < kPaletteEntries; ++k)
    grey[k] = greyOf(palette[4 * k], palette[4 * k + 1], palette[4 * k + 2]);
  return kReadOk;
}

// Rows in top-down order with nothing between them; a positive height means
// the file stores the bottom row first.
void reorderRows(const uint8_t* pStored, uint64_t uiStride, uint64_t uiRowBytes, uint64_t uiRows,
                 bool bBottomUp, uint8_t* pOut) {
  for (uint64_t y = 0; y < uiRows; ++y) {
    const uint64_t uiSource = bBottomUp ? uiRows - 1 - y : y;
    std::memcpy(pOut + y * uiRowBytes, pStored + uiSource * uiStride, uiRowBytes);
  }
}

int readBmp(const char* asName, VIDINFHDR* apV, int iKeepIndices) {
  FilePtr file = openForReading(asName);
  if (!file) return kReadOpenFailed;
  checkpoint(2);
  BmpInfo info;
  int iResult = readHeaders(file.get(), info);
  if (iResult != kReadOk) return iResult;
  checkpoint(3);
  const bool b8Bit = info.bitCount == 8;
  uint8_t paletteGrey[kPaletteEntries];
  if (b8Bit && iKeepIndices == 0) {
    iResult = readPaletteGrey(file.get(), info, paletteGrey);
    if (iResult != kReadOk) return iResult;
  }
  if (info.width < 1 || info.height == 0) return kReadBadContent;

  uint64_t uiFileSize = 0;
  if (!fileSize(file.get(), uiFileSize) || !seekTo64(file.get(), info.offBits, SEEK_SET))
    return kReadShort;
  checkpoint(4);
  // The stored size is trusted for an allocation only when the file holds it.
  if (info.sizeImage == 0 || info.offBits > uiFileSize ||
      info.sizeImage > uiFileSize - info.offBits)
    return kReadShort;
  MallocBuffer stored = allocateBytes(info.sizeImage);
  if (!stored) return kReadOutOfMemory;
  if (!readExact(file.get(), stored.get(), info.sizeImage)) return kReadShort;
  file.reset();

  const uint64_t uiWidth = static_cast<uint64_t>(info.width);
  const uint64_t uiRows =
      info.height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(info.height)) : info.height;
  const uint64_t uiStride = (info.bitCount * uiWidth + 31) / 32 * 4;
  if (uiStride * uiRows > info.sizeImage) return kReadBadContent;
  checkpoint(5);

  const uint64_t uiRowBytes = info.bitCount * uiWidth / 8;
  MallocBuffer rows = allocateBytes(uiRowBytes * uiRows);
  if (!rows) return kReadOutOfMemory;
  reorderRows(stored.get(), uiStride, uiRowBytes, uiRows, info.height > 0, rows.get());
  stored.reset();
  checkpoint(6);
  const uint64_t uiPixels = uiWidth * uiRows;
  if (b8Bit && iKeepIndices == 0) {
    uint8_t* p = rows.get();
    for (uint64_t i = 0; i < uiPixels; ++i) p[i] = paletteGrey[p[i]];
  }
  checkpoint(7);

  FrameArrays frames;
  if (!frames.allocate(1)) return kReadOutOfMemory;
  if (b8Bit) {
    frames.frame(0) = rows.release();  // already one grey or index byte per pixel
  } else {
    frames.frame(0) = allocateBytes(uiPixels).release();
    if (frames.frame(0) == nullptr) return kReadOutOfMemory;
  }
  frames.scale(0) = 1.0;
  checkpoint(8);
  if (!b8Bit) {
    const uint8_t* pBgr = rows.get();
    uint8_t* pGrey = frames.frame(0);
    for (uint64_t i = 0; i < uiPixels; ++i, pBgr += 3) pGrey[i] = greyOf(pBgr[0], pBgr[1], pBgr[2]);
  }
  apV->width = info.width;
  apV->height = static_cast<int32_t>(uiRows);
  apV->bpp = 8;
  apV->ebpp = 8;
  apV->scale = 1.0;
  apV->numframes = 1;
  frames.handOver(*apV);
  apV->type = 6;
  return kReadOk;
}

// Palette entry k as (blue, green, red).
void paletteEntry(int iPalette, int k, uint8_t* bgr) {
  int b = k, g = k, r = k;
  if (iPalette == 1) {
    b = k == 255 ? 255 : (k >= 1 && k <= 149 ? 255 * (151 - k) / 150 : 0);
    g = k == 255 ? 255 : (k >= 86 && k <= 170 ? (k - 85) * 190 / 85 + 65 : 0);
    r = k >= 171 ? (k - 170) * 190 / 85 + 65 : 0;
  } else if (iPalette == 2) {
    if (k == 255) {
      b = g = r = 255;
    } else {
      b = k == 0 ? 0 : k <= 31 ? 4 * k + 131 : k <= 95 ? 255 : k <= 158 ? 251 - 4 * (k - 96) : 0;
      g = k <= 31    ? 0
          : k <= 95  ? 4 * (k - 32) + 3
          : k <= 159 ? 255
          : k <= 222 ? 251 - 4 * (k - 160)
                     : 0;
      r = k <= 95 ? 0 : k <= 159 ? 4 * (k - 96) + 3 : k <= 223 ? 255 : 251 - 4 * (k - 224);
    }
  }
  bgr[0] = static_cast<uint8_t>(b);
  bgr[1] = static_cast<uint8_t>(g);
  bgr[2] = static_cast<uint8_t>(r);
}

void buildHeaders(int32_t w, int32_t h, uint32_t uiImageBytes, int iPalette, uint8_t* p) {
  p[0] = 'B';
  p[1] = 'M';
  putU32(p + 2, uiImageBytes + kPixelOffset);
  putU16(p + 6, 0);
  putU16(p + 8, 0);
  putU32(p + 10, kPixelOffset);
  uint8_t* info = p + kFileHeaderBytes;
  std::memset(info, 0, kInfoHeaderBytes);
  putU32(info, kInfoHeaderBytes);
  putU32(info + 4, static_cast<uint32_t>(w));
  putU32(info + 8, static_cast<uint32_t>(h));
  putU16(info + 12, 1);
  putU16(info + 14, 8);
  putU32(info + 20, uiImageBytes);
  uint8_t* palette = info + kInfoHeaderBytes;
  for (int k = 0; k < static_cast<int>(kPaletteEntries); ++k) {
    paletteEntry(iPalette, k, palette + 4 * k);
    palette[4 * k + 3] = 0;
  }
}

const char* numberFormat(int iDigitsCode) {
  static const char* const kFormats[] = {"%s%d.bmp", "%s%02d.bmp", "%s%03d.bmp", "%s%04d.bmp"};
  return kFormats[iDigitsCode];
}

}  // namespace

int _internal_writeBmp8File(const char* asPath, int32_t aiWidth, int32_t aiHeight,
                            const uint8_t* apPixels, int aiPalette) {
  if (aiPalette < 0 || aiPalette > 2) return kWriteBmpArgument;
  // The file's 32-bit size field must hold the whole file.
  const uint64_t uiStride = (static_cast<uint64_t>(aiWidth > 0 ? aiWidth : 0) * 8 + 31) / 32 * 4;
  const uint64_t uiImageBytes = uiStride * static_cast<uint64_t>(aiHeight > 0 ? aiHeight : 0);
  if (aiWidth < 1 || aiHeight < 1 || apPixels == nullptr ||
      uiImageBytes + kPixelOffset > UINT32_MAX)
    return kWriteBmpArgument;
  OutputFile out(asPath);
  if (!out.isOpen()) return kWriteCreateFailed;
  uint8_t headers[kPixelOffset];
  buildHeaders(aiWidth, aiHeight, static_cast<uint32_t>(uiImageBytes), aiPalette, headers);
  if (!out.write(headers, sizeof headers)) return kWriteFailed;
  MallocBuffer image = allocateBytes(uiImageBytes);
  if (!image) return kWriteFailed;
  std::memset(image.get(), 0, uiImageBytes);
  const size_t uiWidth = static_cast<size_t>(aiWidth);
  for (int32_t y = 0; y < aiHeight; ++y)
    std::memcpy(image.get() + (aiHeight - 1 - y) * uiStride, apPixels + y * uiWidth, uiWidth);
  if (!out.write(image.get(), uiImageBytes)) return kWriteFailed;
  return out.commit() ? kWriteOk : kWriteFailed;
}

extern "C" QV_API int load_bmp_file(const char* name, VIDINFHDR* vinf, int keepIndices) {
  return qv::runtime::guarded<int>("load_bmp_file", kReadOutOfMemory, [&]() -> int {
    checkpoint(1);
    CheckpointsAtExit atExit;
    if (name == nullptr || vinf == nullptr) return kReadBmpArgument;
    if (!isEmptyRecord(*vinf)) return kReadRecordNotEmpty;
    // The record is written only on success.
    return readBmp(name, vinf, keepIndices);
  });
}

extern "C" QV_API int save_bmp_files(const char* name, VIDINFHDR* vinf, int palette,
                                     int digitsCode) {
  return qv::runtime::guarded<int>("save_bmp_files", kWriteFailed, [&]() -> int {
    if (vinf == nullptr) return kWriteNoRecord;
    if (digitsCode < 0 || digitsCode > 3 || palette < 0 || palette > 2 || name == nullptr ||
        name[0] == '\0')
      return kWriteBmpArgument;
    if (!isWritableType(vinf->type)) return kWriteNotWritable;
    if (!hasFrames(*vinf)) return kWriteNoRecord;
    if (vinf->bpp != 8) return kWriteBmpNot8Bit;
    // The last frame has the longest name: refuse before any file is written.
    const char* sFormat = numberFormat(digitsCode);
    if (std::snprintf(nullptr, 0, sFormat, name, vinf->numframes) >
        static_cast<int>(kMaxFrameFileName))
      return kWriteBmpArgument;
    std::string sFile(kMaxFrameFileName + 1, '\0');
    for (int32_t i = 0; i < vinf->numframes; ++i) {
      std::snprintf(&sFile[0], sFile.size(), sFormat, name, i + 1);
      if (_internal_writeBmp8File(sFile.c_str(), vinf->width, vinf->height, vinf->framebits[i],
                                  palette) != kWriteOk)
        return kWriteFailed;
    }
    return kWriteOk;
  });
}
