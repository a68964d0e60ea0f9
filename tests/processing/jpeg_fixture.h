// JPEG streams made in the test with libjpeg, libjpeg's own decode of them
// as the reference, and images that carry them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "quivox3/quivox3.h"

namespace qvtest {

using Bytes = std::vector<unsigned char>;

enum class JpegKind { Grey, YCbCr, Rgb, Cmyk };

// A smooth pattern with edges, so that decoding errors show in the pixels.
inline Bytes makePattern(int aiWidth, int aiHeight, int aiComponents) {
  Bytes pixels(static_cast<size_t>(aiWidth) * aiHeight * aiComponents);
  size_t i = 0;
  for (int y = 0; y < aiHeight; ++y) {
    for (int x = 0; x < aiWidth; ++x) {
      for (int c = 0; c < aiComponents; ++c) {
        const int iBlock = ((x / 16) + (y / 16)) % 2 ? 60 : 0;
        pixels[i++] = static_cast<unsigned char>((x * 3 + y * 2 + c * 50 + iBlock) & 0xFF);
      }
    }
  }
  return pixels;
}

inline Bytes encodeJpeg(int aiWidth, int aiHeight, JpegKind aKind, bool abProgressive = false,
                        int aiQuality = 90) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* pOut = nullptr;
  unsigned long iOutSize = 0;
  jpeg_mem_dest(&cinfo, &pOut, &iOutSize);
  cinfo.image_width = static_cast<JDIMENSION>(aiWidth);
  cinfo.image_height = static_cast<JDIMENSION>(aiHeight);
  switch (aKind) {
    case JpegKind::Grey:
      cinfo.input_components = 1;
      cinfo.in_color_space = JCS_GRAYSCALE;
      break;
    case JpegKind::Cmyk:
      cinfo.input_components = 4;
      cinfo.in_color_space = JCS_CMYK;
      break;
    default:
      cinfo.input_components = 3;
      cinfo.in_color_space = JCS_RGB;
      break;
  }
  jpeg_set_defaults(&cinfo);
  if (aKind == JpegKind::Rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
  jpeg_set_quality(&cinfo, aiQuality, TRUE);
  if (abProgressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  const Bytes pixels = makePattern(aiWidth, aiHeight, cinfo.input_components);
  const size_t iRow = static_cast<size_t>(aiWidth) * cinfo.input_components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(pixels.data()) + cinfo.next_scanline * iRow;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes jpeg(pOut, pOut + iOutSize);
  std::free(pOut);
  return jpeg;
}

struct ReferenceDecode {
  Bytes pixels;
  int iWidth = 0;
  int iHeight = 0;
  int iComponents = 0;
};

// libjpeg decoding the stream by itself, grey to grey and colour to RGB.
inline ReferenceDecode referenceDecode(const Bytes& aJpeg) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, aJpeg.data(), static_cast<unsigned long>(aJpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  ReferenceDecode ref;
  ref.iWidth = static_cast<int>(cinfo.output_width);
  ref.iHeight = static_cast<int>(cinfo.output_height);
  ref.iComponents = cinfo.output_components;
  const size_t iRow = static_cast<size_t>(ref.iWidth) * ref.iComponents;
  ref.pixels.resize(iRow * ref.iHeight);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = ref.pixels.data() + cinfo.output_scanline * iRow;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return ref;
}

// A valid image header of the given geometry and format; no frame buffer.
inline DIMAGE makeHeader(int aiWidth, int aiHeight, int aiBytesPerPixel, int aiFormat) {
  DIMAGE img;
  std::memset(&img, 0, sizeof(img));
  img.sourceHeader.baseTag = QV_BASE_TAG;
  img.sourceHeader.versionTag = 1;
  img.sourceHeader.totalLength = QV_HDR_IMAGE_SIZE;
  img.frameHeader.sourceWidth = aiWidth;
  img.frameHeader.sourceHeight = aiHeight;
  img.frameHeader.aoiWidth = -1;
  img.frameHeader.aoiHeight = -1;
  img.frameHeader.bytesPerPixel = aiBytesPerPixel;
  img.frameHeader.effectiveBitsPerPixel = 8 * aiBytesPerPixel;
  img.frameHeader.horizontalBinning = 1;
  img.frameHeader.verticalBinning = 1;
  img.frameHeader.sourceFormat = aiFormat;
  img.frameHeader.imageFormat = aiFormat;
  img.frameHeader.frameNumber = 7;
  img.frameHeader.xScale = 1.5f;
  img.frameHeader.imageFlags =
      CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER | CF_IMAGE_FLAG_IMAGE_LOSSLESS;
  return img;
}

// Gives the image a malloc'd frame buffer of aiCapacity bytes holding aData.
inline void attachFrame(DIMAGE& aImg, const Bytes& aData, size_t aiCapacity = 0) {
  if (aiCapacity < aData.size()) aiCapacity = aData.size();
  aImg.frameBuffer = static_cast<uint8_t*>(std::malloc(aiCapacity));
  std::memset(aImg.frameBuffer, 0xEE, aiCapacity);
  std::memcpy(aImg.frameBuffer, aData.data(), aData.size());
  aImg.frameBufferSize = static_cast<uint32_t>(aiCapacity);
  aImg.frameHeader.appendedFrameSize = static_cast<int32_t>(aData.size());
  aImg.sourceHeader.totalLength = static_cast<uint32_t>(aData.size() + QV_HDR_IMAGE_SIZE);
}

inline DIMAGE makeJpegImage(const Bytes& aJpeg, int aiWidth, int aiHeight, int aiBytesPerPixel,
                            size_t aiCapacity = 0) {
  DIMAGE img = makeHeader(aiWidth, aiHeight, aiBytesPerPixel, CF_IMAGE_FORMAT_JPEG);
  img.frameHeader.sourceFormat = aiBytesPerPixel == 3 ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY;
  attachFrame(img, aJpeg, aiCapacity);
  return img;
}

inline Bytes frameBytes(const DIMAGE& aImg, size_t aiCount) {
  return Bytes(aImg.frameBuffer, aImg.frameBuffer + aiCount);
}

// libjpeg reports corrupt streams on stderr; tests that feed many of them
// keep the output readable.
class SilencedStderr {
 public:
  SilencedStderr();
  ~SilencedStderr();
  SilencedStderr(const SilencedStderr&) = delete;
  SilencedStderr& operator=(const SilencedStderr&) = delete;

 private:
  int m_iSavedFd;
};

}  // namespace qvtest
