// Every call that takes a DIMAGE, over a fuzzed header and frame buffer:
// validity rules, frame copy-out, sequence tests of two images.
#include <vector>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  qvfuzz::Input input(data, size);
  DIMAGE images[2];
  for (DIMAGE& image : images) {
    std::memset(&image, 0, sizeof image);
    const IMAGEHEADER header = input.take<IMAGEHEADER>();
    std::memcpy(&image, &header, sizeof header);
  }
  // The buffer's stated capacity never exceeds what it holds.
  std::vector<uint8_t> pixels(input.rest(), input.rest() + input.left());
  for (DIMAGE& image : images) {
    image.frameBuffer = pixels.empty() ? nullptr : pixels.data();
    image.frameBufferSize = static_cast<uint32_t>(pixels.size());
  }
  char reason[256];
  qvCheckImageValidity(&images[0], reason, sizeof reason);
  std::vector<uint8_t> out(4096);
  int outSize = static_cast<int>(out.size());
  int width, height, kind, bytes, bits;
  qvGetFrameFromDIMAGE(out.data(), &outSize, &images[0], &width, &height, &kind, &bytes, &bits,
                       nullptr);
  QVBUNCHOFIMAGES bunch = {images, 2};
  qvIsSequence(&bunch);
  qvIsCompleteSequence(&bunch);
  return 0;
}
