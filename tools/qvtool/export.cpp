#include "export.h"

#include <cstdio>
#include <cstdlib>

#include "formats/png_picture.h"

namespace qvtool {

namespace {

// VIDINFHDR that frees itself.
struct LegacySequence {
  VIDINFHDR record;
  LegacySequence() { initialize_vidinfhdr(&record); }
  ~LegacySequence() { free_vidinfhdr(&record); }
};

// 16-bit frames become 8-bit ones holding the top of their effective bits,
// so the picture uses the whole grey range.
void narrowTo8Bits(VIDINFHDR& v) {
  const int shift = (v.ebpp > 8 && v.ebpp <= 16) ? v.ebpp - 8 : 8;
  const size_t pixels = static_cast<size_t>(v.width) * static_cast<size_t>(v.height);
  for (int i = 0; i < v.numframes; ++i) {
    unsigned char* frame = v.framebits[i];  // shrinking in place is safe front to back
    for (size_t p = 0; p < pixels; ++p) {
      const unsigned value =
          (static_cast<unsigned>(frame[2 * p]) | (static_cast<unsigned>(frame[2 * p + 1]) << 8)) >>
          shift;
      frame[p] = static_cast<unsigned char>(value > 255 ? 255 : value);
    }
  }
  v.bpp = 8;
  v.ebpp = 8;
}

// JPEG frames are decoded in place: pictures hold pixels.
std::optional<Problem> decodeJpegFrames(Bunch& bunch) {
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    if (bunch[i].frameHeader.imageFormat != CF_IMAGE_FORMAT_JPEG) continue;
    if (qvDecompressSequence(bunch.get(), 1) != 1)
      return Problem{"cannot decode the JPEG frames", ""};
    break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Problem> writePngFiles(Bunch& bunch, const std::string& prefix, uint32_t maxFrames) {
  if (auto problem = decodeJpegFrames(bunch)) return problem;
  const uint32_t count = maxFrames > 0 && maxFrames < bunch.size() ? maxFrames : bunch.size();
  for (uint32_t i = 0; i < count; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%03u", i + 1);
    std::string why;
    if (!qvformats::writePng(prefix + number + ".png", bunch[i], why))
      return Problem{"writing PNG picture " + std::to_string(i + 1) + " failed: " + why, why};
  }
  return std::nullopt;
}

std::optional<Problem> writeBmpFiles(Bunch& bunch, const std::string& prefix, int palette,
                                     uint32_t maxFrames) {
  if (auto problem = decodeJpegFrames(bunch)) return problem;
  const FRAMEHEADER& f = bunch[0].frameHeader;
  if (f.imageFormat != CF_IMAGE_FORMAT_GRAY)
    return Problem{"BMP export writes grey frames; these are " + pixelFormatName(f.imageFormat),
                   ""};
  LegacySequence legacy;
  VIDINFHDR& v = legacy.record;
  char reason[256] = "";
  int intact = 1;
  if (qvBunchToVIDINFHDREx2(bunch.get(), &v, reason, sizeof reason, 0, &intact) != 1)
    return Problem{std::string("cannot export these frames: ") + reason, reason};
  if (maxFrames > 0 && v.numframes > static_cast<int32_t>(maxFrames)) {
    for (int i = static_cast<int>(maxFrames); i < v.numframes; ++i) {
      std::free(v.framebits[i]);
      v.framebits[i] = nullptr;
    }
    v.numframes = static_cast<int32_t>(maxFrames);
  }
  if (v.bpp == 16) narrowTo8Bits(v);
  const int code = save_bmp_files(prefix.c_str(), &v, palette, 2);
  if (code != 0) {
    char text[128] = "";
    load_file__return_code_to_string(code, text, sizeof text);
    return Problem{"writing the BMP pictures failed: " + std::string(text), text};
  }
  return std::nullopt;
}

}  // namespace qvtool
