#include <cstring>

#include "quivox3/quivox3.h"
#include "tine/property_info.h"
#include "tine_fixture.h"

namespace {

using PropertyInfo = TineTest;

TEST_F(PropertyInfo, Revision4Answer) {
  tinesimSetPropsText(kCam1, "Frame", "0123456789abcdef");
  int format = 0, size = -1;
  char text[17];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(_internal_tineReadPropertyCharacteristics(kCam1, "Frame", &format, &size, text), 0);
  EXPECT_EQ(format, 567);
  EXPECT_EQ(size, 640 * 480 * 2);
  EXPECT_EQ(std::string(text, 16), "0123456789abcdef");
  EXPECT_EQ(text[16], '#');  // no terminator when all 16 are used
  EXPECT_EQ(tinesimCallCount("alsnExecLink"), 1);
  EXPECT_EQ(tinesimCallCount("getPropertyInfoFromListenerEx"), 1);
  EXPECT_EQ(log->text(), "");
}

TEST_F(PropertyInfo, OlderServerAnswersSecondQuery) {
  for (int code : {2, 62}) {
    tinesimReset();
    tinesimSetPropsAnswer(kCam1, "Frame", TINESIM_PROPS_OLD_FORM, code);
    tinesimOverridePropsSizeFormat(kCam1, "Frame", 60000, 519);
    int format = 0, size = 0;
    EXPECT_EQ(_internal_tineReadPropertyCharacteristics(kCam1, "Frame", &format, &size, nullptr),
              0);
    EXPECT_EQ(size, 60000);  // from the 16-bit field at byte 64
    EXPECT_EQ(format, 519);  // from byte 66
    EXPECT_EQ(tinesimCallCount("alsnExecLink"), 2);
  }
}

TEST_F(PropertyInfo, OtherCodesAreReturnedAtOnce) {
  tinesimSetPropsAnswer(kCam1, "Frame", TINESIM_PROPS_FAIL, 3);
  int format = 11, size = 5;
  EXPECT_EQ(_internal_tineReadPropertyCharacteristics(kCam1, "Frame", &format, &size, nullptr), 3);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(format, 11);
  EXPECT_EQ(tinesimCallCount("alsnExecLink"), 1);
  // A second query that fails too returns its code.
  tinesimSetPropsAnswer(kCam1, "Frame", TINESIM_PROPS_FAIL, 62);
  size = 5;
  EXPECT_EQ(_internal_tineReadPropertyCharacteristics(kCam1, "Frame", &format, &size, nullptr), 62);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(tinesimCallCount("alsnExecLink"), 3);
}

TEST_F(PropertyInfo, LocalKnowledgeNeedsNoQuery) {
  tinesimSetListenerAnswer(kCam1, "Frame", 1);
  tinesimOverridePropsSizeFormat(kCam1, "Frame", 1234, 567);
  int format = 0, size = 0;
  EXPECT_EQ(_internal_tineReadPropertyCharacteristics(kCam1, "frame", &format, &size, nullptr), 0);
  EXPECT_EQ(size, 1234);
  EXPECT_EQ(tinesimCallCount("alsnExecLink"), 0);
}

TEST_F(PropertyInfo, UnknownDevice) {
  int format = 0, size = 9;
  EXPECT_NE(
      _internal_tineReadPropertyCharacteristics("/NO/SUCH/DEV", "Frame", &format, &size, nullptr),
      0);
  EXPECT_EQ(size, 0);
}

using FrameSize = TineTest;

TEST_F(FrameSize, NullAddressGivesDefaultSilently) {
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes(nullptr, "Frame"), MAX_TRANSPORT_SIZE);
  EXPECT_EQ(log->text(), "");
}

TEST_F(FrameSize, PropertySize) {
  tinesimOverridePropsSizeFormat(kCam1, "Frame", 5000000, 567);
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes(kCam1, "Frame"), 5000000);
  tinesimOverridePropsSizeFormat(kCam1, "Frame", 104857600, 567);
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes(kCam1, "Frame"), 104857600);
  EXPECT_EQ(log->text(), "");
}

TEST_F(FrameSize, NullNameQueriesFrame) {
  tinesimAddImageProperty("/A/B/C", "Other", 10, 10, TINESIM_GRAY8);
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes(kCam1, nullptr), 640 * 480 * 2);
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes("/A/B/C", nullptr), MAX_TRANSPORT_SIZE);
  EXPECT_TRUE(log->contains(
      "qvEstimateMaxFrameSizeBytes(asTineAddress=\"/A/B/C\",asTinePropertyName=\"NULL\"): Warning: "
      "_internal_tineReadPropertyCharacteristics(/A/B/C,Frame,&int,&int,NULL) return code(3) != 0. "
      "As fallback, maximum frame size set to default (MAX_TRANSPORT_SIZE: 27262976 bytes)."))
      << log->text();
}

TEST_F(FrameSize, ImplausibleSizesFallBack) {
  for (int size : {0, -1, 104857601}) {
    log->clear();
    tinesimOverridePropsSizeFormat(kCam1, "Frame", size, 567);
    EXPECT_EQ(qvEstimateMaxFrameSizeBytes(kCam1, "Frame"), MAX_TRANSPORT_SIZE) << size;
    EXPECT_TRUE(log->contains(
        "qvEstimateMaxFrameSizeBytes(asTineAddress=\"/SIM/VIDEO/CAM1\",asTinePropertyName="
        "\"Frame\"): Warning: _internal_tineReadPropertyCharacteristics(/SIM/VIDEO/CAM1,Frame,"
        "iTineFormat=567,iTineSize=" +
        std::to_string(size) +
        ",NULL) iTineSize is unexpected (expected [1..100*1024*1024] bytes). As fallback, maximum "
        "frame size set to default (MAX_TRANSPORT_SIZE: 27262976 bytes)."))
        << log->text();
  }
}

TEST_F(FrameSize, OtherFormatFallsBack) {
  tinesimOverridePropsSizeFormat(kCam1, "Frame", 1000, 519);
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes(kCam1, "Frame"), MAX_TRANSPORT_SIZE);
  EXPECT_TRUE(
      log->contains("iTineFormat=519,iTineSize=1000,NULL) iTineFormat is not CF_IMAGE "
                    "(#567). As fallback"));
}

TEST_F(FrameSize, BadAddressesAndNames) {
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes("/ctxsrvdev", "Frame"), MAX_TRANSPORT_SIZE);
  EXPECT_TRUE(log->contains(
      "qvEstimateMaxFrameSizeBytes(asTineAddress=\"/ctxsrvdev\",asTinePropertyName=\"Frame\"): "
      "Warning: _internal_checkTineAddress failed with return code 0."));
  EXPECT_TRUE(log->contains("Error: qvEstimateMaxFrameSizeBytes: Parameter asTineAddress"));
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes("/ab", "Frame"), MAX_TRANSPORT_SIZE);
  EXPECT_TRUE(log->contains("_internal_checkTineAddress failed with return code -4."));
  EXPECT_EQ(qvEstimateMaxFrameSizeBytes(kCam1, "a/b"), MAX_TRANSPORT_SIZE);
  EXPECT_TRUE(log->contains(
      "Warning: _internal_checkTinePropertyName(...,\"a/b\", true) failed.As fallback, maximum "
      "frame size set to default (MAX_TRANSPORT_SIZE: 27262976 bytes)."));
  EXPECT_EQ(tinesimCallCount("alsnExecLink"), 0);
}

}  // namespace
