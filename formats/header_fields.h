// The header fields a sequence file keeps, by name, for the formats that
// store them as named values: key=value text (TIFF page descriptions) and
// typed HDF5 attributes and datasets. One table, so that every format writes
// and reads back the same fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"

namespace qvformats {

enum class FieldKind {
  kInteger,  // int32
  kReal,     // float, written so that it reads back bit for bit
  kFormat,   // pixel format, as its short name
  kText,     // camera port name (64 bytes, terminated or not)
  kPortId,   // camera port id, as unsigned
};

// A field every frame of a sequence shares.
struct SequenceField {
  const char* key;   // in key=value text, as sequence files name it
  const char* name;  // as an HDF5 dataset
  FieldKind kind;
};
const std::vector<SequenceField>& sequenceFields();

// Reading and setting a field of a header, as text. setField is false when
// the text is no value of the field's kind.
std::string fieldText(const SequenceField& field, const DIMAGE& image);
bool setField(const SequenceField& field, DIMAGE& image, const std::string& text);

// Typed access: integerValue for kInteger and kFormat, realValue for kReal.
int32_t integerValue(const SequenceField& field, const DIMAGE& image);
float realValue(const SequenceField& field, const DIMAGE& image);
void setInteger(const SequenceField& field, DIMAGE& image, int32_t value);
void setReal(const SequenceField& field, DIMAGE& image, float value);

// The per-frame fields, as key=value text too.
constexpr const char* kTimestampKey = "timestamp_utc";  // as the library prints it
constexpr const char* kFlagsKey = "image_flags";        // flag words
constexpr const char* kFrameNumberKey = "framenumber";
constexpr const char* kEventNumberKey = "eventnumber";

std::string flagsText(uint32_t flags);
bool flagsFromText(const std::string& text, uint32_t& flags);
// "" for no time stamp (zero seconds).
std::string timestampText(const DIMAGE& image);
bool setTimestamp(DIMAGE& image, const std::string& text);
// ISO 8601 with microseconds: "2026-12-10T04:20:00.000001Z".
std::string isoTimestamp(uint32_t seconds, uint32_t microseconds);
// Seconds since the epoch as a double, and back to the exact microsecond
// (a double of up to 2^32 seconds resolves better than half a microsecond).
double epochSeconds(uint32_t seconds, uint32_t microseconds);
bool splitEpochSeconds(double value, uint32_t& seconds, uint32_t& microseconds);

// Every field of the header as "key=value" lines, sequence fields first.
std::string headerText(const DIMAGE& image);
// Applies the lines of headerText to image; unknown keys are skipped (other
// writers add their own). False with the reason on a malformed known value.
bool applyHeaderText(const std::string& text, DIMAGE& image, std::string& why);

// Completes a header whose sequence fields are set for a frame of
// frameBytes bytes (appended size, total length).
void setFrameBytes(DIMAGE& image, uint32_t frameBytes);

}  // namespace qvformats
