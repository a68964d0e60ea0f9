#include <cstring>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"
#include "runtime/log.h"
#include "tine/address_check.h"
#include "tine/bringup.h"
#include "tine/property_info.h"

namespace {

constexpr int kLargestPlausibleFrame = 100 * 1024 * 1024;
constexpr char kDefaultPropertyName[] = "Frame";
constexpr char kCaller[] = "qvEstimateMaxFrameSizeBytes";

using qv::tine::kBeautifiedTineAddressSize;

int estimateMaxFrameSize(const char* asTineAddress, const char* asTinePropertyName) {
  if (asTineAddress == nullptr) return MAX_TRANSPORT_SIZE;
  const char* name = asTinePropertyName != nullptr ? asTinePropertyName : kDefaultPropertyName;
  const char* givenName = asTinePropertyName != nullptr ? asTinePropertyName : "NULL";

  char sBeautifiedTineAddress[kBeautifiedTineAddressSize] = {};
  int code = _internal_checkTineAddress(kCaller, asTineAddress, sBeautifiedTineAddress,
                                        sizeof sBeautifiedTineAddress, true);
  if (code != 1) {
    _internal_log(
        "qvEstimateMaxFrameSizeBytes(asTineAddress=\"%s\",asTinePropertyName=\"%s\"): Warning: "
        "_internal_checkTineAddress failed with return code %d. As fallback, maximum frame size "
        "set to default (MAX_TRANSPORT_SIZE: %d bytes).",
        asTineAddress, givenName, code, MAX_TRANSPORT_SIZE);
    return MAX_TRANSPORT_SIZE;
  }
  if (!_internal_checkTinePropertyName(kCaller, name, true)) {
    _internal_log(
        "qvEstimateMaxFrameSizeBytes(asTineAddress=\"%s\",asTinePropertyName=\"%s\"): Warning: "
        "_internal_checkTinePropertyName(...,\"%s\", true) failed.As fallback, maximum frame size "
        "set to default (MAX_TRANSPORT_SIZE: %d bytes).",
        asTineAddress, givenName, name, MAX_TRANSPORT_SIZE);
    return MAX_TRANSPORT_SIZE;
  }

  _internal_StartTineIfNotStartedAlready();
  int iTineFormat = CF_DEFAULT;
  int iTineSize = 0;
  code = _internal_tineReadPropertyCharacteristics(sBeautifiedTineAddress, name, &iTineFormat,
                                                   &iTineSize, nullptr);
  if (code != 0) {
    _internal_log(
        "qvEstimateMaxFrameSizeBytes(asTineAddress=\"%s\",asTinePropertyName=\"%s\"): Warning: "
        "_internal_tineReadPropertyCharacteristics(%s,%s,&int,&int,NULL) return code(%d) != 0. As "
        "fallback, maximum frame size set to default (MAX_TRANSPORT_SIZE: %d bytes).",
        asTineAddress, givenName, sBeautifiedTineAddress, name, code, MAX_TRANSPORT_SIZE);
    return MAX_TRANSPORT_SIZE;
  }
  if (iTineFormat != CF_IMAGE) {
    _internal_log(
        "qvEstimateMaxFrameSizeBytes(asTineAddress=\"%s\",asTinePropertyName=\"%s\"): Warning: "
        "_internal_tineReadPropertyCharacteristics(%s,%s,iTineFormat=%d,iTineSize=%d,NULL) "
        "iTineFormat is not CF_IMAGE (#%d). As fallback, maximum frame size set to default "
        "(MAX_TRANSPORT_SIZE: %d bytes).",
        asTineAddress, givenName, sBeautifiedTineAddress, name, iTineFormat, iTineSize, CF_IMAGE,
        MAX_TRANSPORT_SIZE);
    return MAX_TRANSPORT_SIZE;
  }
  if (iTineSize < 1 || iTineSize > kLargestPlausibleFrame) {
    _internal_log(
        "qvEstimateMaxFrameSizeBytes(asTineAddress=\"%s\",asTinePropertyName=\"%s\"): Warning: "
        "_internal_tineReadPropertyCharacteristics(%s,%s,iTineFormat=%d,iTineSize=%d,NULL) "
        "iTineSize is unexpected (expected [1..100*1024*1024] bytes). As fallback, maximum frame "
        "size set to default (MAX_TRANSPORT_SIZE: %d bytes).",
        asTineAddress, givenName, sBeautifiedTineAddress, name, iTineFormat, iTineSize,
        MAX_TRANSPORT_SIZE);
    return MAX_TRANSPORT_SIZE;
  }
  return iTineSize;
}

}  // namespace

// Never fails: whatever goes wrong, the size that takes any frame is the
// answer.
extern "C" QV_API int qvEstimateMaxFrameSizeBytes(const char* asTineAddress,
                                                  const char* asTinePropertyName) {
  return qv::runtime::guarded("qvEstimateMaxFrameSizeBytes", MAX_TRANSPORT_SIZE, [&] {
    return estimateMaxFrameSize(asTineAddress, asTinePropertyName);
  });
}
