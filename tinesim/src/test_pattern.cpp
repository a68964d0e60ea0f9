// The simulated camera's picture: a smooth scene (a bright spot drifting over
// a tilted background) with a few bits of sensor noise, which compresses
// about 2:1 with zlib like frames of a real camera, and the frame number in
// 8 x 8 blocks along the top rows, where no noise touches it.
#include <algorithm>
#include <cmath>

#include "state.h"

namespace tinesim {

namespace {

constexpr int kBitCell = 8;

int patternBits(int aiWidth, int aiHeight) {
  if (aiHeight < kBitCell) return 0;
  return std::min(32, aiWidth / kBitCell);
}

// Cheap, deterministic noise: the same frame number gives the same frame.
struct Noise {
  uint32_t state;
  explicit Noise(uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u) {
    if (state == 0) state = 1;
  }
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

// Scene brightness as a fraction of full scale: row and column parts, so one
// multiply-add per pixel renders it.
struct Scene {
  std::vector<float> column;  // background tilt along x
  std::vector<float> spotX;   // spot profile along x
  std::vector<float> row;     // background tilt along y
  std::vector<float> spotY;   // spot profile along y, times its height

  Scene(int w, int h, uint32_t number) : column(w), spotX(w), row(h), spotY(h) {
    const double phase = static_cast<double>(number);
    const double cx = w * (0.5 + 0.25 * std::sin(phase * 0.07));
    const double cy = h * (0.5 + 0.25 * std::cos(phase * 0.05));
    const double sx = std::max(1.0, w / 6.0), sy = std::max(1.0, h / 6.0);
    for (int x = 0; x < w; ++x) {
      column[x] = static_cast<float>(0.08 + 0.10 * x / w);
      const double d = (x - cx) / sx;
      spotX[x] = static_cast<float>(std::exp(-0.5 * d * d));
    }
    for (int y = 0; y < h; ++y) {
      row[y] = static_cast<float>(0.05 * y / h);
      const double d = (y - cy) / sy;
      spotY[y] = static_cast<float>(0.6 * std::exp(-0.5 * d * d));
    }
  }
  float at(int x, float rowPart, float spotRow) const {
    return column[x] + rowPart + spotRow * spotX[x];
  }
};

void writeFrameNumberBand(uint8_t* pixels, int w, int bytesPerPixel, bool wide, uint32_t full,
                          int bits, uint32_t number) {
  for (int y = 0; y < kBitCell; ++y) {
    uint8_t* row = pixels + static_cast<size_t>(y) * w * bytesPerPixel;
    for (int x = 0; x < w; ++x) {
      const int bit = x / kBitCell;
      const uint32_t v = (bit < bits && ((number >> bit) & 1u)) ? full : 0u;
      if (wide) {
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      } else {
        for (int c = 0; c < bytesPerPixel; ++c)
          row[x * bytesPerPixel + c] = static_cast<uint8_t>(v);
      }
    }
  }
}

}  // namespace

void renderPattern(const Property& p, uint32_t auiNumber, std::vector<uint8_t>& aPixels) {
  const int w = p.width, h = p.height;
  const bool wide = p.pixelFormat == TINESIM_GRAY16;
  const int bytesPerPixel = channelsOf(p.pixelFormat);
  const int effective = wide && p.effectiveBits >= 1 && p.effectiveBits <= 16 ? p.effectiveBits
                        : wide                                                ? 16
                                                                              : 8;
  const uint32_t full = (1u << effective) - 1u;
  // Two bits of noise on 8 and 12 bits, more on deeper sensors.
  const int noiseBits = std::clamp(effective - 10, 1, 6);
  const uint32_t noiseMask = (1u << std::min(noiseBits, effective)) - 1u;
  aPixels.resize(static_cast<size_t>(w) * h * bytesPerPixel);
  const int bits = patternBits(w, h);
  const int firstSceneRow = bits > 0 ? kBitCell : 0;
  if (bits > 0) writeFrameNumberBand(aPixels.data(), w, bytesPerPixel, wide, full, bits, auiNumber);

  const Scene scene(w, h, auiNumber);
  Noise noise(auiNumber);
  const float scale = static_cast<float>(full - noiseMask);
  for (int y = firstSceneRow; y < h; ++y) {
    uint8_t* row = aPixels.data() + static_cast<size_t>(y) * w * bytesPerPixel;
    const float rowPart = scene.row[y], spotRow = scene.spotY[y];
    if (wide) {
      for (int x = 0; x < w; ++x) {
        const uint32_t v = static_cast<uint32_t>(scene.at(x, rowPart, spotRow) * scale) +
                           (noise.next() & noiseMask);
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
    } else if (bytesPerPixel == 1) {
      for (int x = 0; x < w; ++x)
        row[x] = static_cast<uint8_t>(static_cast<uint32_t>(scene.at(x, rowPart, spotRow) * scale) +
                                      (noise.next() & noiseMask));
    } else {
      // Colour: a warm spot on a bluish background.
      for (int x = 0; x < w; ++x) {
        const float s = scene.at(x, rowPart, spotRow);
        const uint32_t random = noise.next();
        row[3 * x] = static_cast<uint8_t>(static_cast<uint32_t>(s * scale) + (random & noiseMask));
        row[3 * x + 1] = static_cast<uint8_t>(static_cast<uint32_t>(s * 0.8f * scale) +
                                              ((random >> 8) & noiseMask));
        row[3 * x + 2] = static_cast<uint8_t>(static_cast<uint32_t>((0.5f - 0.4f * s) * scale) +
                                              ((random >> 16) & noiseMask));
      }
    }
  }
}

}  // namespace tinesim

using namespace tinesim;

TINESIM_API int64_t tinesimPatternFrameNumber(const DIMAGE* apImage) {
  if (apImage == nullptr || apImage->frameBuffer == nullptr) return -1;
  const FRAMEHEADER& f = apImage->frameHeader;
  const int w = f.aoiWidth > 0 ? f.aoiWidth : f.sourceWidth;
  const int h = f.aoiHeight > 0 ? f.aoiHeight : f.sourceHeight;
  const int bpp = f.bytesPerPixel;
  const bool gray = f.imageFormat == CF_IMAGE_FORMAT_GRAY && (bpp == 1 || bpp == 2);
  const bool rgb = f.imageFormat == CF_IMAGE_FORMAT_RGB && bpp == 3;
  const int bits = patternBits(w, h);
  if ((!gray && !rgb) || bits == 0 || w <= 0 ||
      static_cast<int64_t>(w) * kBitCell * bpp > static_cast<int64_t>(apImage->frameBufferSize))
    return -1;
  uint32_t maximum = 255;
  if (bpp == 2)
    maximum = (f.effectiveBitsPerPixel >= 1 && f.effectiveBitsPerPixel <= 16)
                  ? (1u << f.effectiveBitsPerPixel) - 1u
                  : 0xFFFFu;
  const uint8_t* row = apImage->frameBuffer + static_cast<size_t>(kBitCell / 2) * w * bpp;
  uint32_t number = 0;
  for (int bit = 0; bit < bits; ++bit) {
    const uint8_t* pixel = row + static_cast<size_t>(bit * kBitCell + kBitCell / 2) * bpp;
    uint32_t v = bpp == 2 ? static_cast<uint32_t>(pixel[0] | (pixel[1] << 8)) : pixel[0];
    if (v > maximum / 2) number |= 1u << bit;
  }
  return number;
}
