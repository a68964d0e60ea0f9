#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "quivox3/quivox3.h"
#include "runtime/timetext.h"

namespace {

std::string utc(int64_t seconds, uint32_t fraction, bool micro, bool brackets, bool ampm,
                uint32_t size = 64) {
  char buffer[64];
  const char* text =
      platformTimeToUTCString(seconds, fraction, micro, brackets, ampm, buffer, size);
  return text != nullptr ? std::string(text) : std::string("<null>");
}

}  // namespace

TEST(ElapsedSeconds, CountsMillisecondsAcrossASecondBoundary) {
  timeValue earlier{100, 900};
  timeValue later{101, 100};
  EXPECT_DOUBLE_EQ(platformElapsedSeconds(earlier, later), 0.2);
  EXPECT_DOUBLE_EQ(platformElapsedSeconds(later, earlier), -0.2);
}

TEST(LocalTimeString, NeedsTwentySixBytes) {
  char buffer[64];
  EXPECT_EQ(QVV3_INTERNAL_getTimeString(buffer, 25), nullptr);
  EXPECT_EQ(QVV3_INTERNAL_getTimeString(nullptr, 64), nullptr);
  ASSERT_EQ(QVV3_INTERNAL_getTimeString(buffer, 26), buffer);
  EXPECT_EQ(std::strlen(buffer), 25u);
  EXPECT_TRUE(
      std::regex_match(buffer, std::regex(R"(\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d\d\d LTM)")))
      << buffer;
}

TEST(UtcString, RendersEveryForm) {
  EXPECT_EQ(utc(0, 0, true, false, true), "1970-01-01 12:00:00.000000 AM UTC");
  EXPECT_EQ(utc(1690380185, 123456, true, true, false), "[2023-07-26 14:03:05.123456 UTC]");
  EXPECT_EQ(utc(1690380185, 123456, true, false, true), "2023-07-26  2:03:05.123456 PM UTC");
  EXPECT_EQ(utc(1690380185, 123, false, false, false), "2023-07-26 14:03:05.123 UTC");
  EXPECT_EQ(utc(1690380185, 7, false, true, true), "[2023-07-26  2:03:05.007 PM UTC]");
  // Noon is 12 PM, the hour before midnight 11 PM.
  EXPECT_EQ(utc(1690372800, 0, true, false, true), "2023-07-26 12:00:00.000000 PM UTC");
  EXPECT_EQ(utc(1690415999, 0, true, false, true), "2023-07-26 11:59:59.000000 PM UTC");
}

TEST(UtcString, RefusesBadArguments) {
  EXPECT_EQ(utc(0, 1000000, true, false, true), "<null>");
  EXPECT_EQ(utc(0, 1000, false, false, true), "<null>");
  EXPECT_EQ(utc(-1, 0, true, false, true), "<null>");
  EXPECT_EQ(utc(0, 0, true, false, true, 1), "<null>");
  char buffer[8];
  EXPECT_EQ(platformTimeToUTCString(0, 0, true, false, true, nullptr, 40), nullptr);
  EXPECT_EQ(QVV3_INTERNAL_platformTimeToUTCString(0, -1, 1, 0, 1, buffer, 8), nullptr);
}

TEST(UtcString, CutsToTheBuffer) {
  EXPECT_EQ(utc(1690380185, 123456, true, true, false, 10), "[2023-07-");
  char buffer[10];
  ASSERT_NE(QVV3_INTERNAL_platformTimeToUTCString(1690380185, 123456, 1, 1, 0, buffer, 10),
            nullptr);
  EXPECT_STREQ(buffer, "[2023-07-");
}

TEST(UtcString, StoredFormParsesBack) {
  for (int64_t seconds : {int64_t{0}, int64_t{1690380185}, int64_t{1690372800}, int64_t{951782400},
                          int64_t{2147483648}, int64_t{4102444799}}) {
    for (uint32_t micro : {0u, 1u, 123456u, 999999u}) {
      std::string text = utc(seconds, micro, true, false, true);
      int64_t parsed = -1;
      uint32_t parsedMicro = 1234567;
      ASSERT_TRUE(platformUTCStringToTime(text.c_str(), &parsed, &parsedMicro)) << text;
      EXPECT_EQ(parsed, seconds) << text;
      EXPECT_EQ(parsedMicro, micro) << text;
    }
  }
}

TEST(UtcParse, AcceptsAnyLetterCaseAndHandlesTwelve) {
  int64_t seconds = 0;
  uint32_t micro = 0;
  ASSERT_TRUE(platformUTCStringToTime("2023-07-26  2:03:05.123456 pm utc", &seconds, &micro));
  EXPECT_EQ(seconds, 1690380185);
  EXPECT_EQ(micro, 123456u);
  ASSERT_TRUE(platformUTCStringToTime("2023-07-26 12:00:00.000000 AM UTC", &seconds, &micro));
  EXPECT_EQ(seconds % 86400, 0);
  ASSERT_TRUE(platformUTCStringToTime("2023-07-26 12:30:00.000000 PM UTC", &seconds, &micro));
  EXPECT_EQ(seconds % 86400, 12 * 3600 + 30 * 60);
}

TEST(UtcParse, RejectsOtherFormsAndLeavesOutputs) {
  const char* bad[] = {
      "1969-12-31 11:59:59.000000 PM UTC",  // before the epoch
      "2023-07-26 14:03:05.123456 UTC",     // 24-hour form
      "2023-07-26  2:03:05.123 PM UTC",     // milliseconds only
      "[2023-07-26  2:03:05.123456 PM UTC]", "2023-07-26  2:03:05.123456 XM UTC",
      "2023-07-26  2:03:05.123456 PM GMT",   "2023-13-26  2:03:05.123456 PM UTC",
      "2023-07-26  2:60:05.123456 PM UTC",   "",
  };
  for (const char* text : bad) {
    int64_t seconds = 77;
    uint32_t micro = 88;
    EXPECT_FALSE(platformUTCStringToTime(text, &seconds, &micro)) << text;
    EXPECT_EQ(seconds, 77);
    EXPECT_EQ(micro, 88u);
  }
  EXPECT_FALSE(platformUTCStringToTime(nullptr, nullptr, nullptr));
}
