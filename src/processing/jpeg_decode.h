// Memory-to-memory JPEG decoding over the IJG interface of libjpeg.
#pragma once

#include <cstddef>

namespace qv::processing {

// What the caller's image header promises about the frame. A stream that
// disagrees is refused before any pixel is written, so a header can never
// describe pixels it does not hold.
struct JpegExpectedShape {
  int iWidth;
  int iHeight;
  int iComponents;  // bytes per decoded pixel: 1 grey, 3 colour
};

}  // namespace qv::processing

// Decodes one JPEG stream held in memory into apOut, rows from the top,
// width x components bytes each with no gap. On success sets width, height
// and format (0 grey, 1 RGB) and returns true; on any failure returns false
// and leaves the three outputs alone. A stream that ends early is decoded as
// far as it goes (the decoder fills the rest). apExpected may be null.
bool _internal_jpegDecompressToMemory(
    const unsigned char* apJpeg, size_t aiJpegLength, unsigned char* apOut, size_t aiOutCapacity,
    int* apiOutWidth, int* apiOutHeight, int* apiOutFormat,
    const qv::processing::JpegExpectedShape* apExpected = nullptr);
