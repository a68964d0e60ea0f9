// CSysList: loads a camera system's system list file (XML, root QVv3),
// validates it, cross-checks every reference, resolves groups into the SGPs'
// image source lists and answers questions about the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

class CLogging;
namespace pugi {
class xml_document;
}

namespace qv::syslist {

constexpr size_t kMaxNameLength = 64;  // names of every component
constexpr size_t kNameSlotSize = 64;   // caller slots: no room for a terminator
constexpr size_t kMaxTineContextLength = 32;
constexpr size_t kMinNameIdLength = 3;
constexpr size_t kMaxNameIdLength = 73;
constexpr size_t kMaxNameListLength = 200;  // one ImageSourceNames text
constexpr uint32_t kMaxNameId = 99999999;

// Names of the SGP hardware types 1..8, compared ignoring case; 0 = unknown.
int32_t sgpTypeFromName(const char* asName);
const char* sgpTypeToName(int32_t aiType);  // "Unknown SGP Type" outside 1..8

bool equalsIgnoringCase(const std::string& a, const std::string& b);
std::string lowerCase(const std::string& asText);

// 1..64 characters, neither ':' nor '=' (SGP, GS2CL, Raw2Jpeg names and all
// references to other components).
bool isPlainName(const std::string& asText);

// NameID text: a name and a number joined by the first '=', the whole text
// 3..73 characters without ':'. The number is decimal digits only, with a
// value of at most 99999999; the name has 1..64 characters. Two orders:
// "name=number" when the right side is all digits (so "123=456" is the name
// "123" with 456), else "number=name" when the left side is all digits and
// the right side a plain name (isPlainName). Validation and loading both
// read NameIDs only through parseNameId.
struct NameId {
  std::string name;
  uint32_t number = 0;
};
bool parseNameId(const std::string& asText, NameId& aResult);

// The non-empty parts of a ':'-separated list, in order. Reentrant.
std::vector<std::string> splitNameList(const std::string& asText);

// Validation of a parsed document; 0 = valid, else the code of the first
// failure, which is logged when abVerbose and the log is given.
int validateDocument(const pugi::xml_document& aDocument, bool abVerbose, CLogging* apLog);
const char* validationMessage(int aiCode);
const char* loadMessage(int aiCode);

// Copies the first 64 bytes of a name into a slot; shorter names are
// zero-padded, a 64-character name fills the slot without a terminator.
void copyToSlot(char* apSlot, const std::string& asName);

}  // namespace qv::syslist

struct SysListImageSource {
  std::string name;
  uint32_t nameId = 0;
  int32_t sgpType = 0;
};

struct SysListImageSourceGroup {
  std::string name;
  std::vector<std::string> imageSourceNames;
};

struct SysListSGP {
  std::string name;
  int32_t type = 0;
  std::vector<std::string> imageSourceNames;       // as referenced, until resolved
  std::vector<std::string> imageSourceGroupNames;  // used only while loading
  std::vector<size_t> imageSources;                // resolved: indices of image sources
};

namespace qv::syslist {
// GS2CL and Raw2Jpeg components: an empty sgpNames serves every SGP.
struct SysListConverter {
  std::string name;
  std::vector<std::string> sgpNames;
};
}  // namespace qv::syslist

using SysListGS2CL = qv::syslist::SysListConverter;
using SysListRaw2Jpeg = qv::syslist::SysListConverter;

class CSysList {
 public:
  CSysList() = default;
  virtual ~CSysList() = default;
  CSysList(const CSysList&) = delete;
  CSysList& operator=(const CSysList&) = delete;

  // Loads, validates and resolves a system list file. On false nothing stays
  // loaded; the reason went to apLog (validation failures always, the load
  // outcome with abVerbose).
  bool load(const char* asPath, bool abVerbose, CLogging* apLog);
  bool isLoaded() const { return m_bLoaded; }
  // The code of the last load (0 after success), for diagnostics and tests.
  int lastLoadCode() const { return m_iLastLoadCode; }

  // Counts.
  bool getNumberOfImageSources(uint32_t& auiCount) const;
  bool getNumberOfSGPs(uint32_t& auiCount) const;
  bool getNumberOfGS2CLs(uint32_t& auiCount) const;
  bool getNumberOfRaw2Jpegs(uint32_t& auiCount) const;

  // Empty texts when nothing is loaded.
  std::string getSystemName() const;
  std::string getTineContext() const;

  // List copies: apSlots holds auiCount 64-byte slots (pairs); on return
  // auiCount is the number written.
  bool getImageSourceNames(char* apSlots, uint32_t& auiCount) const;
  bool getImageSourcePairs(QVIMAGESOURCEPAIR* apPairs, uint32_t& auiCount) const;
  bool getSGPNames(char* apSlots, uint32_t& auiCount) const;
  bool getGS2CLNames(char* apSlots, uint32_t& auiCount) const;
  bool getRaw2JpegNames(char* apSlots, uint32_t& auiCount) const;

  // Image sources of an SGP in the SGP's order, spelled as the image sources.
  bool getNumberOfImageSourcesOfSGP(const char* asSGPName, uint32_t& auiCount) const;
  bool getImageSourceNamesOfSGP(const char* asSGPName, char* apSlots, uint32_t& auiCount) const;
  bool getImageSourcePairsOfSGP(const char* asSGPName, QVIMAGESOURCEPAIR* apPairs,
                                uint32_t& auiCount) const;

  // SGPs of a converter; the Raw2Jpeg form fails when the slots are too few.
  bool getNumberOfSGPsOfGS2CL(const char* asName, uint32_t& auiCount) const;
  bool getNumberOfSGPsOfRaw2Jpeg(const char* asName, uint32_t& auiCount) const;
  bool getSGPNamesOfGS2CL(const char* asName, char* apSlots, uint32_t& auiCount) const;
  bool getSGPNamesOfRaw2Jpeg(const char* asName, char* apSlots, uint32_t& auiCount) const;

  // Converters serving an SGP (GS2CLs first in the combined form).
  bool getGS2CLsServingSGP(const char* asSGPName, char* apSlots, uint32_t& auiCount) const;
  bool getRaw2JpegsServingSGP(const char* asSGPName, char* apSlots, uint32_t& auiCount) const;
  bool getConvertersServingSGP(const char* asSGPName, char* apSlots, uint32_t& auiCount) const;

  // Look-ups by exact name.
  bool getNameIdOfImageSource(const char* asName, uint32_t& auiNameId) const;
  bool getSGPTypeOfImageSource(const char* asName, int32_t& aiType) const;
  bool getSGPTypeByNameId(uint32_t auiNameId, int32_t& aiType) const;
  bool getTypeOfSGP(const char* asName, int32_t& aiType) const;
  bool getNumberOfSGPsHoldingImageSource(const char* asName, uint32_t& auiCount) const;
  bool getSGPsHoldingImageSource(const char* asName, char* apSlots, uint32_t& auiCount) const;

  // 0 connected, -1 not loaded, -2 first name unknown, -3 second name
  // unknown, -4 not connected.
  int testConnection(const char* asFirst, const char* asSecond) const;

  bool existsImageSource(const char* asName, size_t* apIndex = nullptr) const;
  bool existsSGP(const char* asName, size_t* apIndex = nullptr) const;
  bool existsGS2CL(const char* asName, size_t* apIndex = nullptr) const;
  bool existsRaw2Jpeg(const char* asName, size_t* apIndex = nullptr) const;
  // Groups are resolved and dropped at load; none exists afterwards.
  bool existsImageSourceGroup(const char* asName, size_t* apIndex = nullptr) const;

 private:
  void unload();
  int loadDocument(const pugi::xml_document& aDocument, CLogging* apLog);
  int readComponents(const pugi::xml_document& aDocument);
  int checkUniqueNames() const;
  int checkConverterReferences() const;
  int resolveGroups(CLogging* apLog);
  void assignSourcesByType();
  int resolveSourceReferences();

  bool m_bLoaded = false;
  int m_iLastLoadCode = 0;
  std::vector<SysListRaw2Jpeg> m_raw2Jpegs;
  std::vector<SysListGS2CL> m_gs2cls;
  std::vector<SysListImageSource> m_imageSources;
  std::vector<SysListSGP> m_sgps;
  std::vector<SysListImageSourceGroup> m_imageSourceGroups;
  std::string m_systemName;
  std::string m_tineContext;
};
