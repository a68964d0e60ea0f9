#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "image/image.h"
#include "image_fixtures.h"

namespace {

const char* const kShortNames[] = {"GRAY",   "RGB",    "RGBA",   "RGB15",   "RGB16", "JPEG", "TIFF",
                                   "YUV411", "YUV422", "YUV444", "HUFFYUV", "BMP",   "BAYER"};

const char kAllFlagsText[] =
    "LITTLE_ENDIAN LOSSLESS HORIZONTAL_FLIP_180 VERTICAL_FLIP_180 XYSTART_ONE_BASED "
    "EVENTNUMBER_OUT_OF_SYNC GLOBAL_TIMESTAMP TIMESTAMP_EXTRAPOLATED SCALE_OFFSET SOFTWARE_ROI";
const char kNoFlagsText[] = "BIG_ENDIAN LOSSLESS_BIT_NOT_SET XYSTART_ZERO_BASED LOCAL_TIMESTAMP";

std::string renderFlags(uint32_t flags) {
  char buffer[200];
  size_t size = sizeof buffer;
  EXPECT_EQ(CDIMAGE::getFlagsAsString(flags, buffer, &size), buffer);
  EXPECT_EQ(size, std::strlen(buffer) + 1);
  return buffer;
}

TEST(FormatNames, EveryCodeRendersAndParsesBack) {
  for (int code = 0; code <= CF_IMAGE_FORMAT_MAX; ++code) {
    char buffer[40];
    size_t size = sizeof buffer;
    ASSERT_EQ(CDIMAGE::getFormatAsString(code, false, buffer, &size), buffer);
    EXPECT_STREQ(buffer, kShortNames[code]);
    EXPECT_EQ(size, sizeof buffer) << "a fitting text leaves the size alone";
    int parsed = -100;
    ASSERT_TRUE(CDIMAGE::getFormatFromString(buffer, &parsed)) << buffer;
    EXPECT_EQ(parsed, code);

    ASSERT_EQ(CDIMAGE::getFormatAsString(code, true, buffer, &size), buffer);
    EXPECT_EQ(std::string(buffer), std::string("CF_IMAGE_FORMAT_") + kShortNames[code]);
    int untouched = -100;
    EXPECT_FALSE(CDIMAGE::getFormatFromString(buffer, &untouched)) << "long names are refused";
    EXPECT_EQ(untouched, -100);
  }
}

TEST(FormatNames, UnknownCodes) {
  char buffer[40];
  size_t size = sizeof buffer;
  EXPECT_STREQ(CDIMAGE::getFormatAsString(13, false, buffer, &size), "UNKNOWN FORMAT(13)");
  EXPECT_STREQ(CDIMAGE::getFormatAsString(-1, true, buffer, &size), "UNKNOWN CF_IMAGE_FORMAT(-1)");
  EXPECT_STREQ(CDIMAGE::getFormatAsString(INT32_MIN, false, buffer, &size),
               "UNKNOWN FORMAT(-2147483648)");
  EXPECT_STREQ(CDIMAGE::getFormatAsString(1, true, buffer, &size), "CF_IMAGE_FORMAT_RGB");
}

TEST(FormatNames, ParserIsExactAndCaseSensitive) {
  int code = -100;
  EXPECT_TRUE(CDIMAGE::getFormatFromString("GRAY", &code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(CDIMAGE::getFormatFromString("BAYER", &code));
  EXPECT_EQ(code, 12);
  code = -100;
  for (const char* refused :
       {"gray", "CF_IMAGE_FORMAT_GRAY", "UNKNOWN FORMAT(13)", "", " GRAY", "GRAY ", "RGB1"})
    EXPECT_FALSE(CDIMAGE::getFormatFromString(refused, &code)) << refused;
  EXPECT_FALSE(CDIMAGE::getFormatFromString(nullptr, &code));
  EXPECT_EQ(code, -100);
}

TEST(FormatNames, TooSmallBufferGetsNothingAndTheNeededSize) {
  char buffer[30];
  std::memset(buffer, '#', sizeof buffer);
  size_t size = 10;
  EXPECT_EQ(CDIMAGE::getFormatAsString(CF_IMAGE_FORMAT_HUFFYUV, true, buffer, &size), nullptr);
  EXPECT_EQ(size, 24u);
  EXPECT_EQ(buffer[0], '#');

  size = 4;  // "GRAY" needs 5
  EXPECT_EQ(CDIMAGE::getFormatAsString(0, false, buffer, &size), nullptr);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(CDIMAGE::getFormatAsString(0, false, buffer, &size), buffer);
  EXPECT_STREQ(buffer, "GRAY");

  size = 0;
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(CDIMAGE::getFormatAsString(0, false, buffer, &size), nullptr);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(buffer[0], '#');

  size = 7;
  EXPECT_EQ(CDIMAGE::getFormatAsString(0, false, nullptr, &size), nullptr);
  EXPECT_EQ(size, 7u) << "a null buffer leaves the size alone";
  EXPECT_EQ(CDIMAGE::getFormatAsString(0, false, buffer, nullptr), nullptr);
  EXPECT_EQ(buffer[0], '#');
}

TEST(FormatNames, ExportedCallUsesTheShortFormAndCopiesTheSize) {
  char buffer[30];
  size_t size = sizeof buffer;
  EXPECT_STREQ(QVV3_INTERNAL_CDIMAGE_getFormatAsString(5, buffer, &size), "JPEG");
  EXPECT_EQ(size, sizeof buffer);
  size = 3;
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(QVV3_INTERNAL_CDIMAGE_getFormatAsString(13, buffer, &size), nullptr);
  EXPECT_EQ(size, 19u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(QVV3_INTERNAL_CDIMAGE_getFormatAsString(0, buffer, nullptr), nullptr);
  EXPECT_EQ(buffer[0], '#');
}

TEST(FormatNames, ObjectRendersItsOwnFormats) {
  uint8_t frame[1];
  DIMAGE img = validGrayImage(frame);
  img.frameHeader.sourceFormat = CF_IMAGE_FORMAT_BAYER;
  img.frameHeader.imageFormat = 99;
  CDIMAGE object(img);
  char buffer[30];
  size_t size = sizeof buffer;
  EXPECT_STREQ(object.getSourceFormatAsString(buffer, &size), "BAYER");
  EXPECT_STREQ(object.getImageFormatAsString(buffer, &size), "UNKNOWN FORMAT(99)");
}

TEST(FlagWords, DocumentedTexts) {
  EXPECT_EQ(renderFlags(0x3FF), kAllFlagsText);
  EXPECT_EQ(renderFlags(0), kNoFlagsText);
  EXPECT_EQ(renderFlags(0x13), "LITTLE_ENDIAN LOSSLESS XYSTART_ONE_BASED LOCAL_TIMESTAMP");
  EXPECT_EQ(renderFlags(0xFFFFFC00u), kNoFlagsText) << "bits above 0x200 are ignored";
}

TEST(FlagWords, LongestTextFitsTheDumpBuffer) {
  size_t longest = 0;
  for (uint32_t flags = 0; flags <= 0x3FF; ++flags)
    longest = std::max(longest, renderFlags(flags).size());
  EXPECT_EQ(longest, renderFlags(0x3FD & ~0x10u).size());  // the long clear words, all else set
  EXPECT_LT(longest, 200u);
}

TEST(FlagWords, EveryCombinationOfTheTableRoundTrips) {
  for (uint32_t flags = 0; flags <= 0x3FF; ++flags) {
    const std::string text = renderFlags(flags | 0xA5A5A400u);
    uint32_t parsed = 0xDEADBEEF;
    ASSERT_TRUE(CDIMAGE::getFlagsFromString(text.c_str(), &parsed)) << text;
    ASSERT_EQ(parsed, flags) << text;
  }
}

TEST(FlagWords, EachBitHasItsWord) {
  const struct {
    uint32_t bit;
    const char* whenSet;
    const char* whenClear;
  } table[] = {{0x1, "LITTLE_ENDIAN", "BIG_ENDIAN"},
               {0x2, "LOSSLESS", "LOSSLESS_BIT_NOT_SET"},
               {0x4, "HORIZONTAL_FLIP_180", nullptr},
               {0x8, "VERTICAL_FLIP_180", nullptr},
               {0x10, "XYSTART_ONE_BASED", "XYSTART_ZERO_BASED"},
               {0x20, "GLOBAL_TIMESTAMP", "LOCAL_TIMESTAMP"},
               {0x40, "EVENTNUMBER_OUT_OF_SYNC", nullptr},
               {0x80, "TIMESTAMP_EXTRAPOLATED", nullptr},
               {0x100, "SCALE_OFFSET", nullptr},
               {0x200, "SOFTWARE_ROI", nullptr}};
  for (const auto& row : table) {
    const std::string set = " " + renderFlags(row.bit) + " ";
    const std::string clear = " " + renderFlags(0x3FF & ~row.bit) + " ";
    EXPECT_NE(set.find(std::string(" ") + row.whenSet + " "), std::string::npos) << set;
    EXPECT_EQ(clear.find(std::string(" ") + row.whenSet + " "), std::string::npos) << clear;
    if (row.whenClear != nullptr) {
      EXPECT_NE(clear.find(std::string(" ") + row.whenClear + " "), std::string::npos) << clear;
    }
    uint32_t parsed = 0;
    ASSERT_TRUE(CDIMAGE::getFlagsFromString(row.whenSet, &parsed));
    EXPECT_EQ(parsed, row.bit);
  }
}

TEST(FlagWords, EventNumberWordPrecedesTimestampKind) {
  const std::string text = renderFlags(0x60);
  EXPECT_LT(text.find("EVENTNUMBER_OUT_OF_SYNC"), text.find("GLOBAL_TIMESTAMP"));
}

TEST(FlagWords, CutTextIsTerminatedAndFullSizeReported) {
  char buffer[200];
  std::memset(buffer, '#', sizeof buffer);
  size_t size = 11;
  EXPECT_EQ(CDIMAGE::getFlagsAsString(0, buffer, &size), buffer);
  EXPECT_STREQ(buffer, "BIG_ENDIAN");
  EXPECT_EQ(size, 67u);
  EXPECT_EQ(buffer[11], '#');

  size = 1;
  EXPECT_EQ(CDIMAGE::getFlagsAsString(0, buffer, &size), buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(size, 67u);
}

TEST(FlagWords, NoRoomMeansNothingWritten) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  size_t size = 0;
  CDIMAGE::getFlagsAsString(0x3FF, buffer, &size);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(size, std::strlen(kAllFlagsText) + 1);
  CDIMAGE::getFlagsAsString(0x3FF, buffer, nullptr);
  EXPECT_EQ(buffer[0], '#');

  size = 5;
  EXPECT_EQ(CDIMAGE::getFlagsAsString(0, nullptr, &size), nullptr);
  EXPECT_EQ(size, 5u) << "a null buffer leaves the size alone";
}

TEST(FlagWords, ExportedCallWorksOnACopyOfTheSize) {
  char buffer[200];
  size_t size = sizeof buffer;
  EXPECT_STREQ(QVV3_INTERNAL_CDIMAGE_getFlagsAsString(0x13, buffer, &size),
               "LITTLE_ENDIAN LOSSLESS XYSTART_ONE_BASED LOCAL_TIMESTAMP");
  EXPECT_EQ(size, 57u);
  std::memset(buffer, '#', sizeof buffer);
  QVV3_INTERNAL_CDIMAGE_getFlagsAsString(0x13, buffer, nullptr);
  EXPECT_EQ(buffer[0], '#');
  size = 0;
  QVV3_INTERNAL_CDIMAGE_getFlagsAsString(0x13, buffer, &size);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(size, 57u);
}

TEST(FlagWords, ParserRules) {
  uint32_t flags = 0xDEADBEEF;
  EXPECT_TRUE(CDIMAGE::getFlagsFromString("little_endian lossless", &flags));
  EXPECT_EQ(flags, 0x3u);
  EXPECT_TRUE(CDIMAGE::getFlagsFromString("  SOFTWARE_ROI   big_endian ", &flags));
  EXPECT_EQ(flags, 0x200u);
  flags = 7;
  EXPECT_TRUE(CDIMAGE::getFlagsFromString("  ", &flags));
  EXPECT_EQ(flags, 0u);
  flags = 7;
  EXPECT_TRUE(CDIMAGE::getFlagsFromString("", &flags));
  EXPECT_EQ(flags, 0u);

  flags = 0xDEADBEEF;
  for (const char* refused : {"LITTLE_ENDIAN BIG_ENDIAN", "LOSSLESS LOSSLESS", "LOSSLESS FOO",
                              "SCALE_OFFSET scale_offset", "GLOBAL_TIMESTAMP LOCAL_TIMESTAMP",
                              "LITTLE_ENDIAN\tLOSSLESS", "LITTLE_ENDIAN,LOSSLESS"})
    EXPECT_FALSE(CDIMAGE::getFlagsFromString(refused, &flags)) << refused;
  EXPECT_FALSE(CDIMAGE::getFlagsFromString(nullptr, &flags));
  EXPECT_EQ(flags, 0xDEADBEEFu) << "a failed parse leaves the flags alone";
}

}  // namespace
