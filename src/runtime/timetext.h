// Time sources and the time texts of log lines, the application and files.
#pragma once

#include <cstdint>

struct timeValue {
  int64_t seconds;
  uint16_t milliseconds;
};

void platformGetTime(timeValue* apOut);
double platformElapsedSeconds(const timeValue& aEarlier, const timeValue& aLater);

// UTC text of an image time stamp; the stored file form is
// (seconds, microseconds, true, false, true, buffer, 40).
char* platformTimeToUTCString(int64_t aiSeconds, uint32_t auiFraction, bool abMicroseconds,
                              bool abBrackets, bool abAmPm, char* asBuffer, uint32_t auiBufferSize);

// Parses the stored form back. Outputs untouched on failure.
bool platformUTCStringToTime(const char* asText, int64_t* apiSeconds, uint32_t* apuiMicroseconds);
