// Loading a system list: read and parse the file, validate it, read its
// components, cross-check every name and resolve groups into the SGPs'
// image source lists.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/files.h"
#include "runtime/logging.h"
#include "syslist/syslist.h"
#include "syslist/syslist_xml.h"

using namespace qv::syslist;
using pugi::xml_node;

namespace {

// A system list describes one camera system: a few hundred kilobytes at most.
// Anything far larger is not a system list and is not read into memory.
constexpr long long kMaxFileBytes = 16LL * 1024 * 1024;

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

int parseFile(const char* asPath, pugi::xml_document& aDocument) {
  if (asPath == nullptr) return -1;
  std::string sText;
  if (!readWholeFile(asPath, sText)) return -1;
  normaliseLineEnds(sText);
  return parseSysListXml(sText, aDocument) ? 0 : -1;
}

std::string textOf(pugi::xml_node aElement) {
  const char* sText = elementText(aElement);
  return sText != nullptr ? std::string(sText) : std::string();
}

bool tagIs(xml_node aElement, const char* asTag) {
  return std::strcmp(aElement.name(), asTag) == 0;
}

bool textWithin(const std::string& asText, size_t aiMin, size_t aiMax) {
  return asText.size() >= aiMin && asText.size() <= aiMax;
}

int readImageSource(xml_node aElement, std::vector<SysListImageSource>& aSources) {
  SysListImageSource source;
  bool bNameId = false;
  for (xml_node p = firstChildElement(aElement); p; p = nextSiblingElement(p)) {
    if (tagIs(p, "NameID")) {
      NameId nameId;
      if (bNameId || !parseNameId(textOf(p), nameId)) return -5;
      source.name = nameId.name;
      source.nameId = nameId.number;
      bNameId = true;
    } else if (tagIs(p, "SGPType")) {
      if (source.sgpType != 0) return -5;
      source.sgpType = sgpTypeFromName(elementText(p));
      if (source.sgpType == 0) return -5;
    }
  }
  if (!bNameId || source.sgpType == 0) return -5;
  aSources.push_back(std::move(source));
  return 0;
}

int readImageSourceGroup(xml_node aElement, std::vector<SysListImageSourceGroup>& aGroups) {
  SysListImageSourceGroup group;
  bool bName = false;
  for (xml_node p = firstChildElement(aElement); p; p = nextSiblingElement(p)) {
    const std::string sText = textOf(p);
    if (tagIs(p, "Name")) {
      if (bName || !textWithin(sText, 1, kMaxNameLength)) return -5;
      group.name = sText;
      bName = true;
    } else if (tagIs(p, "ImageSourceNames")) {
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

int readSGP(xml_node aElement, std::vector<SysListSGP>& aSGPs) {
  SysListSGP sgp;
  bool bName = false;
  for (xml_node p = firstChildElement(aElement); p; p = nextSiblingElement(p)) {
    const std::string sTag = p.name();
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

int readConverter(xml_node aElement, std::vector<SysListConverter>& aConverters) {
  SysListConverter converter;
  bool bName = false;
  for (xml_node p = firstChildElement(aElement); p; p = nextSiblingElement(p)) {
    const std::string sText = textOf(p);
    if (tagIs(p, "oSGPName")) {
      if (!isPlainName(sText)) return -5;
      converter.sgpNames.push_back(sText);
    } else if (tagIs(p, "Name")) {
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
int readEach(xml_node aContainer, const char* asTag, Reader aRead, Records& aRecords) {
  for (xml_node p = firstChildElement(aContainer, asTag); p; p = nextSiblingElement(p, asTag)) {
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
    pugi::xml_document document;
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

int CSysList::loadDocument(const pugi::xml_document& aDocument, CLogging* apLog) {
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

int CSysList::readComponents(const pugi::xml_document& aDocument) {
  const xml_node root = firstChildElement(aDocument, "QVv3");
  if (!root) return -5;
  const xml_node name = firstChildElement(root, "Name");
  const xml_node context = firstChildElement(root, "TineContext");
  if (!name || !context) return -5;
  m_systemName = textOf(name);
  m_tineContext = textOf(context);
  if (!textWithin(m_systemName, 1, kMaxNameLength) ||
      !textWithin(m_tineContext, 1, kMaxNameLength)) {
    return -5;
  }
  const xml_node components = firstChildElement(root, "ComponentList");
  if (!components) return -5;

  const xml_node imageSources = firstChildElement(components, "ImageSources");
  if (!imageSources) return -5;
  for (xml_node p = firstChildElement(imageSources); p; p = nextSiblingElement(p)) {
    int iCode = 0;
    if (tagIs(p, "ImageSource")) {
      iCode = readImageSource(p, m_imageSources);
    } else if (tagIs(p, "oImageSourceGroup")) {
      iCode = readImageSourceGroup(p, m_imageSourceGroups);
    }
    if (iCode != 0) return iCode;
  }
  if (m_imageSources.empty()) return -14;

  const xml_node sgps = firstChildElement(components, "SGPs");
  if (!sgps) return -5;
  int iCode = readEach(sgps, "SGP", readSGP, m_sgps);
  if (iCode != 0) return iCode;
  if (m_sgps.empty()) return -13;

  if (const xml_node gs2cls = firstChildElement(components, "oGS2CLs")) {
    iCode = readEach(gs2cls, "GS2CL", readConverter, m_gs2cls);
    if (iCode != 0) return iCode;
  }
  if (const xml_node raw2Jpegs = firstChildElement(components, "oRaw2Jpegs")) {
    iCode = readEach(raw2Jpegs, "Raw2Jpeg", readConverter, m_raw2Jpegs);
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
