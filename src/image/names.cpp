// Words for image formats and flag bits, and their parsers. The sequence
// files store these words, so renderings and parsers must round-trip.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image.h"
#include "runtime/guard.h"
#include "runtime/text.h"

namespace {

const char* const kShortFormatNames[CF_IMAGE_FORMAT_MAX + 1] = {
    "GRAY",   "RGB",    "RGBA",   "RGB15",   "RGB16", "JPEG", "TIFF",
    "YUV411", "YUV422", "YUV444", "HUFFYUV", "BMP",   "BAYER"};

const char kLongFormatPrefix[] = "CF_IMAGE_FORMAT_";

// One flag group: the bit, its word when set and, for two-word groups, its
// word when clear (null for one-word groups, which show nothing when clear).
struct FlagWord {
  uint32_t uiBit;
  const char* sWhenSet;
  const char* sWhenClear;
};

// Rendering order; the event-number bit deliberately precedes the time stamp
// kind, as readers of existing files expect.
const FlagWord kFlagWords[] = {
    {CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER, "LITTLE_ENDIAN", "BIG_ENDIAN"},
    {CF_IMAGE_FLAG_IMAGE_LOSSLESS, "LOSSLESS", "LOSSLESS_BIT_NOT_SET"},
    {CF_IMAGE_FLAG_HORIZONTAL_FLIP_180, "HORIZONTAL_FLIP_180", nullptr},
    {CF_IMAGE_FLAG_VERTICAL_FLIP_180, "VERTICAL_FLIP_180", nullptr},
    {CF_IMAGE_FLAG_XYSTART_ONE_BASED, "XYSTART_ONE_BASED", "XYSTART_ZERO_BASED"},
    {CF_IMAGE_FLAG_EVENTNUMBER_OUT_OF_SYNC, "EVENTNUMBER_OUT_OF_SYNC", nullptr},
    {CF_IMAGE_FLAG_GLOBAL_TIMESTAMP, "GLOBAL_TIMESTAMP", "LOCAL_TIMESTAMP"},
    {CF_IMAGE_FLAG_TIMESTAMP_EXTRAPOLATED, "TIMESTAMP_EXTRAPOLATED", nullptr},
    {CF_IMAGE_FLAG_SCALE_OFFSET, "SCALE_OFFSET", nullptr},
    {CF_IMAGE_FLAG_SOFTWARE_ROI, "SOFTWARE_ROI", nullptr},
};
constexpr size_t kFlagGroups = sizeof kFlagWords / sizeof kFlagWords[0];

std::string flagsText(uint32_t auiFlags) {
  std::string sText;
  for (const FlagWord& word : kFlagWords) {
    const char* sWord = (auiFlags & word.uiBit) != 0 ? word.sWhenSet : word.sWhenClear;
    if (sWord == nullptr) continue;
    if (!sText.empty()) sText += ' ';
    sText += sWord;
  }
  return sText;
}

std::string formatText(int aiFormat, bool abLongForm) {
  if (aiFormat >= 0 && aiFormat <= CF_IMAGE_FORMAT_MAX) {
    std::string sText = abLongForm ? kLongFormatPrefix : "";
    return sText + kShortFormatNames[aiFormat];
  }
  return std::string(abLongForm ? "UNKNOWN CF_IMAGE_FORMAT(" : "UNKNOWN FORMAT(") +
         std::to_string(aiFormat) + ")";
}

// Index of the flag group a word belongs to and whether it sets its bit;
// false for a word outside the table.
bool lookUpFlagWord(const std::string& sWord, size_t& uiGroup, bool& bSets) {
  for (size_t i = 0; i < kFlagGroups; ++i) {
    if (qv::text::equalIgnoringCase(sWord.c_str(), kFlagWords[i].sWhenSet)) {
      uiGroup = i;
      bSets = true;
      return true;
    }
    if (kFlagWords[i].sWhenClear != nullptr &&
        qv::text::equalIgnoringCase(sWord.c_str(), kFlagWords[i].sWhenClear)) {
      uiGroup = i;
      bSets = false;
      return true;
    }
  }
  return false;
}

}  // namespace

CDIMAGE::CDIMAGE(const DIMAGE& aImg) : m_Img(aImg), m_bOwnsFrameBuffer(false) {}

CDIMAGE::~CDIMAGE() {
  if (m_bOwnsFrameBuffer) std::free(m_Img.frameBuffer);
}

char* CDIMAGE::getFlagsAsString(uint32_t auiFlags, char* asBuffer, size_t* apiSize) {
  if (asBuffer == nullptr) return nullptr;
  const std::string sText = flagsText(auiFlags);
  const size_t iCapacity = apiSize != nullptr ? *apiSize : 0;
  // Without room for at least the terminator nothing may be written.
  if (iCapacity > 0) {
    const size_t iCopied = std::min(sText.size(), iCapacity - 1);
    std::memcpy(asBuffer, sText.data(), iCopied);
    asBuffer[iCopied] = '\0';
  }
  if (apiSize != nullptr) *apiSize = sText.size() + 1;
  return asBuffer;
}

bool CDIMAGE::getFlagsFromString(const char* asWords, uint32_t* apuiFlags) {
  if (asWords == nullptr) return false;
  uint32_t uiValue = 0;
  bool bGroupSeen[kFlagGroups] = {};
  const std::string sText(asWords);
  size_t iPos = 0;
  while (iPos < sText.size()) {
    if (sText[iPos] == ' ') {
      ++iPos;
      continue;
    }
    size_t iEnd = sText.find(' ', iPos);
    if (iEnd == std::string::npos) iEnd = sText.size();
    size_t uiGroup = 0;
    bool bSets = false;
    if (!lookUpFlagWord(sText.substr(iPos, iEnd - iPos), uiGroup, bSets)) return false;
    if (bGroupSeen[uiGroup]) return false;
    bGroupSeen[uiGroup] = true;
    if (bSets) uiValue |= kFlagWords[uiGroup].uiBit;
    iPos = iEnd;
  }
  if (apuiFlags != nullptr) *apuiFlags = uiValue;
  return true;
}

char* CDIMAGE::getFormatAsString(int aiFormat, bool abLongForm, char* asBuffer, size_t* apiSize) {
  if (asBuffer == nullptr) return nullptr;
  const std::string sText = formatText(aiFormat, abLongForm);
  const size_t iNeeded = sText.size() + 1;
  if (apiSize == nullptr) return nullptr;  // no capacity known: write nothing
  if (*apiSize < iNeeded) {
    *apiSize = iNeeded;
    return nullptr;
  }
  std::memcpy(asBuffer, sText.c_str(), iNeeded);
  return asBuffer;
}

bool CDIMAGE::getFormatFromString(const char* asName, int* apiFormat) {
  if (asName == nullptr) return false;
  for (int i = 0; i <= CF_IMAGE_FORMAT_MAX; ++i) {
    if (std::strcmp(asName, kShortFormatNames[i]) == 0) {
      if (apiFormat != nullptr) *apiFormat = i;
      return true;
    }
  }
  return false;
}

char* CDIMAGE::getImageFormatAsString(char* asBuffer, size_t* apiSize) const {
  return getFormatAsString(m_Img.frameHeader.imageFormat, false, asBuffer, apiSize);
}

char* CDIMAGE::getSourceFormatAsString(char* asBuffer, size_t* apiSize) const {
  return getFormatAsString(m_Img.frameHeader.sourceFormat, false, asBuffer, apiSize);
}

extern "C" QV_API char* QVV3_INTERNAL_CDIMAGE_getFlagsAsString(uint32_t auiFlags, char* asBuffer,
                                                               size_t* apiSize) {
  return qv::runtime::guarded(
      "QVV3_INTERNAL_CDIMAGE_getFlagsAsString", static_cast<char*>(nullptr), [&] {
        size_t iSize = apiSize != nullptr ? *apiSize : 0;
        char* sResult = CDIMAGE::getFlagsAsString(auiFlags, asBuffer, &iSize);
        if (apiSize != nullptr) *apiSize = iSize;
        return sResult;
      });
}

extern "C" QV_API char* QVV3_INTERNAL_CDIMAGE_getFormatAsString(int aiFormat, char* asBuffer,
                                                                size_t* apiSize) {
  return qv::runtime::guarded(
      "QVV3_INTERNAL_CDIMAGE_getFormatAsString", static_cast<char*>(nullptr), [&] {
        size_t iSize = apiSize != nullptr ? *apiSize : 0;
        char* sResult = CDIMAGE::getFormatAsString(aiFormat, false, asBuffer, &iSize);
        if (apiSize != nullptr) *apiSize = iSize;
        return sResult;
      });
}
