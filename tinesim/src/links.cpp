// Links: attaching, the cycle thread that delivers due links and runs their
// callbacks, reading a callback's data and closing.
#include <algorithm>
#include <utility>

#include "state.h"

namespace tinesim {

namespace {

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

}  // namespace

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

}  // namespace tinesim

using namespace tinesim;

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
  // Registered whole or not at all: should memory run out, no half-made link
  // stays behind (a C library cannot throw at all).
  const int id = link.id;
  s.links.emplace(id, std::move(link));
  s.wake.notify_all();
  return id;
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
