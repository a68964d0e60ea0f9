#include "tine/property_info.h"

#include <cstdint>
#include <cstring>

#include "platform/tine_api.h"

namespace {

constexpr int kPropsTimeoutMs = 500;
constexpr size_t kRevision4RecordSize = 432;
constexpr size_t kRevision4SizeOffset = 376;
constexpr size_t kRevision4FormatOffset = 392;
constexpr size_t kRevision4TextOffset = 320;
constexpr size_t kOldRecordSize = 68;
constexpr size_t kOldSizeOffset = 64;
constexpr size_t kOldFormatOffset = 66;
constexpr size_t kPropertyTextSize = 16;
constexpr size_t kLongestPropertyName = 63;
constexpr char kRevision4Tag[] = "PRPQSr4";

// The older servers answer the first form with one of these codes.
bool asksForOldForm(int aiCode) { return aiCode == 2 || aiCode == 62; }

}  // namespace

int _internal_tineReadPropertyCharacteristics(const char* asBeautifiedTineAddress,
                                              const char* asTinePropertyName, int* apiFormat,
                                              int* apiSize, char* asText) {
  if (getPropertyInfoFromListenerEx(asBeautifiedTineAddress, asTinePropertyName, apiSize, apiFormat,
                                    asText) == 0)
    return 0;

  // The request carries the name without a terminator; the names reaching
  // here have passed the name check, so 63 characters is the most.
  char name[kLongestPropertyName + 1] = {};
  const size_t nameLength = strnlen(asTinePropertyName, kLongestPropertyName);
  std::memcpy(name, asTinePropertyName, nameLength);
  DTYPE request;
  std::memset(&request, 0, sizeof request);
  request.dFormat = CF_TEXT;
  request.dArrayLength = static_cast<uint32_t>(nameLength);
  request.data.cptr = name;

  alignas(8) uint8_t revision4[kRevision4RecordSize] = {};
  alignas(8) uint8_t old[kOldRecordSize] = {};
  DTYPE answer;
  std::memset(&answer, 0, sizeof answer);
  answer.dFormat = CF_STRUCT;
  answer.dArrayLength = 1;
  std::strncpy(answer.dTag, kRevision4Tag, sizeof answer.dTag);
  answer.data.vptr = revision4;

  bool oldForm = false;
  int code =
      alsnExecLink(asBeautifiedTineAddress, "PROPS", &answer, &request, CA_READ, kPropsTimeoutMs);
  if (code != 0 && asksForOldForm(code)) {
    oldForm = true;
    answer.dArrayLength = kOldRecordSize;
    std::memset(answer.dTag, 0, sizeof answer.dTag);
    answer.data.vptr = old;
    code =
        alsnExecLink(asBeautifiedTineAddress, "PROPS", &answer, &request, CA_READ, kPropsTimeoutMs);
  }
  if (code != 0) {
    *apiSize = 0;
    return code;
  }
  if (oldForm) {
    uint16_t size = 0;
    std::memcpy(&size, old + kOldSizeOffset, sizeof size);
    *apiSize = size;
    *apiFormat = old[kOldFormatOffset] + 512;
    return 0;
  }
  int32_t size = 0;
  std::memcpy(&size, revision4 + kRevision4SizeOffset, sizeof size);
  *apiSize = size;
  *apiFormat = revision4[kRevision4FormatOffset] + 512;
  if (asText != nullptr) {
    const char* text = reinterpret_cast<const char*>(revision4 + kRevision4TextOffset);
    const size_t length = strnlen(text, kPropertyTextSize);
    std::memcpy(asText, text, length);
    if (length < kPropertyTextSize) asText[length] = '\0';
  }
  return 0;
}
