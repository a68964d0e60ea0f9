// Writes the seed corpora of the fuzz targets with the library's own writers:
// every sequence format with small frames and several frame counts, with
// truncated copies; BMP pictures; JPEG frames behind their headers; system
// lists, metadata records, time texts and TINE names.
//   fuzz_seeds OUTDIR   -> OUTDIR/<target>/<seed files>
#include <sys/stat.h>

#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_out;

void writeSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string folder = g_out + "/" + target;
  ::mkdir(folder.c_str(), 0777);
  std::ofstream(folder + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void writeSeed(const std::string& target, const std::string& name, const std::string& text) {
  writeSeed(target, name, Bytes(text.begin(), text.end()));
}

Bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes prefixed(uint8_t first, const Bytes& rest) {
  Bytes bytes(rest.size() + 1);
  bytes[0] = first;
  std::copy(rest.begin(), rest.end(), bytes.begin() + 1);
  return bytes;
}

// A whole file and its cut copies: half, and all but the last byte.
void writeWithTruncations(const std::string& target, const std::string& name, const Bytes& file) {
  writeSeed(target, name, file);
  writeSeed(target, name + ".half",
            Bytes(file.begin(), file.begin() + static_cast<long>(file.size() / 2)));
  if (!file.empty()) writeSeed(target, name + ".cut1", Bytes(file.begin(), file.end() - 1));
}

// A small sequence of valid images with a gradient and frame numbers.
void fillBunch(QVBUNCHOFIMAGES& bunch, uint32_t frames, int width, int height, int bytesPerPixel,
               int format) {
  const uint32_t frameBytes = static_cast<uint32_t>(width * height * bytesPerPixel);
  qvInitializeBunchStructure(&bunch);
  qvCreateBunchStructure(&bunch, frames, frameBytes);
  for (uint32_t i = 0; i < frames; ++i) {
    DIMAGE& image = bunch.imageArray[i];
    std::memset(&image, 0, QV_HDR_IMAGE_SIZE);
    image.sourceHeader.baseTag = QV_BASE_TAG;
    image.sourceHeader.versionTag = 1;
    image.sourceHeader.cameraPortId = i == 0 ? 7 : 7;
    std::snprintf(image.sourceHeader.cameraPortName, sizeof image.sourceHeader.cameraPortName,
                  "/FUZZ/CAM");
    image.sourceHeader.timestampSeconds = 1700000000u + i;
    image.sourceHeader.timestampMicroseconds = 1000u * i;
    FRAMEHEADER& f = image.frameHeader;
    f.sourceWidth = width;
    f.sourceHeight = height;
    f.aoiWidth = f.aoiHeight = -1;
    f.bytesPerPixel = bytesPerPixel;
    f.effectiveBitsPerPixel = bytesPerPixel == 2 ? 12 : 8;
    f.horizontalBinning = f.verticalBinning = 1;
    f.sourceFormat = f.imageFormat = format;
    f.frameNumber = i + 1;
    f.eventNumber = 100 + i;
    f.xScale = f.yScale = 0.5f;
    f.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
    f.appendedFrameSize = static_cast<int32_t>(frameBytes);
    image.sourceHeader.totalLength = QV_HDR_IMAGE_SIZE + frameBytes;
    for (uint32_t p = 0; p < frameBytes; ++p)
      image.frameBuffer[p] = static_cast<uint8_t>(p * 3 + i);
  }
}

Bytes savedAs(QVBUNCHOFIMAGES& bunch, const std::string& extension) {
  const std::string path = g_out + "/.scratch" + extension;
  std::remove(path.c_str());
  if (qvSaveImagesToFile(&bunch, path.c_str()) != 0) return {};
  Bytes bytes = readAll(path);
  std::remove(path.c_str());
  return bytes;
}

void sequenceSeeds() {
  struct Shape {
    uint32_t frames;
    int width, height, bytes, format;
  } shapes[] = {{1, 8, 4, 1, CF_IMAGE_FORMAT_GRAY},
                {3, 16, 8, 2, CF_IMAGE_FORMAT_GRAY},
                {2, 4, 4, 3, CF_IMAGE_FORMAT_RGB}};
  int n = 0;
  for (const Shape& s : shapes) {
    QVBUNCHOFIMAGES bunch;
    fillBunch(bunch, s.frames, s.width, s.height, s.bytes, s.format);
    const std::string stem = "seq" + std::to_string(++n);
    for (const char* extension : {".imc2", ".imc", ".bkc", ".imm", ".bkg"}) {
      const Bytes file = savedAs(bunch, extension);
      if (file.empty()) continue;
      const std::string name = stem + extension;
      writeWithTruncations("load_any", name, file);
      writeSeed("probes", name, file);
      const std::string ext = extension;
      if (ext == ".imm") writeWithTruncations("imm", name, file);
      if (ext == ".bkg") writeWithTruncations("bkg", name, file);
      if (ext == ".imc" || ext == ".bkc")
        for (uint8_t choice : {0, 1, 2 | (2 << 2), 2 | (4 << 2)})
          writeSeed("imc_bkc", name + "." + std::to_string(choice), prefixed(choice, file));
      if (ext == ".imc2") {
        // The records alone, as the metadata parser meets them.
        writeSeed("metadata", name, Bytes(file.begin() + 14, file.begin() + 14 + 252 * 3));
      }
    }
    // Headers and pixels of the first two images, as the validity target reads them.
    Bytes headers(reinterpret_cast<const uint8_t*>(&bunch.imageArray[0]),
                  reinterpret_cast<const uint8_t*>(&bunch.imageArray[0]) + QV_HDR_IMAGE_SIZE);
    const DIMAGE& second = bunch.imageArray[s.frames > 1 ? 1 : 0];
    headers.insert(headers.end(), reinterpret_cast<const uint8_t*>(&second),
                   reinterpret_cast<const uint8_t*>(&second) + QV_HDR_IMAGE_SIZE);
    headers.insert(
        headers.end(), bunch.imageArray[0].frameBuffer,
        bunch.imageArray[0].frameBuffer + bunch.imageArray[0].frameHeader.appendedFrameSize);
    writeSeed("validity", stem, headers);
    qvFreeBunch(&bunch);
  }
}

void bmpSeeds() {
  QVBUNCHOFIMAGES bunch;
  fillBunch(bunch, 1, 9, 5, 1, CF_IMAGE_FORMAT_GRAY);
  VIDINFHDR vinf;
  initialize_vidinfhdr(&vinf);
  if (qvBunchToVIDINFHDR(&bunch, &vinf) == 1) {
    for (int palette = 0; palette < 3; ++palette) {
      const std::string prefix = g_out + "/.bmp" + std::to_string(palette) + "_";
      if (save_bmp_files(prefix.c_str(), &vinf, palette, 2) != 0) continue;
      const std::string path = prefix + "001.bmp";
      const Bytes file = readAll(path);
      std::remove(path.c_str());
      writeSeed("bmp", "palette" + std::to_string(palette), prefixed(0, file));
      writeSeed("bmp", "palette" + std::to_string(palette) + ".indices", prefixed(1, file));
    }
  }
  free_vidinfhdr(&vinf);
  qvFreeBunch(&bunch);
}

Bytes jpegOf(int width, int height, int components) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width * components));
  while (cinfo.next_scanline < cinfo.image_height) {
    for (size_t x = 0; x < row.size(); ++x)
      row[x] = static_cast<uint8_t>(x * 5 + cinfo.next_scanline * 3);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

void jpegSeeds() {
  struct Shape {
    int width, height, components;
  } shapes[] = {{16, 8, 1}, {8, 8, 3}, {17, 9, 3}};
  for (const Shape& s : shapes) {
    const Bytes stream = jpegOf(s.width, s.height, s.components);
    DIMAGE header;
    std::memset(&header, 0, sizeof header);
    header.frameHeader.sourceWidth = s.width - 1;  // the target adds one
    header.frameHeader.sourceHeight = s.height - 1;
    Bytes seed{static_cast<uint8_t>(s.components == 3 ? 3 : 1)};
    seed.insert(seed.end(), reinterpret_cast<const uint8_t*>(&header),
                reinterpret_cast<const uint8_t*>(&header) + QV_HDR_IMAGE_SIZE);
    seed.insert(seed.end(), stream.begin(), stream.end());
    const std::string name = "jpeg" + std::to_string(s.width) + "x" + std::to_string(s.height) +
                             "x" + std::to_string(s.components);
    writeSeed("jpeg", name, seed);
  }
}

void textSeeds() {
  const char* lists[] = {
      "<QVv3><Name>Lab</Name><TineContext>LABCTX</TineContext><ComponentList>"
      "<ImageSources><ImageSource><NameID>cam1=4711</NameID><SGPType>PCVision</SGPType></"
      "ImageSource>"
      "<ImageSource><NameID>12=cam2</NameID><SGPType>PCVision</SGPType></ImageSource></"
      "ImageSources>"
      "<SGPs><SGP><Name>server1</Name><Type>PCVision</Type></SGP></SGPs>"
      "</ComponentList></QVv3>",
      "<?xml "
      "version=\"1.0\"?><QVv3><Name>x</Name><TineContext>C</TineContext><ComponentList/></QVv3>",
  };
  int n = 0;
  for (const char* list : lists)
    writeSeed("syslist", "list" + std::to_string(++n) + ".xml", std::string(list));
  for (const char* text : {"2026-12-09 22:14:09.887652 UTC", "2023-11-14 10:13:20.000001 PM UTC",
                           "1970-01-01 00:00:00.000000 UTC"})
    writeSeed("timetext", std::to_string(++n), std::string(text));
  for (const char* text : {"/SIM/VIDEO/CAM1", "/CONTEXT/SERVER/DEVICE/PROPERTY", "Frame",
                           "TIMER|CONNECT", "CM_DATACHANGE|CM_NETWORK", "EVENT"})
    writeSeed("tine_names", std::to_string(++n),
              prefixed(0, Bytes(text, text + std::strlen(text))));
  writeSeed(
      "metadata", "keys",
      std::string("number_of_images=3\nwidth_px=640\nscale_x_mm/px=0.500000\n"
                  "image_flags=LITTLE_ENDIAN\ntimestamp_utc=2026-12-09 22:14:09.887652 UTC\n"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
    return 2;
  }
  g_out = argv[1];
  ::mkdir(g_out.c_str(), 0777);
  qvSetVerbose(0);
  sequenceSeeds();
  bmpSeeds();
  jpegSeeds();
  textSeeds();
  return 0;
}
