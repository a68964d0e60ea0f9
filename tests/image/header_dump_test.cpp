// The header dump and the trace lines appear only at log level 2, which is
// read once per process: each check runs in a fresh child process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"
#include "image_fixtures.h"
#include "runtime/log.h"
#include "support/environment.h"
#include "support/log_capture.h"

namespace {

std::vector<std::string> expectedDump() {
  return {
      "Dumping qvv3 image header START",
      "===============================",
      "",
      "DIMAGE.sourceHeader",
      "   baseTag='QVV3' (33565651h)",
      "   cameraPortId=-4",
      "   versionTag=1",
      "   totalLength=188 (bytes)",
      "   timestampSeconds=90061 (sec since epoch)",
      "   timestampMicroseconds=123456 (usec offset, 0 <= value < 1.000.000)",
      "   =timestamp [02.01.70 01:01:01:123 LTM]",
      "   cameraPortName=\"port\"",
      "",
      "DIMAGE.frameHeader",
      "   sourceWidth  = 640 (pixels)",
      "   sourceHeight = 480 (pixels)",
      "   aoiWidth     = -1 (pixels)",
      "   aoiHeight    = -1 (pixels)",
      "   xStart = 1 (offset in pixels, see flags!)",
      "   yStart = 1 (offset in pixels, see flags!)",
      "   bytesPerPixel = 1 (bytes)",
      "   effectiveBPP = 8 (bits per pixel)",
      "   horizontalBinning = 2 (2 to 1 pixel merged)",
      "   verticalBinning = 3 (3 to 1 pixel merged)",
      "   sourceFormat = 123456 (=(Error converting to string))",
      "   imageFormat = 0 (=CF_IMAGE_FORMAT_GRAY)",
      "   frameNumber = 4294967295",
      "   eventNumber = 7",
      "   xScale = 0.100000 (pixel per millimetre)",
      "   yScale = 0.250000 (pixel per millimetre)",
      "   imageRotation = -90.000000 (degrees, +CW -CCW)",
      "   scale_x_offset = 1.500000",
      "   scale_y_offset = 0.000000",
      "   fspare3 = 0.000000",
      "   imageFlags = 13h (=LITTLE_ENDIAN LOSSLESS XYSTART_ONE_BASED LOCAL_TIMESTAMP)",
      "   ispare1 = 0",
      "   ispare2 = -2",
      "   ispare3 = 0",
      "   appendedFrameSize = 0 (bytes)",
      "",
      "DIMAGE.frameBufferSize=3000000000 (bytes)",
      "DIMAGE.frameBuffer=0x0 (memory location ptr)",
      "Dumping qvv3 image header end",
      "=============================",
  };
}

DIMAGE dumpedImage() {
  DIMAGE img = validGrayImage(nullptr);
  img.sourceHeader.cameraPortId = -4;
  img.sourceHeader.timestampSeconds = 86400 + 3600 + 60 + 1;
  img.sourceHeader.timestampMicroseconds = 123456;
  img.frameHeader.horizontalBinning = 2;
  img.frameHeader.verticalBinning = 3;
  img.frameHeader.sourceFormat = 123456;  // its long name does not fit 30 bytes
  img.frameHeader.frameNumber = 0xFFFFFFFFu;
  img.frameHeader.eventNumber = 7;
  img.frameHeader.yScale = 0.25f;
  img.frameHeader.imageRotation = -90.0f;
  img.frameHeader.scale_x_offset = 1.5f;
  img.frameHeader.imageFlags = 0x13;
  img.frameHeader.xStart = 1;  // one-based
  img.frameHeader.yStart = 1;
  img.frameHeader.ispare2 = -2;
  img.frameHeader.appendedFrameSize = 0;
  img.sourceHeader.totalLength = 188;
  img.frameBufferSize = 3000000000u;
  return img;
}

// Exit codes of the child: 0 all as expected, else the number of the check
// that failed.
int checkDumpThroughSequenceTest() {
  if (_internal_getLogLevel() != 2) return 10;
  LogCapture log;
  DIMAGE img = dumpedImage();  // invalid: its source format is out of range
  QVBUNCHOFIMAGES bunch{&img, 1};
  if (qvIsSequence(&bunch) != -1) return 11;
  const std::vector<std::string> messages = logMessages(log.text());
  const std::vector<std::string> expected = expectedDump();
  if (messages.size() < expected.size() + 2) return 12;
  // The refusal, the sequence line, then the dump as the last lines.
  if (messages[messages.size() - expected.size() - 1].rfind(
          "qvIsSequence: _internal_qvCheckImageValidity( aImages->imageArray[0] ) returned false.",
          0) != 0)
    return 13;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (messages[messages.size() - expected.size() + i] != expected[i]) {
      std::fprintf(stderr, "line %zu: got \"%s\", expected \"%s\"\n", i + 1,
                   messages[messages.size() - expected.size() + i].c_str(), expected[i].c_str());
      return 20 + static_cast<int>(i);
    }
  }
  return 0;
}

int checkTraceLines() {
  LogCapture log;
  DIMAGE* img = qvInitializeImage();
  if (img == nullptr) return 11;
  qvFreeImage(img);
  const std::vector<std::string> messages = logMessages(log.text());
  const std::vector<std::string> expected = {
      "qvInitializeImage() called.", "qvInitializeImageEx() called.", "qvFreeImage() called."};
  if (messages.size() < expected.size()) return 12;
  for (size_t i = 0; i < expected.size(); ++i)
    if (messages[messages.size() - expected.size() + i] != expected[i]) return 20 + int(i);
  return 0;
}

int checkTagWithUnprintableBytes() {
  LogCapture log;
  DIMAGE img = dumpedImage();
  img.sourceHeader.baseTag = 0x0A005651;  // 'Q' 'V' NUL LF
  img.frameHeader.sourceFormat = 0;
  img.frameBuffer = reinterpret_cast<uint8_t*>(uintptr_t{0x1234});
  _internal_dumpImageHeader(&img);
  const std::string text = log.text();
  if (text.find("   baseTag='QV..' (a005651h)") == std::string::npos) return 11;
  if (text.find("   sourceFormat = 0 (=CF_IMAGE_FORMAT_GRAY)") == std::string::npos) return 12;
  if (text.find("DIMAGE.frameBuffer=0x0x1234 (memory location ptr)") == std::string::npos)
    return 13;
  return 0;
}

class HeaderDumpAtLogLevel2 : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    _internal_getLogLevel();  // this process keeps its own level
    qvtest::setEnvironment("KELTA_CLIENTLIB_LOGLEVEL", "2");
    const char* zone = std::getenv("TZ");
    m_hadZone = zone != nullptr;
    if (m_hadZone) m_zone = zone;
    qvtest::setEnvironment("TZ", "UTC");  // fixes the local time of the dumped time stamp
  }
  void TearDown() override {
    qvtest::unsetEnvironment("KELTA_CLIENTLIB_LOGLEVEL");
    if (m_hadZone)
      qvtest::setEnvironment("TZ", m_zone.c_str());
    else
      qvtest::unsetEnvironment("TZ");
  }

 private:
  bool m_hadZone = false;
  std::string m_zone;
};

TEST_F(HeaderDumpAtLogLevel2, InvalidImageOfASequenceIsDumped) {
  EXPECT_EXIT(std::exit(checkDumpThroughSequenceTest()), ::testing::ExitedWithCode(0), "");
}

TEST_F(HeaderDumpAtLogLevel2, TraceLinesOfImageCalls) {
  EXPECT_EXIT(std::exit(checkTraceLines()), ::testing::ExitedWithCode(0), "");
}

TEST_F(HeaderDumpAtLogLevel2, UnprintableTagBytesAndPointer) {
  EXPECT_EXIT(std::exit(checkTagWithUnprintableBytes()), ::testing::ExitedWithCode(0), "");
}

TEST(HeaderDump, NothingBelowLogLevel2) {
  if (_internal_getLogLevel() > 1) GTEST_SKIP() << "run with the default log level";
  LogCapture log;
  DIMAGE img = dumpedImage();
  QVBUNCHOFIMAGES bunch{&img, 1};
  EXPECT_EQ(qvIsSequence(&bunch), -1);
  EXPECT_FALSE(log.contains("Dumping"));
  DIMAGE* image = qvInitializeImageEx(4);
  qvFreeImage(image);
  EXPECT_FALSE(log.contains("called."));
}

}  // namespace
