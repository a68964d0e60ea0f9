// Argument renderings shared by the parameter traces of the grabs.
#pragma once

#include <cstdint>

namespace qv::tine {

inline unsigned long long pointerValue(const void* apPointer) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(apPointer));
}

inline const char* textOrNull(const char* asText) { return asText != nullptr ? asText : "NULL"; }

}  // namespace qv::tine
