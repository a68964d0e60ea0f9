// JPEG coding of simulated frames into memory, for the properties that
// deliver JPEG streams.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <memory>

#include "state.h"

namespace tinesim {

namespace {

struct MemoryDestination {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* out;
  uint8_t chunk[65536];
};

void initDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  dest->out->clear();
  dest->pub.next_output_byte = dest->chunk;
  dest->pub.free_in_buffer = sizeof dest->chunk;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  dest->out->insert(dest->out->end(), dest->chunk, dest->chunk + sizeof dest->chunk);
  dest->pub.next_output_byte = dest->chunk;
  dest->pub.free_in_buffer = sizeof dest->chunk;
  return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  size_t used = sizeof dest->chunk - dest->pub.free_in_buffer;
  dest->out->insert(dest->out->end(), dest->chunk, dest->chunk + used);
}

}  // namespace

void encodeJpeg(const std::vector<uint8_t>& aPixels, int aiWidth, int aiHeight, int aiChannels,
                std::vector<uint8_t>& aOut) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  auto dest = std::make_unique<MemoryDestination>();
  dest->out = &aOut;
  dest->pub.init_destination = initDestination;
  dest->pub.empty_output_buffer = emptyOutputBuffer;
  dest->pub.term_destination = termDestination;
  cinfo.dest = &dest->pub;
  cinfo.image_width = static_cast<JDIMENSION>(aiWidth);
  cinfo.image_height = static_cast<JDIMENSION>(aiHeight);
  cinfo.input_components = aiChannels;
  cinfo.in_color_space = aiChannels == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(aPixels.data() + static_cast<size_t>(cinfo.next_scanline) *
                                                             aiWidth * aiChannels);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

}  // namespace tinesim
