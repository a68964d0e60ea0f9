#include "imc2_test_util.h"

#include <zlib.h>

#include <cstdlib>

Bytes& Bytes::record(const std::string& keyValue, uint8_t r, uint8_t n) {
  char text[250] = {};
  memcpy(text, keyValue.data(), keyValue.size() < 250 ? keyValue.size() : 250);
  raw(text, 250);
  return u8(r).u8(n);
}

std::vector<std::string> globalRecords(uint32_t numImages, int32_t width, int32_t height,
                                       int32_t bytesPerPixel) {
  return {
      "number_of_images=" + std::to_string(numImages),
      "width_px=" + std::to_string(width),
      "height_px=" + std::to_string(height),
      "scale_x_mm/px=1.000000",
      "scale_y_mm/px=1.000000",
      "source_width_px=" + std::to_string(width),
      "source_height_px=" + std::to_string(height),
      "aoi_width_px=-1",
      "aoi_height_px=-1",
      "x_start_px=0",
      "y_start_px=0",
      "bytes_per_pixel=" + std::to_string(bytesPerPixel),
      "effective_bits_per_pixel=" + std::to_string(bytesPerPixel * 8),
      "horizontal_binning=1",
      "vertical_binning=1",
      "source_format=GRAY",
      "image_format=GRAY",
      "image_rotation=0.000000",
      "scale_x_offset=0.000000",
      "scale_y_offset=0.000000",
  };
}

std::string zlibCompress(const std::string& bytes) {
  uLongf n = compressBound(bytes.size());
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(bytes.data()),
           bytes.size());
  out.resize(n);
  return out;
}

namespace {
struct Cursor {
  const std::string& s;
  size_t pos = 0;
  bool ok = true;
  template <typename T>
  T get() {
    T v{};
    if (pos + sizeof v > s.size()) {
      ok = false;
      return v;
    }
    memcpy(&v, s.data() + pos, sizeof v);
    pos += sizeof v;
    return v;
  }
  std::string record() {
    if (pos + 252 > s.size() || s[pos + 250] != 13 || s[pos + 251] != 10) {
      ok = false;
      return {};
    }
    std::string text(s.data() + pos);
    pos += 252;
    return text;
  }
};
}  // namespace

ParsedFile parseIMC2(const std::string& content, uint32_t numImages) {
  ParsedFile f;
  Cursor c{content};
  f.magic1 = c.get<uint32_t>();
  f.magic2 = c.get<uint32_t>();
  const uint32_t G = c.get<uint32_t>();
  if (c.get<uint8_t>() != 13 || c.get<uint8_t>() != 10 || G > 100) return f;
  for (uint32_t k = 0; k < G && c.ok; ++k) f.globals.push_back(c.record());
  for (uint32_t i = 0; i < numImages && c.ok; ++i) {
    ParsedImageBlock b;
    b.blockOffset = c.pos;
    b.lenUncompressed = c.get<uint64_t>();
    b.lenCompressed = c.get<uint64_t>();
    const uint32_t P = c.get<uint32_t>();
    if (c.get<uint8_t>() != 13 || c.get<uint8_t>() != 10 || P > 10) return f;
    for (uint32_t k = 0; k < P && c.ok; ++k) b.records.push_back(c.record());
    if (!c.ok || c.pos + b.lenCompressed > content.size()) return f;
    b.data = content.substr(c.pos, b.lenCompressed);
    c.pos += b.lenCompressed;
    f.images.push_back(std::move(b));
  }
  f.wellFormed = c.ok && c.pos == content.size();
  return f;
}
