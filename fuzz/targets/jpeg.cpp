// JPEG frames: the header fields are fuzzed as well as the stream. Half of
// the inputs get a header that describes a JPEG frame of small size, so the
// decoder itself is reached; the rest keep the fuzzed header whole.
#include <vector>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  qvfuzz::Input input(data, size);
  const uint8_t mode = input.take<uint8_t>();
  DIMAGE image;
  std::memset(&image, 0, sizeof image);
  const IMAGEHEADER header = input.take<IMAGEHEADER>();
  std::memcpy(&image, &header, sizeof header);
  if (mode & 1) {
    FRAMEHEADER& f = image.frameHeader;
    f.imageFormat = CF_IMAGE_FORMAT_JPEG;
    f.sourceFormat = (mode & 2) ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY;
    f.bytesPerPixel = (mode & 2) ? 3 : 1;
    f.sourceWidth = 1 + (static_cast<uint8_t>(f.sourceWidth) % 64);
    f.sourceHeight = 1 + (static_cast<uint8_t>(f.sourceHeight) % 64);
    f.aoiWidth = f.aoiHeight = -1;
    f.effectiveBitsPerPixel = 8;
    image.sourceHeader.baseTag = QV_BASE_TAG;
    image.sourceHeader.versionTag = 1;
  }
  std::vector<uint8_t> stream(input.rest(), input.rest() + input.left());
  image.frameBuffer = stream.empty() ? nullptr : stream.data();
  image.frameBufferSize = static_cast<uint32_t>(stream.size());
  if (mode & 1) {
    image.frameHeader.appendedFrameSize = static_cast<int32_t>(stream.size());
    image.sourceHeader.totalLength = static_cast<uint32_t>(QV_HDR_IMAGE_SIZE + stream.size());
  }

  DIMAGE decoded;
  std::memset(&decoded, 0, sizeof decoded);
  if (qvDecompressImage(&decoded, &image) == 1) std::free(decoded.frameBuffer);

  std::vector<uint8_t> out(64 * 64 * 3);
  int outSize = static_cast<int>(out.size());
  int width, height, kind, bytes, bits;
  qvGetFrameFromDIMAGE(out.data(), &outSize, &image, &width, &height, &kind, &bytes, &bits,
                       nullptr);

  // In place works on a buffer of the library's heap, as the caller's record would be.
  DIMAGE* owned = qvInitializeImageEx(static_cast<int>(stream.size()));
  if (owned != nullptr) {
    uint8_t* buffer = owned->frameBuffer;
    const uint32_t capacity = owned->frameBufferSize;
    std::memcpy(owned, &image, QV_HDR_IMAGE_SIZE);
    owned->frameBuffer = buffer;
    owned->frameBufferSize = capacity;
    if (buffer != nullptr && !stream.empty()) std::memcpy(buffer, stream.data(), stream.size());
    qvDecompressImageInPlace(owned);
    qvFreeImage(owned);
  }
  return 0;
}
