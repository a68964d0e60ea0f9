#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "image/image.h"
#include "image_fixtures.h"
#include "support/log_capture.h"

namespace {

using qv::image::uncompressedFrameSize;

uint8_t g_frame[16];

void oneBased(DIMAGE& img) {
  img.frameHeader.imageFlags |= CF_IMAGE_FLAG_XYSTART_ONE_BASED;
  img.frameHeader.xStart = 1;
  img.frameHeader.yStart = 1;
}

struct RuleCase {
  const char* name;
  std::function<void(DIMAGE&)> mutate;
  std::string reason;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

const std::string kRule30Tail =
    "). In case Img.frameHeader.imageFormat is RGB(Img.frameHeader.BytesPerPixel=3) or "
    "GRAY(Img.frameHeader.BytesPerPixel=1 or 2), Img.frameHeader.appendedFrameSize(";

std::vector<RuleCase> ruleCases() {
  return {
      {"r01_tag", [](DIMAGE& i) { i.sourceHeader.baseTag = 0; },
       "Img.sourceHeader.baseTag invalid (0x00000000 not equal 0x33565651(QVV3))."},
      {"r01_tag_reported_before_everything_else",
       [](DIMAGE& i) {
         std::memset(&i, 0xFF, sizeof(IMAGEHEADER));
         i.sourceHeader.baseTag = 0x3356565A;
       },
       "Img.sourceHeader.baseTag invalid (0x3356565a not equal 0x33565651(QVV3))."},
      {"r02_source_width", [](DIMAGE& i) { i.frameHeader.sourceWidth = 0; },
       "Img.frameHeader.sourceWidth=0 is invalid (must be >=1)."},
      {"r02_before_r03",
       [](DIMAGE& i) {
         i.frameHeader.sourceWidth = INT_MIN;
         i.frameHeader.sourceHeight = 0;
       },
       "Img.frameHeader.sourceWidth=-2147483648 is invalid (must be >=1)."},
      {"r03_source_height", [](DIMAGE& i) { i.frameHeader.sourceHeight = -3; },
       "Img.frameHeader.sourceHeight=-3 is invalid (must be >=1)."},
      {"r04_aoi_width", [](DIMAGE& i) { i.frameHeader.aoiWidth = -2; },
       "Img.frameHeader.aoiWidth=-2 is invalid (must be >=-1)."},
      {"r05_aoi_width_one_based",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.aoiWidth = 100;
         i.frameHeader.xStart = 542;
       },
       "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiWidth(100) + "
       "xStart-1(542,ONE_BASED) must be <= Img.frameHeader.sourceWidth(640)."},
      {"r05_wide_sum_does_not_wrap",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.aoiWidth = INT_MAX;
         i.frameHeader.xStart = INT_MAX;
       },
       "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiWidth(2147483647) "
       "+ xStart-1(2147483647,ONE_BASED) must be <= Img.frameHeader.sourceWidth(640)."},
      {"r06_aoi_width_zero_based",
       [](DIMAGE& i) {
         i.frameHeader.aoiWidth = 100;
         i.frameHeader.xStart = 600;
       },
       "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiWidth(100) + "
       "xStart(600,ZERO_BASED) must be <= Img.frameHeader.sourceWidth(640)."},
      {"r06_wide_sum_does_not_wrap",
       [](DIMAGE& i) {
         i.frameHeader.aoiWidth = INT_MAX;
         i.frameHeader.xStart = INT_MAX;
       },
       "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiWidth(2147483647) "
       "+ xStart(2147483647,ZERO_BASED) must be <= Img.frameHeader.sourceWidth(640)."},
      {"r06_before_r07",
       [](DIMAGE& i) {
         i.frameHeader.aoiWidth = 641;
         i.frameHeader.aoiHeight = -7;
       },
       "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiWidth(641) + "
       "xStart(0,ZERO_BASED) must be <= Img.frameHeader.sourceWidth(640)."},
      {"r07_aoi_height", [](DIMAGE& i) { i.frameHeader.aoiHeight = -5; },
       "Img.frameHeader.aoiHeight=-5 is invalid (must be >=-1)."},
      {"r08_aoi_height_one_based_shows_start_minus_one",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.aoiHeight = 10;
         i.frameHeader.yStart = 472;
       },
       "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiHeight(10) + "
       "yStart-1(471,ONE_BASED) must be <= Img.frameHeader.sourceHeight(480)."},
      {"r09_aoi_height_zero_based",
       [](DIMAGE& i) {
         i.frameHeader.aoiHeight = 10;
         i.frameHeader.yStart = 471;
       },
       "In case Img.frameHeader.aoiWidth is bigger than zero, Img.frameHeader.aoiHeight(10) + "
       "yStart(471,ZERO_BASED) must be <= Img.frameHeader.sourceHeight(480)."},
      {"r10_x_start_one_based",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.xStart = 0;
         i.frameHeader.yStart = 0;
       },
       "Img.frameHeader.xStart=0 must be bigger than or equal one (imageFlag XYSTART_ONE_BASED is "
       "set)."},
      {"r11_x_start_zero_based", [](DIMAGE& i) { i.frameHeader.xStart = -1; },
       "Img.frameHeader.xStart=-1 must be bigger than or equal zero (imageFlag XYSTART_ONE_BASED "
       "is not set)."},
      {"r12_y_start_one_based",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.yStart = 0;
       },
       "Img.frameHeader.yStart=0 must be bigger than or equal one (imageFlag XYSTART_ONE_BASED is "
       "set)."},
      {"r13_y_start_zero_based", [](DIMAGE& i) { i.frameHeader.yStart = INT_MIN; },
       "Img.frameHeader.yStart=-2147483648 must be bigger than or equal zero (imageFlag "
       "XYSTART_ONE_BASED is not set)."},
      {"r14_x_start_beyond_width_one_based",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.xStart = 641;
       },
       "Img.frameHeader.xStart(641,XYSTART_ONE_BASED) must be smaller than or equal "
       "Img.frameHeader.sourceWidth(640)."},
      {"r15_x_start_without_aoi_one_based",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.xStart = 2;
       },
       "If Img.frameHeader.xStart(2,XYSTART_ONE_BASED) is bigger than one, "
       "Img.frameHeader.aoiWidth(-1) must be greater than zero."},
      {"r16_y_start_beyond_height_one_based",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.yStart = 481;
       },
       "Img.frameHeader.yStart(481,XYSTART_ONE_BASED) must be smaller than or equal "
       "Img.frameHeader.sourceHeight(480)."},
      {"r17_y_start_without_aoi_one_based",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.aoiHeight = 0;
         i.frameHeader.yStart = 2;
       },
       "If Img.frameHeader.yStart(2,XYSTART_ONE_BASED) is bigger than one, "
       "Img.frameHeader.aoiHeight(0) must be greater than zero."},
      {"r18_x_start_equals_width_zero_based", [](DIMAGE& i) { i.frameHeader.xStart = 640; },
       "Img.frameHeader.xStart(640,XYSTART_ZERO_BASED) must be smaller than "
       "Img.frameHeader.sourceWidth(640)."},
      {"r19_x_start_without_aoi_zero_based", [](DIMAGE& i) { i.frameHeader.xStart = 1; },
       "If Img.frameHeader.xStart(1,XYSTART_ZERO_BASED) is bigger than zero, "
       "Img.frameHeader.aoiWidth(-1) must be greater than zero."},
      {"r19_aoi_width_zero_skips_r06",
       [](DIMAGE& i) {
         i.frameHeader.aoiWidth = 0;
         i.frameHeader.xStart = 600;
       },
       "If Img.frameHeader.xStart(600,XYSTART_ZERO_BASED) is bigger than zero, "
       "Img.frameHeader.aoiWidth(0) must be greater than zero."},
      {"r20_y_start_equals_height_zero_based", [](DIMAGE& i) { i.frameHeader.yStart = 480; },
       "Img.frameHeader.yStart(480,XYSTART_ZERO_BASED) must be smaller than "
       "Img.frameHeader.sourceHeight(480)."},
      {"r21_y_start_without_aoi_zero_based", [](DIMAGE& i) { i.frameHeader.yStart = 3; },
       "If Img.frameHeader.yStart(3,XYSTART_ZERO_BASED) is bigger than zero, "
       "Img.frameHeader.aoiHeight(-1) must be greater than zero."},
      {"r22_bytes_per_pixel_low", [](DIMAGE& i) { i.frameHeader.bytesPerPixel = 0; },
       "Img.frameHeader.bytesPerPixel=0 must be [1..4]."},
      {"r22_bytes_per_pixel_high", [](DIMAGE& i) { i.frameHeader.bytesPerPixel = 5; },
       "Img.frameHeader.bytesPerPixel=5 must be [1..4]."},
      {"r23_source_format", [](DIMAGE& i) { i.frameHeader.sourceFormat = -1; },
       "Img.frameHeader.sourceFormat=-1 is out of bounds ([0..12]."},
      {"r23_before_r24",
       [](DIMAGE& i) {
         i.frameHeader.sourceFormat = 13;
         i.frameHeader.imageFormat = 13;
       },
       "Img.frameHeader.sourceFormat=13 is out of bounds ([0..12]."},
      {"r24_image_format", [](DIMAGE& i) { i.frameHeader.imageFormat = 13; },
       "Img.frameHeader.imageFormat=13 is out of bounds ([0..12]."},
      {"r25_frame_buffer_too_small", [](DIMAGE& i) { i.frameBufferSize = 307199; },
       "In case Img.frameHeader.appendedFrameSize(307200) is bigger than zero, it must be less "
       "than or equal Img.frameBufferSize(307199)."},
      {"r25_before_r26",
       [](DIMAGE& i) {
         i.frameBufferSize = 0;
         i.frameBuffer = nullptr;
       },
       "In case Img.frameHeader.appendedFrameSize(307200) is bigger than zero, it must be less "
       "than or equal Img.frameBufferSize(0)."},
      {"r26_frame_buffer_null", [](DIMAGE& i) { i.frameBuffer = nullptr; },
       "In case Img.frameHeader.appendedFrameSize(307200) is bigger than zero, aImg.frameBuffer "
       "must not be NULL."},
      {"r27_above_transport_size", [](DIMAGE& i) { setAppendedSize(i, 27262977); },
       "In case Img.frameHeader.appendedFrameSize(27262977) is bigger than zero, it must not be "
       "bigger than MAX_TRANSPORT_SIZE(27262976)."},
      {"r27_largest_int",
       [](DIMAGE& i) {
         i.frameHeader.appendedFrameSize = INT_MAX;
         i.frameBufferSize = UINT_MAX;
       },
       "In case Img.frameHeader.appendedFrameSize(2147483647) is bigger than zero, it must not be "
       "bigger than MAX_TRANSPORT_SIZE(27262976)."},
      {"r28_total_length", [](DIMAGE& i) { i.sourceHeader.totalLength = 307387; },
       "In case Img.frameHeader.appendedFrameSize(307200) is bigger than zero, "
       "aImg.sourceHeader.totalLength(307387) must be equal to sizeof(hdrImage)=188 plus "
       "appendedFrameSize."},
      {"r28_total_length_unsigned", [](DIMAGE& i) { i.sourceHeader.totalLength = 0xFFFFFFFFu; },
       "In case Img.frameHeader.appendedFrameSize(307200) is bigger than zero, "
       "aImg.sourceHeader.totalLength(4294967295) must be equal to sizeof(hdrImage)=188 plus "
       "appendedFrameSize."},
      {"r29_total_length_without_frame",
       [](DIMAGE& i) {
         i.frameHeader.imageFormat = CF_IMAGE_FORMAT_JPEG;
         i.frameHeader.appendedFrameSize = 0;
         i.sourceHeader.totalLength = 189;
       },
       "In case Img.frameHeader.appendedFrameSize(0) is not bigger than zero, "
       "aImg.sourceHeader.totalLength(189) must be equal to sizeof(hdrImage)=188."},
      {"r29_negative_frame_size",
       [](DIMAGE& i) {
         i.frameHeader.appendedFrameSize = -5;
         i.sourceHeader.totalLength = 0x80000000u;
       },
       "In case Img.frameHeader.appendedFrameSize(-5) is not bigger than zero, "
       "aImg.sourceHeader.totalLength(2147483648) must be equal to sizeof(hdrImage)=188."},
      {"r30_gray_without_frame", [](DIMAGE& i) { setAppendedSize(i, 0); },
       "Img.frameHeader.imageFormat is GRAY(Img.frameHeader.BytesPerPixel=1" + kRule30Tail +
           "0) must be bigger or equal getAppendedWidth(640)= times getAppendedHeight(480) times "
           "getBytesPerPixel(1)."},
      {"r30_gray_one_byte_short", [](DIMAGE& i) { setAppendedSize(i, 307199); },
       "Img.frameHeader.imageFormat is GRAY(Img.frameHeader.BytesPerPixel=1" + kRule30Tail +
           "307199) must be bigger or equal getAppendedWidth(640)= times getAppendedHeight(480) "
           "times getBytesPerPixel(1)."},
      {"r30_negative_frame_size_counts_as_zero", [](DIMAGE& i) { setAppendedSize(i, -1); },
       "Img.frameHeader.imageFormat is GRAY(Img.frameHeader.BytesPerPixel=1" + kRule30Tail +
           "-1) must be bigger or equal getAppendedWidth(640)= times getAppendedHeight(480) times "
           "getBytesPerPixel(1)."},
      {"r30_gray16_uses_aoi",
       [](DIMAGE& i) {
         i.frameHeader.bytesPerPixel = 2;
         i.frameHeader.aoiWidth = 10;
         i.frameHeader.aoiHeight = 20;
         setAppendedSize(i, 399);
       },
       "Img.frameHeader.imageFormat is GRAY(Img.frameHeader.BytesPerPixel=2" + kRule30Tail +
           "399) must be bigger or equal getAppendedWidth(10)= times getAppendedHeight(20) times "
           "getBytesPerPixel(2)."},
      {"r30_rgb",
       [](DIMAGE& i) {
         i.frameHeader.imageFormat = CF_IMAGE_FORMAT_RGB;
         i.frameHeader.bytesPerPixel = 3;
       },
       "Img.frameHeader.imageFormat is RGB(Img.frameHeader.BytesPerPixel=3" + kRule30Tail +
           "307200) must be bigger or equal getAppendedWidth(640)= times getAppendedHeight(480) "
           "times getBytesPerPixel(3)."},
      // 65536 x 65536 x 1 wraps to 0 in 32 bits; the wide product refuses it.
      {"r30_product_does_not_wrap",
       [](DIMAGE& i) {
         i.frameHeader.sourceWidth = 65536;
         i.frameHeader.sourceHeight = 65536;
         setAppendedSize(i, 100);
       },
       "Img.frameHeader.imageFormat is GRAY(Img.frameHeader.BytesPerPixel=1" + kRule30Tail +
           "100) must be bigger or equal getAppendedWidth(65536)= times getAppendedHeight(65536) "
           "times getBytesPerPixel(1)."},
      // 46341 x 46341 x 1 is just above the largest signed 32-bit value.
      {"r30_product_above_int_max",
       [](DIMAGE& i) {
         i.frameHeader.sourceWidth = 46341;
         i.frameHeader.sourceHeight = 46341;
         setAppendedSize(i, MAX_TRANSPORT_SIZE);
       },
       "Img.frameHeader.imageFormat is GRAY(Img.frameHeader.BytesPerPixel=1" + kRule30Tail +
           "27262976) must be bigger or equal getAppendedWidth(46341)= times "
           "getAppendedHeight(46341) times getBytesPerPixel(1)."},
      // Three factors near 2^31 exceed 64 bits: a size no frame can have.
      {"r30_product_beyond_64_bits",
       [](DIMAGE& i) {
         i.frameHeader.sourceWidth = INT_MAX;
         i.frameHeader.sourceHeight = INT_MAX;
         i.frameHeader.imageFormat = CF_IMAGE_FORMAT_RGB;
         i.frameHeader.bytesPerPixel = 3;
         setAppendedSize(i, 16);
       },
       "Img.frameHeader.imageFormat is RGB(Img.frameHeader.BytesPerPixel=3" + kRule30Tail +
           "16) must be bigger or equal getAppendedWidth(2147483647)= times "
           "getAppendedHeight(2147483647) times getBytesPerPixel(3)."},
  };
}

class ValidityRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(ValidityRule, FirstFailingRuleGivesItsReason) {
  DIMAGE img = validGrayImage(g_frame);
  GetParam().mutate(img);
  std::string reason = "previous";
  EXPECT_FALSE(CDIMAGE::checkValidity(img, reason));
  EXPECT_EQ(reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(AllRules, ValidityRule, ::testing::ValuesIn(ruleCases()),
                         [](const ::testing::TestParamInfo<RuleCase>& info) {
                           return std::string(info.param.name);
                         });

struct ValidCase {
  const char* name;
  std::function<void(DIMAGE&)> mutate;
};

void PrintTo(const ValidCase& c, std::ostream* os) { *os << c.name; }

std::vector<ValidCase> validCases() {
  return {
      {"plain_gray", [](DIMAGE&) {}},
      {"jpeg_without_frame",
       [](DIMAGE& i) {
         i.frameHeader.imageFormat = CF_IMAGE_FORMAT_JPEG;
         setAppendedSize(i, 0);
       }},
      {"one_based_start_at_last_column",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.xStart = 640;
         i.frameHeader.aoiWidth = 1;
         setAppendedSize(i, 480);
       }},
      {"one_based_start_one_without_aoi", [](DIMAGE& i) { oneBased(i); }},
      {"one_based_aoi_reaching_the_edge",
       [](DIMAGE& i) {
         oneBased(i);
         i.frameHeader.aoiWidth = 100;
         i.frameHeader.xStart = 541;
         i.frameHeader.aoiHeight = 10;
         i.frameHeader.yStart = 471;
         setAppendedSize(i, 1000);
       }},
      {"zero_based_aoi_reaching_the_edge",
       [](DIMAGE& i) {
         i.frameHeader.aoiWidth = 100;
         i.frameHeader.xStart = 540;
         i.frameHeader.aoiHeight = 10;
         i.frameHeader.yStart = 470;
         setAppendedSize(i, 1000);
       }},
      {"aoi_zero_means_whole_picture",
       [](DIMAGE& i) {
         i.frameHeader.aoiWidth = 0;
         i.frameHeader.aoiHeight = 0;
       }},
      {"frame_larger_than_needed", [](DIMAGE& i) { i.frameBufferSize = 400000; }},
      {"largest_frame",
       [](DIMAGE& i) {
         i.frameHeader.imageFormat = CF_IMAGE_FORMAT_RGB;
         i.frameHeader.bytesPerPixel = 3;
         setAppendedSize(i, MAX_TRANSPORT_SIZE);
       }},
      {"rgb_with_four_bytes_is_not_sized",
       [](DIMAGE& i) {
         i.frameHeader.imageFormat = CF_IMAGE_FORMAT_RGB;
         i.frameHeader.bytesPerPixel = 4;
         setAppendedSize(i, 10);
       }},
      {"unchecked_fields_hold_anything",
       [](DIMAGE& i) {
         i.sourceHeader.cameraPortId = -7;
         i.sourceHeader.versionTag = 99;
         std::memset(i.sourceHeader.cameraPortName, 'x', sizeof i.sourceHeader.cameraPortName);
         i.frameHeader.effectiveBitsPerPixel = -100;
         i.frameHeader.horizontalBinning = -3;
         i.frameHeader.xScale = -1.0f;
         i.frameHeader.imageFlags = 0xFFFFFFFFu & ~CF_IMAGE_FLAG_XYSTART_ONE_BASED;
       }},
  };
}

class ValidImage : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidImage, PassesAndKeepsTheText) {
  DIMAGE img = validGrayImage(g_frame);
  GetParam().mutate(img);
  std::string reason = "untouched";
  EXPECT_TRUE(CDIMAGE::checkValidity(img, reason));
  EXPECT_EQ(reason, "untouched");
}

INSTANTIATE_TEST_SUITE_P(Headers, ValidImage, ::testing::ValuesIn(validCases()),
                         [](const ::testing::TestParamInfo<ValidCase>& info) {
                           return std::string(info.param.name);
                         });

const char kNullReason[] = "Parameter apImg must not be NULL.";

TEST(ValidityCheckEx, CodesReasonsAndOneLogLinePerRefusal) {
  LogCapture log;
  DIMAGE img = validGrayImage(g_frame);
  std::string reason = "kept";
  EXPECT_EQ(_internal_qvCheckImageValidityEx(&img, reason), 1);
  EXPECT_EQ(reason, "kept");
  EXPECT_TRUE(_internal_qvCheckImageValidity(&img));
  EXPECT_EQ(log.count("CDIMAGE::checkValidity error"), 0);

  EXPECT_EQ(_internal_qvCheckImageValidityEx(nullptr, reason), 0);
  EXPECT_EQ(reason, kNullReason);
  img.frameHeader.sourceWidth = 0;
  EXPECT_EQ(_internal_qvCheckImageValidityEx(&img, reason), -1);
  EXPECT_EQ(reason, "Img.frameHeader.sourceWidth=0 is invalid (must be >=1).");
  EXPECT_FALSE(_internal_qvCheckImageValidity(&img));
  EXPECT_FALSE(_internal_qvCheckImageValidity(nullptr));

  EXPECT_EQ(log.count("CDIMAGE::checkValidity error: Parameter apImg must not be NULL."), 2);
  EXPECT_EQ(log.count("CDIMAGE::checkValidity error: Img.frameHeader.sourceWidth=0 is invalid "
                      "(must be >=1)."),
            2);
}

TEST(QvCheckImageValidity, NullImageReasonIsCopiedWhenThereIsRoom) {
  char buffer[100];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qvCheckImageValidity(nullptr, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, kNullReason);

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qvCheckImageValidity(nullptr, buffer, 1), 0);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(qvCheckImageValidity(nullptr, buffer, 0), 0);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(qvCheckImageValidity(nullptr, nullptr, 100), 0);
}

TEST(QvCheckImageValidity, LongReasonIsCutAndTerminated) {
  DIMAGE img = validGrayImage(g_frame);
  img.frameHeader.sourceWidth = 0;
  char buffer[25];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qvCheckImageValidity(&img, buffer, 20), -1);
  EXPECT_EQ(std::string(buffer), std::string("Img.frameHeader.sourceWidth").substr(0, 19));
  EXPECT_EQ(buffer[20], '#');

  // Exactly fitting: the whole reason.
  char exact[sizeof kNullReason];
  EXPECT_EQ(qvCheckImageValidity(nullptr, exact, sizeof exact), 0);
  EXPECT_STREQ(exact, kNullReason);
}

TEST(QvCheckImageValidity, ValidImageLeavesTheBufferAlone) {
  DIMAGE img = validGrayImage(g_frame);
  char buffer[10];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qvCheckImageValidity(&img, buffer, sizeof buffer), 1);
  EXPECT_EQ(buffer[0], '#');
}

TEST(UncompressedFrameSize, IsComputedWide) {
  DIMAGE img = validGrayImage(g_frame);
  img.frameHeader.sourceWidth = 65536;
  img.frameHeader.sourceHeight = 65536;
  img.frameHeader.bytesPerPixel = 4;
  EXPECT_EQ(uncompressedFrameSize(img), int64_t{65536} * 65536 * 4);
  img.frameHeader.aoiWidth = 3;
  img.frameHeader.aoiHeight = 2;
  EXPECT_EQ(getAppendedWidth(img), 3);
  EXPECT_EQ(getAppendedHeight(img), 2);
  EXPECT_EQ(uncompressedFrameSize(img), 24);
}

TEST(UncompressedFrameSize, BeyondSixtyFourBitsIsNoFrameSize) {
  DIMAGE img = validGrayImage(g_frame);
  const struct {
    int32_t width, height, bytes;
    int64_t expected;
  } cases[] = {
      {INT_MAX, INT_MAX, 1, int64_t{INT_MAX} * INT_MAX},
      {INT_MAX, INT_MAX, 2, int64_t{INT_MAX} * INT_MAX * 2},
      {INT_MAX, INT_MAX, 3, qv::image::kUnrepresentableFrameSize},
      {INT_MIN, INT_MAX, 4, qv::image::kUnrepresentableFrameSize},
      {INT_MIN, INT_MIN, INT_MIN, qv::image::kUnrepresentableFrameSize},
      {-2, 3, 4, -24},
  };
  for (const auto& c : cases) {
    img.frameHeader.sourceWidth = c.width;
    img.frameHeader.sourceHeight = c.height;
    img.frameHeader.bytesPerPixel = c.bytes;
    EXPECT_EQ(uncompressedFrameSize(img), c.expected)
        << c.width << " " << c.height << " " << c.bytes;
  }
}

}  // namespace
