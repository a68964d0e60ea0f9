// Bunches of valid images built for tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>

#include "quivox3/quivox3.h"

// A bunch owned by the test; freed with qvFreeBunch.
class TestBunch {
 public:
  TestBunch() { qvInitializeBunchStructure(&m_bunch); }
  ~TestBunch() { qvFreeBunch(&m_bunch); }
  TestBunch(const TestBunch&) = delete;
  TestBunch& operator=(const TestBunch&) = delete;
  QVBUNCHOFIMAGES* get() { return &m_bunch; }
  DIMAGE& operator[](size_t i) { return m_bunch.imageArray[i]; }
  uint32_t size() const { return m_bunch.numFrames; }

 private:
  QVBUNCHOFIMAGES m_bunch;
};

// Frees the frame buffer of an image the test owns, at the end of its scope.
struct ImageGuard {
  DIMAGE* p;
  ~ImageGuard() { std::free(p->frameBuffer); }
};

// Fills header i of a bunch with a valid GRAY (1 or 2 bytes) or RGB image.
void setValidHeader(DIMAGE& img, int32_t width, int32_t height, int32_t bytesPerPixel,
                    int32_t format);

// Creates n valid images whose frames are filled by fill(imageIndex, byteIndex).
void makeBunch(TestBunch& bunch, uint32_t n, int32_t width, int32_t height, int32_t bytesPerPixel,
               int32_t format = CF_IMAGE_FORMAT_GRAY,
               const std::function<uint8_t(uint32_t, size_t)>& fill = nullptr);
