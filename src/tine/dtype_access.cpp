#include "tine/dtype_access.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace qv::tine {
namespace {

constexpr int kWriteRefused = 2;
constexpr int kWriteNoElements = 23;

// Fixed width of a name format; 0 for the other formats.
size_t nameWidth(int aiFormat) {
  switch (aiFormat) {
    case CF_NAME8:
      return 8;
    case CF_NAME16:
      return 16;
    case CF_NAME32:
      return 32;
    case CF_NAME48:
      return 48;
    case CF_NAME64:
      return 64;
    default:
      return 0;
  }
}

bool accepts(const DTYPE* apData, std::initializer_list<int> aFormats) {
  return std::find(aFormats.begin(), aFormats.end(), apData->dFormat) != aFormats.end();
}

// Truncation toward zero; values outside the 32-bit range (and NaN) would be
// undefined behaviour, so they saturate (NaN gives 0).
int32_t toInt32(double adValue) {
  if (std::isnan(adValue)) return 0;
  return static_cast<int32_t>(std::clamp(adValue, -2147483648.0, 2147483647.0));
}

int checkWritable(const DTYPE* apData, std::initializer_list<int> aFormats) {
  if (apData == nullptr || !accepts(apData, aFormats)) return kWriteRefused;
  if (apData->dArrayLength == 0 || apData->data.vptr == nullptr) return kWriteNoElements;
  return 0;
}

// Writes one number in the container's own format.
int writeNumber(DTYPE* apData, std::initializer_list<int> aFormats, double adValue,
                bool abStamp = true) {
  int code = checkWritable(apData, aFormats);
  if (code != 0) return code;
  apData->dArrayLength = 1;
  if (abStamp) apData->dTimeStamp = makeDataTimeStamp();
  switch (apData->dFormat) {
    case CF_DOUBLE:
      apData->data.dptr[0] = adValue;
      break;
    case CF_FLOAT:
      apData->data.fptr[0] = static_cast<float>(adValue);
      break;
    default:
      apData->data.lptr[0] = toInt32(adValue);
      break;
  }
  return 0;
}

}  // namespace

bool DTypeIsTextFormat(const DTYPE* apData) {
  return apData != nullptr && (apData->dFormat == CF_TEXT || nameWidth(apData->dFormat) > 0);
}

int DTypeGetString(const DTYPE* apData, char* asBuffer, int aiLength) {
  if (asBuffer == nullptr || aiLength <= 0) return -2;
  if (!DTypeIsTextFormat(apData)) return -2;
  if (apData->dArrayLength == 0 || apData->data.cptr == nullptr) return -23;
  const size_t width =
      apData->dFormat == CF_TEXT ? apData->dArrayLength : nameWidth(apData->dFormat);
  const size_t room = static_cast<size_t>(aiLength) - 1;
  const size_t copied = std::min(room, width);
  std::memcpy(asBuffer, apData->data.cptr, copied);
  asBuffer[copied] = '\0';
  return copied < width ? 1 : 0;
}

int DTypeGetDouble(DTYPE* apData, double* apdValue) {
  return getValuesAsDouble(apData, apdValue, 1);
}
int DTypeGetFloat(DTYPE* apData, float* apfValue) { return getValuesAsFloat(apData, apfValue, 1); }
int DTypeGetLong(DTYPE* apData, int32_t* apiValue) { return getValuesAsLong(apData, apiValue, 1); }
int DTypeGetStrings(DTYPE* apData, char* asText, int* apiLength) {
  return getValuesAsString(apData, asText, apiLength);
}

int DTypeSetString(DTYPE* apData, const char* asText) {
  if (asText == nullptr) return kWriteRefused;
  if (!DTypeIsTextFormat(apData)) return kWriteRefused;
  if (apData->dArrayLength == 0 || apData->data.cptr == nullptr) return kWriteNoElements;
  apData->dTimeStamp = makeDataTimeStamp();
  const size_t withNul = std::strlen(asText) + 1;
  if (apData->dFormat == CF_TEXT) {
    std::memcpy(apData->data.cptr, asText, std::min<size_t>(withNul, apData->dArrayLength));
    return 0;
  }
  const size_t width = nameWidth(apData->dFormat);
  if (withNul > width) {
    std::memcpy(apData->data.cptr, asText, width);
  } else {
    std::memset(apData->data.cptr, 0, width);
    std::memcpy(apData->data.cptr, asText, withNul);
  }
  return 0;
}

int DTypeSetDouble(DTYPE* apData, double adValue) {
  return writeNumber(apData, {CF_DOUBLE}, adValue);
}

int DTypeSetDoubleWithTimeStamp(DTYPE* apData, double adValue, double adTimeStamp) {
  int code = writeNumber(apData, {CF_DOUBLE}, adValue, false);
  if (code == 0) SetDataTimeStamp(adTimeStamp);
  return code;
}

int DTypeSetDoubleOrFloat(DTYPE* apData, double adValue) {
  return writeNumber(apData, {CF_DOUBLE, CF_FLOAT}, adValue);
}
int DTypeSetDoubleFloatOrLong(DTYPE* apData, double adValue) {
  return writeNumber(apData, {CF_FLOAT, CF_DOUBLE, CF_INT32}, adValue);
}
int DTypeSetFloat(DTYPE* apData, float afValue) { return writeNumber(apData, {CF_FLOAT}, afValue); }
int DTypeSetFloatOrDouble(DTYPE* apData, float afValue) {
  return writeNumber(apData, {CF_FLOAT, CF_DOUBLE}, afValue);
}
int DTypeSetFloatDoubleOrLong(DTYPE* apData, float afValue) {
  return writeNumber(apData, {CF_FLOAT, CF_DOUBLE, CF_INT32}, afValue);
}
int DTypeSetFloatOrLong(DTYPE* apData, float afValue) {
  return writeNumber(apData, {CF_FLOAT, CF_INT32}, afValue);
}
int DTypeSetLong(DTYPE* apData, int32_t aiValue) {
  return writeNumber(apData, {CF_INT32}, aiValue);
}
int DTypeSetInt(DTYPE* apData, int32_t aiValue) { return writeNumber(apData, {CF_INT32}, aiValue); }

int DTypeSetLongPair(DTYPE* apData, int32_t aiValue, int32_t aiSecond) {
  int code = writeNumber(apData, {CF_INT32}, aiValue);
  if (code == 0) apData->dStamp = aiSecond;
  return code;
}

int DTypeSetLongOrFloat(DTYPE* apData, int32_t aiValue) {
  return writeNumber(apData, {CF_INT32, CF_FLOAT}, aiValue);
}
int DTypeSetLongFloatOrDouble(DTYPE* apData, int32_t aiValue) {
  return writeNumber(apData, {CF_INT32, CF_FLOAT, CF_DOUBLE}, aiValue);
}

}  // namespace qv::tine
