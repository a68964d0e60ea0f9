#include "imc2/metadata.h"
#include "platform/compiler.h"
#include "runtime/text.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

using namespace qv::imc2;

namespace qv::imc2 {

const METADATA_KEY_DEFINITION kGlobalMetadataKeys[kNumGlobalMetadataKeys] = {
    {"number_of_images", METADATA_TYPE_UINT32, 0, 1},
    {"width_px", METADATA_TYPE_UINT32, 0, 1},
    {"height_px", METADATA_TYPE_UINT32, 0, 1},
    {"scale_x_mm/px", METADATA_TYPE_FLOAT, 0, 1},
    {"scale_y_mm/px", METADATA_TYPE_FLOAT, 0, 1},
    {"source_width_px", METADATA_TYPE_INT32, 0, 1},
    {"source_height_px", METADATA_TYPE_INT32, 0, 1},
    {"aoi_width_px", METADATA_TYPE_INT32, 0, 1},
    {"aoi_height_px", METADATA_TYPE_INT32, 0, 1},
    {"x_start_px", METADATA_TYPE_INT32, 0, 1},
    {"y_start_px", METADATA_TYPE_INT32, 0, 1},
    {"bytes_per_pixel", METADATA_TYPE_INT32, 0, 1},
    {"effective_bits_per_pixel", METADATA_TYPE_INT32, 0, 1},
    {"horizontal_binning", METADATA_TYPE_INT32, 0, 1},
    {"vertical_binning", METADATA_TYPE_INT32, 0, 1},
    {"source_format", METADATA_TYPE_STRING, 0, 1},
    {"image_format", METADATA_TYPE_STRING, 0, 1},
    {"image_rotation", METADATA_TYPE_FLOAT, 0, 1},
    {"scale_x_offset", METADATA_TYPE_FLOAT, 0, 1},
    {"scale_y_offset", METADATA_TYPE_FLOAT, 0, 1},
    {"camera_port_name", METADATA_TYPE_STRING, 0, 0},
    {"camera_port_id", METADATA_TYPE_UINT32, 0, 0},
};

const METADATA_KEY_DEFINITION kImageMetadataKeys[kNumImageMetadataKeys] = {
    {"image_start", METADATA_TYPE_STRING, 0, 1}, {"timestamp_utc", METADATA_TYPE_STRING, 0, 0},
    {"image_flags", METADATA_TYPE_STRING, 0, 1}, {"framenumber", METADATA_TYPE_UINT32, 0, 0},
    {"eventnumber", METADATA_TYPE_UINT32, 0, 0},
};

}  // namespace qv::imc2

namespace {

// Formats into the caller's optional message buffer: cut and terminated.
void setMessage(char* asOut, size_t aiSize, const char* asFormat, ...) QV_PRINTF_FORMAT(3, 4);
void setMessage(char* asOut, size_t aiSize, const char* asFormat, ...) {
  if (asOut == nullptr || aiSize <= 1) return;
  va_list args;
  va_start(args, asFormat);
  vsnprintf(asOut, aiSize, asFormat, args);
  va_end(args);
  asOut[aiSize - 1] = '\0';
}

bool isBlankText(const char* asText) { return asText == nullptr || *asText == '\0'; }

// True when the first non-space character is a minus sign (as strtol sees it).
bool hasLeadingMinus(const char* asText) {
  const char* p = asText;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  return *p == '-';
}

// The key table both validations check against: rows present.
bool isUsableKeyTable(const METADATA_KEY_DEFINITION* apTable, uint32_t aiRows, char* asOutMessage,
                      size_t aiMessageSize) {
  if (aiRows == 0) {
    setMessage(asOutMessage, aiMessageSize,
               "Parameter error (aiNumMetadataSetsToValidateAgainst<=0).");
    return false;
  }
  if (apTable == nullptr) {
    setMessage(asOutMessage, aiMessageSize,
               "Parameter error (apInOutMetadataSetsToValidateAgainst is NULL).");
    return false;
  }
  return true;
}

}  // namespace

namespace qv::imc2 {

bool metadataKeyEquals(const char* asA, const char* asB) {
  return qv::text::equalIgnoringCase(asA, asB);
}

std::string metadataFloatText(float afValue) {
  char sText[64];  // FLT_MAX in %f needs 46 characters
  snprintf(sText, sizeof sText, "%f", static_cast<double>(afValue));
  return sText;
}

}  // namespace qv::imc2

// The 32-bit conversions follow strtol/strtoul where long has 32 bits; the
// 64-bit library calls are narrowed with the same range rules.
int str2int32(int32_t* apiOut, const char* asText, int aiBase) {
  if (asText == nullptr) return kConvInconvertible;
  char* pEnd = nullptr;
  errno = 0;
  const long long llValue = strtoll(asText, &pEnd, aiBase);
  if ((errno == ERANGE && llValue == LLONG_MAX) || llValue > INT32_MAX) return kConvOverflow;
  if ((errno == ERANGE && llValue == LLONG_MIN) || llValue < INT32_MIN) return kConvUnderflow;
  if (*asText == '\0' || pEnd == asText || *pEnd != '\0') return kConvInconvertible;
  if (apiOut != nullptr) *apiOut = static_cast<int32_t>(llValue);
  return kConvOk;
}

int str2uint32(uint32_t* apuiOut, const char* asText, int aiBase) {
  if (asText == nullptr) return kConvInconvertible;
  char* pEnd = nullptr;
  errno = 0;
  const unsigned long long ullValue = strtoull(asText, &pEnd, aiBase);
  const bool bNegative = hasLeadingMinus(asText) && pEnd != asText;
  // strtoull negates modulo 2^64; the magnitude decides the range like strtoul.
  const unsigned long long ullMagnitude = bNegative ? 0ULL - ullValue : ullValue;
  if (errno == ERANGE || ullMagnitude > UINT32_MAX) return kConvOverflow;
  if (*asText == '\0' || pEnd == asText || *pEnd != '\0') return kConvInconvertible;
  if (apuiOut != nullptr) *apuiOut = static_cast<uint32_t>(ullValue);
  return kConvOk;
}

int str2float(float* apfOut, const char* asText) {
  if (asText == nullptr) return kConvInconvertible;
  char* pEnd = nullptr;
  const double dValue = strtod(asText, &pEnd);
  if (dValue > static_cast<double>(FLT_MAX)) return kConvOverflow;
  if (dValue < -static_cast<double>(FLT_MAX)) return kConvUnderflow;
  if (*asText == '\0' || pEnd == asText || *pEnd != '\0') return kConvInconvertible;
  if (apfOut != nullptr) *apfOut = static_cast<float>(dValue);
  return kConvOk;
}

int _internal_write_metadata_set_to_file(FILE* apFile, const char* asKey, const char* asValue) {
  if (isBlankText(asKey) || asValue == nullptr) return kMetaComposeError;
  const size_t iKeyLength = strlen(asKey);
  const size_t iValueLength = strlen(asValue);
  if (iKeyLength + iValueLength + 2 > kMetadataKeyValueBytes) return kMetaComposeError;
  if (apFile == nullptr) return kMetaWriteError;

  METADATA_IN_FILE_SINGLE_ENTRY record;
  memset(record.keyValue, 0, sizeof record.keyValue);
  memcpy(record.keyValue, asKey, iKeyLength);
  record.keyValue[iKeyLength] = '=';
  memcpy(record.keyValue + iKeyLength + 1, asValue, iValueLength);
  record.r = 13;
  record.n = 10;
  if (fwrite(&record, 1, sizeof record, apFile) != sizeof record) return kMetaWriteError;
  return kMetaOk;
}

int _internal_write_metadata_set_int32(FILE* apFile, const char* asKey, int32_t aiValue) {
  char sValue[16];
  snprintf(sValue, sizeof sValue, "%d", static_cast<int>(aiValue));
  return _internal_write_metadata_set_to_file(apFile, asKey, sValue);
}

int _internal_write_metadata_set_uint32(FILE* apFile, const char* asKey, uint32_t auiValue) {
  char sValue[16];
  snprintf(sValue, sizeof sValue, "%u", static_cast<unsigned>(auiValue));
  return _internal_write_metadata_set_to_file(apFile, asKey, sValue);
}

int _internal_write_metadata_set_float(FILE* apFile, const char* asKey, float afValue) {
  return _internal_write_metadata_set_to_file(apFile, asKey, metadataFloatText(afValue).c_str());
}

int _internal_read_metadata_set_from_file(FILE* apFile, std::string& sKey, std::string& sValue) {
  if (apFile == nullptr) return kMetaWriteError;
  METADATA_IN_FILE_SINGLE_ENTRY record;
  if (fread(&record, 1, sizeof record, apFile) != sizeof record) return kMetaWriteError;
  if (record.r != 13 || record.n != 10) return kMetaMalformed;
  const void* pTerminator = memchr(record.keyValue, '\0', sizeof record.keyValue);
  if (pTerminator == nullptr) return kMetaMalformed;
  const size_t iLength = static_cast<const char*>(pTerminator) - record.keyValue;
  const void* pDelimiter = memchr(record.keyValue, '=', iLength);
  if (pDelimiter == nullptr || pDelimiter == record.keyValue) return kMetaMalformed;
  const size_t iKeyLength = static_cast<const char*>(pDelimiter) - record.keyValue;
  sKey.assign(record.keyValue, iKeyLength);
  sValue.assign(record.keyValue + iKeyLength + 1, iLength - iKeyLength - 1);
  return kMetaOk;
}

bool _internal_validate_metadata_set(const char* asKeySingleMetaData,
                                     const char* asValueSingleMetaData,
                                     METADATA_KEY_DEFINITION* apInOutMetadataSetsToValidateAgainst,
                                     uint32_t aiNumMetadataSetsToValidateAgainst,
                                     char* asOutMessage, size_t aiMessageSize) {
  if (asKeySingleMetaData == nullptr) {
    setMessage(asOutMessage, aiMessageSize,
               "Parameter error (asKeySingleMetaData must not be NULL).");
    return false;
  }
  if (asValueSingleMetaData == nullptr) {
    setMessage(asOutMessage, aiMessageSize,
               "Parameter error (asValueSingleMetaData must not be NULL).");
    return false;
  }
  if (!isUsableKeyTable(apInOutMetadataSetsToValidateAgainst, aiNumMetadataSetsToValidateAgainst,
                        asOutMessage, aiMessageSize)) {
    return false;
  }

  for (uint32_t i = 0; i < aiNumMetadataSetsToValidateAgainst; ++i) {
    METADATA_KEY_DEFINITION& row = apInOutMetadataSetsToValidateAgainst[i];
    if (!metadataKeyEquals(row.key, asKeySingleMetaData)) continue;
    if (row.found == 1) {
      setMessage(asOutMessage, aiMessageSize, "Validation error: Key (%s) appeared more than once.",
                 asKeySingleMetaData);
      return false;
    }
    row.found = 1;
    switch (row.eType) {
      case METADATA_TYPE_INT32:
        if (str2int32(nullptr, asValueSingleMetaData, 10) != kConvOk) {
          setMessage(asOutMessage, aiMessageSize, "Validation error: Value (%s) is no valid int32.",
                     asValueSingleMetaData);
          return false;
        }
        break;
      case METADATA_TYPE_UINT32:
        if (str2uint32(nullptr, asValueSingleMetaData, 10) != kConvOk) {
          setMessage(asOutMessage, aiMessageSize,
                     "Validation error: Value (%s) is no valid uint32.", asValueSingleMetaData);
          return false;
        }
        break;
      case METADATA_TYPE_FLOAT:
        if (str2float(nullptr, asValueSingleMetaData) != kConvOk) {
          setMessage(asOutMessage, aiMessageSize, "Validation error: Value (%s) is no valid float.",
                     asValueSingleMetaData);
          return false;
        }
        break;
      case METADATA_TYPE_STRING:
        break;
      default:
        setMessage(asOutMessage, aiMessageSize,
                   "Validation error: Unknown type of Metadata (.eType=%d unknown) for key \"%s\".",
                   static_cast<int>(row.eType), asKeySingleMetaData);
        return false;
    }
  }
  return true;
}

bool _internal_validate_metadata_keyvalue(
    const char* asKeyValueSingleMetaData,
    METADATA_KEY_DEFINITION* apInOutMetadataSetsToValidateAgainst,
    uint32_t aiNumMetadataSetsToValidateAgainst, char* asOutMessage, size_t aiMessageSize) {
  if (asKeyValueSingleMetaData == nullptr) {
    setMessage(asOutMessage, aiMessageSize,
               "Parameter error (asKeyValueSingleMetaData must not be NULL).");
    return false;
  }
  if (!isUsableKeyTable(apInOutMetadataSetsToValidateAgainst, aiNumMetadataSetsToValidateAgainst,
                        asOutMessage, aiMessageSize)) {
    return false;
  }
  const size_t iLength = strnlen(asKeyValueSingleMetaData, kMetadataKeyValueBytes);
  if (iLength < 3 || iLength > kMetadataMaxTextLength) {
    setMessage(asOutMessage, aiMessageSize,
               "Parameter error (asKeyValueSingleMetaData is not 3..%u characters).",
               static_cast<unsigned>(kMetadataMaxTextLength));
    return false;
  }
  const char* pDelimiter = static_cast<const char*>(memchr(asKeyValueSingleMetaData, '=', iLength));
  if (pDelimiter == nullptr || pDelimiter == asKeyValueSingleMetaData) {
    setMessage(asOutMessage, aiMessageSize,
               "Delimiter (=) not found in parameter asKeyValueSingleMetaData.");
    return false;
  }
  char sMetaCopy[kMetadataKeyValueBytes];
  memcpy(sMetaCopy, asKeyValueSingleMetaData, iLength + 1);
  sMetaCopy[pDelimiter - asKeyValueSingleMetaData] = '\0';
  const char* sKey = sMetaCopy;
  const char* sValue = sMetaCopy + (pDelimiter - asKeyValueSingleMetaData) + 1;
  return _internal_validate_metadata_set(sKey, sValue, apInOutMetadataSetsToValidateAgainst,
                                         aiNumMetadataSetsToValidateAgainst, asOutMessage,
                                         aiMessageSize);
}
