#include "processing/jpeg_decode.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// A progressive stream may carry an unbounded number of scans, each of which
// rereads the whole coefficient buffer; hostile data could keep the decoder
// busy for minutes. Real encoders write around ten.
constexpr int kMaxProgressiveScans = 500;

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

using qv::processing::JpegExpectedShape;

// Everything that must survive a longjmp lives here, outside the stack frame
// that calls setjmp, so no local variable is left indeterminate.
struct DecodeContext {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errorManager;
  jpeg_source_mgr source;
  jpeg_progress_mgr progress;
  std::jmp_buf jumpBack;

  const JOCTET* pJpeg;
  size_t iJpegLength;
  unsigned char* pOut;
  size_t iOutCapacity;
  const JpegExpectedShape* pExpected;

  int iWidth;
  int iHeight;
  int iFormat;
};

DecodeContext& contextOf(j_common_ptr cinfo) {
  // cinfo is the first member, so the context starts at the same address.
  return *reinterpret_cast<DecodeContext*>(cinfo);
}

// The standard manager would end the process; print as usual, then unwind
// to the decode call instead.
void errorExitToCaller(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(contextOf(cinfo).jumpBack, 1);
}

void stopRunawayProgressiveStream(j_common_ptr cinfo) {
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->progressive_mode && dinfo->input_scan_number > kMaxProgressiveScans) {
    std::longjmp(contextOf(cinfo).jumpBack, 1);
  }
}

void initMemorySource(j_decompress_ptr) {}

// The whole stream was offered at once, so any further request is an
// underrun: end the image there and let the decoder fill what is missing.
boolean feedEndOfImage(j_decompress_ptr cinfo) {
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = sizeof(kEndOfImage);
  return TRUE;
}

void skipMemoryInput(j_decompress_ptr cinfo, long aiNumBytes) {
  if (aiNumBytes <= 0) return;
  jpeg_source_mgr* pSrc = cinfo->src;
  if (static_cast<unsigned long>(aiNumBytes) > pSrc->bytes_in_buffer) {
    pSrc->bytes_in_buffer = 0;
    feedEndOfImage(cinfo);
    return;
  }
  pSrc->next_input_byte += aiNumBytes;
  pSrc->bytes_in_buffer -= static_cast<size_t>(aiNumBytes);
}

void termMemorySource(j_decompress_ptr) {}

void attachMemorySource(DecodeContext& ctx) {
  ctx.source.init_source = initMemorySource;
  ctx.source.fill_input_buffer = feedEndOfImage;
  ctx.source.skip_input_data = skipMemoryInput;
  ctx.source.resync_to_restart = jpeg_resync_to_restart;
  ctx.source.term_source = termMemorySource;
  ctx.source.next_input_byte = ctx.pJpeg;
  ctx.source.bytes_in_buffer = ctx.iJpegLength;
  ctx.cinfo.src = &ctx.source;
}

bool isSupportedLayout(const jpeg_decompress_struct& cinfo) {
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      return cinfo.num_components == 1;
    case JCS_RGB:
    case JCS_YCbCr:
      return cinfo.num_components == 3;
    default:
      return false;
  }
}

bool matchesExpectation(const jpeg_decompress_struct& cinfo, const JpegExpectedShape* pExpected) {
  if (pExpected == nullptr) return true;
  const int iComponents = cinfo.jpeg_color_space == JCS_GRAYSCALE ? 1 : 3;
  return static_cast<int64_t>(cinfo.image_width) == pExpected->iWidth &&
         static_cast<int64_t>(cinfo.image_height) == pExpected->iHeight &&
         iComponents == pExpected->iComponents;
}

// Returns false for a stream the caller's buffer or header cannot take.
// Every decoder error longjmps to the caller's setjmp, never back here.
bool decodeAfterSetjmp(DecodeContext& ctx) {
  jpeg_create_decompress(&ctx.cinfo);
  ctx.progress.progress_monitor = stopRunawayProgressiveStream;
  ctx.cinfo.progress = &ctx.progress;
  attachMemorySource(ctx);

  jpeg_read_header(&ctx.cinfo, TRUE);
  if (!isSupportedLayout(ctx.cinfo) || !matchesExpectation(ctx.cinfo, ctx.pExpected)) {
    return false;
  }
  const uint64_t iNeeded = static_cast<uint64_t>(ctx.cinfo.image_width) * ctx.cinfo.image_height *
                           static_cast<unsigned>(ctx.cinfo.num_components);
  if (iNeeded > ctx.iOutCapacity) return false;

  ctx.cinfo.out_color_space = ctx.cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&ctx.cinfo);

  // Scan lines go straight into the caller's rows; several at a time so the
  // decoder never needs its own intermediate row buffer.
  const size_t iRowBytes = static_cast<size_t>(ctx.cinfo.output_width) *
                           static_cast<unsigned>(ctx.cinfo.output_components);
  if (static_cast<uint64_t>(iRowBytes) * ctx.cinfo.output_height > ctx.iOutCapacity) return false;
  constexpr JDIMENSION kRowsPerCall = 16;
  JSAMPROW aRows[kRowsPerCall];
  while (ctx.cinfo.output_scanline < ctx.cinfo.output_height) {
    const JDIMENSION iFirst = ctx.cinfo.output_scanline;
    JDIMENSION iCount = ctx.cinfo.output_height - iFirst;
    if (iCount > kRowsPerCall) iCount = kRowsPerCall;
    for (JDIMENSION i = 0; i < iCount; ++i) aRows[i] = ctx.pOut + (iFirst + i) * iRowBytes;
    if (jpeg_read_scanlines(&ctx.cinfo, aRows, iCount) == 0) return false;
  }
  jpeg_finish_decompress(&ctx.cinfo);

  ctx.iWidth = static_cast<int>(ctx.cinfo.output_width);
  ctx.iHeight = static_cast<int>(ctx.cinfo.output_height);
  ctx.iFormat = ctx.cinfo.out_color_space == JCS_RGB ? 1 : 0;
  return true;
}

bool runDecode(DecodeContext& ctx) {
  ctx.cinfo.err = jpeg_std_error(&ctx.errorManager);
  ctx.errorManager.error_exit = errorExitToCaller;
  if (setjmp(ctx.jumpBack) != 0) {
    jpeg_destroy_decompress(&ctx.cinfo);
    return false;
  }
  const bool bDecoded = decodeAfterSetjmp(ctx);
  jpeg_destroy_decompress(&ctx.cinfo);
  return bDecoded;
}

}  // namespace

bool _internal_jpegDecompressToMemory(const unsigned char* apJpeg, size_t aiJpegLength,
                                      unsigned char* apOut, size_t aiOutCapacity, int* apiOutWidth,
                                      int* apiOutHeight, int* apiOutFormat,
                                      const JpegExpectedShape* apExpected) {
  if (apJpeg == nullptr || aiJpegLength == 0 || apOut == nullptr) return false;

  // Zeroed so that destroying an object whose creation failed is harmless.
  DecodeContext ctx;
  std::memset(&ctx, 0, sizeof(ctx));
  ctx.pJpeg = apJpeg;
  ctx.iJpegLength = aiJpegLength;
  ctx.pOut = apOut;
  ctx.iOutCapacity = aiOutCapacity;
  ctx.pExpected = apExpected;

  const bool bDecoded = runDecode(ctx);
  if (bDecoded) {
    if (apiOutWidth) *apiOutWidth = ctx.iWidth;
    if (apiOutHeight) *apiOutHeight = ctx.iHeight;
    if (apiOutFormat) *apiOutFormat = ctx.iFormat;
  }
  return bDecoded;
}
