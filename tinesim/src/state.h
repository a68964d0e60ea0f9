// Shared state of the stand-in TINE client library: the simulated servers
// and their properties, the open links, the knobs the control interface
// turns and the counters it reads back.
//
// Locking: State::deliveryMutex is held by the cycle thread for one whole
// delivery (writing the link's container and running its callback);
// CloseLink takes it too, so once CloseLink has succeeded the link's
// container and reference are never touched again. State::mutex guards
// everything else. Order: delivery mutex before state mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "tinesim/control.h"

#if defined(_WIN32)
#define TINESIM_API extern "C" __declspec(dllexport)
#else
#define TINESIM_API extern "C" __attribute__((visibility("default")))
#endif

namespace tinesim {

using Clock = std::chrono::steady_clock;

// Completion codes the simulated servers answer with.
constexpr int kCodeIllegalProperty = 3;
constexpr int kCodeNoSuchDevice = 4;
constexpr int kCodeTimedOut = 7;
constexpr int kCodeIllegalFormat = 9;
constexpr int kCodeLinkNotOpen = 12;
constexpr int kCodeArgumentList = 20;
constexpr int kCodeDimension = 23;

struct ReplayFrame {
  DIMAGE header;
  std::vector<uint8_t> bytes;
};

struct Property {
  int width = 640;
  int height = 480;
  int pixelFormat = TINESIM_GRAY16;
  int effectiveBits = 12;
  uint32_t numberStart = 1;
  int32_t numberStep = 1;
  uint32_t numberRepeats = 0;
  TinesimFrameGenerator generator = nullptr;
  void* generatorUser = nullptr;
  std::vector<ReplayFrame> replay;
  bool keepReplayNumbers = false;
  int propsMode = TINESIM_PROPS_REVISION4;
  int propsCode = 0;
  bool sizeFormatOverridden = false;
  int overrideSize = 0;
  int overrideFormat = 0;
  std::string propsText = "sim video frame";
  bool listenerLocal = false;
  std::vector<int> readScript;
  size_t readScriptPos = 0;
  int readThenCode = 0;
  uint64_t readsDelivered = 0;
  int attachResult = 0;
  int linkStopAfter = -1;
  std::vector<int> linkScript;
};

struct Server {
  std::string address;
  bool silent = false;
  std::map<std::string, Property> properties;  // key: lower-case name
};

struct Link {
  int id = 0;
  std::string serverKey;
  std::string propertyKey;
  DTYPE* dout = nullptr;
  TLinkCallback callback = nullptr;
  int callbackId = 0;
  void* reference = nullptr;
  int intervalMs = 1000;
  Clock::time_point due;
  uint64_t framesDelivered = 0;
  size_t scriptPos = 0;
  bool exhausted = false;
};

struct State {
  std::mutex mutex;
  std::mutex deliveryMutex;
  std::condition_variable wake;
  std::map<std::string, Server> servers;  // key: lower-case address
  std::map<int, Link> links;
  int nextLinkId = 1;
  std::map<std::string, int> callCounts;
  int feclogCount = 0;
  std::string lastFeclog;
  int closeFailures = 0;
  int closeFailureCode = 0;
  int bufferSpaceResult = 0;
  int pipeOpenResult = 0;
  int pipeCloseResult = 0;
  int renewalResult = 0;
  int getDataResult = 0;
  std::string lastPipeName;
  int lastReadAccess = 0;
  int lastReadCount = 0;
  int lastReadTimeout = 0;
  int lastAttachInterval = 0;
  int lastAttachMode = 0;
  int lastAttachAccess = 0;
  std::map<int, int> lastLinkOfCallbackId;
  int callbackCount = 0;
  double callbackSeconds = 0.0;
  double lastCallbackReturn = 0.0;
  // cycle thread
  std::thread cycleThread;
  bool cycleRunning = false;
  bool stopCycle = false;
  std::thread::id cycleThreadId;
};

// registry.cpp
State& state();
std::string lowerCase(const char* asText);
void countCall(State& s, const char* asName);
Server* findServer(State& s, const char* asAddress);
Property* findProperty(State& s, const char* asAddress, const char* asProperty);
// A silent server never answers: the caller waits out its timeout.
void waitSilently(int aiTimeoutMs);

// frame_sources.cpp
// Bytes per pixel of a simulated pixel format (1, 2 or 3).
int channelsOf(int aiPixelFormat);
// Renders frame auiNumber of the property's test pattern (test_pattern.cpp).
void renderPattern(const Property& p, uint32_t auiNumber, std::vector<uint8_t>& aPixels);
int64_t naturalFrameSize(const Property& p);
int deliverFrame(const Server& aServer, const Property& p, uint64_t auiIndex, DTYPE* aDout);

// jpeg_encode.cpp
void encodeJpeg(const std::vector<uint8_t>& aPixels, int aiWidth, int aiHeight, int aiChannels,
                std::vector<uint8_t>& aOut);

// links.cpp
void cycleLoop();

}  // namespace tinesim
