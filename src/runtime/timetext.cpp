#include "runtime/timetext.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"
#include "runtime/text.h"

void platformGetTime(timeValue* apOut) {
  if (apOut == nullptr) return;
  int64_t seconds = 0;
  unsigned milliseconds = 0;
  qv::platform::currentTime(seconds, milliseconds);
  apOut->seconds = seconds;
  apOut->milliseconds = static_cast<uint16_t>(milliseconds);
}

double platformElapsedSeconds(const timeValue& aEarlier, const timeValue& aLater) {
  double milliseconds = static_cast<double>(aLater.seconds - aEarlier.seconds) * 1000.0 -
                        aEarlier.milliseconds + aLater.milliseconds;
  return milliseconds / 1000.0;
}

namespace {

// Writes at most size-1 characters and always terminates; size >= 1.
void copyCut(char* asBuffer, size_t aiSize, const char* asText) {
  std::snprintf(asBuffer, aiSize, "%s", asText);
}

}  // namespace

namespace {

char* currentTimeString(char* asBuffer, int aiBufferSize) {
  if (asBuffer == nullptr || aiBufferSize < 26) return nullptr;
  timeValue now;
  platformGetTime(&now);
  struct tm local;
  char text[64];
  if (!qv::platform::localCalendar(now.seconds, local)) {
    std::snprintf(text, sizeof text, "time_conversion_error");
  } else {
    std::snprintf(text, sizeof text, "%02d.%02d.%02d %02d:%02d:%02d.%03u LTM", local.tm_mday,
                  local.tm_mon + 1, local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<unsigned>(now.milliseconds));
  }
  copyCut(asBuffer, static_cast<size_t>(aiBufferSize), text);
  return asBuffer;
}

}  // namespace

extern "C" QV_API char* QVV3_INTERNAL_getTimeString(char* asBuffer, int aiBufferSize) {
  return qv::runtime::guarded("QVV3_INTERNAL_getTimeString", static_cast<char*>(nullptr),
                              [&] { return currentTimeString(asBuffer, aiBufferSize); });
}

char* platformTimeToUTCString(int64_t aiSeconds, uint32_t auiFraction, bool abMicroseconds,
                              bool abBrackets, bool abAmPm, char* asBuffer,
                              uint32_t auiBufferSize) {
  if (asBuffer == nullptr || auiBufferSize < 2) return nullptr;
  if (auiFraction > (abMicroseconds ? 999999u : 999u)) return nullptr;
  struct tm utctm;
  if (!qv::platform::utcCalendar(aiSeconds, utctm)) return nullptr;

  const char* am_pm = "AM";
  int hour = utctm.tm_hour;
  if (abAmPm) {
    if (hour >= 12) {
      am_pm = "PM";
      hour -= 12;
    }
    if (hour == 0) hour = 12;
  }
  static const char sFmt24Hours[] = "%s%04d-%02d-%02d %02d:%02d:%02d.%06u %s%sUTC%s";
  static const char sFmtAmPm[] = "%s%04d-%02d-%02d %2d:%02d:%02d.%06u %s%sUTC%s";
  static const char sFmt24HoursMs[] = "%s%04d-%02d-%02d %02d:%02d:%02d.%03u %s%sUTC%s";
  static const char sFmtAmPmMs[] = "%s%04d-%02d-%02d %2d:%02d:%02d.%03u %s%sUTC%s";
  const char* format =
      abMicroseconds ? (abAmPm ? sFmtAmPm : sFmt24Hours) : (abAmPm ? sFmtAmPmMs : sFmt24HoursMs);
  unsigned fraction = abMicroseconds ? auiFraction % 1000000u : auiFraction % 1000u;
  std::snprintf(asBuffer, auiBufferSize, format, abBrackets ? "[" : "", utctm.tm_year + 1900,
                utctm.tm_mon + 1, utctm.tm_mday, hour, utctm.tm_min, utctm.tm_sec, fraction,
                abAmPm ? am_pm : "", abAmPm ? " " : "", abBrackets ? "]" : "");
  return asBuffer;
}

extern "C" QV_API char* QVV3_INTERNAL_platformTimeToUTCString(int64_t aiSeconds, int aiFraction,
                                                              int aiMicroseconds, int aiBrackets,
                                                              int aiAmPm, char* asBuffer,
                                                              int aiBufferSize) {
  return qv::runtime::guarded(
      "QVV3_INTERNAL_platformTimeToUTCString", static_cast<char*>(nullptr), [&]() -> char* {
        if (aiFraction < 0 || aiBufferSize < 0) return nullptr;
        return platformTimeToUTCString(aiSeconds, static_cast<uint32_t>(aiFraction),
                                       aiMicroseconds != 0, aiBrackets != 0, aiAmPm != 0, asBuffer,
                                       static_cast<uint32_t>(aiBufferSize));
      });
}

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (no time zone involved).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

}  // namespace

bool platformUTCStringToTime(const char* asText, int64_t* apiSeconds, uint32_t* apuiMicroseconds) {
  if (asText == nullptr || apiSeconds == nullptr || apuiMicroseconds == nullptr) return false;
  int year, month, day, hour, minute, second;
  unsigned nMicrosecondOffset;
  char letters[5];
  int fractionStart = 0, fractionEnd = 0;
  int items =
      std::sscanf(asText, "%04d-%02d-%02d %2d:%02d:%02d.%n%06u%n %c%c %c%c%c", &year, &month, &day,
                  &hour, &minute, &second, &fractionStart, &nMicrosecondOffset, &fractionEnd,
                  &letters[0], &letters[1], &letters[2], &letters[3], &letters[4]);
  if (items != 12) return false;
  // Only the stored form with six fraction digits is accepted, not milliseconds.
  if (fractionEnd - fractionStart != 6 ||
      !std::isdigit(static_cast<unsigned char>(asText[fractionStart])))
    return false;
  for (char& letter : letters) letter = qv::text::asciiUpper(letter);
  if (letters[2] != 'U' || letters[3] != 'T' || letters[4] != 'C' || letters[1] != 'M')
    return false;
  if (letters[0] == 'A') {
    if (hour == 12) hour = 0;
  } else if (letters[0] == 'P') {
    if (hour != 12) hour += 12;
  } else {
    return false;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 0 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59 || nMicrosecondOffset > 999999u)
    return false;
  // Calendar fields taken as UTC, independent of the machine's time zone.
  int64_t days = daysFromCivil(year, static_cast<unsigned>(month), 1) + day - 1;
  *apiSeconds = days * 86400 + hour * 3600 + minute * 60 + second;
  *apuiMicroseconds = nMicrosecondOffset;
  return true;
}
