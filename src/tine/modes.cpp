#include "tine/modes.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"
#include "runtime/text.h"

namespace {

constexpr size_t kLongestModeText = 200;
constexpr int kModeUnknown = -3;
constexpr char kSeparators[] = "| ,\t\n";

struct Keyword {
  const char* name;
  int value;
};

constexpr Keyword kAccessKeywords[] = {
    {"CA_READ", CA_READ}, {"CA_WRITE", CA_WRITE}, {"CA_CONNECT", CA_CONNECT}};

constexpr Keyword kPlainModeKeywords[] = {
    {"CM_SYNCNOTIFY", CM_SYNCNOTIFY}, {"CM_EVENT", CM_EVENT}, {"CM_CONNECT", CM_CONNECT},
    {"CM_MCAST", CM_MCAST},           {"CM_TIMER", CM_TIMER}, {"CM_DATACHANGE", CM_DATACHANGE}};

struct RuleKeyword {
  const char* longName;
  const char* shortName;
  int value;
  bool exclusive;
  int group;
};

constexpr RuleKeyword kRuleModeKeywords[] = {
    {"CM_EVENT", "EVENT", CM_EVENT, true, 1},
    {"CM_TIMER", "TIMER", CM_TIMER, true, 1},
    {"CM_STREAM", "STREAM", CM_STREAM, true, 2},
    {"CM_MCAST", "MCAST", CM_MCAST, true, 2},
    {"CM_NETWORK", "NETWORK", CM_NETWORK, true, 2},
    {"CM_CONNECT", "CONNECT", CM_CONNECT, true, 2},
    {"CM_SYNCNOTIFY", "SYNCNOTIFY", CM_SYNCNOTIFY, false, 0},
};

constexpr const char* kBaseModeNames[] = {"CANCEL",   "SINGLE",  "DATACHANGE", "TIMER",
                                          "REGISTER", "RECEIVE", "EVENT"};

constexpr Keyword kModeFlagNames[] = {
    {"NODUPLICATES", 0x10}, {"SEEKPATTERN", 0x20}, {"MISSPATTERN", 0x40}, {"STREAM", 0x80},
    {"BCAST", 0x200},       {"MCAST", 0x200},      {"USEONERROR", 0x400}, {"RETRY", 0x800},
    {"GROUPED", 0x1000},    {"CONNECT", 0x2000},   {"WAIT", 0x4000},      {"SYNCNOTIFY", 0x8000}};

using qv::text::equalIgnoringCase;

// Splits a private copy of the text into tokens (no shared tokeniser state).
// Returns 0, or -1 when the text is too long, -2 when it holds no token.
template <typename OnToken>
int forEachToken(const char* asText, OnToken aOnToken) {
  if (asText == nullptr) return -2;
  if (std::strlen(asText) > kLongestModeText) return -1;
  char copy[kLongestModeText + 1];
  std::strcpy(copy, asText);
  char* rest = nullptr;
  bool any = false;
  for (char* token = strtok_r(copy, kSeparators, &rest); token != nullptr;
       token = strtok_r(nullptr, kSeparators, &rest)) {
    any = true;
    int code = aOnToken(token);
    if (code < 0) return code;
  }
  return any ? 0 : -2;
}

template <size_t N>
int decodePlain(const char* asText, const Keyword (&aTable)[N]) {
  int value = 0;
  int code = forEachToken(asText, [&](const char* token) {
    for (const Keyword& keyword : aTable)
      if (equalIgnoringCase(token, keyword.name)) {
        value |= keyword.value;
        return 0;
      }
    return -3;
  });
  return code < 0 ? code : value;
}

int decodeRuleBased(const char* asText) {
  int value = 0;
  int code = forEachToken(asText, [&](const char* token) {
    const RuleKeyword* row = nullptr;
    for (const RuleKeyword& candidate : kRuleModeKeywords)
      if (equalIgnoringCase(token, candidate.longName) ||
          equalIgnoringCase(token, candidate.shortName)) {
        row = &candidate;
        break;
      }
    if (row == nullptr) return -3;
    if ((row->value & value) != 0) return -4;
    if (row->exclusive)
      for (const RuleKeyword& other : kRuleModeKeywords)
        if (&other != row && other.group == row->group && (other.value & value) != 0) return -4;
    value |= row->value;
    return 0;
  });
  if (code < 0) return code;
  return (value & 0x7) == 0 ? -5 : value;
}

int orDefault(int aiCode, int aiDefault) { return aiCode < 0 ? aiDefault : aiCode; }

// False when the low four bits name no base mode; the text is then "(error)".
bool modeText(int aiMode, bool abShortForm, std::string& aText) {
  const int base = aiMode & 0xF;
  if (base >= static_cast<int>(sizeof kBaseModeNames / sizeof kBaseModeNames[0])) {
    aText = "(error)";
    return false;
  }
  const char* prefix = abShortForm ? "" : "CM_";
  aText = std::string(prefix) + kBaseModeNames[base];
  for (const Keyword& flag : kModeFlagNames)
    if ((aiMode & flag.value) == flag.value) aText += std::string("|") + prefix + flag.name;
  return true;
}

// |code| without overflow; the most negative int lies beyond any code list.
long long absoluteCode(int aiCode) { return std::llabs(static_cast<long long>(aiCode)); }

}  // namespace

namespace qv::tine {

int _internal_tineDecodeAccessString(const char* asText) {
  return decodePlain(asText, kAccessKeywords);
}

int _internal_tineDecodeModeString(const char* asText) {
  return decodePlain(asText, kPlainModeKeywords);
}

int _internal_tineDecodeAccessString(const char* asText, int aiDefault) {
  return orDefault(_internal_tineDecodeAccessString(asText), aiDefault);
}

int _internal_tineDecodeModeString(const char* asText, int aiDefault) {
  return orDefault(_internal_tineDecodeModeString(asText), aiDefault);
}

int _internal_tineDecodeModeStringCMnew(const char* asText, int aiDefault) {
  return orDefault(decodeRuleBased(asText), aiDefault);
}

}  // namespace qv::tine

extern "C" QV_API int QVV3_INTERNAL_tineDecodeModeStringCMnew(const char* asText) {
  return qv::runtime::guarded("QVV3_INTERNAL_tineDecodeModeStringCMnew", kModeUnknown,
                              [&] { return decodeRuleBased(asText); });
}

extern "C" QV_API int QVV3_INTERNAL_tineModeToString(int aiMode, int aiShortForm, char* asBuffer,
                                                     size_t* apiLength) {
  return qv::runtime::guarded("QVV3_INTERNAL_tineModeToString", -1, [&] {
    std::string text;
    const bool named = modeText(aiMode, aiShortForm != 0, text);
    const size_t needed = text.size() + 1;
    if (asBuffer == nullptr || apiLength == nullptr || *apiLength < needed) {
      if (apiLength != nullptr) *apiLength = needed;
      return -1;
    }
    std::memcpy(asBuffer, text.c_str(), needed);
    if (!named) return 0;
    *apiLength = needed;
    return 1;
  });
}

extern "C" QV_API int QVV3_INTERNAL_tineCMtoCA(int aiMode, int* apiAccess) {
  return qv::runtime::guarded("QVV3_INTERNAL_tineCMtoCA", 0, [&] {
    int access = 0;
    if ((aiMode & 0x7) != 0) access |= CA_READ;
    if ((aiMode & 0x80) != 0) access |= 0x800;
    if ((aiMode & 0x200) != 0) access |= 0x200;
    if ((aiMode & 0x2000) != 0) access |= 0x2000;
    const bool mcast = (access & 0x200) != 0, stream = (access & 0x800) != 0,
               connect = (access & 0x2000) != 0;
    if ((mcast && connect) || (mcast && stream) || (stream && connect)) return 0;
    if (apiAccess != nullptr) *apiAccess = access;
    return 1;
  });
}

extern "C" QV_API int qvTineCodeToString(int aiCode, char* asBuffer, size_t* apiLength) {
  return qv::runtime::guarded("qvTineCodeToString", 0, [&] {
    if (asBuffer == nullptr || apiLength == nullptr || *apiLength < 1) return 0;
    const long long code = absoluteCode(aiCode);
    asBuffer[0] = '\0';
    if (code < GetErrorListSize()) {
      const char* text = cc2str(static_cast<int>(code));
      std::snprintf(asBuffer, *apiLength, "%s", text != nullptr ? text : "");
    }
    asBuffer[*apiLength - 1] = '\0';
    *apiLength = std::strlen(asBuffer) + 1;
    return 1;
  });
}

namespace qv::tine {

char* _internal_tineCodeToString(int aiCode, char* asBuffer, size_t aiBufferSize) {
  if (asBuffer == nullptr || aiBufferSize <= 1) return asBuffer;
  const long long code = absoluteCode(aiCode);
  if (code < GetErrorListSize()) {
    const char* text = cc2str(static_cast<int>(code));
    std::snprintf(asBuffer, aiBufferSize, "%s", text != nullptr ? text : "");
  } else {
    std::snprintf(asBuffer, aiBufferSize, "%lld", code);
  }
  asBuffer[aiBufferSize - 1] = '\0';
  return asBuffer;
}

}  // namespace qv::tine
