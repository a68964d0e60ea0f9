// Stand-in for the TINE client library, in-process: simulated video servers
// with image properties, property queries, synchronous reads and links whose
// callbacks run on a cycle thread, as the real library does.
//
// Locking: g_deliveryMutex is held by the cycle thread for one whole delivery
// (writing the link's container and running its callback); CloseLink takes it
// too, so once CloseLink has succeeded the link's container and reference are
// never touched again. The state mutex guards everything else. Order:
// delivery mutex before state mutex.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quivox3/quivox3.h"
#include "tine/tine_api.h"
#include "tinesim/control.h"

#define TINESIM_API extern "C" __attribute__((visibility("default")))

namespace {

using Clock = std::chrono::steady_clock;

// Completion codes the simulated servers answer with.
constexpr int kCodeIllegalProperty = 3;
constexpr int kCodeNoSuchDevice = 4;
constexpr int kCodeTimedOut = 7;
constexpr int kCodeIllegalFormat = 9;
constexpr int kCodeLinkNotOpen = 12;
constexpr int kCodeArgumentList = 20;
constexpr int kCodeDimension = 23;

constexpr size_t kPropsRevision4Size = 432;
constexpr size_t kPropsOldSize = 68;

struct CodeText {
  int code;
  const char* text;
};

// Completion-code texts of the stand-in; codes without an entry are "unknown".
constexpr CodeText kCodeTexts[] = {
    {0, "success"},
    {1, "operation busy"},
    {2, "out of range"},
    {3, "illegal property"},
    {4, "no such device"},
    {5, "server not responding"},
    {6, "property not available"},
    {7, "operation timed out"},
    {8, "link error"},
    {9, "illegal format"},
    {10, "illegal access"},
    {12, "link not open"},
    {20, "argument list error"},
    {23, "dimension error"},
    {25, "not supported"},
    {26, "illegal context"},
    {40, "non existent elements"},
    {43, "buffer too small"},
    {62, "illegal protocol"},
    {103, "invalid data"},
    {513, "decompression error"},
    {516, "not signalled"},
    {517, "link blacklisted"},
};
constexpr int kErrorListSize = 600;

struct ReplayFrame {
  DIMAGE header;
  std::vector<uint8_t> bytes;
};

struct Property {
  std::string name;
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
  double dataTimeStamp = 0.0;
  int callbackCount = 0;
  double callbackSeconds = 0.0;
  double lastCallbackReturn = 0.0;
  // cycle thread
  std::thread cycleThread;
  bool cycleRunning = false;
  bool stopCycle = false;
  std::thread::id cycleThreadId;
};

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

void addDefaultServer(State& s) {
  Server server;
  server.address = "/SIM/VIDEO/CAM1";
  Property frame;
  frame.name = "Frame";
  server.properties[lowerCase("Frame")] = frame;
  s.servers[lowerCase(server.address.c_str())] = server;
}

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

bool isJpeg(int aiPixelFormat) {
  return aiPixelFormat == TINESIM_JPEG_GRAY || aiPixelFormat == TINESIM_JPEG_RGB;
}

int channelsOf(int aiPixelFormat) {
  switch (aiPixelFormat) {
    case TINESIM_GRAY16: return 2;
    case TINESIM_RGB24:
    case TINESIM_JPEG_RGB: return 3;
    default: return 1;
  }
}

// Largest frame the property delivers: what a query reports as its size.
int64_t naturalFrameSize(const Property& p) {
  if (!p.replay.empty()) {
    int64_t largest = 0;
    for (const ReplayFrame& frame : p.replay)
      largest = std::max<int64_t>(largest, static_cast<int64_t>(frame.bytes.size()));
    return largest;
  }
  int64_t raw = static_cast<int64_t>(p.width) * p.height * channelsOf(p.pixelFormat);
  return isJpeg(p.pixelFormat) ? raw + 65536 : raw;
}

void reportedSizeFormat(const Property& p, int* apiSize, int* apiFormat) {
  if (p.sizeFormatOverridden) {
    *apiSize = p.overrideSize;
    *apiFormat = p.overrideFormat;
    return;
  }
  *apiSize = static_cast<int>(std::min<int64_t>(naturalFrameSize(p), INT32_MAX));
  *apiFormat = CF_IMAGE;
}

uint32_t frameNumberOf(const Property& p, uint64_t auiIndex) {
  uint64_t step = auiIndex / (static_cast<uint64_t>(p.numberRepeats) + 1);
  return static_cast<uint32_t>(p.numberStart + static_cast<uint64_t>(p.numberStep) * step);
}

// ---- test pattern ----------------------------------------------------------

constexpr int kBitCell = 8;

int patternBits(int aiWidth, int aiHeight) {
  if (aiHeight < kBitCell) return 0;
  return std::min(32, aiWidth / kBitCell);
}

// Top band: the frame number, one 8 x 8 block per bit; below it a diagonal
// gradient that moves with the frame number.
void renderPattern(const Property& p, uint32_t auiNumber, std::vector<uint8_t>& aPixels) {
  const int w = p.width, h = p.height;
  const int channels = channelsOf(p.pixelFormat);
  const bool wide = p.pixelFormat == TINESIM_GRAY16;
  const uint32_t mask = wide ? ((p.effectiveBits >= 1 && p.effectiveBits <= 16)
                                    ? (1u << p.effectiveBits) - 1u
                                    : 0xFFFFu)
                             : 0xFFu;
  const int bytesPerPixel = wide ? 2 : channels;
  aPixels.resize(static_cast<size_t>(w) * h * bytesPerPixel);
  const int bits = patternBits(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = aPixels.data() + static_cast<size_t>(y) * w * bytesPerPixel;
    if (y < kBitCell && bits > 0) {
      for (int x = 0; x < w; ++x) {
        int bit = x / kBitCell;
        uint32_t v = (bit < bits && ((auiNumber >> bit) & 1u)) ? mask : 0u;
        if (wide) {
          row[2 * x] = static_cast<uint8_t>(v);
          row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        } else {
          for (int c = 0; c < channels; ++c) row[x * channels + c] = static_cast<uint8_t>(v);
        }
      }
      continue;
    }
    const uint32_t base = static_cast<uint32_t>(2 * y) + 3u * auiNumber;
    if (wide) {
      for (int x = 0; x < w; ++x) {
        uint32_t v = (base + static_cast<uint32_t>(x)) & mask;
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
    } else if (channels == 1) {
      for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(base + static_cast<uint32_t>(x));
    } else {
      for (int x = 0; x < w; ++x) {
        row[3 * x] = static_cast<uint8_t>(base + static_cast<uint32_t>(x));
        row[3 * x + 1] = static_cast<uint8_t>(y + auiNumber);
        row[3 * x + 2] = static_cast<uint8_t>(x + y);
      }
    }
  }
}

// ---- JPEG coding into memory -------------------------------------------------

struct MemoryDestination {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* out;
  uint8_t chunk[65536];
};

void initDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  dest->out->clear();
  dest->pub.next_output_byte = dest->chunk;
  dest->pub.free_in_buffer = sizeof dest->chunk;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  dest->out->insert(dest->out->end(), dest->chunk, dest->chunk + sizeof dest->chunk);
  dest->pub.next_output_byte = dest->chunk;
  dest->pub.free_in_buffer = sizeof dest->chunk;
  return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  size_t used = sizeof dest->chunk - dest->pub.free_in_buffer;
  dest->out->insert(dest->out->end(), dest->chunk, dest->chunk + used);
}

void encodeJpeg(const std::vector<uint8_t>& aPixels, int aiWidth, int aiHeight, int aiChannels,
                std::vector<uint8_t>& aOut) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  auto dest = std::make_unique<MemoryDestination>();
  dest->out = &aOut;
  dest->pub.init_destination = initDestination;
  dest->pub.empty_output_buffer = emptyOutputBuffer;
  dest->pub.term_destination = termDestination;
  cinfo.dest = &dest->pub;
  cinfo.image_width = static_cast<JDIMENSION>(aiWidth);
  cinfo.image_height = static_cast<JDIMENSION>(aiHeight);
  cinfo.input_components = aiChannels;
  cinfo.in_color_space = aiChannels == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(aPixels.data() + static_cast<size_t>(cinfo.next_scanline) *
                                                             aiWidth * aiChannels);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

// ---- frames --------------------------------------------------------------------

void stampNow(DIMAGE& aHeader) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  aHeader.sourceHeader.timestampSeconds = static_cast<uint32_t>(micros / 1000000);
  aHeader.sourceHeader.timestampMicroseconds = static_cast<uint32_t>(micros % 1000000);
}

void fillHeader(const Server& aServer, const Property& p, uint32_t auiNumber, DIMAGE& h) {
  std::memset(&h, 0, sizeof h);
  h.sourceHeader.baseTag = QV_BASE_TAG;
  h.sourceHeader.cameraPortId = 1;
  h.sourceHeader.versionTag = 1;
  stampNow(h);
  std::snprintf(h.sourceHeader.cameraPortName, sizeof h.sourceHeader.cameraPortName, "%s",
                aServer.address.c_str());
  FRAMEHEADER& f = h.frameHeader;
  f.sourceWidth = p.width;
  f.sourceHeight = p.height;
  f.aoiWidth = -1;
  f.aoiHeight = -1;
  f.bytesPerPixel = channelsOf(p.pixelFormat);
  f.effectiveBitsPerPixel = p.pixelFormat == TINESIM_GRAY16 ? p.effectiveBits : 8;
  f.horizontalBinning = 1;
  f.verticalBinning = 1;
  bool colour = p.pixelFormat == TINESIM_RGB24 || p.pixelFormat == TINESIM_JPEG_RGB;
  f.sourceFormat = colour ? CF_IMAGE_FORMAT_RGB : CF_IMAGE_FORMAT_GRAY;
  f.imageFormat = isJpeg(p.pixelFormat) ? CF_IMAGE_FORMAT_JPEG : f.sourceFormat;
  f.frameNumber = auiNumber;
  f.eventNumber = auiNumber;
  f.xScale = 10.0f;
  f.yScale = 10.0f;
  f.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
}

// Writes frame number index of the property into the container, as TINE
// does for CF_IMAGE: the header, at most the capacity in frame bytes, and
// appendedFrameSize = the bytes delivered. Returns a completion code.
int deliverFrame(const Server& aServer, const Property& p, uint64_t auiIndex, DTYPE* aDout) {
  if (aDout == nullptr || aDout->data.vptr == nullptr) return kCodeArgumentList;
  if (aDout->dFormat != CF_IMAGE) return kCodeIllegalFormat;
  DIMAGE* target = static_cast<DIMAGE*>(aDout->data.vptr);
  const uint32_t capacity = target->frameBuffer != nullptr ? aDout->dArrayLength : 0;
  const uint32_t number = frameNumberOf(p, auiIndex);
  DIMAGE header;
  thread_local std::vector<uint8_t> pixels;
  thread_local std::vector<uint8_t> coded;
  const std::vector<uint8_t>* source = &pixels;

  if (!p.replay.empty()) {
    const ReplayFrame& frame = p.replay[auiIndex % p.replay.size()];
    header = frame.header;
    if (!p.keepReplayNumbers) header.frameHeader.frameNumber = number;
    source = &frame.bytes;
  } else {
    fillHeader(aServer, p, number, header);
    if (p.generator != nullptr) {
      pixels.assign(static_cast<size_t>(naturalFrameSize(p)), 0);
      int written = p.generator(p.generatorUser, number, &header, pixels.data(),
                                static_cast<uint32_t>(pixels.size()));
      if (written < 0) return -written;
      pixels.resize(std::min<size_t>(static_cast<size_t>(written), pixels.size()));
    } else {
      renderPattern(p, number, pixels);
    }
    if (isJpeg(p.pixelFormat)) {
      encodeJpeg(pixels, p.width, p.height, channelsOf(p.pixelFormat), coded);
      source = &coded;
    }
  }
  const size_t delivered = std::min<size_t>(source->size(), capacity);
  header.frameHeader.appendedFrameSize = static_cast<int32_t>(delivered);
  header.sourceHeader.totalLength = static_cast<uint32_t>(QV_HDR_IMAGE_SIZE + delivered);
  // The caller's frameBuffer and frameBufferSize stay the caller's.
  std::memcpy(target, &header, QV_HDR_IMAGE_SIZE);
  if (delivered > 0) std::memcpy(target->frameBuffer, source->data(), delivered);
  aDout->dTimeStamp = static_cast<double>(header.sourceHeader.timestampSeconds) +
                      header.sourceHeader.timestampMicroseconds / 1e6;
  return 0;
}

void waitSilently(int aiTimeoutMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0, aiTimeoutMs)));
}

// ---- cycle thread ------------------------------------------------------------

struct PendingCallback {
  TLinkCallback callback = nullptr;
  int callbackId = 0;
  int code = 0;
  void* reference = nullptr;
};

// Prepares the next delivery of a due link under the state lock.
bool prepareDelivery(State& s, Link& link, PendingCallback& aOut) {
  const Clock::time_point now = Clock::now();
  link.due += std::chrono::milliseconds(link.intervalMs);
  if (link.due < now) link.due = now;
  auto serverIt = s.servers.find(link.serverKey);
  if (serverIt == s.servers.end()) return false;
  Server& server = serverIt->second;
  auto propIt = server.properties.find(link.propertyKey);
  if (propIt == server.properties.end() || server.silent) return false;
  Property& p = propIt->second;
  aOut.callback = link.callback;
  aOut.callbackId = link.callbackId;
  aOut.reference = link.reference;
  if (link.scriptPos < p.linkScript.size()) {
    aOut.code = p.linkScript[link.scriptPos++];
    if (aOut.code != 0) return true;
  }
  if (p.linkStopAfter >= 0 && link.framesDelivered >= static_cast<uint64_t>(p.linkStopAfter)) {
    link.exhausted = true;
    return false;
  }
  aOut.code = deliverFrame(server, p, link.framesDelivered, link.dout);
  if (aOut.code == 0) ++link.framesDelivered;
  s.lastLinkOfCallbackId[link.callbackId] = link.id;
  return true;
}

void cycleLoop() {
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  while (!s.stopCycle) {
    Link* next = nullptr;
    for (auto& entry : s.links)
      if (!entry.second.exhausted && (next == nullptr || entry.second.due < next->due))
        next = &entry.second;
    if (next == nullptr) {
      s.wake.wait(lock);
      continue;
    }
    if (next->due > Clock::now()) {
      const Clock::time_point due = next->due;  // the link may close while waiting
      s.wake.wait_until(lock, due);
      continue;
    }
    const int linkId = next->id;
    lock.unlock();
    {
      std::lock_guard<std::mutex> delivery(s.deliveryMutex);
      lock.lock();
      auto it = s.links.find(linkId);
      PendingCallback pending;
      bool run = it != s.links.end() && !s.stopCycle && prepareDelivery(s, it->second, pending);
      lock.unlock();
      if (run) {
        const Clock::time_point start = Clock::now();
        pending.callback(pending.callbackId, pending.code, pending.reference);
        const Clock::time_point end = Clock::now();
        lock.lock();
        ++s.callbackCount;
        s.callbackSeconds += std::chrono::duration<double>(end - start).count();
        s.lastCallbackReturn = std::chrono::duration<double>(end.time_since_epoch()).count();
        lock.unlock();
      }
    }
    lock.lock();
  }
}

}  // namespace

// ---- TINE calls ------------------------------------------------------------------

TINESIM_API const char* GetSystemVersionString(void) { return "5.2.1-sim"; }

TINESIM_API int GetErrorListSize(void) { return kErrorListSize; }

TINESIM_API const char* cc2str(int aCode) {
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == aCode) return entry.text;
  return "unknown error";
}

TINESIM_API int feclog(const char* aFormat, ...) {
  char line[1024];
  va_list args;
  va_start(args, aFormat);
  std::vsnprintf(line, sizeof line, aFormat, args);
  va_end(args);
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.feclogCount;
  s.lastFeclog = line;
  return 0;
}

TINESIM_API int SystemStartCycleTimer(void) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "SystemStartCycleTimer");
  if (s.cycleRunning) return 0;
  s.stopCycle = false;
  s.cycleThread = std::thread(cycleLoop);
  s.cycleThreadId = s.cycleThread.get_id();
  s.cycleRunning = true;
  return 0;
}

TINESIM_API int SystemKillCycleTimer(void) {
  State& s = state();
  std::thread stopping;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    countCall(s, "SystemKillCycleTimer");
    if (!s.cycleRunning) return 0;
    s.stopCycle = true;
    s.cycleRunning = false;
    stopping = std::move(s.cycleThread);
  }
  s.wake.notify_all();
  if (stopping.get_id() == std::this_thread::get_id())
    stopping.detach();
  else
    stopping.join();
  return 0;
}

TINESIM_API int SetClnRecvQueueDepth(int) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "SetClnRecvQueueDepth");
  return 0;
}

TINESIM_API int _SystemAssignBufferSpace(int, int) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "_SystemAssignBufferSpace");
  return s.bufferSpaceResult;
}

TINESIM_API int OpenIpcPipe(const char* aPipeName) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "OpenIpcPipe");
  s.lastPipeName = aPipeName != nullptr ? aPipeName : "";
  return s.pipeOpenResult;
}

TINESIM_API int CloseIpcPipe(const char*) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "CloseIpcPipe");
  return s.pipeCloseResult;
}

TINESIM_API int getPropertyInfoFromListenerEx(const char* aDevName, const char* aProperty,
                                              int* aSize, int* aFormat, char* aText) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "getPropertyInfoFromListenerEx");
  Property* p = findProperty(s, aDevName, aProperty);
  if (p == nullptr || !p->listenerLocal || aSize == nullptr || aFormat == nullptr)
    return kCodeIllegalProperty;
  reportedSizeFormat(*p, aSize, aFormat);
  if (aText != nullptr) std::strncpy(aText, p->propsText.c_str(), 16);
  return 0;
}

TINESIM_API int alsnExecLink(const char* aDevName, const char* aProperty, DTYPE* aDout,
                             DTYPE* aDin, short, int aTimeoutMs) {
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  countCall(s, "alsnExecLink");
  if (aProperty == nullptr || lowerCase(aProperty) != "props") return kCodeIllegalProperty;
  Server* server = findServer(s, aDevName);
  if (server == nullptr) return kCodeNoSuchDevice;
  if (server->silent) {
    lock.unlock();
    waitSilently(aTimeoutMs);
    return kCodeTimedOut;
  }
  if (aDin == nullptr || aDin->dFormat != CF_TEXT || aDin->data.cptr == nullptr ||
      aDout == nullptr || aDout->dFormat != CF_STRUCT || aDout->data.vptr == nullptr)
    return kCodeArgumentList;
  std::string name(aDin->data.cptr, std::min<size_t>(aDin->dArrayLength, 64));
  name = name.c_str();  // a terminator inside the count ends the name
  Property* p = findProperty(s, aDevName, name.c_str());
  if (p == nullptr) return kCodeIllegalProperty;
  if (p->propsMode == TINESIM_PROPS_FAIL) return p->propsCode;
  const bool revision4 =
      aDout->dArrayLength == 1 && std::strncmp(aDout->dTag, "PRPQSr4", sizeof aDout->dTag) == 0;
  const bool oldForm = aDout->dArrayLength == kPropsOldSize;
  if (!revision4 && !oldForm) return kCodeDimension;
  if (revision4 && p->propsMode == TINESIM_PROPS_OLD_FORM) return p->propsCode;
  int size = 0, format = 0;
  reportedSizeFormat(*p, &size, &format);
  auto* record = static_cast<uint8_t*>(aDout->data.vptr);
  if (revision4) {
    std::memset(record, 0, kPropsRevision4Size);
    std::memcpy(record + 376, &size, sizeof size);
    record[392] = static_cast<uint8_t>(format - 512);
    std::strncpy(reinterpret_cast<char*>(record + 320), p->propsText.c_str(), 16);
  } else {
    std::memset(record, 0, kPropsOldSize);
    uint16_t shortSize = static_cast<uint16_t>(std::clamp(size, 0, 65535));
    std::memcpy(record + 64, &shortSize, sizeof shortSize);
    record[66] = static_cast<uint8_t>(format - 512);
  }
  return 0;
}

TINESIM_API int alsnExecLinkEx(const char* aDevName, const char* aProperty, DTYPE* aDout,
                               DTYPE*, short aAccess, int aTimeoutMs, double* aDataTimeStamp) {
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  countCall(s, "alsnExecLinkEx");
  s.lastReadAccess = aAccess;
  s.lastReadCount = aDout != nullptr ? static_cast<int>(aDout->dArrayLength) : 0;
  s.lastReadTimeout = aTimeoutMs;
  Server* server = findServer(s, aDevName);
  if (server == nullptr) return kCodeNoSuchDevice;
  if (server->silent) {
    lock.unlock();
    waitSilently(aTimeoutMs);
    return kCodeTimedOut;
  }
  Property* p = findProperty(s, aDevName, aProperty);
  if (p == nullptr) return kCodeIllegalProperty;
  int code = p->readScriptPos < p->readScript.size() ? p->readScript[p->readScriptPos++]
                                                     : p->readThenCode;
  if (code != 0) return code;
  code = deliverFrame(*server, *p, p->readsDelivered, aDout);
  if (code != 0) return code;
  ++p->readsDelivered;
  if (aDataTimeStamp != nullptr) *aDataTimeStamp = aDout->dTimeStamp;
  return 0;
}

TINESIM_API int AttachLinkEx2(const char* aDevName, const char* aProperty, DTYPE* aDout, DTYPE*,
                              short aAccess, int aIntervalMs, TLinkCallback aCallback, int aMode,
                              int aCallbackId, void* aReference) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "AttachLinkEx2");
  s.lastAttachInterval = aIntervalMs;
  s.lastAttachMode = aMode;
  s.lastAttachAccess = aAccess;
  if (aCallback == nullptr || aDout == nullptr) return -kCodeArgumentList;
  Server* server = findServer(s, aDevName);
  if (server == nullptr) return -kCodeNoSuchDevice;
  Property* p = findProperty(s, aDevName, aProperty);
  if (p == nullptr) return -kCodeIllegalProperty;
  if (p->attachResult < 0) return p->attachResult;
  Link link;
  link.id = s.nextLinkId++;
  link.serverKey = lowerCase(aDevName);
  link.propertyKey = lowerCase(aProperty);
  link.dout = aDout;
  link.callback = aCallback;
  link.callbackId = aCallbackId;
  link.reference = aReference;
  link.intervalMs = std::max(1, aIntervalMs);
  link.due = Clock::now();
  s.links[link.id] = link;
  s.wake.notify_all();
  return link.id;
}

TINESIM_API int SetSubscriptionRenewalThreshold(int, int) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "SetSubscriptionRenewalThreshold");
  return s.renewalResult;
}

TINESIM_API int GetDataFromCallbackId(int aCallbackId, DTYPE* aDout, short* aStatus) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  countCall(s, "GetDataFromCallbackId");
  if (s.getDataResult != 0) return s.getDataResult;
  auto last = s.lastLinkOfCallbackId.find(aCallbackId);
  if (last == s.lastLinkOfCallbackId.end()) return kCodeLinkNotOpen;
  auto link = s.links.find(last->second);
  if (link == s.links.end() || aDout == nullptr) return kCodeLinkNotOpen;
  *aDout = *link->second.dout;
  if (aStatus != nullptr) *aStatus = 0;
  return 0;
}

TINESIM_API int CloseLink(int aLinkId) {
  State& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    countCall(s, "CloseLink");
    if (s.closeFailures > 0) {
      --s.closeFailures;
      return s.closeFailureCode;
    }
  }
  // Waits for a delivery in progress, unless called from a callback.
  std::unique_lock<std::mutex> delivery(s.deliveryMutex, std::defer_lock);
  if (std::this_thread::get_id() != s.cycleThreadId) delivery.lock();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.links.erase(aLinkId) == 1 ? 0 : kCodeLinkNotOpen;
}

// ---- DTYPE value conversion ---------------------------------------------------

namespace {

template <typename T>
int convertValues(DTYPE* aData, T* aValues, int aNum) {
  if (aData == nullptr || aValues == nullptr || aNum < 0) return kCodeArgumentList;
  if (aData->data.vptr == nullptr || aData->dArrayLength < static_cast<uint32_t>(aNum))
    return kCodeDimension;
  for (int i = 0; i < aNum; ++i) {
    switch (aData->dFormat) {
      case CF_DOUBLE: aValues[i] = static_cast<T>(aData->data.dptr[i]); break;
      case CF_FLOAT: aValues[i] = static_cast<T>(aData->data.fptr[i]); break;
      case CF_INT32: aValues[i] = static_cast<T>(aData->data.lptr[i]); break;
      default: return kCodeIllegalFormat;
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

TINESIM_API void SetDataTimeStamp(double aTimeStamp) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.dataTimeStamp = aTimeStamp;
}

// ---- control interface ------------------------------------------------------------

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
  s.dataTimeStamp = 0.0;
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

TINESIM_API int tinesimAddImageProperty(const char* asAddress, const char* asProperty,
                                        int aiWidth, int aiHeight, int aiPixelFormat) {
  if (asAddress == nullptr || asProperty == nullptr || asProperty[0] == '\0' || aiWidth < 1 ||
      aiHeight < 1 || aiWidth > 16384 || aiHeight > 16384 || aiPixelFormat < TINESIM_GRAY8 ||
      aiPixelFormat > TINESIM_JPEG_RGB)
    return -1;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Server& server = s.servers[lowerCase(asAddress)];
  if (server.address.empty()) server.address = asAddress;
  Property p;
  p.name = asProperty;
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

TINESIM_API int tinesimSetEffectiveBits(const char* asAddress, const char* asProperty,
                                        int aiBits) {
  if (aiBits < 1 || aiBits > 16) return -1;
  return withProperty(asAddress, asProperty, [&](Property& p) {
    p.effectiveBits = aiBits;
    return 0;
  });
}

TINESIM_API int tinesimSetFrameNumbering(const char* asAddress, const char* asProperty,
                                         uint32_t auiStart, int32_t aiStep,
                                         uint32_t auiRepeats) {
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

TINESIM_API int64_t tinesimPatternFrameNumber(const DIMAGE* apImage) {
  if (apImage == nullptr || apImage->frameBuffer == nullptr) return -1;
  const FRAMEHEADER& f = apImage->frameHeader;
  const int w = f.aoiWidth > 0 ? f.aoiWidth : f.sourceWidth;
  const int h = f.aoiHeight > 0 ? f.aoiHeight : f.sourceHeight;
  const int bpp = f.bytesPerPixel;
  const bool gray = f.imageFormat == CF_IMAGE_FORMAT_GRAY && (bpp == 1 || bpp == 2);
  const bool rgb = f.imageFormat == CF_IMAGE_FORMAT_RGB && bpp == 3;
  const int bits = patternBits(w, h);
  if ((!gray && !rgb) || bits == 0 || w <= 0 ||
      static_cast<int64_t>(w) * kBitCell * bpp > static_cast<int64_t>(apImage->frameBufferSize))
    return -1;
  uint32_t maximum = 255;
  if (bpp == 2)
    maximum = (f.effectiveBitsPerPixel >= 1 && f.effectiveBitsPerPixel <= 16)
                  ? (1u << f.effectiveBitsPerPixel) - 1u
                  : 0xFFFFu;
  const uint8_t* row = apImage->frameBuffer + static_cast<size_t>(kBitCell / 2) * w * bpp;
  uint32_t number = 0;
  for (int bit = 0; bit < bits; ++bit) {
    const uint8_t* pixel = row + static_cast<size_t>(bit * kBitCell + kBitCell / 2) * bpp;
    uint32_t v = bpp == 2 ? static_cast<uint32_t>(pixel[0] | (pixel[1] << 8)) : pixel[0];
    if (v > maximum / 2) number |= 1u << bit;
  }
  return number;
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
