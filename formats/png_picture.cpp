#include "formats/png_picture.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace qvformats {

namespace {

int widthOf(const DIMAGE& image) {
  const FRAMEHEADER& f = image.frameHeader;
  return f.aoiWidth >= 1 ? f.aoiWidth : f.sourceWidth;
}
int heightOf(const DIMAGE& image) {
  const FRAMEHEADER& f = image.frameHeader;
  return f.aoiHeight >= 1 ? f.aoiHeight : f.sourceHeight;
}

// libpng reports errors by longjmp: nothing with a destructor may live in
// the frame between setjmp and the end of the write.
bool encode(FILE* file, const DIMAGE& image, png_bytep* rows, std::string& why) {
  const FRAMEHEADER& f = image.frameHeader;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    why = "out of memory";
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    why = "the PNG encoder failed (disk full?)";
    return false;
  }
  png_init_io(png, file);
  const bool rgb = f.imageFormat == CF_IMAGE_FORMAT_RGB;
  const int depth = rgb ? 8 : 8 * f.bytesPerPixel;
  png_set_IHDR(png, info, static_cast<png_uint_32>(widthOf(image)),
               static_cast<png_uint_32>(heightOf(image)), depth,
               rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const int bits = f.effectiveBitsPerPixel;
  if (!rgb && bits >= 1 && bits < depth) {
    png_color_8 significant{};
    significant.gray = static_cast<png_byte>(bits);
    png_set_sBIT(png, info, &significant);
  }
  png_write_info(png, info);
  // PNG samples are big-endian; frames say their own order.
  if (depth == 16 && (f.imageFlags & CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) != 0) {
    png_set_swap(png);
  }
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool pngCanHold(const DIMAGE& image) {
  const FRAMEHEADER& f = image.frameHeader;
  const bool grey =
      f.imageFormat == CF_IMAGE_FORMAT_GRAY && (f.bytesPerPixel == 1 || f.bytesPerPixel == 2);
  const bool rgb = f.imageFormat == CF_IMAGE_FORMAT_RGB && f.bytesPerPixel == 3;
  return grey || rgb;
}

bool writePng(const std::string& path, const DIMAGE& image, std::string& why) {
  if (!pngCanHold(image)) {
    why = "PNG holds grey frames of 8 or 16 bits and RGB frames; decode other frames first";
    return false;
  }
  const int width = widthOf(image), height = heightOf(image);
  const size_t rowBytes = static_cast<size_t>(width) * image.frameHeader.bytesPerPixel;
  if (width < 1 || height < 1 || image.frameBuffer == nullptr ||
      rowBytes * static_cast<size_t>(height) > image.frameBufferSize) {
    why = "the frame buffer does not hold the frame its header describes";
    return false;
  }
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) rows[y] = image.frameBuffer + rowBytes * static_cast<size_t>(y);
  FILE* file = std::fopen(path.c_str(), "wbx");
  if (file == nullptr) {
    why = "cannot create " + path;
    return false;
  }
  bool ok = encode(file, image, rows.data(), why);
  if (std::fclose(file) != 0 && ok) {
    why = "writing " + path + " failed";
    ok = false;
  }
  if (!ok) std::remove(path.c_str());
  return ok;
}

}  // namespace qvformats
