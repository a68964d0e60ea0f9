// export writes PNG pictures that decode to the frames' own pixel values.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures.h"
#include "support/bunch.h"

namespace {

struct Picture {
  int width = 0, height = 0, depth = 0, colour = -1, significantBits = 0;
  std::vector<uint8_t> samples;  // as stored: 16-bit samples big-endian
};

bool readPng(const std::string& path, Picture& out) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  out.width = static_cast<int>(png_get_image_width(png, info));
  out.height = static_cast<int>(png_get_image_height(png, info));
  out.depth = png_get_bit_depth(png, info);
  out.colour = png_get_color_type(png, info);
  png_color_8p significant = nullptr;
  if (png_get_sBIT(png, info, &significant) != 0) out.significantBits = significant->gray;
  const size_t rowBytes = png_get_rowbytes(png, info);
  png_bytepp rows = png_get_rows(png, info);
  for (int y = 0; y < out.height; ++y)
    out.samples.insert(out.samples.end(), rows[y], rows[y] + rowBytes);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return true;
}

}  // namespace

TEST_F(Tool, ExportWritesPngAtFullDepth) {
  const struct {
    const char* name;
    int32_t bytesPerPixel, format, bits, pngDepth, pngColour;
  } cases[] = {
      {"grey8", 1, CF_IMAGE_FORMAT_GRAY, 8, 8, PNG_COLOR_TYPE_GRAY},
      {"grey16", 2, CF_IMAGE_FORMAT_GRAY, 12, 16, PNG_COLOR_TYPE_GRAY},
      {"rgb", 3, CF_IMAGE_FORMAT_RGB, 8, 8, PNG_COLOR_TYPE_RGB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestBunch bunch;
    makeBunch(bunch, 2, 37, 21, c.bytesPerPixel, c.format,
              [](uint32_t f, size_t i) { return static_cast<uint8_t>(i * 13 + f * 7 + (i >> 8)); });
    for (uint32_t f = 0; f < 2; ++f) bunch[f].frameHeader.effectiveBitsPerPixel = c.bits;
    const std::string source = dir.file(std::string(c.name) + ".imc2");
    ASSERT_EQ(qvSaveImagesToFile(bunch.get(), source.c_str()), 0);
    const std::string out = dir.file(std::string(c.name) + "_png");
    Result r = runTool({"export", source, out});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    ASSERT_EQ(entries(out), (std::vector<std::string>{"frame_001.png", "frame_002.png"}));
    for (uint32_t f = 0; f < 2; ++f) {
      Picture p;
      ASSERT_TRUE(readPng(out + "/" + entries(out)[f], p));
      EXPECT_EQ(p.width, 37);
      EXPECT_EQ(p.height, 21);
      EXPECT_EQ(p.depth, c.pngDepth);
      EXPECT_EQ(p.colour, c.pngColour);
      EXPECT_EQ(p.significantBits,
                c.bits < c.pngDepth && c.format == CF_IMAGE_FORMAT_GRAY ? c.bits : 0);
      // The frames are little-endian; PNG stores 16-bit samples big-endian.
      std::vector<uint8_t> expected(bunch[f].frameBuffer,
                                    bunch[f].frameBuffer + bunch[f].frameHeader.appendedFrameSize);
      if (c.pngDepth == 16) {
        for (size_t k = 0; k + 1 < expected.size(); k += 2) std::swap(expected[k], expected[k + 1]);
      }
      EXPECT_TRUE(p.samples == expected) << "frame " << f;
    }
  }
  Result unknown = runTool({"export", dir.file("grey8.imc2"), dir.file("gif"), "--format", "gif"});
  EXPECT_EQ(unknown.exitCode, 2) << unknown.describe();
}
