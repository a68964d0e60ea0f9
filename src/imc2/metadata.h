// Key=value metadata records of IMC2/BKC2 files: the fixed 252-byte record,
// the global and per-image key tables, record I/O, value conversions and the
// validation of a key and value against a key table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// One metadata record exactly as it lies in the file: the text key=value,
// zero-filled, then CR LF so that the metadata reads as lines in a viewer.
constexpr size_t METADATA_IN_FILE_SINGLE_ENTRY__SIZE_BYTES = 252;

namespace qv::imc2 {
constexpr size_t kMetadataKeyValueBytes = 250;
// Longest key=value text; byte 249 always stays the terminator.
constexpr size_t kMetadataMaxTextLength = kMetadataKeyValueBytes - 1;
}  // namespace qv::imc2

struct METADATA_IN_FILE_SINGLE_ENTRY {
  char keyValue[qv::imc2::kMetadataKeyValueBytes];
  uint8_t r;  // 13
  uint8_t n;  // 10
};
static_assert(sizeof(METADATA_IN_FILE_SINGLE_ENTRY) == METADATA_IN_FILE_SINGLE_ENTRY__SIZE_BYTES,
              "the in-memory record must be the file record");

enum METADATA_TYPE : uint32_t {
  METADATA_TYPE_INT32 = 0,
  METADATA_TYPE_UINT32 = 1,
  METADATA_TYPE_FLOAT = 2,
  METADATA_TYPE_STRING = 3,
};

struct METADATA_KEY_DEFINITION {
  char key[28];
  uint32_t eType;     // METADATA_TYPE
  uint32_t found;     // 1 once met in the block being read
  uint8_t mandatory;  // 1 = every block of this kind carries the key
};

namespace qv::imc2 {

constexpr uint32_t kNumGlobalMetadataKeys = 22;
constexpr uint32_t kNumImageMetadataKeys = 5;

// Constant tables in file order; readers work on heap copies of them.
extern const METADATA_KEY_DEFINITION kGlobalMetadataKeys[kNumGlobalMetadataKeys];
extern const METADATA_KEY_DEFINITION kImageMetadataKeys[kNumImageMetadataKeys];

// Global keys by row (index into kGlobalMetadataKeys).
enum GlobalKeyRow : uint32_t {
  kGNumberOfImages,
  kGWidth,
  kGHeight,
  kGScaleX,
  kGScaleY,
  kGSourceWidth,
  kGSourceHeight,
  kGAoiWidth,
  kGAoiHeight,
  kGXStart,
  kGYStart,
  kGBytesPerPixel,
  kGEffectiveBits,
  kGHorizontalBinning,
  kGVerticalBinning,
  kGSourceFormat,
  kGImageFormat,
  kGImageRotation,
  kGScaleXOffset,
  kGScaleYOffset,
  kGCameraPortName,
  kGCameraPortId,
};
enum ImageKeyRow : uint32_t {
  kIImageStart,
  kITimestampUtc,
  kIImageFlags,
  kIFrameNumber,
  kIEventNumber,
};

// Result codes of the record routines (shared with the file writer/reader).
constexpr int kMetaOk = 0;
constexpr int kMetaWriteError = -5;
constexpr int kMetaMalformed = -6;
constexpr int kMetaComposeError = -15;

}  // namespace qv::imc2

// 0 written, -15 empty key or key and value too long, -5 write failed.
int _internal_write_metadata_set_to_file(FILE* apFile, const char* asKey, const char* asValue);
int _internal_write_metadata_set_int32(FILE* apFile, const char* asKey, int32_t aiValue);
int _internal_write_metadata_set_uint32(FILE* apFile, const char* asKey, uint32_t auiValue);
int _internal_write_metadata_set_float(FILE* apFile, const char* asKey, float afValue);

// 0 read, -5 short read, -6 malformed. Outputs are changed only on success.
int _internal_read_metadata_set_from_file(FILE* apFile, std::string& sKey, std::string& sValue);

// Checks one key and value against a working key table and marks the key.
// The message goes to asOutMessage (cut, terminated) when it is non-null and
// aiMessageSize is above 1.
bool _internal_validate_metadata_set(const char* asKeySingleMetaData,
                                     const char* asValueSingleMetaData,
                                     METADATA_KEY_DEFINITION* apInOutMetadataSetsToValidateAgainst,
                                     uint32_t aiNumMetadataSetsToValidateAgainst,
                                     char* asOutMessage, size_t aiMessageSize);
bool _internal_validate_metadata_keyvalue(
    const char* asKeyValueSingleMetaData,
    METADATA_KEY_DEFINITION* apInOutMetadataSetsToValidateAgainst,
    uint32_t aiNumMetadataSetsToValidateAgainst, char* asOutMessage, size_t aiMessageSize);

namespace qv::imc2 {
// Conversion results: 0 converted, 1 above range, 2 below range, 3 not a number.
constexpr int kConvOk = 0;
constexpr int kConvOverflow = 1;
constexpr int kConvUnderflow = 2;
constexpr int kConvInconvertible = 3;
}  // namespace qv::imc2

// A null output turns the conversion into a check; nothing is stored on failure.
int str2int32(int32_t* apiOut, const char* asText, int aiBase);
int str2uint32(uint32_t* apuiOut, const char* asText, int aiBase);
int str2float(float* apfOut, const char* asText);

namespace qv::imc2 {

// Key comparison of the tables: ASCII letters without regard to case.
bool metadataKeyEquals(const char* asA, const char* asB);

// Value text of a float as the files carry it: fixed point, six decimals.
std::string metadataFloatText(float afValue);

}  // namespace qv::imc2
