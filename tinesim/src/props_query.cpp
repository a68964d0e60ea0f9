// What a simulated server answers about a property: the "PROPS" query in its
// revision-4 and old record forms, and the listener's local property info.
#include <algorithm>
#include <cstring>

#include "state.h"

using namespace tinesim;

namespace {

constexpr size_t kPropsRevision4Size = 432;
constexpr size_t kPropsOldSize = 68;

void reportedSizeFormat(const Property& p, int* apiSize, int* apiFormat) {
  if (p.sizeFormatOverridden) {
    *apiSize = p.overrideSize;
    *apiFormat = p.overrideFormat;
    return;
  }
  *apiSize = static_cast<int>(std::min<int64_t>(naturalFrameSize(p), INT32_MAX));
  *apiFormat = CF_IMAGE;
}

}  // namespace

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

TINESIM_API int alsnExecLink(const char* aDevName, const char* aProperty, DTYPE* aDout, DTYPE* aDin,
                             short, int aTimeoutMs) {
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
