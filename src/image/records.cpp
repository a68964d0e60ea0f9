// Creation and release of images and bunches. Everything handed out comes
// from malloc so that the free calls (and callers that free frame buffers
// themselves) agree on the heap.
#include <cstdlib>
#include <cstring>

#include "image/image.h"
#include "runtime/guard.h"
#include "runtime/log.h"

namespace {

// A cleared header costs nothing and keeps undefined bytes out of files
// written before the caller fills every field.
DIMAGE* allocateClearedRecord() { return static_cast<DIMAGE*>(std::calloc(1, sizeof(DIMAGE))); }

void freeFrameBuffers(DIMAGE* apImages, uint32_t auiCount) {
  for (uint32_t i = 0; i < auiCount; ++i) {
    std::free(apImages[i].frameBuffer);
    apImages[i].frameBuffer = nullptr;
  }
}

DIMAGE* initializeImage(int aiFrameBufferSizeBytes) {
  if (aiFrameBufferSizeBytes <= 0) {
    _internal_log("qvInitializeImageEx(): Error: invalid parameter aiFrameBufferSizeBytes=%d.",
                  aiFrameBufferSizeBytes);
    return nullptr;
  }
  DIMAGE* pImage = allocateClearedRecord();
  if (pImage == nullptr) {
    _internal_log("qvInitializeImageEx(): Error: malloc(DIMAGE=%d bytes) returned NULL.",
                  static_cast<int>(sizeof(DIMAGE)));
    return nullptr;
  }
  pImage->frameBufferSize = static_cast<uint32_t>(aiFrameBufferSizeBytes);
  pImage->frameBuffer = static_cast<uint8_t*>(std::malloc(pImage->frameBufferSize));
  if (pImage->frameBuffer == nullptr) {
    _internal_log(
        "qvInitializeImageEx(): Error: malloc(DIMAGE.frameBuffer=%d bytes) returned NULL.",
        aiFrameBufferSizeBytes);
    std::free(pImage);
    return nullptr;
  }
  return pImage;
}

}  // namespace

extern "C" QV_API DIMAGE* qvInitializeImageEx(int aiFrameBufferSizeBytes) {
  return qv::runtime::guarded("qvInitializeImageEx", static_cast<DIMAGE*>(nullptr), [&] {
    if (_internal_getLogLevel() > 1) _internal_log("qvInitializeImageEx() called.");
    return initializeImage(aiFrameBufferSizeBytes);
  });
}

extern "C" QV_API DIMAGE* qvInitializeImage(void) {
  return qv::runtime::guarded("qvInitializeImage", static_cast<DIMAGE*>(nullptr), [] {
    if (_internal_getLogLevel() > 1) _internal_log("qvInitializeImage() called.");
    if (_internal_getLogLevel() > 1) _internal_log("qvInitializeImageEx() called.");
    return initializeImage(MAX_TRANSPORT_SIZE);
  });
}

namespace {

int freeImage(DIMAGE* apImage) {
  if (_internal_getLogLevel() > 1) _internal_log("qvFreeImage() called.");
  if (apImage == nullptr) {
    _internal_log("qvFreeImage(): Warning: qvFreeImage(NULL) called.");
    return 0;
  }
  if (apImage->frameBuffer == nullptr) {
    _internal_log("qvFreeImage(): Warning: qvFreeImage called with DIMAGE.frameBuffer==NULL.");
    std::free(apImage);
    return -1;
  }
  std::free(apImage->frameBuffer);
  std::free(apImage);
  return 1;
}

}  // namespace

extern "C" QV_API int qvFreeImage(DIMAGE* apImage) {
  return qv::runtime::guarded("qvFreeImage", 0, [&] { return freeImage(apImage); });
}

extern "C" QV_API int qvInitializeBunchStructure(QVBUNCHOFIMAGES* apImages) {
  return qv::runtime::guarded("qvInitializeBunchStructure", 0, [&] {
    if (apImages == nullptr) return 0;
    apImages->numFrames = 0;
    apImages->imageArray = nullptr;
    return 1;
  });
}

namespace {

int createBunch(QVBUNCHOFIMAGES* apImages, uint32_t auiNumFrames,
                uint32_t auiFrameBufferSizeBytes) {
  if (apImages == nullptr) return 0;
  if (auiNumFrames == 0) return 1;
  // A record array whose size the 32-bit size arithmetic of the interface
  // cannot express is refused before anything is touched.
  if (auiNumFrames > qv::image::kMaxBunchFrames) return 0;

  DIMAGE* pArray = static_cast<DIMAGE*>(std::calloc(auiNumFrames, sizeof(DIMAGE)));
  apImages->imageArray = pArray;
  if (pArray == nullptr) return 0;
  apImages->numFrames = auiNumFrames;
  for (uint32_t i = 0; i < auiNumFrames; ++i) {
    pArray[i].frameBuffer = nullptr;
    pArray[i].frameBufferSize = 0;
  }
  if (auiFrameBufferSizeBytes == 0) return 1;

  for (uint32_t i = 0; i < auiNumFrames; ++i) {
    pArray[i].frameBuffer = static_cast<uint8_t*>(std::malloc(auiFrameBufferSizeBytes));
    if (pArray[i].frameBuffer == nullptr) {
      freeFrameBuffers(pArray, i);
      std::free(pArray);
      apImages->imageArray = nullptr;
      return 0;
    }
    pArray[i].frameBufferSize = auiFrameBufferSizeBytes;
  }
  return 1;
}

}  // namespace

extern "C" QV_API int qvCreateBunchStructure(QVBUNCHOFIMAGES* apImages, uint32_t auiNumFrames,
                                             uint32_t auiFrameBufferSizeBytes) {
  return qv::runtime::guarded("qvCreateBunchStructure", 0, [&] {
    return createBunch(apImages, auiNumFrames, auiFrameBufferSizeBytes);
  });
}

extern "C" QV_API int qvFreeBunch(QVBUNCHOFIMAGES* apImages) {
  return qv::runtime::guarded("qvFreeBunch", 0, [&] {
    if (apImages == nullptr) return 0;
    if (apImages->numFrames == 0) {
      apImages->imageArray = nullptr;
      return 1;
    }
    if (apImages->imageArray != nullptr) {
      freeFrameBuffers(apImages->imageArray, apImages->numFrames);
      std::free(apImages->imageArray);
      apImages->imageArray = nullptr;
    }
    apImages->numFrames = 0;
    return 1;
  });
}
