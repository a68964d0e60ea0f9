#include "runtime/text.h"

#include <cstring>

namespace qv::text {

bool equalIgnoringCase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (asciiUpper(*a) != asciiUpper(*b)) return false;
  return *a == *b;
}

bool endsWithIgnoringCase(const char* name, const char* ending) {
  if (name == nullptr || ending == nullptr) return false;
  const size_t n = std::strlen(name), m = std::strlen(ending);
  return n >= m && equalIgnoringCase(name + n - m, ending);
}

void copyReason(const std::string& reason, char* buffer, size_t size) {
  if (buffer == nullptr || size <= 1) return;
  const size_t length = reason.size() < size - 1 ? reason.size() : size - 1;
  std::memcpy(buffer, reason.data(), length);
  buffer[length] = '\0';
}

void copyReason(const char* reason, char* buffer, size_t size) {
  if (buffer == nullptr || size <= 1) return;
  if (reason == nullptr) reason = "";
  const size_t available = std::strlen(reason);
  const size_t length = available < size - 1 ? available : size - 1;
  std::memcpy(buffer, reason, length);
  buffer[length] = '\0';
}

}  // namespace qv::text
