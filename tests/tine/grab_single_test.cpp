#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "support/environment.h"
#include "tine_fixture.h"

namespace {

struct ImageDeleter {
  void operator()(DIMAGE* image) const { qvFreeImage(image); }
};
using ImagePtr = std::unique_ptr<DIMAGE, ImageDeleter>;

class GrabFrame : public TineTest {
 protected:
  ImagePtr image{qvInitializeImageEx(640 * 480 * 2)};
};

TEST_F(GrabFrame, DefaultServerDeliversAValidFrame) {
  DTYPE dout;
  std::memset(&dout, 0, sizeof dout);
  int code = -9;
  ASSERT_EQ(qvGrabFrame(image.get(), &dout, kCam1, "Frame", 1000, CA_READ, &code), 1);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(image->sourceHeader.baseTag, QV_BASE_TAG);
  EXPECT_EQ(image->frameHeader.sourceWidth, 640);
  EXPECT_EQ(image->frameHeader.bytesPerPixel, 2);
  EXPECT_EQ(image->frameHeader.effectiveBitsPerPixel, 12);
  EXPECT_EQ(image->frameHeader.appendedFrameSize, 640 * 480 * 2);
  EXPECT_EQ(image->frameHeader.frameNumber, 1u);
  EXPECT_EQ(tinesimPatternFrameNumber(image.get()), 1);
  EXPECT_EQ(image->frameBufferSize, 640u * 480 * 2);  // the caller's buffer stays
  EXPECT_EQ(dout.dFormat, CF_IMAGE);
  EXPECT_EQ(dout.data.vptr, image.get());
  int access = 0, count = 0, timeout = 0;
  tinesimLastRead(&access, &count, &timeout);
  EXPECT_EQ(access, CA_READ);
  EXPECT_EQ(count, 640 * 480 * 2);
  EXPECT_EQ(timeout, 1000);
  ASSERT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 1000, CA_READ, nullptr), 1);
  EXPECT_EQ(image->frameHeader.frameNumber, 2u);
  EXPECT_EQ(log->text(), "");
}

TEST_F(GrabFrame, LargerPropertyIsCutToTheBuffer) {
  ImagePtr small{qvInitializeImageEx(1000000)};
  tinesimOverridePropsSizeFormat(kCam1, "Frame", 5000000, 567);
  ASSERT_EQ(qvGrabFrame(small.get(), nullptr, kCam1, "Frame", 1000, CA_READ, nullptr), 1);
  int count = 0;
  tinesimLastRead(nullptr, &count, nullptr);
  EXPECT_EQ(count, 1000000);
  EXPECT_TRUE(log->contains(
      "Warning: _internal_readPropertyCharacteristics iTinePropertySize(5000000) exeeds "
      "apInOutImage->frameBufferSize(1000000). iTinePropertySize will be reduced to "
      "apInOutImage->frameBufferSize."));
}

TEST_F(GrabFrame, NegativePropertySizeNeverBecomesAHugeCapacity) {
  tinesimOverridePropsSizeFormat(kCam1, "Frame", -1, 567);
  ASSERT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 1000, CA_READ, nullptr), 1);
  int count = 0;
  tinesimLastRead(nullptr, &count, nullptr);
  EXPECT_EQ(count, 640 * 480 * 2);
}

TEST_F(GrabFrame, OtherFormatIsAttemptedAnyway) {
  tinesimOverridePropsSizeFormat(kCam1, "Frame", 640 * 480 * 2, 519);
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 1000, CA_READ, nullptr), 1);
  EXPECT_TRUE(log->contains(
      "Warning: iTinePropertyFormat(519) != CF_IMAGE(567). Even though, the call will be "
      "attempted."));
}

TEST_F(GrabFrame, RepeatedCodesAreReportedOnce) {
  const int codes[] = {7, 7, 7};
  tinesimScriptReads(kCam1, "Frame", codes, 3, 0);
  int code = -9;
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 2000, CA_READ, &code), 1);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(log->count("qvGrabFrame() Warning: alsnExecLinkEx returned 7."), 1);
  EXPECT_EQ(tinesimCallCount("alsnExecLinkEx"), 4);
}

TEST_F(GrabFrame, EveryChangeOfCodeIsReported) {
  const int codes[] = {7, 8, 7, 8};
  tinesimScriptReads(kCam1, "Frame", codes, 4, 0);
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 2000, CA_READ, nullptr), 1);
  EXPECT_EQ(log->count("alsnExecLinkEx returned 7."), 2);
  EXPECT_EQ(log->count("alsnExecLinkEx returned 8."), 2);
}

TEST_F(GrabFrame, TimeLimitEndsTheRetries) {
  tinesimScriptReads(kCam1, "Frame", nullptr, 0, 7);
  int code = -9;
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 60, CA_READ, &code), -1);
  EXPECT_EQ(code, 7);
  EXPECT_GE(tinesimCallCount("alsnExecLinkEx"), 3);
  EXPECT_TRUE(log->contains(
      "Unsuccessful in timeout period: qvGrabFrame(DIMAGE *apInOutImage, DTYPE *apDOut, const char "
      "*asTineAddress, const char *asTinePropertyName, int aiTineTimeoutMilliseconds, int "
      "aiTineMode, int *apiOutTineReturnCode) called."));
  EXPECT_EQ(log->count("qvGrabFrame() Warning: alsnExecLinkEx returned 7."), 2);  // first + final
}

TEST_F(GrabFrame, CharacteristicsFailure) {
  tinesimSetPropsAnswer(kCam1, "Frame", TINESIM_PROPS_FAIL, 3);
  int code = -9;
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 1000, CA_READ, &code), -3);
  EXPECT_EQ(code, 3);
  EXPECT_TRUE(log->contains(
      "Error: qvGrabFrame: _internal_tineReadPropertyCharacteristics() returned not successful: "
      "cc=3"));
  EXPECT_EQ(tinesimCallCount("alsnExecLinkEx"), 0);
}

int halfFrame(void*, uint32_t, DIMAGE*, uint8_t*, uint32_t capacity) {
  return static_cast<int>(capacity / 2);
}

TEST_F(GrabFrame, InvalidImageIsReported) {
  tinesimSetGenerator(kCam1, "Frame", halfFrame, nullptr);
  int code = -9;
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 1000, CA_READ, &code), -2);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(
      log->contains("qvGrabFrame() Warning: _internal_qvCheckImageValidity(image) returned "
                    "false!"));
  EXPECT_TRUE(log->contains("CDIMAGE::checkValidity error:"));
}

TEST_F(GrabFrame, BadArguments) {
  int code = -9;
  EXPECT_EQ(qvGrabFrame(nullptr, nullptr, kCam1, "Frame", 1000, 1, &code), 0);
  DIMAGE noBuffer{};
  EXPECT_EQ(qvGrabFrame(&noBuffer, nullptr, kCam1, "Frame", 1000, 1, &code), 0);
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, nullptr, "Frame", 1000, 1, &code), 0);
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, nullptr, 1000, 1, &code), 0);
  EXPECT_EQ(log->text(), "");
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, "/a/b", "Frame", 1000, 1, &code), -4);
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, "/ctxsrvdev", "Frame", 1000, 1, &code), 0);
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Fr]ame", 1000, 1, &code), 0);
  EXPECT_EQ(code, -9);  // never written on these
  EXPECT_EQ(log->count("Parameters passed: qvGrabFrame(DIMAGE *apInOutImage"), 3);
  EXPECT_TRUE(log->contains("\"/a/b\", \"Frame\", 1000, 1, "));
  EXPECT_EQ(tinesimCallCount("alsnExecLink") + tinesimCallCount("alsnExecLinkEx"), 0);
}

TEST_F(GrabFrame, ServerThatNeverAnswers) {
  tinesimSetServerSilent(kCam1, 1);
  int code = -9;
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 100, 1, &code), -3);
  EXPECT_EQ(code, 7);  // the "PROPS" query timed out
  EXPECT_EQ(tinesimCallCount("alsnExecLinkEx"), 0);
}

TEST_F(GrabFrame, UnknownServer) {
  int code = -9;
  EXPECT_EQ(qvGrabFrame(image.get(), nullptr, "/NO/SUCH/DEV", "Frame", 100, 1, &code), -3);
  EXPECT_NE(code, 0);
}

// The log level is read once per process, so this runs in a fresh child.
TEST(GrabFrameTrace, AtLogLevelTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        qvtest::setEnvironment("KELTA_CLIENTLIB_LOGLEVEL", "2");
        tinesimReset();
        LogCapture capture;
        ImagePtr image{qvInitializeImageEx(640 * 480 * 2)};
        int result = qvGrabFrame(image.get(), nullptr, kCam1, "Frame", 1000, 1, nullptr);
        bool ok =
            result == 1 &&
            capture.count("qvGrabFrame(DIMAGE *apInOutImage, DTYPE *apDOut, const char") == 1 &&
            capture.contains(", \"/SIM/VIDEO/CAM1\", \"Frame\", 1000, 1, 0h);");
        if (!ok) std::fprintf(stderr, "%s", capture.text().c_str());
        std::_Exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
