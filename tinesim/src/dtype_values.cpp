// Values out of DTYPE containers, and data time stamps.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "state.h"

using namespace tinesim;

namespace {

template <typename T>
int convertValues(DTYPE* aData, T* aValues, int aNum) {
  if (aData == nullptr || aValues == nullptr || aNum < 0) return kCodeArgumentList;
  if (aData->data.vptr == nullptr || aData->dArrayLength < static_cast<uint32_t>(aNum))
    return kCodeDimension;
  for (int i = 0; i < aNum; ++i) {
    switch (aData->dFormat) {
      case CF_DOUBLE:
        aValues[i] = static_cast<T>(aData->data.dptr[i]);
        break;
      case CF_FLOAT:
        aValues[i] = static_cast<T>(aData->data.fptr[i]);
        break;
      case CF_INT32:
        aValues[i] = static_cast<T>(aData->data.lptr[i]);
        break;
      default:
        return kCodeIllegalFormat;
    }
  }
  return 0;
}

}  // namespace

TINESIM_API int getValuesAsDouble(DTYPE* aData, double* aValues, int aNum) {
  return convertValues(aData, aValues, aNum);
}

TINESIM_API int getValuesAsFloat(DTYPE* aData, float* aValues, int aNum) {
  return convertValues(aData, aValues, aNum);
}

TINESIM_API int getValuesAsLong(DTYPE* aData, int32_t* aValues, int aNum) {
  if (aData != nullptr && (aData->dFormat == CF_DOUBLE || aData->dFormat == CF_FLOAT)) {
    // Conversion of out-of-range floating values to int is undefined: clamp.
    if (aValues == nullptr || aNum < 0) return kCodeArgumentList;
    if (aData->data.vptr == nullptr || aData->dArrayLength < static_cast<uint32_t>(aNum))
      return kCodeDimension;
    for (int i = 0; i < aNum; ++i) {
      double v = aData->dFormat == CF_DOUBLE ? aData->data.dptr[i] : aData->data.fptr[i];
      aValues[i] = v != v ? 0 : static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
    }
    return 0;
  }
  return convertValues(aData, aValues, aNum);
}

TINESIM_API int getValuesAsString(DTYPE* aData, char* aText, int* aLength) {
  if (aData == nullptr || aText == nullptr || aLength == nullptr || *aLength < 1)
    return kCodeArgumentList;
  if (aData->dFormat != CF_TEXT) return kCodeIllegalFormat;
  if (aData->data.cptr == nullptr) return kCodeDimension;
  size_t n = std::min<size_t>(aData->dArrayLength, static_cast<size_t>(*aLength - 1));
  n = strnlen(aData->data.cptr, n);
  std::memcpy(aText, aData->data.cptr, n);
  aText[n] = '\0';
  *aLength = static_cast<int>(n);
  return 0;
}

TINESIM_API double makeDataTimeStamp(void) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count();
}

// The simulated servers stamp their own frames; nothing reads a stamp the
// client sets.
TINESIM_API void SetDataTimeStamp(double) {}
