// Shared pieces of the fuzz targets: the input as a file the library can
// open, and a reader that splits the input into header fields and bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "quivox3/quivox3.h"

namespace qvfuzz {

// Writes the input to this process's scratch file with the given ending
// (the library chooses some readers by name) and returns its path.
const char* asFile(const uint8_t* data, size_t size, const char* ending);

// Takes fixed-size values from the front of the input, zeros once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  template <typename T>
  T take() {
    T value{};
    const size_t n = m_size < sizeof value ? m_size : sizeof value;
    if (n > 0) std::memcpy(&value, m_data, n);
    m_data += n;
    m_size -= n;
    return value;
  }
  const uint8_t* rest() const { return m_data; }
  size_t left() const { return m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

// The library stays quiet: every message would otherwise reach a log file.
void quietLibrary();

}  // namespace qvfuzz
