#include "tine/address_check.h"

#include <cstring>

#include "runtime/log.h"

namespace {

constexpr size_t kShortestAddress = 4;   // an address must be longer than this
constexpr size_t kLongestAddress = 133;  // and shorter than this
constexpr size_t kPropertyNameLimit = 64;

// Logs one address message unless the caller asked for silence.
#define ADDRESS_LOG(...)                       \
  do {                                         \
    if (abVerbose) _internal_log(__VA_ARGS__); \
  } while (0)

int failAddress(char* asBuffer) {
  asBuffer[0] = '\0';
  return 0;
}

}  // namespace

int _internal_checkTineAddress(const char* asCallerName, const char* asTineAddress,
                               char* asBeautifiedTineAddress, int aiBeautifiedSize,
                               bool abVerbose) {
  if (asCallerName == nullptr || asTineAddress == nullptr || asBeautifiedTineAddress == nullptr ||
      aiBeautifiedSize < qv::tine::kBeautifiedTineAddressSize)
    return -5;
  const char* caller = asCallerName;
  const char* given = asTineAddress;
  char* buffer = asBeautifiedTineAddress;
  const size_t length = std::strlen(given);
  if (length <= kShortestAddress) {
    ADDRESS_LOG(
        "Error: %s: Parameter asTineAddress (\"%s\") is too short (%d characters). But it must be "
        "more than %d characters.",
        caller, given, static_cast<int>(length), static_cast<int>(kShortestAddress));
    return -4;
  }
  if (length >= kLongestAddress) {
    buffer[0] = '\0';
    ADDRESS_LOG(
        "Error: %s: Parameter asTineAddress (\"%s\") is too long (%d characters). But it must be "
        "less than %d characters.",
        caller, given, static_cast<int>(length), static_cast<int>(kLongestAddress));
    return -4;
  }

  buffer[0] = '\0';
  bool corrected = false;
  size_t start = 0;
  size_t room = static_cast<size_t>(aiBeautifiedSize) - 1;
  if (given[0] != '/') {
    buffer[0] = '/';
    start = 1;
    room = static_cast<size_t>(aiBeautifiedSize) - 2;
    corrected = true;
    ADDRESS_LOG(
        "Warning: %s: Parameter asTineAddress (\"%s\") will be prepended with a '/' (slash), "
        "because first character should be a slash.",
        caller, given);
  }
  const size_t copied = length < room ? length : room;
  std::memcpy(buffer + start, given, copied);
  buffer[start + copied] = '\0';
  buffer[aiBeautifiedSize - 1] = '\0';

  const char* tooFew =
      "Error: %s: Parameter asTineAddress (\"%s\") contains too few number of slashes. Not "
      "counting first character, there must be exactly two slashes. A slash must not follow "
      "another slash. Internal Reference: %d.";
  const char* illegalSequence =
      "Error: %s: Parameter asTineAddress (\"%s\") contains illegal slash sequence. A slash must "
      "not follow another slash. Internal Reference: %d.";
  char* first = std::strchr(buffer + 1, '/');
  if (first == nullptr) {
    ADDRESS_LOG(tooFew, caller, given, 1);
    return failAddress(buffer);
  }
  if (first == buffer + 1) {
    ADDRESS_LOG(illegalSequence, caller, given, 1);
    return failAddress(buffer);
  }
  if (first[1] == '/') {
    ADDRESS_LOG(illegalSequence, caller, given, 2);
    return failAddress(buffer);
  }
  char* second = std::strchr(first + 1, '/');
  if (second == nullptr) {
    ADDRESS_LOG(tooFew, caller, given, 3);
    return failAddress(buffer);
  }
  if (second[1] == '/') {
    ADDRESS_LOG(illegalSequence, caller, given, 4);
    return failAddress(buffer);
  }
  char* third = std::strchr(second + 1, '/');
  if (third != nullptr) {
    ADDRESS_LOG(
        "Warning: %s: Parameter asTineAddress (\"%s\") contains too many number of slashes. Not "
        "counting first character, there must be exactly two slashes. All characters starting "
        "from first illegal slash up to the end of the string have been chopped off.",
        caller, given);
    *third = '\0';
    corrected = true;
  }
  if (std::strchr(buffer, '[') != nullptr) {
    ADDRESS_LOG(
        "Error: %s: Parameter asTineAddress (\"%s\") contains illegal character [ (opening "
        "bracket).",
        caller, given);
    return failAddress(buffer);
  }
  if (std::strchr(buffer, ']') != nullptr) {
    ADDRESS_LOG(
        "Error: %s: Parameter asTineAddress (\"%s\") contains illegal character ] (closing "
        "bracket).",
        caller, given);
    return failAddress(buffer);
  }
  if (corrected)
    ADDRESS_LOG("Warning: %s: Parameter asTineAddress (\"%s\") was corrected to \"%s\".", caller,
                given, buffer);
  return 1;
}

bool _internal_checkTinePropertyName(const char* asCallerName, const char* asTinePropertyName,
                                     bool abVerbose) {
  const char* caller = asCallerName != nullptr ? asCallerName : "NULL";
  if (asTinePropertyName == nullptr || asTinePropertyName[0] == '\0') {
    ADDRESS_LOG(
        "Error: %s: Parameter asTinePropertyName (\"%s\") is too short. It must be at least one "
        "character long.",
        caller, asTinePropertyName != nullptr ? asTinePropertyName : "NULL");
    return false;
  }
  const char* name = asTinePropertyName;
  if (std::strlen(name) >= kPropertyNameLimit) {
    ADDRESS_LOG(
        "Error: %s: Parameter asTinePropertyName (\"%s\") is too long. It must be less than 64 "
        "characters.",
        caller, name);
    return false;
  }
  if (std::strchr(name, '/') != nullptr) {
    ADDRESS_LOG(
        "Error: %s: Parameter asTinePropertyName (\"%s\") must not contain '/' (slash "
        "character(s)).",
        caller, name);
    return false;
  }
  if (std::strchr(name, '[') != nullptr) {
    ADDRESS_LOG(
        "Error: %s: Parameter asTinePropertyName (\"%s\") must not contain '[' (opening bracket "
        "character(s)).",
        caller, name);
    return false;
  }
  if (std::strchr(name, ']') != nullptr) {
    ADDRESS_LOG(
        "Error: %s: Parameter asTinePropertyName (\"%s\") must not contain ']' (closing bracket "
        "character(s)).",
        caller, name);
    return false;
  }
  return true;
}
