// qvGrabFramesEx2 and its reduced forms.
//
// Two threads share a GRABFRAMESDATA record: the caller's thread, which
// attaches the link and polls, and TINE's cycle thread, which runs the
// callback. The fields both touch are atomics. Admission of a callback and
// the clean-up hand-over take the same gate lock, so once the clean-up has
// seen no callback running with the record withdrawn, no callback can touch
// the record again.
#include "tine/grab_multi.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/platform.h"
#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "runtime/caller_flags.h"
#include "runtime/guard.h"
#include "runtime/log.h"
#include "tine/address_check.h"
#include "tine/bringup.h"
#include "tine/link_close.h"
#include "tine/modes.h"
#include "tine/trace_text.h"

namespace {

constexpr char kCaller[] = "qvGrabFramesEx2";
constexpr char kRateVariable[] =
    "KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE";
constexpr char kModeVariable[] = "KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_MODE_FORCE";
constexpr int64_t kInactivityLimitSeconds = 5;
constexpr int kRecommendedRateMin = 300;
constexpr int kRecommendedRateMax = 4000;
constexpr unsigned kPollMs = 1;
constexpr unsigned kCleanupPollMs = 100;
constexpr size_t kModeTextSize = 256;
constexpr size_t kCodeTextSize = 33;
constexpr int kGrabNoMemory = -3;
constexpr int kCloseFailedByException = -1;

using qv::runtime::interruptRequested;
using qv::runtime::readInterruptFlag;
using qv::runtime::reportProgress;
using qv::tine::_internal_grabFramesCallback;
using qv::tine::_internal_tineCodeToString;
using qv::tine::kBeautifiedTineAddressSize;
using qv::tine::pointerValue;
using qv::tine::textOrNull;

enum ShutdownReason {
  kRunning = 0,
  kAllReceived = 1,
  kOutOfMemory = 2,
  kInactivity = 3,
  kInterrupted = 5
};

struct GRABFRAMESDATA {
  DIMAGE image{};  // receive image: the link's container points here
  std::atomic<bool> bFinished{false};
  uint32_t numRequested = 0;
  std::atomic<uint32_t> numReceived{0};
  uint32_t lastFrameNumber = 0;  // callback only
  int callbackId = 1;
  std::atomic<int> tineErrorCode{0};
  std::atomic<int> shutdownReason{kRunning};
  std::atomic<int64_t> lastActivity{0};  // whole seconds, monotonic
  QVBUNCHOFIMAGES bunch{nullptr, 0};
  DTYPE* dOutArray = nullptr;
  // The caller's block for the frames, and where it begins once reserved.
  qv::image::FrameBlock* block = nullptr;
  uint8_t* blockBase = nullptr;
  uint32_t blockFrameBytes = 0;
  const char* tineAddress = nullptr;
  const char* tinePropertyName = nullptr;
  // Kept with the record: TINE writes into them until the link is closed.
  DTYPE dout{};
  char sBeautifiedTineAddress[kBeautifiedTineAddressSize] = {};

  // The first to finish the grab decides the reason.
  bool finish(int aiReason) {
    int expected = kRunning;
    bool decided = shutdownReason.compare_exchange_strong(expected, aiReason);
    bFinished.store(true);
    return decided;
  }
};

// Process-wide admission state; see the file comment. Callbacks are allowed
// exactly while some grab is admitted.
std::mutex g_callbackGate;
bool _global_internal_bCallbackRunning = false;
std::vector<const GRABFRAMESDATA*> g_admittedGrabs;  // grabs whose links may deliver

bool callbacksAllowedLocked() { return !g_admittedGrabs.empty(); }

// Records and receive buffers of grabs whose link refused to close: TINE may
// still write into them, so they stay allocated for the life of the process
// (the list itself is never destroyed, not even at exit).
std::mutex g_parkedLock;
auto* const g_parkedGrabs = new std::vector<GRABFRAMESDATA*>();

// Inactivity is measured on a monotonic clock: a time setting must neither
// end a grab nor keep it waiting.
int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* boolText(bool abValue) { return abValue ? "true" : "false"; }

void storeFraction(double* apdOut, const GRABFRAMESDATA& d) {
  if (d.numRequested == 0) return;
  reportProgress(apdOut, static_cast<double>(d.numReceived.load()) / d.numRequested);
}

void admit(const GRABFRAMESDATA* d) {
  std::lock_guard<std::mutex> lock(g_callbackGate);
  g_admittedGrabs.push_back(d);
}

void withdraw(const GRABFRAMESDATA* d) {
  std::lock_guard<std::mutex> lock(g_callbackGate);
  g_admittedGrabs.erase(std::remove(g_admittedGrabs.begin(), g_admittedGrabs.end(), d),
                        g_admittedGrabs.end());
}

bool callbackRunning() {
  std::lock_guard<std::mutex> lock(g_callbackGate);
  return _global_internal_bCallbackRunning;
}

// 0, or 1 above the range, 2 below it, 3 empty or not a number.
int parseInt32(const char* asText, int* apiValue) {
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(asText, &end, 10);
  if (end == asText || *end != '\0') return 3;
  if ((errno == ERANGE && value > 0) || value > INT_MAX) return 1;
  if ((errno == ERANGE && value < 0) || value < INT_MIN) return 2;
  *apiValue = static_cast<int>(value);
  return 0;
}

void applyRateOverride(int& aiRate) {
  const char* value = std::getenv(kRateVariable);
  if (value == nullptr) return;
  int forced = 0;
  int code = parseInt32(value, &forced);
  if (code != 0) {
    _internal_log(
        "Warning: qvGrabFrames(Ex,Ex2): Environment variable \"%s=%s\" set. However, conversion of "
        "\"%s\" from string to int failed (E: %d). No Tine access rate forcing will be performed.",
        kRateVariable, value, value, code);
    return;
  }
  _internal_log(
      "Info: qvGrabFrames(Ex,Ex2): Environment variable \"%s=%s\" set. This forces change of TINE "
      "access rate from '%d' ms to '%d' ms.",
      kRateVariable, value, aiRate, forced);
  aiRate = forced;
}

void applyModeOverride(int& aiMode) {
  const char* value = std::getenv(kModeVariable);
  if (value == nullptr) return;
  int forced = QVV3_INTERNAL_tineDecodeModeStringCMnew(value);
  if (forced < 0) {
    _internal_log(
        "Warning: qvGrabFrames(Ex,Ex2): Environment variable \"%s=%s\" set. However, conversion of "
        "\"%s\" to integer Tine mode failed (E: %d). No Tine access mode forcing will be "
        "performed.",
        kModeVariable, value, value, forced);
    return;
  }
  char sOldTineAccessMode[kModeTextSize];
  char sNewTineAccessMode[kModeTextSize];
  size_t length = sizeof sOldTineAccessMode;
  if (QVV3_INTERNAL_tineModeToString(aiMode, 1, sOldTineAccessMode, &length) < 0)
    std::strcpy(sOldTineAccessMode, "(error)");
  length = sizeof sNewTineAccessMode;
  if (QVV3_INTERNAL_tineModeToString(forced, 1, sNewTineAccessMode, &length) < 0)
    std::strcpy(sNewTineAccessMode, "(error)");
  _internal_log(
      "Info: qvGrabFrames(Ex,Ex2): Environment variable \"%s=%s\" set. This forces change of TINE "
      "access mode from %d(%s) to %d(%s).",
      kModeVariable, value, aiMode, sOldTineAccessMode, forced, sNewTineAccessMode);
  aiMode = forced;
}

// Stores one delivered frame; runs inside an admitted callback.
void storeDelivery(GRABFRAMESDATA& d, int aId) {
  d.lastActivity.store(nowSeconds());
  DIMAGE tmpImage = d.image;
  const uint32_t frameNumber = tmpImage.frameHeader.frameNumber;
  const bool repeat = frameNumber == d.lastFrameNumber && frameNumber != 0;
  const uint32_t n = d.numReceived.load();
  if (!repeat && n < d.numRequested) {
    // TINE never delivers more than the receive buffer holds; a header that
    // claims otherwise must not make the copy read past it.
    const int32_t size = tmpImage.frameHeader.appendedFrameSize;
    if (size < 0 || static_cast<uint32_t>(size) > d.image.frameBufferSize) {
      _internal_log(
          "qvGrabFrames(Ex,Ex2): Callback: Warning: frame %u dropped: appendedFrameSize=%d does "
          "not fit the receive buffer (%u bytes).",
          frameNumber, size, d.image.frameBufferSize);
    } else {
      DIMAGE& slot = d.bunch.imageArray[n];
      slot = tmpImage;
      slot.frameBuffer = nullptr;
      slot.frameBufferSize = 0;
      if (d.dOutArray != nullptr) {
        DTYPE& out = d.dOutArray[n];
        std::memset(&out, 0, sizeof out);
        out.dFormat = CF_DEFAULT;
        DTYPE tmp;
        std::memset(&tmp, 0, sizeof tmp);
        short status = 0;
        int code = GetDataFromCallbackId(aId, &tmp, &status);
        if (code == 0) {
          out = tmp;
          // The link's container points into this call's receive record;
          // the caller's copy points at the stored image instead.
          out.data.vptr = &slot;
        } else {
          _internal_log(
              "qvGrabFrames(Ex,Ex2): Callback: Warning: GetDataFromCallbackId TINE return code: %d",
              code);
        }
      }
      // malloc(0) may legitimately return null; an empty frame gets one byte.
      auto* buffer =
          d.blockBase != nullptr && size > 0 && static_cast<uint32_t>(size) == d.blockFrameBytes
              ? d.blockBase + static_cast<size_t>(n) * d.blockFrameBytes
              : static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
      if (buffer != nullptr) {
        if (size > 0) std::memcpy(buffer, d.image.frameBuffer, static_cast<size_t>(size));
        slot.frameBuffer = buffer;
        slot.frameBufferSize = static_cast<uint32_t>(size);
        const uint32_t received = n + 1;
        d.numReceived.store(received);
        if (received == d.numRequested) d.finish(kAllReceived);
      } else {
        d.finish(kOutOfMemory);
        _internal_log(
            "qvGrabFrames(Ex,Ex2): Callback: malloc() failed (%d bytes for %d out of %d frame).",
            size, static_cast<int>(n + 1), static_cast<int>(d.numRequested));
      }
    }
  } else if (!repeat) {
    d.finish(kAllReceived);
  }
  d.lastFrameNumber = frameNumber;
}

void logParameterTrace(const char* asPrefix, QVBUNCHOFIMAGES* aImages, DTYPE* aImagesDOut,
                       const char* aTineAddress, const char* aTinePropertyName,
                       unsigned int aNumFrames, int aTineTimeoutMilliseconds, int aTineMode,
                       int* apiOutError, int* apiOutTineError, int* apiInInterrupt,
                       double* apdOutPercentageFinished) {
  _internal_log(
      "%sqvGrabFramesEx2(QVBUNCHOFIMAGES *aImages, DTYPE *aImagesDOut, const char *aTineAddress, "
      "const char *aTinePropertyName, unsigned int aNumFrames, int aTineTimeoutMilliseconds, int "
      "aTineMode, int *apiOutError, int *apiOutTineError, int *apiInInterrupt, double "
      "*apdOutPercentageFinished)...",
      asPrefix);
  _internal_log(
      "qvGrabFramesEx2(%#llx h, %#llx h, \"%s\", \"%s\", %lu, %d, %xh, %#llx h, %#llxh, %#llx "
      "h/val=%d, %#llxh)...",
      pointerValue(aImages), pointerValue(aImagesDOut), textOrNull(aTineAddress),
      textOrNull(aTinePropertyName), static_cast<unsigned long>(aNumFrames),
      aTineTimeoutMilliseconds, static_cast<unsigned>(aTineMode), pointerValue(apiOutError),
      pointerValue(apiOutTineError), pointerValue(apiInInterrupt),
      readInterruptFlag(apiInInterrupt), pointerValue(apdOutPercentageFinished));
}

void freeSlots(QVBUNCHOFIMAGES& aBunch, uint32_t auiSlots) {
  if (aBunch.imageArray == nullptr) return;
  for (uint32_t i = 0; i < auiSlots; ++i) std::free(aBunch.imageArray[i].frameBuffer);
  std::free(aBunch.imageArray);
  aBunch.imageArray = nullptr;
}

// Polls until the callback or the caller ends the grab, or nothing arrives
// for too long.
void waitUntilFinished(GRABFRAMESDATA& d, const int* apiInInterrupt, double* apdOutFraction) {
  while (!d.bFinished.load()) {
    if (interruptRequested(apiInInterrupt)) {
      d.finish(kInterrupted);
      break;
    }
    storeFraction(apdOutFraction, d);
    qv::platform::sleepMilliseconds(kPollMs);
    if (nowSeconds() - d.lastActivity.load() > kInactivityLimitSeconds && d.finish(kInactivity))
      _internal_log(
          "qvGrabFrames(Ex,Ex2): Timeout occurred (%lu seconds) (%d of %d frames could be "
          "received up to then).",
          static_cast<unsigned long>(kInactivityLimitSeconds),
          static_cast<int>(d.numReceived.load()), static_cast<int>(d.numRequested));
  }
}

// Attaches the link, waits for the end of the grab and closes the link.
// Returns the grab's error code; aLinkStillOpen tells that TINE may still
// write into the record's container.
template <typename Trace>
int runLink(GRABFRAMESDATA& d, int aiRate, int aiMode, const int* apiInInterrupt,
            double* apdOutFraction, const Trace& aTrace, int& aLinkId, bool& aLinkStillOpen) {
  _internal_StartTineIfNotStartedAlready();
  d.lastActivity.store(nowSeconds());
  admit(&d);  // admits nothing when it throws
  try {
    aLinkId = AttachLinkEx2(d.tineAddress, d.tinePropertyName, &d.dout, nullptr, CA_READ, aiRate,
                            _internal_grabFramesCallback, aiMode, d.callbackId, &d);
  } catch (...) {
    withdraw(&d);
    throw;
  }
  if (aLinkId < 0) {
    withdraw(&d);
    _internal_log("qvGrabFrames(Ex,Ex2): AttachLinkEx2 unsuccessful return code (%d).", aLinkId);
    aTrace("Parameters passed: ");
    d.tineErrorCode.store(aLinkId);
    return -6;
  }
  // From here on the link is open: whatever is thrown while it runs ends
  // the grab (the frames so far are kept), and the link is withdrawn and
  // closed all the same.
  const bool bRan = qv::runtime::guarded(kCaller, false, [&] {
    const int code = SetSubscriptionRenewalThreshold(aLinkId, 50);
    if (code != 0) {
      char tmpStrBuf[kCodeTextSize] = {};
      _internal_log(
          "Warning: qvGrabFrames(Ex,Ex2): SetSubscriptionRenewalThreshold failed (tine error "
          "code: %d(%s)).",
          code, _internal_tineCodeToString(code, tmpStrBuf, sizeof tmpStrBuf));
    }
    waitUntilFinished(d, apiInInterrupt, apdOutFraction);
    return true;
  });
  if (!bRan) d.finish(kOutOfMemory);
  withdraw(&d);
  // A close that throws may or may not have closed the link: the record is
  // then kept as for a link that refused to close.
  const int code = qv::runtime::guarded(kCaller, kCloseFailedByException,
                                        [&] { return _internal_TineCloseLink(aLinkId); });
  if (code != 0) {
    _internal_log("qvGrabFrames(Ex,Ex2): CloseLink(%d) failed (Tine Return Code: %d).", aLinkId,
                  code);
    aLinkStillOpen = true;
  }
  storeFraction(apdOutFraction, d);
  switch (d.shutdownReason.load()) {
    case kOutOfMemory:
      return kGrabNoMemory;
    case kInactivity:
      return -2;
    case kInterrupted:
      return -7;
    default:
      return 0;
  }
}

// Everything between the argument check and the clean-up: empties the
// target, applies the overrides, checks the address, sizes the buffers and
// runs the link. Returns the grab's error code.
template <typename Trace>
int prepareAndRunLink(GRABFRAMESDATA& d, QVBUNCHOFIMAGES* aImages, const char* aTineAddress,
                      const char* aTinePropertyName, unsigned int aNumFrames, int aiRate,
                      int aiMode, const int* apiInInterrupt, double* apdOutFraction,
                      const Trace& aTrace, int& aLinkId, bool& aLinkStillOpen) {
  if (aImages->numFrames != 0) {
    _internal_log(
        "qvGrabFramesEx2: Warning: aImages->numFrames=%d, but must be zero on input, qvFreeBuch() "
        "will be performed.",
        static_cast<int>(aImages->numFrames));
    qvFreeBunch(aImages);
  }
  applyRateOverride(aiRate);
  applyModeOverride(aiMode);
  if (aiRate < kRecommendedRateMin || aiRate > kRecommendedRateMax)
    _internal_log(
        "Warning: qvGrabFrames(Ex, Ex2): Parameter aTineTimeoutMilliseconds exceeds recommended "
        "interval range (300-4000).");

  if (_internal_checkTineAddress(kCaller, aTineAddress, d.sBeautifiedTineAddress,
                                 sizeof d.sBeautifiedTineAddress, true) != 1 ||
      !_internal_checkTinePropertyName(kCaller, aTinePropertyName, true)) {
    aTrace("Parameters passed: ");
    return -1;
  }

  const int size = qvEstimateMaxFrameSizeBytes(d.sBeautifiedTineAddress, aTinePropertyName);
  d.image.frameBuffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
  if (d.image.frameBuffer == nullptr) return kGrabNoMemory;
  d.bunch.imageArray = static_cast<DIMAGE*>(std::calloc(aNumFrames, sizeof(DIMAGE)));
  if (d.bunch.imageArray == nullptr) return kGrabNoMemory;
  d.image.frameBufferSize = static_cast<uint32_t>(size);
  if (d.block != nullptr) {
    d.blockBase = d.block->reserve(aNumFrames, static_cast<uint64_t>(size));
    d.blockFrameBytes = static_cast<uint32_t>(size);
  }
  d.numRequested = aNumFrames;
  d.callbackId = 1;
  d.dout.dFormat = CF_IMAGE;
  d.dout.dArrayLength = static_cast<uint32_t>(size);
  d.dout.data.vptr = &d.image;
  d.tineAddress = d.sBeautifiedTineAddress;
  d.tinePropertyName = aTinePropertyName;
  return runLink(d, aiRate, aiMode, apiInInterrupt, apdOutFraction, aTrace, aLinkId,
                 aLinkStillOpen);
}

}  // namespace

namespace qv::tine {

bool _internal_grabCallbackAllowed() {
  std::lock_guard<std::mutex> lock(g_callbackGate);
  return callbacksAllowedLocked();
}

namespace {

// Clears the running flag when a callback leaves, also when it unwinds.
struct CallbackRunningScope {
  CallbackRunningScope() = default;
  CallbackRunningScope(const CallbackRunningScope&) = delete;
  CallbackRunningScope& operator=(const CallbackRunningScope&) = delete;
  ~CallbackRunningScope() {
    std::lock_guard<std::mutex> lock(g_callbackGate);
    _global_internal_bCallbackRunning = false;
  }
};

void grabFramesCallback(int aId, int aCC, void* aRef) {
  if (aRef == nullptr) {
    bool allowed, running;
    {
      std::lock_guard<std::mutex> lock(g_callbackGate);
      allowed = callbacksAllowedLocked();
      running = _global_internal_bCallbackRunning;
    }
    _internal_log(
        "qvGrabFrames(Ex,Ex2): Callback: aRef=0x%#llx (NULL)! Do nothing, just exit. (aId=%d "
        "aCC=%d _global_internal_bCallbackAllowed=%s _global_internal_bCallbackRunning=%s)",
        pointerValue(aRef), aId, aCC, boolText(allowed), boolText(running));
    return;
  }
  auto* d = static_cast<GRABFRAMESDATA*>(aRef);
  bool admitted;
  {
    std::lock_guard<std::mutex> lock(g_callbackGate);
    admitted =
        std::find(g_admittedGrabs.begin(), g_admittedGrabs.end(), d) != g_admittedGrabs.end();
    if (admitted) {
      if (_global_internal_bCallbackRunning) return;  // dropped, not queued
      _global_internal_bCallbackRunning = true;
    }
  }
  if (!admitted) {
    _internal_log(
        "qvGrabFrames(Ex,Ex2): Callback: _global_internal_bCallbackAllowed == false!! (aId=%d, "
        "aCC=%d, aRef=0x%#llx)",
        aId, aCC, pointerValue(aRef));
    return;
  }
  CallbackRunningScope running;
  try {
    if (!d->bFinished.load() && aId == d->callbackId) {
      if (aCC == 0) {
        storeDelivery(*d, aId);
      } else if (aCC == 516 || aCC == 517) {
        _internal_log("qvGrabFrames(Ex,Ex2): Callback: Info: TINE return code: %d", aCC);
        d->tineErrorCode.store(aCC);
      } else {
        d->tineErrorCode.store(aCC);
        _internal_log("qvGrabFrames(Ex,Ex2): Callback: Warning: TINE return code: %d", aCC);
      }
    }
  } catch (...) {
    // The frame that was being stored is not counted; the grab ends with
    // those before it.
    d->finish(kOutOfMemory);
    throw;
  }
}

}  // namespace

// Runs on TINE's thread, where an exception would end the process: the
// guard ends the grab instead (see above) and logs why.
void _internal_grabFramesCallback(int aId, int aCC, void* aRef) noexcept {
  qv::runtime::guarded("qvGrabFrames(Ex,Ex2): Callback",
                       [&] { grabFramesCallback(aId, aCC, aRef); });
}

}  // namespace qv::tine

namespace {

int grabFrames(QVBUNCHOFIMAGES* aImages, DTYPE* aImagesDOut, const char* aTineAddress,
               const char* aTinePropertyName, unsigned int aNumFrames, int aTineTimeoutMilliseconds,
               int aTineMode, int* apiOutError, int* apiOutTineError, int* apiInInterrupt,
               double* apdOutPercentageFinished, qv::image::FrameBlock* apBlock) {
  auto trace = [&](const char* asPrefix) {
    logParameterTrace(asPrefix, aImages, aImagesDOut, aTineAddress, aTinePropertyName, aNumFrames,
                      aTineTimeoutMilliseconds, aTineMode, apiOutError, apiOutTineError,
                      apiInInterrupt, apdOutPercentageFinished);
  };
  if (_internal_getLogLevel() > 1) trace("");

  // The record lives on the heap: should the link refuse to close, TINE may
  // still write into its container and receive buffer, so then it is kept.
  GRABFRAMESDATA* d = nullptr;
  int iErrorCode = 0;
  int linkId = 0;
  bool linkStillOpen = false;

  if (apiOutError == nullptr || aImages == nullptr || aNumFrames == 0) {
    iErrorCode = -1;
  } else if ((d = new (std::nothrow) GRABFRAMESDATA()) == nullptr) {
    iErrorCode = kGrabNoMemory;
  } else {
    d->dOutArray = aImagesDOut;
    d->block = apBlock;
    // Guarded on its own so that the clean-up below runs whatever happens:
    // the link is closed and withdrawn by runLink itself, the receive buffer
    // and the slots are freed here.
    iErrorCode = qv::runtime::guarded(kCaller, kGrabNoMemory, [&] {
      return prepareAndRunLink(*d, aImages, aTineAddress, aTinePropertyName, aNumFrames,
                               aTineTimeoutMilliseconds, aTineMode, apiInInterrupt,
                               apdOutPercentageFinished, trace, linkId, linkStillOpen);
    });
  }

  // Clean-up: no callback may be inside the record when it is handed over.
  while (callbackRunning()) {
    _internal_log("qvGrabFrames(Ex,Ex2): Cleanup: Waiting for callback to finish!");
    qv::platform::sleepMilliseconds(kCleanupPollMs);
  }
  uint32_t numReceived = 0;
  int tineErrorCode = 0;
  int shutdownReason = 0;
  if (d != nullptr) {
    numReceived = d->numReceived.load();
    tineErrorCode = d->tineErrorCode.load();
    shutdownReason = d->shutdownReason.load();
    if (numReceived > 0) {
      d->bunch.numFrames = numReceived;
      *aImages = d->bunch;
    } else {
      freeSlots(d->bunch, aNumFrames);
    }
  }
  if (linkStillOpen) {
    // TINE may still deliver into the container and the receive buffer.
    _internal_log(
        "qvGrabFramesEx2: Warning: link %d could not be closed; its receive buffer (%u bytes) is "
        "kept.",
        linkId, d->image.frameBufferSize);
    // Should even the list refuse it, the record stays allocated unlisted.
    qv::runtime::guarded(kCaller, [&] {
      std::lock_guard<std::mutex> lock(g_parkedLock);
      g_parkedGrabs->push_back(d);
    });
  } else if (d != nullptr) {
    std::free(d->image.frameBuffer);
    delete d;
  }
  if (apiOutError != nullptr) *apiOutError = iErrorCode;
  if (apiOutTineError != nullptr) *apiOutTineError = tineErrorCode;
  if (_internal_getLogLevel() > 1)
    _internal_log(
        "...qvGrabFramesEx2; return value: %d (numRequested=%d inNumFrames=%d) "
        "d.shutdownReason=%d iErrorCode=%d, iTineErrorCode=%d",
        static_cast<int>(numReceived), static_cast<int>(aNumFrames), static_cast<int>(aNumFrames),
        shutdownReason, iErrorCode, tineErrorCode);
  return static_cast<int>(numReceived);
}

}  // namespace

namespace qv::tine {

int _internal_grabFramesInto(QVBUNCHOFIMAGES* aImages, DTYPE* aImagesDOut, const char* aTineAddress,
                             const char* aTinePropertyName, unsigned int aNumFrames,
                             int aTineTimeoutMilliseconds, int aTineMode, int* apiOutError,
                             int* apiOutTineError, int* apiInInterrupt,
                             double* apdOutPercentageFinished, qv::image::FrameBlock* apBlock) {
  // The grab itself never returns a negative count; -1 stands for a failure
  // the guard caught, reported as out of memory with no frames.
  const int received = qv::runtime::guarded("qvGrabFramesEx2", -1, [&] {
    return grabFrames(aImages, aImagesDOut, aTineAddress, aTinePropertyName, aNumFrames,
                      aTineTimeoutMilliseconds, aTineMode, apiOutError, apiOutTineError,
                      apiInInterrupt, apdOutPercentageFinished, apBlock);
  });
  if (received >= 0) return received;
  if (apiOutError != nullptr) *apiOutError = kGrabNoMemory;
  return 0;
}

}  // namespace qv::tine

extern "C" QV_API int qvGrabFramesEx2(QVBUNCHOFIMAGES* aImages, DTYPE* aImagesDOut,
                                      const char* aTineAddress, const char* aTinePropertyName,
                                      unsigned int aNumFrames, int aTineTimeoutMilliseconds,
                                      int aTineMode, int* apiOutError, int* apiOutTineError,
                                      int* apiInInterrupt, double* apdOutPercentageFinished) {
  // The grab itself never returns a negative count; -1 stands for a failure
  // the guard caught, reported as out of memory with no frames.
  return qv::tine::_internal_grabFramesInto(
      aImages, aImagesDOut, aTineAddress, aTinePropertyName, aNumFrames, aTineTimeoutMilliseconds,
      aTineMode, apiOutError, apiOutTineError, apiInInterrupt, apdOutPercentageFinished, nullptr);
}

extern "C" QV_API int qvGrabFramesEx(QVBUNCHOFIMAGES* aImages, const char* aTineAddress,
                                     const char* aTinePropertyName, unsigned int aNumFrames,
                                     int aTineTimeoutMilliseconds, int aTineMode, int* apiOutError,
                                     int* apiOutTineError, int* apiInInterrupt,
                                     double* apdOutPercentageFinished) {
  return qv::runtime::guarded("qvGrabFramesEx", 0, [&] {
    if (_internal_getLogLevel() > 1) _internal_log("qvGrabFramesEx() called.");
    return qvGrabFramesEx2(aImages, nullptr, aTineAddress, aTinePropertyName, aNumFrames,
                           aTineTimeoutMilliseconds, aTineMode, apiOutError, apiOutTineError,
                           apiInInterrupt, apdOutPercentageFinished);
  });
}

extern "C" QV_API int qvGrabFrames(QVBUNCHOFIMAGES* aImages, const char* aTineAddress,
                                   const char* aTinePropertyName, unsigned int aNumFrames,
                                   int aTineTimeoutMilliseconds, int aTineMode) {
  return qv::runtime::guarded("qvGrabFrames", kGrabNoMemory + 1, [&] {
    if (_internal_getLogLevel() > 1) _internal_log("qvGrabFrames() called.");
    int iError = 0;
    int received =
        qvGrabFramesEx(aImages, aTineAddress, aTinePropertyName, aNumFrames,
                       aTineTimeoutMilliseconds, aTineMode, &iError, nullptr, nullptr, nullptr);
    if (aNumFrames > 0 && received == static_cast<int>(aNumFrames)) return 1;
    qvFreeBunch(aImages);
    return iError + 1;
  });
}
