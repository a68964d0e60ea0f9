// The stand-in's own promises that the grabs and later users rely on.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "tine_fixture.h"

namespace {

using StandIn = TineTest;

struct Receiver {
  std::vector<uint8_t> pixels;
  DIMAGE image{};
  DTYPE dout{};
  explicit Receiver(size_t capacity) : pixels(capacity) {
    image.frameBuffer = pixels.data();
    image.frameBufferSize = static_cast<uint32_t>(capacity);
    dout.dFormat = CF_IMAGE;
    dout.dArrayLength = static_cast<uint32_t>(capacity);
    dout.data.vptr = &image;
  }
  int read(const char* address, const char* property = "Frame") {
    return alsnExecLinkEx(address, property, &dout, nullptr, CA_READ, 100, nullptr);
  }
};

TEST_F(StandIn, DefaultServerNeedsNoSetUp) {
  Receiver r(640 * 480 * 2);
  ASSERT_EQ(r.read("/sim/video/cam1", "FRAME"), 0);  // names ignore case
  EXPECT_EQ(r.image.sourceHeader.baseTag, QV_BASE_TAG);
  EXPECT_EQ(r.image.sourceHeader.versionTag, 1u);
  EXPECT_EQ(r.image.sourceHeader.totalLength, 188u + 640 * 480 * 2);
  EXPECT_EQ(r.image.frameHeader.imageFormat, CF_IMAGE_FORMAT_GRAY);
  EXPECT_EQ(r.image.frameHeader.effectiveBitsPerPixel, 12);
  EXPECT_EQ(qvCheckImageValidity(&r.image, nullptr, 0), 1);
  uint16_t largest = 0;
  for (size_t i = 0; i < r.pixels.size(); i += 2)
    largest =
        std::max<uint16_t>(largest, static_cast<uint16_t>(r.pixels[i] | r.pixels[i + 1] << 8));
  EXPECT_EQ(largest, 4095);  // 12 effective bits
  EXPECT_EQ(r.read(kCam1), 0);
  EXPECT_EQ(r.image.frameHeader.frameNumber, 2u);
  EXPECT_EQ(tinesimPatternFrameNumber(&r.image), 2);
}

TEST_F(StandIn, ShortBufferGetsTheFirstBytesOnly) {
  Receiver r(1000);
  ASSERT_EQ(r.read(kCam1), 0);
  EXPECT_EQ(r.image.frameHeader.appendedFrameSize, 1000);
  EXPECT_EQ(r.image.frameBufferSize, 1000u);
  EXPECT_EQ(r.image.frameBuffer, r.pixels.data());
}

TEST_F(StandIn, NumberingAndPatternFormats) {
  for (int format : {TINESIM_GRAY8, TINESIM_GRAY16, TINESIM_RGB24}) {
    tinesimAddImageProperty("/T/V/P", "Frame", 300, 20, format);
    tinesimSetFrameNumbering("/T/V/P", "Frame", 0xABCDE, 5, 2);
    Receiver r(300 * 20 * 3);
    const uint32_t expected[] = {0xABCDE, 0xABCDE, 0xABCDE, 0xABCE3};
    for (uint32_t number : expected) {
      ASSERT_EQ(r.read("/T/V/P"), 0);
      EXPECT_EQ(r.image.frameHeader.frameNumber, number) << format;
      EXPECT_EQ(tinesimPatternFrameNumber(&r.image), number) << format;
      EXPECT_EQ(qvCheckImageValidity(&r.image, nullptr, 0), 1);
    }
  }
}

int countingGenerator(void* user, uint32_t number, DIMAGE* header, uint8_t* pixels,
                      uint32_t capacity) {
  auto* calls = static_cast<std::atomic<int>*>(user);
  ++*calls;
  if (number == 3) return -9;  // deliver completion code 9
  std::memset(pixels, static_cast<int>(number), capacity);
  header->frameHeader.eventNumber = 1000 + number;
  return static_cast<int>(capacity);
}

TEST_F(StandIn, GeneratorAndReadScripts) {
  std::atomic<int> calls{0};
  tinesimAddImageProperty("/T/V/G", "Frame", 8, 8, TINESIM_GRAY8);
  tinesimSetGenerator("/T/V/G", "Frame", countingGenerator, &calls);
  const int codes[] = {5, 0, 6};
  tinesimScriptReads("/T/V/G", "Frame", codes, 3, 0);
  Receiver r(64);
  EXPECT_EQ(r.read("/T/V/G"), 5);
  EXPECT_EQ(r.read("/T/V/G"), 0);
  EXPECT_EQ(r.image.frameHeader.eventNumber, 1001u);
  EXPECT_EQ(r.pixels[63], 1);
  EXPECT_EQ(r.read("/T/V/G"), 6);
  EXPECT_EQ(r.read("/T/V/G"), 0);
  EXPECT_EQ(r.read("/T/V/G"), 9);
  EXPECT_EQ(calls.load(), 3);
  EXPECT_EQ(r.read("/NO/SUCH/DEV"), 4);
  EXPECT_EQ(r.read("/T/V/G", "Nothing"), 3);
}

TEST_F(StandIn, ReplayOfABunch) {
  QVBUNCHOFIMAGES source;
  qvInitializeBunchStructure(&source);
  ASSERT_EQ(qvCreateBunchStructure(&source, 2, 16), 1);
  for (uint32_t i = 0; i < 2; ++i) {
    DIMAGE& image = source.imageArray[i];
    std::memset(&image, 0, QV_HDR_IMAGE_SIZE);
    image.sourceHeader.baseTag = QV_BASE_TAG;
    image.frameHeader.sourceWidth = 4;
    image.frameHeader.sourceHeight = 4;
    image.frameHeader.bytesPerPixel = 1;
    image.frameHeader.frameNumber = 70 + i;
    image.frameHeader.appendedFrameSize = 16;
    image.sourceHeader.totalLength = 188 + 16;
    std::memset(image.frameBuffer, static_cast<int>(i + 1), 16);
  }
  tinesimAddImageProperty("/T/V/R", "Frame", 4, 4, TINESIM_GRAY8);
  ASSERT_EQ(tinesimSetReplay("/T/V/R", "Frame", &source, 1), 0);
  qvFreeBunch(&source);  // the stand-in keeps copies
  Receiver r(16);
  const uint32_t numbers[] = {70, 71, 70};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(r.read("/T/V/R"), 0);
    EXPECT_EQ(r.image.frameHeader.frameNumber, numbers[i]);
    EXPECT_EQ(r.pixels[15], i % 2 + 1);
  }
}

TEST_F(StandIn, JpegFramesDecode) {
  tinesimAddImageProperty("/T/V/J", "Frame", 128, 32, TINESIM_JPEG_RGB);
  tinesimSetFrameNumbering("/T/V/J", "Frame", 0x5A, 1, 0);
  int size = 0, format = 0;
  tinesimSetListenerAnswer("/T/V/J", "Frame", 1);
  ASSERT_EQ(getPropertyInfoFromListenerEx("/T/V/J", "Frame", &size, &format, nullptr), 0);
  Receiver r(static_cast<size_t>(size));
  ASSERT_EQ(r.read("/T/V/J"), 0);
  EXPECT_EQ(r.image.frameHeader.imageFormat, CF_IMAGE_FORMAT_JPEG);
  EXPECT_EQ(r.image.frameHeader.sourceFormat, CF_IMAGE_FORMAT_RGB);
  EXPECT_EQ(r.image.frameHeader.bytesPerPixel, 3);

  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, r.image.frameBuffer,
               static_cast<unsigned long>(r.image.frameHeader.appendedFrameSize));
  ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
  jpeg_start_decompress(&cinfo);
  EXPECT_EQ(cinfo.output_width, 128u);
  EXPECT_EQ(cinfo.output_height, 32u);
  ASSERT_EQ(cinfo.output_components, 3);
  std::vector<uint8_t> decoded(128 * 32 * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = decoded.data() + static_cast<size_t>(cinfo.output_scanline) * 128 * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  DIMAGE plain = r.image;
  plain.frameHeader.imageFormat = CF_IMAGE_FORMAT_RGB;
  plain.frameBuffer = decoded.data();
  plain.frameBufferSize = static_cast<uint32_t>(decoded.size());
  EXPECT_EQ(tinesimPatternFrameNumber(&plain), 0x5A);  // the number survives the coding
}

std::atomic<int> g_callbacks{0};
std::thread::id g_callbackThread;

void recordingCallback(int, int, void*) {
  if (g_callbacks.fetch_add(1) == 0) g_callbackThread = std::this_thread::get_id();
}

TEST_F(StandIn, LinksDeliverOnTheCycleThreadOnly) {
  SystemStartCycleTimer();
  g_callbacks = 0;
  Receiver r(640 * 480 * 2);
  int id = AttachLinkEx2(kCam1, "Frame", &r.dout, nullptr, CA_READ, 2, recordingCallback, CM_TIMER,
                         1, nullptr);
  ASSERT_GT(id, 0);
  while (g_callbacks.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(CloseLink(id), 0);
  const int after = g_callbacks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_callbacks.load(), after);  // nothing once CloseLink returned
  EXPECT_NE(g_callbackThread, std::this_thread::get_id());
  EXPECT_EQ(CloseLink(id), 12);
}

TEST_F(StandIn, PropsAnswerForms) {
  uint8_t record[432];
  char name[] = "Frame";
  DTYPE request{};
  request.dFormat = CF_TEXT;
  request.dArrayLength = 5;
  request.data.cptr = name;
  DTYPE answer{};
  answer.dFormat = CF_STRUCT;
  answer.dArrayLength = 1;
  std::strcpy(answer.dTag, "PRPQSr4");
  answer.data.vptr = record;
  ASSERT_EQ(alsnExecLink(kCam1, "PROPS", &answer, &request, 1, 500), 0);
  int32_t size = 0;
  std::memcpy(&size, record + 376, 4);
  EXPECT_EQ(size, 640 * 480 * 2);
  EXPECT_EQ(record[392] + 512, CF_IMAGE);
  tinesimSetServerSilent(kCam1, 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(alsnExecLink(kCam1, "PROPS", &answer, &request, 1, 50), 7);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

}  // namespace
