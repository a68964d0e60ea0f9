// Questions about a loaded system list. Every query fails when nothing is
// loaded; list copies never write more slots than the caller counted.
#include <cstring>
#include <string>

#include "syslist/syslist.h"

using namespace qv::syslist;

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

template <typename Records>
size_t findIgnoringCase(const Records& aRecords, const char* asName) {
  if (asName == nullptr) return kNotFound;
  const std::string sName(asName);
  for (size_t i = 0; i < aRecords.size(); ++i) {
    if (equalsIgnoringCase(aRecords[i].name, sName)) return i;
  }
  return kNotFound;
}

template <typename Records>
size_t findExactly(const Records& aRecords, const char* asName) {
  if (asName == nullptr) return kNotFound;
  for (size_t i = 0; i < aRecords.size(); ++i) {
    if (aRecords[i].name == asName) return i;
  }
  return kNotFound;
}

bool found(size_t aiIndex, size_t* apIndex) {
  if (aiIndex == kNotFound) return false;
  if (apIndex != nullptr) *apIndex = aiIndex;
  return true;
}

// Copies names produced by aNameAt(0..aiAvailable-1) into the caller's slots.
template <typename NameAt>
bool copyNames(size_t aiAvailable, NameAt aNameAt, char* apSlots, uint32_t& auiCount) {
  if (apSlots == nullptr && auiCount > 0) return false;
  const size_t iCopy = aiAvailable < auiCount ? aiAvailable : auiCount;
  for (size_t i = 0; i < iCopy; ++i) copyToSlot(apSlots + i * kNameSlotSize, aNameAt(i));
  auiCount = static_cast<uint32_t>(iCopy);
  return true;
}

template <typename Records>
bool copyRecordNames(const Records& aRecords, char* apSlots, uint32_t& auiCount) {
  return copyNames(
      aRecords.size(), [&aRecords](size_t i) -> const std::string& { return aRecords[i].name; },
      apSlots, auiCount);
}

bool copyStrings(const std::vector<std::string>& aNames, char* apSlots, uint32_t& auiCount) {
  return copyNames(
      aNames.size(), [&aNames](size_t i) -> const std::string& { return aNames[i]; }, apSlots,
      auiCount);
}

bool containsIgnoringCase(const std::vector<std::string>& aNames, const std::string& asName) {
  for (const std::string& s : aNames) {
    if (equalsIgnoringCase(s, asName)) return true;
  }
  return false;
}

bool serves(const SysListConverter& aConverter, const std::string& asSGPName) {
  return aConverter.sgpNames.empty() || containsIgnoringCase(aConverter.sgpNames, asSGPName);
}

template <typename Records>
bool setCount(bool abLoaded, const Records& aRecords, uint32_t& auiCount) {
  if (!abLoaded) return false;
  auiCount = static_cast<uint32_t>(aRecords.size());
  return true;
}

}  // namespace

bool CSysList::getNumberOfImageSources(uint32_t& auiCount) const {
  return setCount(m_bLoaded, m_imageSources, auiCount);
}
bool CSysList::getNumberOfSGPs(uint32_t& auiCount) const {
  return setCount(m_bLoaded, m_sgps, auiCount);
}
bool CSysList::getNumberOfGS2CLs(uint32_t& auiCount) const {
  return setCount(m_bLoaded, m_gs2cls, auiCount);
}
bool CSysList::getNumberOfRaw2Jpegs(uint32_t& auiCount) const {
  return setCount(m_bLoaded, m_raw2Jpegs, auiCount);
}

std::string CSysList::getSystemName() const { return m_bLoaded ? m_systemName : std::string(); }
std::string CSysList::getTineContext() const { return m_bLoaded ? m_tineContext : std::string(); }

bool CSysList::getImageSourceNames(char* apSlots, uint32_t& auiCount) const {
  return m_bLoaded && copyRecordNames(m_imageSources, apSlots, auiCount);
}

bool CSysList::getImageSourcePairs(QVIMAGESOURCEPAIR* apPairs, uint32_t& auiCount) const {
  if (!m_bLoaded || (apPairs == nullptr && auiCount > 0)) return false;
  const size_t iCopy = m_imageSources.size() < auiCount ? m_imageSources.size() : auiCount;
  for (size_t i = 0; i < iCopy; ++i) {
    copyToSlot(apPairs[i].name, m_imageSources[i].name);
    apPairs[i].nameId = static_cast<int32_t>(m_imageSources[i].nameId);
  }
  auiCount = static_cast<uint32_t>(iCopy);
  return true;
}

bool CSysList::getSGPNames(char* apSlots, uint32_t& auiCount) const {
  return m_bLoaded && copyRecordNames(m_sgps, apSlots, auiCount);
}
bool CSysList::getGS2CLNames(char* apSlots, uint32_t& auiCount) const {
  return m_bLoaded && copyRecordNames(m_gs2cls, apSlots, auiCount);
}
bool CSysList::getRaw2JpegNames(char* apSlots, uint32_t& auiCount) const {
  return m_bLoaded && copyRecordNames(m_raw2Jpegs, apSlots, auiCount);
}

bool CSysList::getNumberOfImageSourcesOfSGP(const char* asSGPName, uint32_t& auiCount) const {
  size_t iSGP;
  if (!m_bLoaded || !existsSGP(asSGPName, &iSGP)) return false;
  auiCount = static_cast<uint32_t>(m_sgps[iSGP].imageSources.size());
  return true;
}

bool CSysList::getImageSourceNamesOfSGP(const char* asSGPName, char* apSlots,
                                        uint32_t& auiCount) const {
  size_t iSGP;
  if (!m_bLoaded || !existsSGP(asSGPName, &iSGP)) return false;
  const std::vector<size_t>& sources = m_sgps[iSGP].imageSources;
  return copyNames(
      sources.size(),
      [this, &sources](size_t i) -> const std::string& { return m_imageSources[sources[i]].name; },
      apSlots, auiCount);
}

bool CSysList::getImageSourcePairsOfSGP(const char* asSGPName, QVIMAGESOURCEPAIR* apPairs,
                                        uint32_t& auiCount) const {
  size_t iSGP;
  if (!m_bLoaded || !existsSGP(asSGPName, &iSGP)) return false;
  if (apPairs == nullptr && auiCount > 0) return false;
  const std::vector<size_t>& sources = m_sgps[iSGP].imageSources;
  const size_t iCopy = sources.size() < auiCount ? sources.size() : auiCount;
  for (size_t i = 0; i < iCopy; ++i) {
    const SysListImageSource& source = m_imageSources[sources[i]];
    copyToSlot(apPairs[i].name, source.name);
    apPairs[i].nameId = static_cast<int32_t>(source.nameId);
  }
  auiCount = static_cast<uint32_t>(iCopy);
  return true;
}

bool CSysList::getNumberOfSGPsOfGS2CL(const char* asName, uint32_t& auiCount) const {
  size_t i;
  if (!m_bLoaded || !existsGS2CL(asName, &i)) return false;
  auiCount = static_cast<uint32_t>(m_gs2cls[i].sgpNames.size());
  return true;
}

bool CSysList::getNumberOfSGPsOfRaw2Jpeg(const char* asName, uint32_t& auiCount) const {
  size_t i;
  if (!m_bLoaded || !existsRaw2Jpeg(asName, &i)) return false;
  auiCount = static_cast<uint32_t>(m_raw2Jpegs[i].sgpNames.size());
  return true;
}

bool CSysList::getSGPNamesOfGS2CL(const char* asName, char* apSlots, uint32_t& auiCount) const {
  size_t i;
  if (!m_bLoaded || !existsGS2CL(asName, &i)) return false;
  return copyStrings(m_gs2cls[i].sgpNames, apSlots, auiCount);
}

bool CSysList::getSGPNamesOfRaw2Jpeg(const char* asName, char* apSlots, uint32_t& auiCount) const {
  size_t i;
  if (!m_bLoaded || !existsRaw2Jpeg(asName, &i)) return false;
  if (m_raw2Jpegs[i].sgpNames.size() > auiCount) return false;
  return copyStrings(m_raw2Jpegs[i].sgpNames, apSlots, auiCount);
}

namespace {

std::vector<std::string> servingNames(const std::vector<SysListConverter>& aConverters,
                                      const std::string& asSGPName) {
  std::vector<std::string> names;
  for (const SysListConverter& converter : aConverters) {
    if (serves(converter, asSGPName)) names.push_back(converter.name);
  }
  return names;
}

}  // namespace

bool CSysList::getGS2CLsServingSGP(const char* asSGPName, char* apSlots, uint32_t& auiCount) const {
  if (!m_bLoaded || !existsSGP(asSGPName)) return false;
  return copyStrings(servingNames(m_gs2cls, asSGPName), apSlots, auiCount);
}

bool CSysList::getRaw2JpegsServingSGP(const char* asSGPName, char* apSlots,
                                      uint32_t& auiCount) const {
  if (!m_bLoaded || !existsSGP(asSGPName)) return false;
  return copyStrings(servingNames(m_raw2Jpegs, asSGPName), apSlots, auiCount);
}

bool CSysList::getConvertersServingSGP(const char* asSGPName, char* apSlots,
                                       uint32_t& auiCount) const {
  if (!m_bLoaded || !existsSGP(asSGPName)) return false;
  std::vector<std::string> names = servingNames(m_gs2cls, asSGPName);
  for (std::string& s : servingNames(m_raw2Jpegs, asSGPName)) names.push_back(std::move(s));
  return copyStrings(names, apSlots, auiCount);
}

bool CSysList::getNameIdOfImageSource(const char* asName, uint32_t& auiNameId) const {
  const size_t i = m_bLoaded ? findExactly(m_imageSources, asName) : kNotFound;
  if (i == kNotFound) return false;
  auiNameId = m_imageSources[i].nameId;
  return true;
}

bool CSysList::getSGPTypeOfImageSource(const char* asName, int32_t& aiType) const {
  const size_t i = m_bLoaded ? findExactly(m_imageSources, asName) : kNotFound;
  if (i == kNotFound) return false;
  aiType = m_imageSources[i].sgpType;
  return true;
}

bool CSysList::getSGPTypeByNameId(uint32_t auiNameId, int32_t& aiType) const {
  if (!m_bLoaded) return false;
  for (const SysListImageSource& source : m_imageSources) {
    if (source.nameId == auiNameId) {
      aiType = source.sgpType;
      return true;
    }
  }
  return false;
}

bool CSysList::getTypeOfSGP(const char* asName, int32_t& aiType) const {
  const size_t i = m_bLoaded ? findExactly(m_sgps, asName) : kNotFound;
  if (i == kNotFound) return false;
  aiType = m_sgps[i].type;
  return true;
}

namespace {

template <typename SGPs, typename Sources>
std::vector<std::string> sgpsHolding(const SGPs& aSGPs, const Sources& aSources,
                                     const char* asName) {
  std::vector<std::string> names;
  for (const SysListSGP& sgp : aSGPs) {
    for (size_t iSource : sgp.imageSources) {
      if (aSources[iSource].name == asName) {
        names.push_back(sgp.name);
        break;
      }
    }
  }
  return names;
}

}  // namespace

bool CSysList::getNumberOfSGPsHoldingImageSource(const char* asName, uint32_t& auiCount) const {
  if (!m_bLoaded || asName == nullptr) return false;
  auiCount = static_cast<uint32_t>(sgpsHolding(m_sgps, m_imageSources, asName).size());
  return true;
}

bool CSysList::getSGPsHoldingImageSource(const char* asName, char* apSlots,
                                         uint32_t& auiCount) const {
  if (!m_bLoaded || asName == nullptr) return false;
  return copyStrings(sgpsHolding(m_sgps, m_imageSources, asName), apSlots, auiCount);
}

int CSysList::testConnection(const char* asFirst, const char* asSecond) const {
  if (!m_bLoaded) return -1;
  size_t iFirst;
  size_t iSecond;
  if (existsImageSource(asFirst, &iFirst)) {
    if (!existsSGP(asSecond, &iSecond)) return -3;
    for (size_t iSource : m_sgps[iSecond].imageSources) {
      if (iSource == iFirst) return 0;
    }
    return -4;
  }
  if (existsSGP(asFirst, &iFirst)) {
    if (existsGS2CL(asSecond, &iSecond)) return serves(m_gs2cls[iSecond], asFirst) ? 0 : -4;
    if (existsRaw2Jpeg(asSecond, &iSecond)) return serves(m_raw2Jpegs[iSecond], asFirst) ? 0 : -4;
    return -3;
  }
  const SysListConverter* pConverter = nullptr;
  if (existsGS2CL(asFirst, &iFirst)) pConverter = &m_gs2cls[iFirst];
  if (existsRaw2Jpeg(asFirst, &iFirst)) pConverter = &m_raw2Jpegs[iFirst];
  if (pConverter == nullptr) return -2;
  if (!existsSGP(asSecond)) return -3;
  return serves(*pConverter, asSecond) ? 0 : -4;
}

bool CSysList::existsImageSource(const char* asName, size_t* apIndex) const {
  return m_bLoaded && found(findIgnoringCase(m_imageSources, asName), apIndex);
}
bool CSysList::existsSGP(const char* asName, size_t* apIndex) const {
  return m_bLoaded && found(findIgnoringCase(m_sgps, asName), apIndex);
}
bool CSysList::existsGS2CL(const char* asName, size_t* apIndex) const {
  return m_bLoaded && found(findIgnoringCase(m_gs2cls, asName), apIndex);
}
bool CSysList::existsRaw2Jpeg(const char* asName, size_t* apIndex) const {
  return m_bLoaded && found(findIgnoringCase(m_raw2Jpegs, asName), apIndex);
}
bool CSysList::existsImageSourceGroup(const char* asName, size_t* apIndex) const {
  return m_bLoaded && found(findIgnoringCase(m_imageSourceGroups, asName), apIndex);
}
