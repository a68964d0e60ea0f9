// Loading a system list: read and parse the file, validate it, read its
// components, cross-check every name and resolve groups into the SGPs'
// image source lists.
#include <sys/stat.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/files.h"
#include "runtime/logging.h"
#include "syslist/syslist.h"

using namespace qv::syslist;

namespace {

// A system list describes one camera system: a few hundred kilobytes at most.
// Anything far larger is not a system list and is not read into memory.
constexpr long long kMaxFileBytes = 16LL * 1024 * 1024;
// The XML parser recurses per element level; a hostile file nested deep
// enough would exhaust the stack. Real files are five levels deep.
constexpr int kMaxNestingDepth = 200;

bool readWholeFile(const char* asPath, std::string& asText) {
  const qv::platform::FilePtr file = qv::platform::openForReading(asPath);
  if (!file) return false;
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (info.st_size < 0 || info.st_size > kMaxFileBytes) return false;
  asText.resize(static_cast<size_t>(info.st_size));
  if (!asText.empty() && std::fread(&asText[0], 1, asText.size(), file.get()) != asText.size()) {
    return false;
  }
  return true;
}

// Line ends become '\n' as the parser expects them.
void normaliseLineEnds(std::string& asText) {
  if (asText.find('\r') == std::string::npos) return;
  size_t iOut = 0;
  for (size_t i = 0; i < asText.size(); ++i) {
    if (asText[i] == '\r') {
      asText[iOut++] = '\n';
      if (i + 1 < asText.size() && asText[i + 1] == '\n') ++i;
    } else {
      asText[iOut++] = asText[i];
    }
  }
  asText.resize(iOut);
}

// Skips from position i (at '<') past the end of a markup construct that
// opens no element; returns npos when unterminated.
size_t skipPast(const std::string& asText, size_t i, const char* asEnd) {
  const size_t iEnd = asText.find(asEnd, i);
  return iEnd == std::string::npos ? iEnd : iEnd + std::char_traits<char>::length(asEnd);
}

// Conservative check of the element nesting depth, before the recursive
// parser sees the text. Unterminated markup is left for the parser to refuse.
bool nestsTooDeep(const std::string& asText) {
  int iDepth = 0;
  size_t i = asText.find('<');
  while (i != std::string::npos && i + 1 < asText.size()) {
    const char cNext = asText[i + 1];
    size_t iNext;
    if (asText.compare(i, 4, "<!--") == 0) {
      iNext = skipPast(asText, i, "-->");
    } else if (asText.compare(i, 9, "<![CDATA[") == 0) {
      iNext = skipPast(asText, i, "]]>");
    } else if (cNext == '!' || cNext == '?' || cNext == '/') {
      if (cNext == '/') --iDepth;
      iNext = skipPast(asText, i, ">");
    } else {
      // An opening tag: find its '>' outside quoted attribute values.
      char cQuote = 0;
      size_t j = i + 1;
      for (; j < asText.size(); ++j) {
        const char c = asText[j];
        if (cQuote != 0) {
          if (c == cQuote) cQuote = 0;
        } else if (c == '"' || c == '\'') {
          cQuote = c;
        } else if (c == '>') {
          break;
        }
      }
      if (j >= asText.size()) return false;
      if (asText[j - 1] != '/' && ++iDepth > kMaxNestingDepth) return true;
      iNext = j + 1;
    }
    if (iNext == std::string::npos) return false;
    i = asText.find('<', iNext);
  }
  return false;
}

int parseFile(const char* asPath, TiXmlDocument& aDocument) {
  if (asPath == nullptr) return -1;
  std::string sText;
  if (!readWholeFile(asPath, sText)) return -1;
  normaliseLineEnds(sText);
  if (nestsTooDeep(sText)) return -1;
  aDocument.Parse(sText.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  return aDocument.Error() ? -1 : 0;
}

std::string textOf(const TiXmlElement* apElement) {
  const char* sText = apElement->GetText();
  return sText != nullptr ? std::string(sText) : std::string();
}

bool textWithin(const std::string& asText, size_t aiMin, size_t aiMax) {
  return asText.size() >= aiMin && asText.size() <= aiMax;
}

int readImageSource(const TiXmlElement* apElement, std::vector<SysListImageSource>& aSources) {
  SysListImageSource source;
  bool bNameId = false;
  for (const TiXmlElement* p = apElement->FirstChildElement(); p; p = p->NextSiblingElement()) {
    if (p->ValueStr() == "NameID") {
      NameId nameId;
      if (bNameId || !parseNameId(textOf(p), nameId)) return -5;
      source.name = nameId.name;
      source.nameId = nameId.number;
      bNameId = true;
    } else if (p->ValueStr() == "SGPType") {
      if (source.sgpType != 0) return -5;
      source.sgpType = sgpTypeFromName(p->GetText());
      if (source.sgpType == 0) return -5;
    }
  }
  if (!bNameId || source.sgpType == 0) return -5;
  aSources.push_back(std::move(source));
  return 0;
}

int readImageSourceGroup(const TiXmlElement* apElement,
                         std::vector<SysListImageSourceGroup>& aGroups) {
  SysListImageSourceGroup group;
  bool bName = false;
  for (const TiXmlElement* p = apElement->FirstChildElement(); p; p = p->NextSiblingElement()) {
    const std::string sText = textOf(p);
    if (p->ValueStr() == "Name") {
      if (bName || !textWithin(sText, 1, kMaxNameLength)) return -5;
      group.name = sText;
      bName = true;
    } else if (p->ValueStr() == "ImageSourceNames") {
      if (!textWithin(sText, 1, kMaxNameListLength)) return -5;
      for (std::string& sPart : splitNameList(sText)) {
        if (sPart.size() > kMaxNameLength) return -5;
        group.imageSourceNames.push_back(std::move(sPart));
      }
    }
  }
  if (!bName || group.imageSourceNames.empty()) return -5;
  aGroups.push_back(std::move(group));
  return 0;
}

int readSGP(const TiXmlElement* apElement, std::vector<SysListSGP>& aSGPs) {
  SysListSGP sgp;
  bool bName = false;
  for (const TiXmlElement* p = apElement->FirstChildElement(); p; p = p->NextSiblingElement()) {
    const std::string& sTag = p->ValueStr();
    const std::string sText = textOf(p);
    if (sTag == "oImageSourceGroupName" || sTag == "oImageSourceName") {
      if (!isPlainName(sText)) return -5;
      (sTag == "oImageSourceName" ? sgp.imageSourceNames : sgp.imageSourceGroupNames)
          .push_back(sText);
    } else if (sTag == "Name") {
      if (bName || !isPlainName(sText)) return -5;
      sgp.name = sText;
      bName = true;
    } else if (sTag == "Type") {
      if (sgp.type != 0) return -5;
      sgp.type = sgpTypeFromName(sText.c_str());
      if (sgp.type == 0) return -5;
    }
  }
  if (!bName || sgp.type == 0) return -5;
  aSGPs.push_back(std::move(sgp));
  return 0;
}

int readConverter(const TiXmlElement* apElement, std::vector<SysListConverter>& aConverters) {
  SysListConverter converter;
  bool bName = false;
  for (const TiXmlElement* p = apElement->FirstChildElement(); p; p = p->NextSiblingElement()) {
    const std::string sText = textOf(p);
    if (p->ValueStr() == "oSGPName") {
      if (!isPlainName(sText)) return -5;
      converter.sgpNames.push_back(sText);
    } else if (p->ValueStr() == "Name") {
      if (bName || !isPlainName(sText)) return -5;
      converter.name = sText;
      bName = true;
    }
  }
  if (!bName) return -5;
  aConverters.push_back(std::move(converter));
  return 0;
}

template <typename Reader, typename Records>
int readEach(const TiXmlElement* apContainer, const char* asTag, Reader aRead, Records& aRecords) {
  for (const TiXmlElement* p = apContainer->FirstChildElement(asTag); p;
       p = p->NextSiblingElement(asTag)) {
    const int iCode = aRead(p, aRecords);
    if (iCode != 0) return iCode;
  }
  return 0;
}

// Index by lower-case name, for look-ups that ignore case.
template <typename Records>
std::unordered_map<std::string, size_t> indexByName(const Records& aRecords) {
  std::unordered_map<std::string, size_t> index;
  index.reserve(aRecords.size());
  for (size_t i = 0; i < aRecords.size(); ++i) index.emplace(lowerCase(aRecords[i].name), i);
  return index;
}

void logLoadFailure(int aiCode, const char* asPath, CLogging* apLog) {
  if (aiCode == -1 || aiCode == -2) {
    apLog->Log("[syslist] %s File=\"%s\"", loadMessage(aiCode), asPath ? asPath : "");
  } else if (aiCode > 0 || aiCode < -14) {
    apLog->Log("[syslist] %s (error code = %d)", loadMessage(0), aiCode);
  } else {
    apLog->Log("[syslist] %s", loadMessage(aiCode));
  }
}

}  // namespace

bool CSysList::load(const char* asPath, bool abVerbose, CLogging* apLog) {
  unload();
  int iCode;
  try {
    TiXmlDocument document;
    iCode = parseFile(asPath, document);
    if (iCode == 0 && validateDocument(document, true, apLog) != 0) iCode = -2;
    if (iCode == 0) iCode = loadDocument(document, apLog);
  } catch (const std::bad_alloc&) {
    iCode = -3;
  }
  m_iLastLoadCode = iCode;
  if (iCode != 0) {
    unload();
    if (abVerbose && apLog != nullptr) logLoadFailure(iCode, asPath, apLog);
    return false;
  }
  m_bLoaded = true;
  return true;
}

void CSysList::unload() {
  m_bLoaded = false;
  m_raw2Jpegs.clear();
  m_gs2cls.clear();
  m_imageSources.clear();
  m_sgps.clear();
  m_imageSourceGroups.clear();
  m_systemName.clear();
  m_tineContext.clear();
}

int CSysList::loadDocument(const TiXmlDocument& aDocument, CLogging* apLog) {
  int iCode = readComponents(aDocument);
  if (iCode == 0) iCode = checkUniqueNames();
  if (iCode == 0) iCode = checkConverterReferences();
  if (iCode == 0) iCode = resolveGroups(apLog);
  if (iCode != 0) return iCode;
  assignSourcesByType();
  m_imageSourceGroups.clear();
  m_imageSourceGroups.shrink_to_fit();
  return resolveSourceReferences();
}

int CSysList::readComponents(const TiXmlDocument& aDocument) {
  const TiXmlElement* pRoot = aDocument.FirstChildElement("QVv3");
  if (pRoot == nullptr) return -5;
  const TiXmlElement* pName = pRoot->FirstChildElement("Name");
  const TiXmlElement* pContext = pRoot->FirstChildElement("TineContext");
  if (pName == nullptr || pContext == nullptr) return -5;
  m_systemName = textOf(pName);
  m_tineContext = textOf(pContext);
  if (!textWithin(m_systemName, 1, kMaxNameLength) ||
      !textWithin(m_tineContext, 1, kMaxNameLength)) {
    return -5;
  }
  const TiXmlElement* pComponents = pRoot->FirstChildElement("ComponentList");
  if (pComponents == nullptr) return -5;

  const TiXmlElement* pImageSources = pComponents->FirstChildElement("ImageSources");
  if (pImageSources == nullptr) return -5;
  for (const TiXmlElement* p = pImageSources->FirstChildElement(); p; p = p->NextSiblingElement()) {
    int iCode = 0;
    if (p->ValueStr() == "ImageSource") {
      iCode = readImageSource(p, m_imageSources);
    } else if (p->ValueStr() == "oImageSourceGroup") {
      iCode = readImageSourceGroup(p, m_imageSourceGroups);
    }
    if (iCode != 0) return iCode;
  }
  if (m_imageSources.empty()) return -14;

  const TiXmlElement* pSGPs = pComponents->FirstChildElement("SGPs");
  if (pSGPs == nullptr) return -5;
  int iCode = readEach(pSGPs, "SGP", readSGP, m_sgps);
  if (iCode != 0) return iCode;
  if (m_sgps.empty()) return -13;

  if (const TiXmlElement* pGS2CLs = pComponents->FirstChildElement("oGS2CLs")) {
    iCode = readEach(pGS2CLs, "GS2CL", readConverter, m_gs2cls);
    if (iCode != 0) return iCode;
  }
  if (const TiXmlElement* pRaw2Jpegs = pComponents->FirstChildElement("oRaw2Jpegs")) {
    iCode = readEach(pRaw2Jpegs, "Raw2Jpeg", readConverter, m_raw2Jpegs);
    if (iCode != 0) return iCode;
  }
  return 0;
}

// All component names share one name space, ignoring case.
int CSysList::checkUniqueNames() const {
  std::vector<std::string> names;
  names.reserve(m_imageSources.size() + m_imageSourceGroups.size() + m_sgps.size() +
                m_gs2cls.size() + m_raw2Jpegs.size());
  for (const auto& r : m_imageSources) names.push_back(lowerCase(r.name));
  for (const auto& r : m_imageSourceGroups) names.push_back(lowerCase(r.name));
  for (const auto& r : m_sgps) names.push_back(lowerCase(r.name));
  for (const auto& r : m_gs2cls) names.push_back(lowerCase(r.name));
  for (const auto& r : m_raw2Jpegs) names.push_back(lowerCase(r.name));
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) != names.end() ? -7 : 0;
}

int CSysList::checkConverterReferences() const {
  const auto sgpIndex = indexByName(m_sgps);
  auto allKnown = [&sgpIndex](const std::vector<SysListConverter>& aConverters) {
    for (const SysListConverter& converter : aConverters) {
      for (const std::string& sName : converter.sgpNames) {
        if (sgpIndex.count(lowerCase(sName)) == 0) return false;
      }
    }
    return true;
  };
  if (!allKnown(m_raw2Jpegs)) return -8;
  if (!allKnown(m_gs2cls)) return -9;
  return 0;
}

int CSysList::resolveGroups(CLogging* apLog) {
  const auto groupIndex = indexByName(m_imageSourceGroups);
  const auto sourceIndex = indexByName(m_imageSources);
  for (SysListSGP& sgp : m_sgps) {
    for (const std::string& sGroupName : sgp.imageSourceGroupNames) {
      const auto itGroup = groupIndex.find(lowerCase(sGroupName));
      if (itGroup == groupIndex.end()) return -11;
      const SysListImageSourceGroup& group = m_imageSourceGroups[itGroup->second];
      if (group.imageSourceNames.empty()) return -6;
      for (const std::string& sSource : group.imageSourceNames) {
        if (sourceIndex.count(lowerCase(sSource)) == 0) {
          if (apLog != nullptr) {
            apLog->Log(
                "[syslist] Warning: Imagesourcegroup (\"%s\") contains non-existant "
                "image source (\"%s\").",
                group.name.c_str(), sSource.c_str());
          }
          return -12;
        }
        const auto itBound = std::find_if(
            sgp.imageSourceNames.begin(), sgp.imageSourceNames.end(),
            [&sSource](const std::string& s) { return equalsIgnoringCase(s, sSource); });
        if (itBound != sgp.imageSourceNames.end()) {
          if (apLog != nullptr) {
            apLog->Log(
                "[syslist] Warning: Imagesourcegroup contains image source (\"%s\") that "
                "is already bound to that SGP (\"%s\").",
                sSource.c_str(), itBound->c_str());
          }
          continue;
        }
        sgp.imageSourceNames.push_back(sSource);
      }
    }
    sgp.imageSourceGroupNames.clear();
    sgp.imageSourceGroupNames.shrink_to_fit();
  }
  return 0;
}

// An SGP that names no image source serves every image source of its type.
void CSysList::assignSourcesByType() {
  for (SysListSGP& sgp : m_sgps) {
    if (!sgp.imageSourceNames.empty()) continue;
    for (const SysListImageSource& source : m_imageSources) {
      if (source.sgpType == sgp.type) sgp.imageSourceNames.push_back(source.name);
    }
  }
}

int CSysList::resolveSourceReferences() {
  const auto sourceIndex = indexByName(m_imageSources);
  for (SysListSGP& sgp : m_sgps) {
    sgp.imageSources.clear();
    sgp.imageSources.reserve(sgp.imageSourceNames.size());
    for (const std::string& sName : sgp.imageSourceNames) {
      const auto it = sourceIndex.find(lowerCase(sName));
      if (it == sourceIndex.end()) return -10;
      sgp.imageSources.push_back(it->second);
    }
  }
  return 0;
}
