// JPEG decoding against bare libjpeg on the same data, and the sequence
// filters against a plain memory copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "processing/jpeg_decode.h"
#include "quivox3/quivox3.h"

namespace {

constexpr int kFrames = 100;
constexpr int kWidth = 1280;
constexpr int kHeight = 1024;

using Bytes = std::vector<unsigned char>;

// Camera-like content: gradients, texture and noise, different per frame.
Bytes encodeFrame(int aiFrame, bool abColour) {
  const int iComponents = abColour ? 3 : 1;
  Bytes pixels(static_cast<size_t>(kWidth) * kHeight * iComponents);
  uint32_t iNoise = 12345u + static_cast<uint32_t>(aiFrame) * 7919u;
  size_t i = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < iComponents; ++c) {
        iNoise = iNoise * 1664525u + 1013904223u;
        const int v = (x + aiFrame * 3) / 5 + (y * (c + 1)) / 7 + ((x ^ y) & 15) +
                      static_cast<int>(iNoise >> 28);
        pixels[i++] = static_cast<unsigned char>(v & 0xFF);
      }
    }
  }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* pOut = nullptr;
  unsigned long iOutSize = 0;
  jpeg_mem_dest(&cinfo, &pOut, &iOutSize);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = iComponents;
  cinfo.in_color_space = abColour ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = pixels.data() + static_cast<size_t>(cinfo.next_scanline) * kWidth * iComponents;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes jpeg(pOut, pOut + iOutSize);
  std::free(pOut);
  return jpeg;
}

struct JpegSet {
  std::vector<DIMAGE> images;
  size_t iRawBytes = 0;
  explicit JpegSet(bool abColour) {
    const int iBytes = abColour ? 3 : 1;
    iRawBytes = static_cast<size_t>(kWidth) * kHeight * iBytes;
    for (int f = 0; f < kFrames; ++f) {
      const Bytes jpeg = encodeFrame(f, abColour);
      DIMAGE img;
      std::memset(&img, 0, sizeof(img));
      img.sourceHeader.baseTag = QV_BASE_TAG;
      img.frameHeader.sourceWidth = kWidth;
      img.frameHeader.sourceHeight = kHeight;
      img.frameHeader.bytesPerPixel = iBytes;
      img.frameHeader.imageFormat = CF_IMAGE_FORMAT_JPEG;
      img.frameHeader.appendedFrameSize = static_cast<int32_t>(jpeg.size());
      img.sourceHeader.totalLength = static_cast<uint32_t>(jpeg.size() + QV_HDR_IMAGE_SIZE);
      img.frameBufferSize = static_cast<uint32_t>(jpeg.size());
      img.frameBuffer = static_cast<uint8_t*>(std::malloc(jpeg.size()));
      std::memcpy(img.frameBuffer, jpeg.data(), jpeg.size());
      images.push_back(img);
    }
  }
  ~JpegSet() {
    for (DIMAGE& img : images) std::free(img.frameBuffer);
  }
};

JpegSet& jpegSet(bool abColour) {
  static JpegSet grey(false);
  static JpegSet colour(true);
  return abColour ? colour : grey;
}

// How a program would decode with libjpeg directly: memory source, output
// rows straight into one buffer.
void bareLibjpegDecode(const DIMAGE& aImg, unsigned char* apOut) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, aImg.frameBuffer,
               static_cast<unsigned long>(aImg.frameHeader.appendedFrameSize));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const size_t iRow = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
  JSAMPROW rows[16];
  while (cinfo.output_scanline < cinfo.output_height) {
    JDIMENSION n = cinfo.output_height - cinfo.output_scanline;
    if (n > 16) n = 16;
    for (JDIMENSION r = 0; r < n; ++r) rows[r] = apOut + (cinfo.output_scanline + r) * iRow;
    jpeg_read_scanlines(&cinfo, rows, n);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

void BM_Jpeg_BareLibjpeg(benchmark::State& state) {
  JpegSet& set = jpegSet(state.range(0) != 0);
  Bytes out(set.iRawBytes);
  for (auto _ : state) {
    for (const DIMAGE& img : set.images) bareLibjpegDecode(img, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kFrames * static_cast<int64_t>(set.iRawBytes));
}

// The exported call, including the allocation of each decoded frame.
void BM_Jpeg_qvDecompressImage(benchmark::State& state) {
  JpegSet& set = jpegSet(state.range(0) != 0);
  for (auto _ : state) {
    for (DIMAGE& img : set.images) {
      DIMAGE out;
      if (qvDecompressImage(&out, &img) != 1) state.SkipWithError("decode failed");
      benchmark::DoNotOptimize(out.frameBuffer);
      std::free(out.frameBuffer);
    }
  }
  state.SetBytesProcessed(state.iterations() * kFrames * static_cast<int64_t>(set.iRawBytes));
}

void BM_Jpeg_InternalDecoder(benchmark::State& state) {
  JpegSet& set = jpegSet(state.range(0) != 0);
  Bytes out(set.iRawBytes);
  for (auto _ : state) {
    for (const DIMAGE& img : set.images) {
      if (!_internal_jpegDecompressToMemory(img.frameBuffer,
                                            static_cast<size_t>(img.frameHeader.appendedFrameSize),
                                            out.data(), out.size(), nullptr, nullptr, nullptr)) {
        state.SkipWithError("decode failed");
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kFrames * static_cast<int64_t>(set.iRawBytes));
}

// ------------------------------------------------------------------ filters

constexpr size_t kFrameBytes16 = static_cast<size_t>(kWidth) * kHeight * 2;
constexpr int64_t kSequenceBytes = static_cast<int64_t>(kFrameBytes16) * kFrames;

struct Sequence16 {
  VIDINFHDR v;
  Sequence16() {
    std::memset(&v, 0, sizeof(v));
    v.width = kWidth;
    v.height = kHeight;
    v.bpp = 16;
    v.ebpp = 12;
    v.scale = 1.0;
    v.numframes = kFrames;
    v.type = 1;
    v.framebits = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*) * kFrames));
    v.framescales = static_cast<double*>(std::malloc(sizeof(double) * kFrames));
    uint32_t iNoise = 99u;
    for (int f = 0; f < kFrames; ++f) {
      v.framescales[f] = 1.0;
      auto* p = static_cast<uint16_t*>(std::malloc(kFrameBytes16));
      for (size_t i = 0; i < kFrameBytes16 / 2; ++i) {
        iNoise = iNoise * 1664525u + 1013904223u;
        // Background around 1000 with a spike now and then.
        p[i] = static_cast<uint16_t>(900 + (iNoise >> 25) + ((iNoise & 0xFFF) == 0 ? 3000 : 0));
      }
      v.framebits[f] = reinterpret_cast<unsigned char*>(p);
    }
  }
  void refillFrom(const Sequence16& aOther) {
    for (int f = 0; f < kFrames; ++f)
      std::memcpy(v.framebits[f], aOther.v.framebits[f], kFrameBytes16);
  }
  ~Sequence16() {
    if (v.framebits != nullptr) {
      for (int f = 0; f < v.numframes; ++f) std::free(v.framebits[f]);
    }
    std::free(v.framebits);
    std::free(v.framescales);
  }
};

Sequence16& source16() {
  static Sequence16 seq;
  return seq;
}

void BM_Filter_Memcpy(benchmark::State& state) {
  Sequence16& src = source16();
  Sequence16 dst;
  for (auto _ : state) {
    dst.refillFrom(src);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kSequenceBytes);
}

void BM_Filter_Normalize(benchmark::State& state) {
  Sequence16 work;
  for (auto _ : state) {
    state.PauseTiming();
    work.refillFrom(source16());
    state.ResumeTiming();
    if (normalizeframes(&work.v) != 0) state.SkipWithError("normalizeframes failed");
  }
  state.SetBytesProcessed(state.iterations() * kSequenceBytes);
}

void BM_Filter_Xray(benchmark::State& state) {
  Sequence16 work;
  for (auto _ : state) {
    state.PauseTiming();
    work.refillFrom(source16());
    state.ResumeTiming();
    if (xrayfilter(&work.v) != 0) state.SkipWithError("xrayfilter failed");
  }
  state.SetBytesProcessed(state.iterations() * kSequenceBytes);
}

// convert_format collapses the record it is given; each run gets a fresh one.
void BM_Filter_ConvertFormat(benchmark::State& state) {
  const int iMode = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto* pWork = new Sequence16;
    pWork->refillFrom(source16());
    state.ResumeTiming();
    if (convert_format(&pWork->v, 3, iMode) != 0) state.SkipWithError("convert_format failed");
    state.PauseTiming();
    delete pWork;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * kSequenceBytes);
}

// Both sequences are read (B twice); bytes counted are those of A and B.
void BM_Filter_SignificanceMap(benchmark::State& state) {
  Sequence16& seq = source16();
  for (auto _ : state) {
    VIDINFHDR map;
    std::memset(&map, 0, sizeof(map));
    map.type = -1;
    if (calculate_significance_map(&seq.v, &seq.v, &map, 2.0) != 0) {
      state.SkipWithError("significance map failed");
    }
    std::free(map.framebits[0]);
    std::free(map.framebits);
    std::free(map.framescales);
  }
  state.SetBytesProcessed(state.iterations() * 2 * kSequenceBytes);
}

}  // namespace

// Grey (0) and colour (1); each decoder of the library right after bare
// libjpeg on the same frames, so that the ratios compare like with like.
BENCHMARK(BM_Jpeg_BareLibjpeg)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_qvDecompressImage)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_InternalDecoder)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_BareLibjpeg)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_qvDecompressImage)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_InternalDecoder)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Filter_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter_Normalize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter_Xray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter_ConvertFormat)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter_SignificanceMap)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
