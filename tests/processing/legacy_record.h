// VIDINFHDR records built from pixel lists, owned the way the library
// expects (every block from malloc).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quivox3/quivox3.h"

namespace qvtest {

class LegacyRecord {
 public:
  LegacyRecord() {
    std::memset(&m_V, 0, sizeof(m_V));
    m_V.type = -1;
  }
  LegacyRecord(int aiWidth, int aiHeight, int aiBpp, int aiEbpp,
               const std::vector<std::vector<uint32_t>>& aFrames, int aiType = 1)
      : LegacyRecord() {
    m_V.width = aiWidth;
    m_V.height = aiHeight;
    m_V.bpp = aiBpp;
    m_V.ebpp = aiEbpp;
    m_V.scale = 0.25;
    m_V.type = aiType;
    m_V.numframes = static_cast<int32_t>(aFrames.size());
    m_V.framebits =
        static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*) * (aFrames.size() + 1)));
    m_V.framescales = static_cast<double*>(std::malloc(sizeof(double) * (aFrames.size() + 1)));
    const size_t iBytes = static_cast<size_t>(aiBpp + 7) / 8;
    for (size_t f = 0; f < aFrames.size(); ++f) {
      m_V.framescales[f] = 0.25;
      m_V.framebits[f] = static_cast<unsigned char*>(std::malloc(aFrames[f].size() * iBytes + 1));
      for (size_t i = 0; i < aFrames[f].size(); ++i) {
        for (size_t b = 0; b < iBytes; ++b) {
          m_V.framebits[f][i * iBytes + b] = static_cast<unsigned char>(aFrames[f][i] >> (8 * b));
        }
      }
    }
  }
  ~LegacyRecord() { release(); }
  LegacyRecord(const LegacyRecord&) = delete;
  LegacyRecord& operator=(const LegacyRecord&) = delete;

  VIDINFHDR* get() { return &m_V; }
  VIDINFHDR* operator->() { return &m_V; }

  std::vector<uint32_t> frame(int aiFrame) const {
    const size_t iBytes = static_cast<size_t>(m_V.bpp + 7) / 8;
    std::vector<uint32_t> out(static_cast<size_t>(m_V.width) * m_V.height);
    for (size_t i = 0; i < out.size(); ++i) {
      uint32_t v = 0;
      for (size_t b = 0; b < iBytes; ++b) {
        v |= static_cast<uint32_t>(m_V.framebits[aiFrame][i * iBytes + b]) << (8 * b);
      }
      out[i] = v;
    }
    return out;
  }

  void release() {
    if (m_V.type == -1 && m_V.framebits == nullptr) return;
    if (m_V.framebits != nullptr) {
      for (int32_t f = 0; f < m_V.numframes; ++f) std::free(m_V.framebits[f]);
    }
    std::free(m_V.framebits);
    std::free(m_V.framescales);
    m_V.framebits = nullptr;
    m_V.framescales = nullptr;
    m_V.type = -1;
  }

 private:
  VIDINFHDR m_V;
};

}  // namespace qvtest
