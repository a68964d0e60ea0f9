// Content probe of IMC2/BKC2 files: walks the whole layout without reading
// pixels; the file must end right after the last image.
#include <cstring>
#include <vector>

#include "imc2/imc2.h"
#include "imc2/metadata.h"
#include "platform/files.h"

using namespace qv::imc2;

namespace {

using qv::platform::FilePtr;
using qv::platform::fileSize;
using qv::platform::readValue;
using qv::platform::seekTo64;
using qv::platform::tell64;

// Reads one record and validates its text (at most 249 characters) against
// a working key table.
bool probeRecord(FILE* apFile, METADATA_KEY_DEFINITION* apTable, uint32_t aiRows,
                 METADATA_IN_FILE_SINGLE_ENTRY& aRecord) {
  if (!readValue(apFile, aRecord)) return false;
  if (aRecord.n != 10 || aRecord.r != 13) return false;
  aRecord.keyValue[kMetadataMaxTextLength] = '\0';
  return _internal_validate_metadata_keyvalue(aRecord.keyValue, apTable, aiRows, nullptr, 0);
}

bool allMandatoryFound(const std::vector<METADATA_KEY_DEFINITION>& aTable) {
  for (const METADATA_KEY_DEFINITION& row : aTable) {
    if (row.mandatory == 1 && row.found != 1) return false;
  }
  return true;
}

bool readLineEnd(FILE* apFile) {
  uint8_t cr = 0, lf = 0;
  return readValue(apFile, cr) && cr == 13 && readValue(apFile, lf) && lf == 10;
}

}  // namespace

bool _internal_isIMC2File(const char* asFilePath) {
  FilePtr file = qv::platform::openForReading(asFilePath);
  if (!file) return false;
  FILE* f = file.get();
  int64_t iFileSize = 0;
  if (!fileSize(f, iFileSize)) return false;

  uint32_t uiMagic1 = 1, uiMagic2 = 0, G = 0;
  if (!readValue(f, uiMagic1) || uiMagic1 != 0) return false;
  if (!readValue(f, uiMagic2) || uiMagic2 != 1) return false;
  if (!readValue(f, G) || !readLineEnd(f)) return false;
  if (G < 20 || G > kIMC2MaxGlobalRecords) return false;

  std::vector<METADATA_KEY_DEFINITION> globalKeys(std::begin(kGlobalMetadataKeys),
                                                  std::end(kGlobalMetadataKeys));
  std::vector<METADATA_KEY_DEFINITION> imageKeys(std::begin(kImageMetadataKeys),
                                                 std::end(kImageMetadataKeys));
  METADATA_IN_FILE_SINGLE_ENTRY record;
  uint32_t uiImages = 0;
  for (uint32_t k = 0; k < G; ++k) {
    if (!probeRecord(f, globalKeys.data(), kNumGlobalMetadataKeys, record)) return false;
    char* pDelimiter = strchr(record.keyValue, '=');  // present: the text was validated
    *pDelimiter = '\0';
    if (metadataKeyEquals(record.keyValue, kGlobalMetadataKeys[kGNumberOfImages].key)) {
      str2uint32(&uiImages, pDelimiter + 1, 10);
    }
  }
  if (!allMandatoryFound(globalKeys) || uiImages == 0) return false;

  for (uint32_t i = 0; i < uiImages; ++i) {
    uint64_t ulen = 0, clen = 0;
    uint32_t P = 0;
    if (!readValue(f, ulen) || !readValue(f, clen) || !readValue(f, P) || !readLineEnd(f)) {
      return false;
    }
    if (ulen == 0 || clen == 0 || ulen < clen) return false;
    if (P < kIMC2MinImageRecords || P > kIMC2MaxImageRecords) return false;
    for (METADATA_KEY_DEFINITION& row : imageKeys) row.found = 0;
    for (uint32_t k = 0; k < P; ++k) {
      if (!probeRecord(f, imageKeys.data(), kNumImageMetadataKeys, record)) return false;
    }
    if (!allMandatoryFound(imageKeys)) return false;
    // Data beyond the end cannot be skipped into a well-formed file.
    const int64_t iPosition = tell64(f);
    if (iPosition < 0 || clen > static_cast<uint64_t>(iFileSize - iPosition)) return false;
    if (!seekTo64(f, static_cast<int64_t>(clen), SEEK_CUR)) return false;
  }
  return tell64(f) == iFileSize;
}
