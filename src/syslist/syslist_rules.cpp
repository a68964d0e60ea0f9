// Text rules shared by validation and loading, so that both accept exactly the
// same files.
#include <cstring>

#include "syslist/syslist.h"

namespace qv::syslist {
namespace {

const char* const kSgpTypeNames[] = {"PCVision",      "ProsilicaGigE",     "NI_IMAQ_PCI",
                                     "DirectShow",    "AnimationPlayback", "JaiPulnixGigE",
                                     "LabVIEWToQVv3", "pleora-ebus"};
constexpr int32_t kSgpTypeCount = sizeof kSgpTypeNames / sizeof kSgpTypeNames[0];

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Only the digits 0..9: no sign, no blanks.
bool isDecimal(const std::string& asText) {
  if (asText.empty()) return false;
  for (const char c : asText) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The value of a decimal text; false above kMaxNameId (checked while reading,
// so that a long text cannot wrap to a small number).
bool readNameIdNumber(const std::string& asDigits, uint32_t& auiValue) {
  uint64_t uiValue = 0;
  for (const char c : asDigits) {
    uiValue = uiValue * 10 + static_cast<uint64_t>(c - '0');
    if (uiValue > kMaxNameId) return false;
  }
  auiValue = static_cast<uint32_t>(uiValue);
  return true;
}

}  // namespace

int32_t sgpTypeFromName(const char* asName) {
  if (asName == nullptr) return 0;
  for (int32_t i = 0; i < kSgpTypeCount; ++i) {
    if (equalsIgnoringCase(asName, kSgpTypeNames[i])) return i + 1;
  }
  return 0;
}

const char* sgpTypeToName(int32_t aiType) {
  if (aiType < 1 || aiType > kSgpTypeCount) return "Unknown SGP Type";
  return kSgpTypeNames[aiType - 1];
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

std::string lowerCase(const std::string& asText) {
  std::string sLower(asText);
  for (char& c : sLower) c = lowerAscii(c);
  return sLower;
}

bool isPlainName(const std::string& asText) {
  return !asText.empty() && asText.size() <= kMaxNameLength &&
         asText.find_first_of(":=") == std::string::npos;
}

bool parseNameId(const std::string& asText, NameId& aResult) {
  if (asText.size() < kMinNameIdLength || asText.size() > kMaxNameIdLength) return false;
  if (asText.find(':') != std::string::npos) return false;
  const size_t iEqual = asText.find('=');
  if (iEqual == std::string::npos) return false;
  const std::string sLeft(asText, 0, iEqual);
  const std::string sRight(asText, iEqual + 1);
  if (sLeft.empty() || sRight.empty()) return false;

  // name=number whenever the right side is a number, so that every file
  // written that way keeps its meaning ("123=456" is the source "123");
  // otherwise number=name when the left side is a number and the right side
  // a plain name. Anything else is neither.
  const std::string* pName = nullptr;
  const std::string* pNumber = nullptr;
  if (isDecimal(sRight)) {
    pName = &sLeft;
    pNumber = &sRight;
  } else if (isDecimal(sLeft) && isPlainName(sRight)) {
    pName = &sRight;
    pNumber = &sLeft;
  } else {
    return false;
  }
  if (pName->size() > kMaxNameLength) return false;
  uint32_t uiNumber = 0;
  if (!readNameIdNumber(*pNumber, uiNumber)) return false;
  aResult.name = *pName;
  aResult.number = uiNumber;
  return true;
}

std::vector<std::string> splitNameList(const std::string& asText) {
  std::vector<std::string> parts;
  size_t iStart = 0;
  while (iStart <= asText.size()) {
    size_t iEnd = asText.find(':', iStart);
    if (iEnd == std::string::npos) iEnd = asText.size();
    if (iEnd > iStart) parts.emplace_back(asText, iStart, iEnd - iStart);
    iStart = iEnd + 1;
  }
  return parts;
}

void copyToSlot(char* apSlot, const std::string& asName) {
  const size_t iLength = asName.size() < kNameSlotSize ? asName.size() : kNameSlotSize;
  std::memcpy(apSlot, asName.data(), iLength);
  std::memset(apSlot + iLength, 0, kNameSlotSize - iLength);
}

const char* loadMessage(int aiCode) {
  switch (aiCode) {
    case -1:
      return "Opening up syslist on startup failed.";
    case -2:
      return "Syslist file contents could not be validated.";
    case -3:
      return "Memory allocation error.";
    case -4:
      return "Memory reallocation error.";
    case -5:
      return "Invalid syslist. This should have been catched by validation before!";
    case -6:
      return "Internal memory structures of syslist corrupted.";
    case -7:
      return "At least one (unique) ID or Name exist more than once. This is illegal.";
    case -8:
      return "One of the Raw2Jpeg components reference nonexisting SGP Name.";
    case -9:
      return "One of the GS2CL components reference nonexisting SGP Name.";
    case -10:
      return "One of the SGP components reference nonexisting Image Source Name.";
    case -11:
      return "One of the SGP components reference nonexisting Image Source Group Name.";
    case -12:
      return "One of the Image Source groups reference nonexisting Image Source Name.";
    case -13:
      return "At least one SGP component must exist.";
    case -14:
      return "At least one Image Source must exist.";
    default:
      return "Unknown Error.";
  }
}

}  // namespace qv::syslist
