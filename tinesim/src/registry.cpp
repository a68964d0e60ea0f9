// The registry of simulated servers and their properties, the shared state
// and the control interface that tests, benchmarks and tools use to shape
// the servers' answers and to read back what the library asked.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "state.h"

namespace tinesim {

// Never destroyed: the cycle thread and late callers may outlive static
// destruction order at process exit.
State& state() {
  static State* s = new State;
  return *s;
}

std::string lowerCase(const char* asText) {
  std::string result(asText != nullptr ? asText : "");
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

void countCall(State& s, const char* asName) { ++s.callCounts[asName]; }

Server* findServer(State& s, const char* asAddress) {
  auto it = s.servers.find(lowerCase(asAddress));
  return it == s.servers.end() ? nullptr : &it->second;
}

Property* findProperty(State& s, const char* asAddress, const char* asProperty) {
  Server* server = findServer(s, asAddress);
  if (server == nullptr) return nullptr;
  auto it = server->properties.find(lowerCase(asProperty));
  return it == server->properties.end() ? nullptr : &it->second;
}

void waitSilently(int aiTimeoutMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0, aiTimeoutMs)));
}

namespace {

void addDefaultServer(State& s) {
  Server server;
  server.address = "/SIM/VIDEO/CAM1";
  server.properties[lowerCase("Frame")] = Property();
  s.servers[lowerCase(server.address.c_str())] = server;
}

}  // namespace

}  // namespace tinesim

using namespace tinesim;

TINESIM_API int tinesimFeclogCount(void) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.feclogCount;
}

TINESIM_API void tinesimLastFeclog(char* asBuffer, int aiSize) {
  if (asBuffer == nullptr || aiSize < 1) return;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::snprintf(asBuffer, static_cast<size_t>(aiSize), "%s", s.lastFeclog.c_str());
}

TINESIM_API void tinesimReset(void) {
  State& s = state();
  std::lock_guard<std::mutex> delivery(s.deliveryMutex);
  std::lock_guard<std::mutex> lock(s.mutex);
  s.feclogCount = 0;
  s.lastFeclog.clear();
  s.servers.clear();
  addDefaultServer(s);
  s.links.clear();
  s.nextLinkId = 1;
  s.callCounts.clear();
  s.closeFailures = 0;
  s.closeFailureCode = 0;
  s.bufferSpaceResult = 0;
  s.pipeOpenResult = 0;
  s.pipeCloseResult = 0;
  s.renewalResult = 0;
  s.getDataResult = 0;
  s.lastPipeName.clear();
  s.lastReadAccess = s.lastReadCount = s.lastReadTimeout = 0;
  s.lastAttachInterval = s.lastAttachMode = s.lastAttachAccess = 0;
  s.lastLinkOfCallbackId.clear();
  s.callbackCount = 0;
  s.callbackSeconds = 0.0;
  s.lastCallbackReturn = 0.0;
}

TINESIM_API void tinesimCallbackStatistics(int* apiCount, double* apdTotalSeconds,
                                           double* apdLastReturn) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (apiCount != nullptr) *apiCount = s.callbackCount;
  if (apdTotalSeconds != nullptr) *apdTotalSeconds = s.callbackSeconds;
  if (apdLastReturn != nullptr) *apdLastReturn = s.lastCallbackReturn;
}

TINESIM_API int tinesimCallCount(const char* asFunctionName) {
  if (asFunctionName == nullptr) return 0;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.callCounts.find(asFunctionName);
  return it == s.callCounts.end() ? 0 : it->second;
}

TINESIM_API int tinesimOpenLinkCount(void) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return static_cast<int>(s.links.size());
}

TINESIM_API int tinesimCycleTimerRunning(void) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.cycleRunning ? 1 : 0;
}

namespace {

// Runs aChange on the property under the state lock; -1 when it is missing.
template <typename F>
int withProperty(const char* asAddress, const char* asProperty, F aChange) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Property* p = findProperty(s, asAddress, asProperty);
  if (p == nullptr) return -1;
  return aChange(*p);
}

std::vector<int> codeList(const int* apiCodes, int aiCount) {
  if (apiCodes == nullptr || aiCount <= 0) return {};
  return std::vector<int>(apiCodes, apiCodes + aiCount);
}

}  // namespace

TINESIM_API int tinesimAddImageProperty(const char* asAddress, const char* asProperty, int aiWidth,
                                        int aiHeight, int aiPixelFormat) {
  if (asAddress == nullptr || asProperty == nullptr || asProperty[0] == '\0' || aiWidth < 1 ||
      aiHeight < 1 || aiWidth > 16384 || aiHeight > 16384 || aiPixelFormat < TINESIM_GRAY8 ||
      aiPixelFormat > TINESIM_JPEG_RGB)
    return -1;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Server& server = s.servers[lowerCase(asAddress)];
  if (server.address.empty()) server.address = asAddress;
  Property p;
  p.width = aiWidth;
  p.height = aiHeight;
  p.pixelFormat = aiPixelFormat;
  p.effectiveBits = aiPixelFormat == TINESIM_GRAY16 ? 16 : 8;
  server.properties[lowerCase(asProperty)] = p;
  return 0;
}

TINESIM_API int tinesimRemoveServer(const char* asAddress) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.servers.erase(lowerCase(asAddress)) == 1 ? 0 : -1;
}

TINESIM_API int tinesimSetEffectiveBits(const char* asAddress, const char* asProperty, int aiBits) {
  if (aiBits < 1 || aiBits > 16) return -1;
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.effectiveBits = aiBits;
    return 0;
  });
}

TINESIM_API int tinesimSetFrameNumbering(const char* asAddress, const char* asProperty,
                                         uint32_t auiStart, int32_t aiStep, uint32_t auiRepeats) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.numberStart = auiStart;
    p.numberStep = aiStep;
    p.numberRepeats = auiRepeats;
    return 0;
  });
}

TINESIM_API int tinesimSetGenerator(const char* asAddress, const char* asProperty,
                                    TinesimFrameGenerator aGenerator, void* apUser) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.generator = aGenerator;
    p.generatorUser = apUser;
    return 0;
  });
}

TINESIM_API int tinesimSetReplay(const char* asAddress, const char* asProperty,
                                 const QVBUNCHOFIMAGES* apBunch, int aiKeepFrameNumbers) {
  std::vector<ReplayFrame> frames;
  if (apBunch != nullptr && apBunch->imageArray != nullptr) {
    for (uint32_t i = 0; i < apBunch->numFrames; ++i) {
      const DIMAGE& image = apBunch->imageArray[i];
      ReplayFrame frame;
      frame.header = image;
      frame.header.frameBuffer = nullptr;
      int64_t n = std::max<int64_t>(0, image.frameHeader.appendedFrameSize);
      n = std::min<int64_t>(n, image.frameBufferSize);
      if (image.frameBuffer != nullptr)
        frame.bytes.assign(image.frameBuffer, image.frameBuffer + n);
      frames.push_back(std::move(frame));
    }
  }
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.replay = std::move(frames);
    p.keepReplayNumbers = aiKeepFrameNumbers != 0;
    return 0;
  });
}

TINESIM_API int tinesimSetPropsAnswer(const char* asAddress, const char* asProperty, int aiMode,
                                      int aiCode) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.propsMode = aiMode;
    p.propsCode = aiCode;
    return 0;
  });
}

TINESIM_API int tinesimOverridePropsSizeFormat(const char* asAddress, const char* asProperty,
                                               int aiSize, int aiFormat) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.sizeFormatOverridden = true;
    p.overrideSize = aiSize;
    p.overrideFormat = aiFormat;
    return 0;
  });
}

TINESIM_API int tinesimSetPropsText(const char* asAddress, const char* asProperty,
                                    const char* asText) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.propsText = std::string(asText != nullptr ? asText : "").substr(0, 16);
    return 0;
  });
}

TINESIM_API int tinesimSetListenerAnswer(const char* asAddress, const char* asProperty,
                                         int aiAnswersLocally) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.listenerLocal = aiAnswersLocally != 0;
    return 0;
  });
}

TINESIM_API int tinesimScriptReads(const char* asAddress, const char* asProperty,
                                   const int* apiCodes, int aiCount, int aiThenCode) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.readScript = codeList(apiCodes, aiCount);
    p.readScriptPos = 0;
    p.readThenCode = aiThenCode;
    return 0;
  });
}

TINESIM_API int tinesimSetServerSilent(const char* asAddress, int aiSilent) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Server* server = findServer(s, asAddress);
  if (server == nullptr) return -1;
  server->silent = aiSilent != 0;
  return 0;
}

TINESIM_API void tinesimLastRead(int* apiAccess, int* apiElementCount, int* apiTimeoutMs) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (apiAccess != nullptr) *apiAccess = s.lastReadAccess;
  if (apiElementCount != nullptr) *apiElementCount = s.lastReadCount;
  if (apiTimeoutMs != nullptr) *apiTimeoutMs = s.lastReadTimeout;
}

TINESIM_API int tinesimSetAttachResult(const char* asAddress, const char* asProperty,
                                       int aiResult) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.attachResult = aiResult;
    return 0;
  });
}

TINESIM_API int tinesimSetLinkStopAfter(const char* asAddress, const char* asProperty,
                                        int aiFrames) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.linkStopAfter = aiFrames;
    return 0;
  });
}

TINESIM_API int tinesimScriptLinkCodes(const char* asAddress, const char* asProperty,
                                       const int* apiCodes, int aiCount) {
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.linkScript = codeList(apiCodes, aiCount);
    return 0;
  });
}

TINESIM_API void tinesimSetCloseLinkFailures(int aiCount, int aiCode) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.closeFailures = std::max(0, aiCount);
  s.closeFailureCode = aiCode;
}

TINESIM_API void tinesimSetBufferSpaceResult(int aiCode) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.bufferSpaceResult = aiCode;
}

TINESIM_API void tinesimSetPipeResults(int aiOpenCode, int aiCloseCode) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.pipeOpenResult = aiOpenCode;
  s.pipeCloseResult = aiCloseCode;
}

TINESIM_API void tinesimSetRenewalThresholdResult(int aiCode) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.renewalResult = aiCode;
}

TINESIM_API void tinesimSetGetDataResult(int aiCode) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.getDataResult = aiCode;
}

TINESIM_API void tinesimLastAttach(int* apiIntervalMs, int* apiMode, int* apiAccess) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (apiIntervalMs != nullptr) *apiIntervalMs = s.lastAttachInterval;
  if (apiMode != nullptr) *apiMode = s.lastAttachMode;
  if (apiAccess != nullptr) *apiAccess = s.lastAttachAccess;
}

TINESIM_API void tinesimLastPipeName(char* asBuffer, int aiSize) {
  if (asBuffer == nullptr || aiSize < 1) return;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::snprintf(asBuffer, static_cast<size_t>(aiSize), "%s", s.lastPipeName.c_str());
}

namespace {

// The default server exists from load on.
struct DefaultServerAtLoad {
  DefaultServerAtLoad() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    addDefaultServer(s);
  }
} g_defaultServerAtLoad;

}  // namespace
