// Content probes: each checks the header fields of its format and that the
// file size agrees with them. None reads pixels; each closes its file.
#include <cmath>
#include <cstring>
#include <vector>

#include "imc2/imc2.h"
#include "imc2/metadata.h"
#include "platform/files.h"

namespace {

using qv::platform::FilePtr;
using qv::platform::fileSize;
using qv::platform::readValue;
using qv::platform::seekTo64;
using qv::platform::tell64;

FilePtr openForProbe(const char* asFilePath) {
  if (asFilePath == nullptr || asFilePath[0] == '\0') return FilePtr();
  return qv::platform::openForReading(asFilePath);
}

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

// Frame header of IMM and BKG files, with the defaults of 0 applied.
struct LegacyFrameHeader {
  uint16_t w = 0, bipp = 0, h = 0, ebitpp = 0;
};

bool readLegacyFrameHeader(FILE* apFile, LegacyFrameHeader& aHeader, int64_t& aiFileSize) {
  if (!readValue(apFile, aHeader.w) || !readValue(apFile, aHeader.bipp) ||
      !readValue(apFile, aHeader.h) || !readValue(apFile, aHeader.ebitpp)) {
    return false;
  }
  if (aHeader.bipp == 0) aHeader.bipp = 8;
  if (aHeader.ebitpp == 0) aHeader.ebitpp = aHeader.bipp;
  if (aHeader.w == 0 || aHeader.h == 0 || (aHeader.bipp != 8 && aHeader.bipp != 16) ||
      aHeader.ebitpp > 16) {
    return false;
  }
  return tell64(apFile) == 8 && fileSize(apFile, aiFileSize);
}

uint64_t legacyPixelBytes(const LegacyFrameHeader& aHeader) {
  return uint64_t{aHeader.w} * aHeader.h * aHeader.bipp / 8;
}

}  // namespace

bool _internal_isIMC2File(const char* asFilePath) {
  FilePtr file = openForProbe(asFilePath);
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

bool _internal_isIMCFile(const char* asFilePath) {
  FilePtr file = openForProbe(asFilePath);
  if (!file) return false;
  FILE* f = file.get();
  uint32_t w = 0, h = 0, numImg = 0;
  uint16_t bipp = 0, ebitpp = 0;
  if (!readValue(f, w) || !readValue(f, h) || !readValue(f, bipp) || !readValue(f, ebitpp) ||
      !readValue(f, numImg)) {
    return false;
  }
  if (bipp == 0) bipp = 8;
  if (ebitpp == 0) ebitpp = bipp;
  if (w == 0 || h == 0 || numImg == 0 || (bipp != 8 && bipp != 16) || ebitpp > 16) return false;
  // The legacy layout states the frame size in 32 bits.
  const uint32_t iImageSizeInBytes = w * h * bipp / 8;

  int64_t iFileSize = 0;
  if (tell64(f) != 16 || !fileSize(f, iFileSize)) return false;
  int64_t iFileSizeMissing = iFileSize - 16;
  for (uint32_t i = 0; i < numImg; ++i) {
    double dScale = 0;
    uint32_t clen = 0, ulen = 0;
    if (!readValue(f, dScale) || !readValue(f, clen) || !readValue(f, ulen)) return false;
    iFileSizeMissing -= 16;
    if (dScale < 0 || ulen != iImageSizeInBytes) return false;
    if (static_cast<int64_t>(clen) > iFileSizeMissing) return false;
    iFileSizeMissing -= clen;
    if (!seekTo64(f, clen, SEEK_CUR)) return false;
  }
  return iFileSizeMissing == 0;
}

bool _internal_isIMMFile(const char* asFilePath) {
  FilePtr file = openForProbe(asFilePath);
  if (!file) return false;
  LegacyFrameHeader header;
  int64_t iFileSize = 0;
  if (!readLegacyFrameHeader(file.get(), header, iFileSize)) return false;
  const uint64_t iRecordBytes = legacyPixelBytes(header) + 16;
  // At least one whole frame record; then a whole number of them, within
  // the legacy tolerance.
  if (static_cast<uint64_t>(iFileSize) < iRecordBytes) return false;
  const double dNumImages = static_cast<double>(iFileSize) / static_cast<double>(iRecordBytes);
  const double t = std::trunc(dNumImages);
  return dNumImages > t - 0.001 && dNumImages < t + 0.001;
}

bool _internal_isBKGFile(const char* asFilePath) {
  FilePtr file = openForProbe(asFilePath);
  if (!file) return false;
  LegacyFrameHeader header;
  int64_t iFileSize = 0;
  if (!readLegacyFrameHeader(file.get(), header, iFileSize)) return false;
  return static_cast<uint64_t>(iFileSize) == legacyPixelBytes(header) + 8;
}
