// Exported name discovery: each call loads the system list afresh into its
// own objects, answers and drops it again, so calls on several threads share
// nothing.
#include <cstdio>
#include <new>

#include "quivox3/quivox3.h"
#include "runtime/logging.h"
#include "syslist/syslist.h"

namespace {

constexpr size_t kTineContextBufferSize = 64;

// A logging channel to standard error only and a list loaded through it.
struct LoadedSysList {
  CLogging log;
  CSysList list;
  bool loaded = false;

  explicit LoadedSysList(const char* asPath) {
    log.Init(nullptr, false, nullptr);
    loaded = list.load(asPath, true, &log);
  }
  ~LoadedSysList() { log.Done(); }
};

int listImageSourceNames(const char* asPath, char* asNameSlots, QVIMAGESOURCEPAIR* apPairs,
                         unsigned int* apuiCount) {
  LoadedSysList sysList(asPath);
  if (!sysList.loaded) return -1;
  uint32_t uiAvailable = 0;
  if (!sysList.list.getNumberOfImageSources(uiAvailable)) return -2;
  if (asNameSlots == nullptr && apPairs == nullptr) {
    *apuiCount = uiAvailable;
    return 1;
  }
  uint32_t uiCount = *apuiCount;
  if (asNameSlots != nullptr && !sysList.list.getImageSourceNames(asNameSlots, uiCount)) return -2;
  if (apPairs != nullptr && !sysList.list.getImageSourcePairs(apPairs, uiCount)) return -2;
  *apuiCount = uiCount;
  return 1;
}

int listRawVideoServerNames(const char* asPath, char* asTineContext, char* asNameSlots,
                            unsigned int* apuiCount) {
  LoadedSysList sysList(asPath);
  if (!sysList.loaded) return -1;
  if (asTineContext != nullptr) {
    std::snprintf(asTineContext, kTineContextBufferSize, "%s",
                  sysList.list.getTineContext().c_str());
  }
  uint32_t uiAvailable = 0;
  if (!sysList.list.getNumberOfSGPs(uiAvailable)) return -2;
  if (asNameSlots == nullptr) {
    *apuiCount = uiAvailable;
    return 1;
  }
  uint32_t uiCount = *apuiCount;
  if (!sysList.list.getSGPNames(asNameSlots, uiCount)) return -2;
  *apuiCount = uiCount;
  return 1;
}

}  // namespace

extern "C" QV_API int qvGetAllImageSourceNames(const char* asSysListPath, char* asNameSlots,
                                               QVIMAGESOURCEPAIR* apPairs,
                                               unsigned int* apuiCount) {
  if (asSysListPath == nullptr || apuiCount == nullptr) return 0;
  try {
    return listImageSourceNames(asSysListPath, asNameSlots, apPairs, apuiCount);
  } catch (const std::bad_alloc&) {
    return -1;  // out of memory: the list could not be loaded
  } catch (...) {
    return -1;  // nothing may cross the C interface
  }
}

extern "C" QV_API int qvGetAllRawVideoServerNames(const char* asSysListPath, char* asTineContext,
                                                  char* asNameSlots, unsigned int* apuiCount) {
  if (asSysListPath == nullptr || apuiCount == nullptr) return 0;
  try {
    return listRawVideoServerNames(asSysListPath, asTineContext, asNameSlots, apuiCount);
  } catch (const std::bad_alloc&) {
    return -1;  // out of memory: the list could not be loaded
  } catch (...) {
    return -1;  // nothing may cross the C interface
  }
}
