// Small value accessors for TINE data containers.
#pragma once

#include <cstdint>

#include "platform/tine_api.h"

namespace qv::tine {

// Text reader: -2 null container or not a text format, -23 no elements;
// otherwise 1 when the text was cut to the buffer, 0 when not. The buffer
// must not be null and aiLength must be above 0.
int DTypeGetString(const DTYPE* apData, char* asBuffer, int aiLength);
bool DTypeIsTextFormat(const DTYPE* apData);

// One-value readers: the TINE conversion of the first element.
int DTypeGetDouble(DTYPE* apData, double* apdValue);
int DTypeGetFloat(DTYPE* apData, float* apfValue);
int DTypeGetLong(DTYPE* apData, int32_t* apiValue);
int DTypeGetStrings(DTYPE* apData, char* asText, int* apiLength);

// Writers: 0 done; 2 null container, unusable data or format not accepted;
// 23 no elements.
int DTypeSetString(DTYPE* apData, const char* asText);
int DTypeSetDouble(DTYPE* apData, double adValue);
int DTypeSetDoubleWithTimeStamp(DTYPE* apData, double adValue, double adTimeStamp);
int DTypeSetDoubleOrFloat(DTYPE* apData, double adValue);
int DTypeSetDoubleFloatOrLong(DTYPE* apData, double adValue);
int DTypeSetFloat(DTYPE* apData, float afValue);
int DTypeSetFloatOrDouble(DTYPE* apData, float afValue);
int DTypeSetFloatDoubleOrLong(DTYPE* apData, float afValue);
int DTypeSetFloatOrLong(DTYPE* apData, float afValue);
int DTypeSetLong(DTYPE* apData, int32_t aiValue);
int DTypeSetInt(DTYPE* apData, int32_t aiValue);
int DTypeSetLongPair(DTYPE* apData, int32_t aiValue, int32_t aiSecond);
int DTypeSetLongOrFloat(DTYPE* apData, int32_t aiValue);
int DTypeSetLongFloatOrDouble(DTYPE* apData, int32_t aiValue);

}  // namespace qv::tine
