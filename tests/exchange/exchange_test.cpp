// Files of every format are the same bytes whichever platform's build of the
// library wrote them, and each build reads the other's. With
// QV_EXCHANGE_DIR naming a folder shared by a Linux and a Windows run, each
// run writes its own files there and compares them with the other's; with
// QV_EXCHANGE_EXPECT_PEER=1 the other's files must be there. `./qv windows`
// runs it on Linux, under wine, then on Linux again. Without the folder the
// files only go round trip in a temporary one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"
#include "support/bunch.h"
#include "support/tempdir.h"

namespace {

#if defined(_WIN32)
constexpr const char* kOwn = "windows";
constexpr const char* kPeer = "linux";
#else
constexpr const char* kOwn = "linux";
constexpr const char* kPeer = "windows";
#endif

// 16-bit frames of 12 effective bits, 8-bit frames and RGB frames, each
// frame and pixel different.
uint8_t pixelByte(uint32_t image, size_t byte, int bytesPerSample) {
  const uint32_t value = static_cast<uint32_t>(image * 7919u + byte * 31u + (byte >> 7));
  if (bytesPerSample == 2 && byte % 2 == 1) return static_cast<uint8_t>(value & 0x0f);
  return static_cast<uint8_t>(value);
}

void makeSample(TestBunch& bunch, uint32_t frames, int32_t bytesPerPixel, int32_t format) {
  const int bytesPerSample = format == CF_IMAGE_FORMAT_RGB ? 1 : bytesPerPixel;
  makeBunch(bunch, frames, 64, 48, bytesPerPixel, format,
            [bytesPerSample](uint32_t image, size_t byte) {
              return pixelByte(image, byte, bytesPerSample);
            });
}

bool sameFrames(QVBUNCHOFIMAGES& expected, QVBUNCHOFIMAGES& got) {
  if (expected.numFrames != got.numFrames) return false;
  for (uint32_t i = 0; i < got.numFrames; ++i) {
    const DIMAGE &a = expected.imageArray[i], &b = got.imageArray[i];
    if (a.frameHeader.appendedFrameSize != b.frameHeader.appendedFrameSize ||
        std::memcmp(a.frameBuffer, b.frameBuffer, a.frameHeader.appendedFrameSize) != 0)
      return false;
  }
  return true;
}

// The sequence formats, written and read through the library's calls.
struct Sample {
  const char* name;  // file name after the platform's prefix
  uint32_t frames;
  int32_t bytesPerPixel;
  int32_t format;
};
constexpr Sample kSequences[] = {
    {"gray16.imc2", 3, 2, CF_IMAGE_FORMAT_GRAY}, {"gray8.bkc2", 3, 1, CF_IMAGE_FORMAT_GRAY},
    {"rgb.imc2", 3, 3, CF_IMAGE_FORMAT_RGB},     {"gray16.imm", 3, 2, CF_IMAGE_FORMAT_GRAY},
    {"gray16.imc", 3, 2, CF_IMAGE_FORMAT_GRAY},  {"gray8.bkc", 3, 1, CF_IMAGE_FORMAT_GRAY},
    {"gray16.bkg", 1, 2, CF_IMAGE_FORMAT_GRAY},  // a background: one frame
};

class Exchange {
 public:
  Exchange() {
    if (const char* shared = std::getenv("QV_EXCHANGE_DIR"); shared != nullptr && *shared != 0)
      m_folder = shared;
    else
      m_folder = m_private.path();
  }

  std::string own(const std::string& name) const { return m_folder + "/" + kOwn + "-" + name; }
  std::string peer(const std::string& name) const { return m_folder + "/" + kPeer + "-" + name; }

  // Ours and the other platform's file, when there is one, must be the same bytes.
  void compareWithPeer(const std::string& name) {
    const std::string theirs = peer(name);
    if (!fileExists(theirs)) return;
    ++m_compared;
    EXPECT_TRUE(readFile(own(name)) == readFile(theirs))
        << name << ": " << kOwn << " and " << kPeer << " wrote different bytes";
  }
  int compared() const { return m_compared; }

 private:
  TempDir m_private;
  std::string m_folder;
  int m_compared = 0;
};

TEST(PlatformExchange, EveryFormatIsTheSameBytesOnLinuxAndWindows) {
  Exchange exchange;
  for (const Sample& sample : kSequences) {
    SCOPED_TRACE(sample.name);
    TestBunch frames;
    makeSample(frames, sample.frames, sample.bytesPerPixel, sample.format);
    const std::string path = exchange.own(sample.name);
    std::remove(path.c_str());
    ASSERT_EQ(qvSaveImagesToFile(frames.get(), path.c_str()), QV_E_NONE);
    for (const std::string& file : {path, exchange.peer(sample.name)}) {
      if (file != path && !fileExists(file)) continue;
      TestBunch back;
      ASSERT_EQ(qvLoadImagesFromFile(file.c_str(), back.get()), QV_E_NONE) << file;
      EXPECT_TRUE(sameFrames(*frames.get(), *back.get())) << file;
    }
    exchange.compareWithPeer(sample.name);
  }

  // BMP: one file per frame of an 8-bit record, with a palette.
  TestBunch grey8;
  makeSample(grey8, 3, 1, CF_IMAGE_FORMAT_GRAY);
  VIDINFHDR record;
  initialize_vidinfhdr(&record);
  ASSERT_EQ(qvBunchToVIDINFHDR(grey8.get(), &record), 1);
  for (int frame = 1; frame <= 3; ++frame)
    std::remove(exchange.own("bmp-00" + std::to_string(frame) + ".bmp").c_str());
  EXPECT_EQ(save_bmp_files(exchange.own("bmp-").c_str(), &record, QV_PALETTE_BLUE_GREEN_RED,
                           QV_BMP_DIGITS_3),
            QV_E_NONE);
  for (int frame = 1; frame <= 3; ++frame) {
    const std::string name = "bmp-00" + std::to_string(frame) + ".bmp";
    VIDINFHDR back;
    initialize_vidinfhdr(&back);
    EXPECT_EQ(load_bmp_file(exchange.own(name).c_str(), &back, 1), 0) << name;
    ASSERT_EQ(back.numframes, 1) << name;
    EXPECT_EQ(std::memcmp(back.framebits[0], record.framebits[frame - 1], 64 * 48), 0) << name;
    free_vidinfhdr(&back);
    exchange.compareWithPeer(name);
  }
  free_vidinfhdr(&record);

  std::printf("compared %d files with the %s build's\n", exchange.compared(), kPeer);
  RecordProperty("files_compared", exchange.compared());
  if (const char* expect = std::getenv("QV_EXCHANGE_EXPECT_PEER"); expect && expect[0] == '1') {
    EXPECT_EQ(exchange.compared(), static_cast<int>(std::size(kSequences)) + 3)
        << "the " << kPeer << " build's files are missing";
  }
}

}  // namespace
