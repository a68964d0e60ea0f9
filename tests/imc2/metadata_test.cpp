#include "imc2/metadata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "imc2_test_util.h"
#include "support/tempdir.h"

namespace {

using qv::imc2::kGlobalMetadataKeys;
using qv::imc2::kImageMetadataKeys;

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::vector<METADATA_KEY_DEFINITION> globalTable() {
  return {std::begin(kGlobalMetadataKeys), std::end(kGlobalMetadataKeys)};
}
std::vector<METADATA_KEY_DEFINITION> imageTable() {
  return {std::begin(kImageMetadataKeys), std::end(kImageMetadataKeys)};
}

// Writes one record through the writer and returns the file's bytes.
std::string writtenRecord(int (*write)(FILE*), int* result) {
  TempDir dir;
  const std::string path = dir.file("r.bin");
  {
    File f(fopen(path.c_str(), "wb"));
    *result = write(f.get());
  }
  return readFile(path);
}

std::string recordText(const std::string& record) { return std::string(record.c_str()); }

}  // namespace

TEST(MetadataRecord, LayoutIsTextZeroFillCrLf) {
  static_assert(sizeof(METADATA_IN_FILE_SINGLE_ENTRY) == 252, "record size");
  static_assert(offsetof(METADATA_IN_FILE_SINGLE_ENTRY, r) == 250, "r offset");
  static_assert(offsetof(METADATA_IN_FILE_SINGLE_ENTRY, n) == 251, "n offset");
  int r = 1;
  const std::string bytes = writtenRecord(
      [](FILE* f) { return _internal_write_metadata_set_to_file(f, "key", "a=b"); }, &r);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(bytes.size(), 252u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("key=a=b\0", 8));
  EXPECT_EQ(bytes.substr(7, 243), std::string(243, '\0'));
  EXPECT_EQ(bytes[250], '\r');
  EXPECT_EQ(bytes[251], '\n');
}

TEST(MetadataRecord, LengthLimitAndEmptyKey) {
  TempDir dir;
  const std::string path = dir.file("r.bin");
  File f(fopen(path.c_str(), "wb"));
  const std::string key(20, 'k');
  EXPECT_EQ(
      _internal_write_metadata_set_to_file(f.get(), key.c_str(), std::string(228, 'v').c_str()), 0);
  EXPECT_EQ(ftell(f.get()), 252);
  EXPECT_EQ(
      _internal_write_metadata_set_to_file(f.get(), key.c_str(), std::string(229, 'v').c_str()),
      -15);
  EXPECT_EQ(_internal_write_metadata_set_to_file(f.get(), "", "value"), -15);
  EXPECT_EQ(ftell(f.get()), 252) << "a refused record writes nothing";
  f.reset();
  const std::string bytes = readFile(path);
  EXPECT_EQ(recordText(bytes), key + "=" + std::string(228, 'v'));
  EXPECT_EQ(bytes[249], '\0');
}

TEST(MetadataRecord, WriteFailureIsMinus5) {
  TempDir dir;
  const std::string path = dir.file("ro.bin");
  writeFile(path, "x");
  File f(fopen(path.c_str(), "rb"));  // a stream that cannot be written
  EXPECT_EQ(_internal_write_metadata_set_to_file(f.get(), "k", "v"), -5);
  EXPECT_EQ(_internal_write_metadata_set_uint32(f.get(), "k", 1), -5);
}

TEST(MetadataRecord, TypedValueTexts) {
  struct Case {
    int (*write)(FILE*);
    const char* text;
  };
  const Case cases[] = {
      {[](FILE* f) { return _internal_write_metadata_set_int32(f, "i", -2147483647 - 1); },
       "i=-2147483648"},
      {[](FILE* f) { return _internal_write_metadata_set_int32(f, "i", 7); }, "i=7"},
      {[](FILE* f) {
         return _internal_write_metadata_set_uint32(f, "u", static_cast<uint32_t>(-5));
       },
       "u=4294967291"},
      {[](FILE* f) { return _internal_write_metadata_set_float(f, "f", 0.0125f); }, "f=0.012500"},
      {[](FILE* f) { return _internal_write_metadata_set_float(f, "f", -1.0f); }, "f=-1.000000"},
      {[](FILE* f) { return _internal_write_metadata_set_float(f, "f", 0.0000001f); },
       "f=0.000000"},
      {[](FILE* f) { return _internal_write_metadata_set_float(f, "f", -0.0000001f); },
       "f=-0.000000"},
      {[](FILE* f) { return _internal_write_metadata_set_float(f, "f", 123456.5f); },
       "f=123456.500000"},
  };
  for (const Case& c : cases) {
    int r = 1;
    EXPECT_EQ(recordText(writtenRecord(c.write, &r)), c.text);
    EXPECT_EQ(r, 0);
  }
}

namespace {
// Reads one crafted record; returns the code and the outputs.
int readRecord(const std::string& bytes, std::string& key, std::string& value) {
  TempDir dir;
  const std::string path = dir.file("r.bin");
  writeFile(path, bytes);
  File f(fopen(path.c_str(), "rb"));
  return _internal_read_metadata_set_from_file(f.get(), key, value);
}
}  // namespace

TEST(MetadataRecord, ReadSplitsAtFirstDelimiter) {
  std::string key = "old", value = "old";
  EXPECT_EQ(readRecord(Bytes().record("camera_port_name=").str(), key, value), 0);
  EXPECT_EQ(key, "camera_port_name");
  EXPECT_EQ(value, "");
  EXPECT_EQ(readRecord(Bytes().record("a=b=c").str(), key, value), 0);
  EXPECT_EQ(key, "a");
  EXPECT_EQ(value, "b=c");
  EXPECT_EQ(readRecord(Bytes().record(std::string(248, 'k') + "=").str(), key, value), 0);
  EXPECT_EQ(key.size(), 248u);
}

TEST(MetadataRecord, ReadRejectsMalformedAndShortRecords) {
  std::string key = "old", value = "old";
  EXPECT_EQ(readRecord(Bytes().record("=abc").str(), key, value), -6);
  EXPECT_EQ(readRecord(Bytes().record("noDelimiter").str(), key, value), -6);
  EXPECT_EQ(readRecord(Bytes().record("a=b", 10, 10).str(), key, value), -6);
  EXPECT_EQ(readRecord(Bytes().record("a=b", 13, 13).str(), key, value), -6);
  EXPECT_EQ(readRecord(Bytes().record(std::string(250, 'x')).str(), key, value), -6)
      << "no terminator within the 250 text bytes";
  EXPECT_EQ(readRecord(Bytes().record("a=b").str().substr(0, 251), key, value), -5);
  EXPECT_EQ(readRecord("", key, value), -5);
  EXPECT_EQ(key, "old");
  EXPECT_EQ(value, "old");
}

TEST(MetadataConversion, Int32FollowsStrtolWith32BitLong) {
  int32_t v = 99;
  EXPECT_EQ(str2int32(&v, "2147483647", 10), 0);
  EXPECT_EQ(v, 2147483647);
  EXPECT_EQ(str2int32(&v, "-2147483648", 10), 0);
  EXPECT_EQ(v, -2147483647 - 1);
  EXPECT_EQ(str2int32(&v, " \t+12", 10), 0);
  EXPECT_EQ(v, 12);
  v = 99;
  EXPECT_EQ(str2int32(&v, "2147483648", 10), 1);
  EXPECT_EQ(str2int32(&v, "99999999999999999999", 10), 1);
  EXPECT_EQ(str2int32(&v, "-2147483649", 10), 2);
  EXPECT_EQ(str2int32(&v, "", 10), 3);
  EXPECT_EQ(str2int32(&v, "12 ", 10), 3);
  EXPECT_EQ(str2int32(&v, "1.5", 10), 3);
  EXPECT_EQ(str2int32(&v, "-", 10), 3);
  EXPECT_EQ(str2int32(&v, "x", 10), 3);
  EXPECT_EQ(v, 99) << "a failed conversion stores nothing";
  EXPECT_EQ(str2int32(nullptr, "5", 10), 0);
}

TEST(MetadataConversion, Uint32FollowsStrtoulWith32BitLong) {
  uint32_t v = 99;
  EXPECT_EQ(str2uint32(&v, "-1", 10), 0);
  EXPECT_EQ(v, 4294967295u);
  EXPECT_EQ(str2uint32(&v, "-4294967295", 10), 0);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(str2uint32(&v, "4294967295", 10), 0);
  EXPECT_EQ(v, 4294967295u);
  EXPECT_EQ(str2uint32(&v, " 12", 10), 0);
  EXPECT_EQ(v, 12u);
  v = 99;
  EXPECT_EQ(str2uint32(&v, "4294967296", 10), 1);
  EXPECT_EQ(str2uint32(&v, "-4294967296", 10), 1);
  EXPECT_EQ(str2uint32(&v, "-18446744073709551615", 10), 1);
  EXPECT_EQ(str2uint32(&v, "99999999999999999999999", 10), 1);
  EXPECT_EQ(str2uint32(&v, "12 ", 10), 3);
  EXPECT_EQ(str2uint32(&v, "", 10), 3);
  EXPECT_EQ(str2uint32(&v, "-", 10), 3);
  EXPECT_EQ(str2uint32(&v, "- 1", 10), 3);
  EXPECT_EQ(v, 99u);
}

TEST(MetadataConversion, FloatRangeOfSinglePrecision) {
  float v = 9.0f;
  EXPECT_EQ(str2float(&v, "1e-3"), 0);
  EXPECT_FLOAT_EQ(v, 0.001f);
  EXPECT_EQ(str2float(&v, "1e-50"), 0);
  EXPECT_EQ(v, 0.0f);
  EXPECT_EQ(str2float(&v, "3.4028234663852886e38"), 0);
  v = 9.0f;
  EXPECT_EQ(str2float(&v, "1e39"), 1);
  EXPECT_EQ(str2float(&v, "inf"), 1);
  EXPECT_EQ(str2float(&v, "1e999"), 1);
  EXPECT_EQ(str2float(&v, "-1e39"), 2);
  EXPECT_EQ(str2float(&v, ""), 3);
  EXPECT_EQ(str2float(&v, "1.5x"), 3);
  EXPECT_EQ(str2float(&v, "abc"), 3);
  EXPECT_EQ(v, 9.0f);
}

TEST(MetadataValidation, ParameterChecksInOrder) {
  auto table = globalTable();
  char msg[200];
  EXPECT_FALSE(_internal_validate_metadata_set(nullptr, nullptr, nullptr, 0, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (asKeySingleMetaData must not be NULL).");
  EXPECT_FALSE(_internal_validate_metadata_set("k", nullptr, nullptr, 0, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (asValueSingleMetaData must not be NULL).");
  EXPECT_FALSE(_internal_validate_metadata_set("k", "v", nullptr, 0, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (aiNumMetadataSetsToValidateAgainst<=0).");
  EXPECT_FALSE(_internal_validate_metadata_set("k", "v", nullptr, 22, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (apInOutMetadataSetsToValidateAgainst is NULL).");

  EXPECT_FALSE(_internal_validate_metadata_keyvalue(nullptr, table.data(), 22, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (asKeyValueSingleMetaData must not be NULL).");
  EXPECT_FALSE(_internal_validate_metadata_keyvalue("ab=", table.data(), 0, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (aiNumMetadataSetsToValidateAgainst<=0).");
  EXPECT_FALSE(_internal_validate_metadata_keyvalue("ab=", nullptr, 22, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (apInOutMetadataSetsToValidateAgainst is NULL).");
}

TEST(MetadataValidation, KeysIgnoreCaseAndMayNotRepeat) {
  auto table = globalTable();
  char msg[200] = "";
  EXPECT_TRUE(
      _internal_validate_metadata_set("NUMBER_OF_IMAGES", "3", table.data(), 22, msg, sizeof msg));
  EXPECT_EQ(table[0].found, 1u);
  EXPECT_EQ(kGlobalMetadataKeys[0].found, 0u) << "the constant table is never marked";
  EXPECT_TRUE(_internal_validate_metadata_set("width_px", "1", table.data(), 22, msg, sizeof msg));
  EXPECT_FALSE(_internal_validate_metadata_set("Width_PX", "1", table.data(), 22, msg, sizeof msg));
  EXPECT_STREQ(msg, "Validation error: Key (Width_PX) appeared more than once.");
  EXPECT_TRUE(_internal_validate_metadata_set("xyz", "1", table.data(), 22, msg, sizeof msg));
  for (const auto& row : table) {
    EXPECT_EQ(row.found,
              (std::string(row.key) == "number_of_images" || std::string(row.key) == "width_px")
                  ? 1u
                  : 0u)
        << row.key;
  }
}

TEST(MetadataValidation, ValuesMustMatchTheirType) {
  struct Case {
    const char* key;
    const char* value;
    const char* message;  // null: passes
  };
  const Case cases[] = {
      {"width_px", "-1", nullptr},
      {"width_px", " 12", nullptr},
      {"width_px", "4294967296", "Validation error: Value (4294967296) is no valid uint32."},
      {"width_px", "12 ", "Validation error: Value (12 ) is no valid uint32."},
      {"width_px", "", "Validation error: Value () is no valid uint32."},
      {"x_start_px", "-5", nullptr},
      {"x_start_px", "2147483648", "Validation error: Value (2147483648) is no valid int32."},
      {"scale_x_mm/px", "1e-50", nullptr},
      {"scale_x_mm/px", "1e39", "Validation error: Value (1e39) is no valid float."},
      {"source_format", "", nullptr},
      {"camera_port_name", "anything at all", nullptr},
  };
  for (const Case& c : cases) {
    auto table = globalTable();
    char msg[200] = "";
    EXPECT_EQ(_internal_validate_metadata_set(c.key, c.value, table.data(), 22, msg, sizeof msg),
              c.message == nullptr)
        << c.key << "=" << c.value;
    if (c.message) {
      EXPECT_STREQ(msg, c.message);
    }
  }
}

TEST(MetadataValidation, UnknownTypeIsReported) {
  METADATA_KEY_DEFINITION row = {"odd", 7, 0, 0};
  char msg[200];
  EXPECT_FALSE(_internal_validate_metadata_set("ODD", "1", &row, 1, msg, sizeof msg));
  EXPECT_STREQ(msg,
               "Validation error: Unknown type of Metadata (.eType=7 unknown) for key \"ODD\".");
}

TEST(MetadataValidation, KeyValueTextLengthAndDelimiter) {
  auto table = imageTable();
  char msg[200];
  EXPECT_FALSE(_internal_validate_metadata_keyvalue("a=", table.data(), 5, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (asKeyValueSingleMetaData is not 3..249 characters).");
  EXPECT_TRUE(_internal_validate_metadata_keyvalue("ab=", table.data(), 5, msg, sizeof msg));
  EXPECT_TRUE(_internal_validate_metadata_keyvalue("xyz=1", table.data(), 5, msg, sizeof msg));
  EXPECT_FALSE(_internal_validate_metadata_keyvalue("=abc", table.data(), 5, msg, sizeof msg));
  EXPECT_STREQ(msg, "Delimiter (=) not found in parameter asKeyValueSingleMetaData.");
  EXPECT_FALSE(_internal_validate_metadata_keyvalue("abc", table.data(), 5, msg, sizeof msg));
  EXPECT_STREQ(msg, "Delimiter (=) not found in parameter asKeyValueSingleMetaData.");
  const std::string longest = "k=" + std::string(247, 'v');
  EXPECT_TRUE(
      _internal_validate_metadata_keyvalue(longest.c_str(), table.data(), 5, msg, sizeof msg));
  const std::string tooLong = longest + "v";
  EXPECT_FALSE(
      _internal_validate_metadata_keyvalue(tooLong.c_str(), table.data(), 5, msg, sizeof msg));
  EXPECT_STREQ(msg, "Parameter error (asKeyValueSingleMetaData is not 3..249 characters).");
  EXPECT_TRUE(
      _internal_validate_metadata_keyvalue("framenumber=-1", table.data(), 5, msg, sizeof msg));
  EXPECT_FALSE(
      _internal_validate_metadata_keyvalue("FrameNumber=2", table.data(), 5, msg, sizeof msg));
  EXPECT_STREQ(msg, "Validation error: Key (FrameNumber) appeared more than once.");
}

TEST(MetadataValidation, MessageBufferIsOptionalAndCut) {
  auto table = globalTable();
  char msg[10];
  memset(msg, 'x', sizeof msg);
  EXPECT_FALSE(_internal_validate_metadata_set("width_px", "x", table.data(), 22, msg, sizeof msg));
  EXPECT_STREQ(msg, "Validatio");
  char one[1] = {'y'};
  table = globalTable();
  EXPECT_FALSE(_internal_validate_metadata_set("width_px", "x", table.data(), 22, one, 1));
  EXPECT_EQ(one[0], 'y');
  table = globalTable();
  EXPECT_FALSE(_internal_validate_metadata_set("width_px", "x", table.data(), 22, nullptr, 200));
}

TEST(MetadataTables, RowsTypesAndMandatoryKeys) {
  int mandatoryGlobal = 0;
  for (const auto& row : kGlobalMetadataKeys) mandatoryGlobal += row.mandatory;
  EXPECT_EQ(mandatoryGlobal, 20);
  EXPECT_STREQ(kGlobalMetadataKeys[0].key, "number_of_images");
  EXPECT_STREQ(kGlobalMetadataKeys[12].key, "effective_bits_per_pixel");
  EXPECT_STREQ(kGlobalMetadataKeys[21].key, "camera_port_id");
  EXPECT_EQ(kGlobalMetadataKeys[21].eType, METADATA_TYPE_UINT32);
  EXPECT_EQ(kGlobalMetadataKeys[20].mandatory, 0);
  EXPECT_STREQ(kImageMetadataKeys[1].key, "timestamp_utc");
  EXPECT_EQ(kImageMetadataKeys[0].mandatory + kImageMetadataKeys[2].mandatory, 2);
  EXPECT_EQ(kImageMetadataKeys[1].mandatory + kImageMetadataKeys[3].mandatory +
                kImageMetadataKeys[4].mandatory,
            0);
}
