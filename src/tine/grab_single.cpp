#include <cstdint>
#include <cstring>

#include "image/image.h"
#include "platform/platform.h"
#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"
#include "runtime/log.h"
#include "runtime/stopwatch.h"
#include "tine/address_check.h"
#include "tine/bringup.h"
#include "tine/property_info.h"
#include "tine/trace_text.h"

namespace {

constexpr char kCaller[] = "qvGrabFrame";
constexpr unsigned kRetryPauseMs = 10;
constexpr int kNoFrame = -1;

using qv::tine::kBeautifiedTineAddressSize;
using qv::tine::pointerValue;
using qv::tine::textOrNull;

void logParameterTrace(const char* asPrefix, DIMAGE* apInOutImage, DTYPE* apDOut,
                       const char* asTineAddress, const char* asTinePropertyName,
                       int aiTineTimeoutMilliseconds, int aiTineMode, int* apiOutTineReturnCode) {
  _internal_log(
      "%sqvGrabFrame(DIMAGE *apInOutImage, DTYPE *apDOut, const char *asTineAddress, const char "
      "*asTinePropertyName, int aiTineTimeoutMilliseconds, int aiTineMode, int "
      "*apiOutTineReturnCode) called.",
      asPrefix);
  _internal_log("qvGrabFrame(%#llxh, %#llxh, \"%s\", \"%s\", %d, %d, %#llxh);",
                pointerValue(apInOutImage), pointerValue(apDOut), textOrNull(asTineAddress),
                textOrNull(asTinePropertyName), aiTineTimeoutMilliseconds, aiTineMode,
                pointerValue(apiOutTineReturnCode));
}

int grabFrame(DIMAGE* apInOutImage, DTYPE* apDOut, const char* asTineAddress,
              const char* asTinePropertyName, int aiTineTimeoutMilliseconds, int aiTineMode,
              int* apiOutTineReturnCode) {
  auto trace = [&](const char* asPrefix) {
    logParameterTrace(asPrefix, apInOutImage, apDOut, asTineAddress, asTinePropertyName,
                      aiTineTimeoutMilliseconds, aiTineMode, apiOutTineReturnCode);
  };
  if (_internal_getLogLevel() > 1) trace("");
  if (apInOutImage == nullptr || apInOutImage->frameBuffer == nullptr || asTineAddress == nullptr ||
      asTinePropertyName == nullptr)
    return 0;

  char sBeautifiedTineAddress[kBeautifiedTineAddressSize] = {};
  int result = _internal_checkTineAddress(kCaller, asTineAddress, sBeautifiedTineAddress,
                                          sizeof sBeautifiedTineAddress, true);
  if (result != 1) {
    trace("Parameters passed: ");
    return result;
  }
  if (!_internal_checkTinePropertyName(kCaller, asTinePropertyName, true)) {
    trace("Parameters passed: ");
    return 0;
  }

  _internal_StartTineIfNotStartedAlready();
  int iTinePropertyFormat = CF_DEFAULT;
  int iTinePropertySize = 0;
  int code =
      _internal_tineReadPropertyCharacteristics(sBeautifiedTineAddress, asTinePropertyName,
                                                &iTinePropertyFormat, &iTinePropertySize, nullptr);
  if (code != 0) {
    _internal_log(
        "Error: qvGrabFrame: _internal_tineReadPropertyCharacteristics() returned not successful: "
        "cc=%d",
        code);
    if (apiOutTineReturnCode != nullptr) *apiOutTineReturnCode = code;
    return -3;
  }

  // The capacity handed to TINE never exceeds the caller's buffer: a larger
  // or a non-positive (hostile) size would let TINE write past it.
  const int64_t bufferSize = apInOutImage->frameBufferSize;
  uint32_t capacity = static_cast<uint32_t>(iTinePropertySize);
  if (iTinePropertySize > bufferSize) {
    _internal_log(
        "Warning: _internal_readPropertyCharacteristics iTinePropertySize(%d) exeeds "
        "apInOutImage->frameBufferSize(%d). iTinePropertySize will be reduced to "
        "apInOutImage->frameBufferSize.",
        iTinePropertySize, static_cast<int>(apInOutImage->frameBufferSize));
    capacity = apInOutImage->frameBufferSize;
  } else if (iTinePropertySize <= 0) {
    _internal_log(
        "Warning: qvGrabFrame: iTinePropertySize(%d) is not positive. "
        "apInOutImage->frameBufferSize(%u) is used instead.",
        iTinePropertySize, apInOutImage->frameBufferSize);
    capacity = apInOutImage->frameBufferSize;
  }
  if (iTinePropertyFormat != CF_IMAGE)
    _internal_log(
        "Warning: iTinePropertyFormat(%d) != CF_IMAGE(%d). Even though, the call will be "
        "attempted.",
        iTinePropertyFormat, CF_IMAGE);

  DTYPE dout;
  std::memset(&dout, 0, sizeof dout);
  dout.dFormat = CF_IMAGE;
  dout.dArrayLength = capacity;
  dout.data.vptr = apInOutImage;
  double dTimeStamp = 0.0;
  qv::runtime::Stopwatch sinceStart;
  bool reported = false;
  int lastReported = -1;
  for (;;) {
    code = alsnExecLinkEx(sBeautifiedTineAddress, asTinePropertyName, &dout, nullptr,
                          static_cast<short>(aiTineMode), aiTineTimeoutMilliseconds, &dTimeStamp);
    if (code == 0) break;
    if (!reported || code != lastReported) {
      _internal_log("qvGrabFrame() Warning: alsnExecLinkEx returned %d.", code);
      lastReported = code;
      reported = true;
    }
    qv::platform::sleepMilliseconds(kRetryPauseMs);
    if (sinceStart.milliseconds() > aiTineTimeoutMilliseconds) break;
  }
  if (apiOutTineReturnCode != nullptr) *apiOutTineReturnCode = code;
  if (code != 0) {
    trace("Unsuccessful in timeout period: ");
    _internal_log("qvGrabFrame() Warning: alsnExecLinkEx returned %d.", code);
    return -1;
  }
  if (!_internal_qvCheckImageValidity(apInOutImage)) {
    _internal_log("qvGrabFrame() Warning: _internal_qvCheckImageValidity(image) returned false!");
    return -2;
  }
  if (apDOut != nullptr) *apDOut = dout;
  return 1;
}

}  // namespace

// The single grab has no out-of-memory result of its own: a grab that ends
// on an exception reports that no frame arrived, and the caller's image and
// buffer stay the caller's.
extern "C" QV_API int qvGrabFrame(DIMAGE* apInOutImage, DTYPE* apDOut, const char* asTineAddress,
                                  const char* asTinePropertyName, int aiTineTimeoutMilliseconds,
                                  int aiTineMode, int* apiOutTineReturnCode) {
  return qv::runtime::guarded("qvGrabFrame", kNoFrame, [&] {
    return grabFrame(apInOutImage, apDOut, asTineAddress, asTinePropertyName,
                     aiTineTimeoutMilliseconds, aiTineMode, apiOutTineReturnCode);
  });
}
