#include "formats/header_fields.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

#include "image/image.h"
#include "imc2/metadata.h"
#include "platform/platform.h"
#include "runtime/timetext.h"

namespace qvformats {

const std::vector<SequenceField>& sequenceFields() {
  static const std::vector<SequenceField> kFields = {
      {"scale_x_mm/px", "x_scale", FieldKind::kReal},  // pixels per millimetre
      {"scale_y_mm/px", "y_scale", FieldKind::kReal},
      {"source_width_px", "source_width", FieldKind::kInteger},
      {"source_height_px", "source_height", FieldKind::kInteger},
      {"aoi_width_px", "aoi_width", FieldKind::kInteger},
      {"aoi_height_px", "aoi_height", FieldKind::kInteger},
      {"x_start_px", "x_start", FieldKind::kInteger},
      {"y_start_px", "y_start", FieldKind::kInteger},
      {"bytes_per_pixel", "bytes_per_pixel", FieldKind::kInteger},
      {"effective_bits_per_pixel", "effective_bits_per_pixel", FieldKind::kInteger},
      {"horizontal_binning", "horizontal_binning", FieldKind::kInteger},
      {"vertical_binning", "vertical_binning", FieldKind::kInteger},
      {"source_format", "source_format", FieldKind::kFormat},
      {"image_format", "image_format", FieldKind::kFormat},
      {"image_rotation", "image_rotation", FieldKind::kReal},
      {"scale_x_offset", "scale_x_offset", FieldKind::kReal},
      {"scale_y_offset", "scale_y_offset", FieldKind::kReal},
      {"camera_port_name", "camera_port_name", FieldKind::kText},
      {"camera_port_id", "camera_port_id", FieldKind::kPortId},
  };
  return kFields;
}

namespace {

template <typename Image>
auto integerOf(Image& image, const std::string& key) -> decltype(&image.frameHeader.xStart) {
  auto& f = image.frameHeader;
  static const struct {
    const char* key;
    int32_t FRAMEHEADER::*member;
  } kIntegers[] = {
      {"source_width_px", &FRAMEHEADER::sourceWidth},
      {"source_height_px", &FRAMEHEADER::sourceHeight},
      {"aoi_width_px", &FRAMEHEADER::aoiWidth},
      {"aoi_height_px", &FRAMEHEADER::aoiHeight},
      {"x_start_px", &FRAMEHEADER::xStart},
      {"y_start_px", &FRAMEHEADER::yStart},
      {"bytes_per_pixel", &FRAMEHEADER::bytesPerPixel},
      {"effective_bits_per_pixel", &FRAMEHEADER::effectiveBitsPerPixel},
      {"horizontal_binning", &FRAMEHEADER::horizontalBinning},
      {"vertical_binning", &FRAMEHEADER::verticalBinning},
      {"source_format", &FRAMEHEADER::sourceFormat},
      {"image_format", &FRAMEHEADER::imageFormat},
  };
  for (const auto& entry : kIntegers)
    if (key == entry.key) return &(f.*entry.member);
  return nullptr;
}

template <typename Image>
auto realOf(Image& image, const std::string& key) -> decltype(&image.frameHeader.xScale) {
  auto& f = image.frameHeader;
  static const struct {
    const char* key;
    float FRAMEHEADER::*member;
  } kReals[] = {
      {"scale_x_mm/px", &FRAMEHEADER::xScale},
      {"scale_y_mm/px", &FRAMEHEADER::yScale},
      {"image_rotation", &FRAMEHEADER::imageRotation},
      {"scale_x_offset", &FRAMEHEADER::scale_x_offset},
      {"scale_y_offset", &FRAMEHEADER::scale_y_offset},
  };
  for (const auto& entry : kReals)
    if (key == entry.key) return &(f.*entry.member);
  return nullptr;
}

// Nine significant digits give every float back exactly.
std::string realText(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

std::string formatText(int format) {
  char name[64];
  size_t size = sizeof name;
  const char* text = CDIMAGE::getFormatAsString(format, false, name, &size);
  return text != nullptr ? text : std::to_string(format);
}

}  // namespace

int32_t integerValue(const SequenceField& field, const DIMAGE& image) {
  return *integerOf(image, field.key);
}
float realValue(const SequenceField& field, const DIMAGE& image) {
  return *realOf(image, field.key);
}
void setInteger(const SequenceField& field, DIMAGE& image, int32_t value) {
  *integerOf(image, field.key) = value;
}
void setReal(const SequenceField& field, DIMAGE& image, float value) {
  *realOf(image, field.key) = value;
}

std::string fieldText(const SequenceField& field, const DIMAGE& image) {
  switch (field.kind) {
    case FieldKind::kInteger:
      return std::to_string(integerValue(field, image));
    case FieldKind::kReal:
      return realText(realValue(field, image));
    case FieldKind::kFormat:
      return formatText(integerValue(field, image));
    case FieldKind::kText:
      return std::string(
          image.sourceHeader.cameraPortName,
          strnlen(image.sourceHeader.cameraPortName, sizeof image.sourceHeader.cameraPortName));
    case FieldKind::kPortId:
      return std::to_string(static_cast<uint32_t>(image.sourceHeader.cameraPortId));
  }
  return "";
}

bool setField(const SequenceField& field, DIMAGE& image, const std::string& text) {
  switch (field.kind) {
    case FieldKind::kInteger:
      return str2int32(integerOf(image, field.key), text.c_str(), 10) == qv::imc2::kConvOk;
    case FieldKind::kReal:
      return str2float(realOf(image, field.key), text.c_str()) == qv::imc2::kConvOk;
    case FieldKind::kFormat:
      return CDIMAGE::getFormatFromString(text.c_str(), integerOf(image, field.key));
    case FieldKind::kText: {
      char* name = image.sourceHeader.cameraPortName;
      std::memset(name, 0, sizeof image.sourceHeader.cameraPortName);
      std::memcpy(name, text.data(),
                  std::min(text.size(), sizeof image.sourceHeader.cameraPortName));
      return true;
    }
    case FieldKind::kPortId: {
      uint32_t id = 0;
      if (str2uint32(&id, text.c_str(), 10) != qv::imc2::kConvOk) return false;
      image.sourceHeader.cameraPortId = static_cast<int32_t>(id);
      return true;
    }
  }
  return false;
}

std::string flagsText(uint32_t flags) {
  char words[250];
  size_t size = sizeof words;
  CDIMAGE::getFlagsAsString(flags, words, &size);
  return words;
}

bool flagsFromText(const std::string& text, uint32_t& flags) {
  return CDIMAGE::getFlagsFromString(text.c_str(), &flags);
}

std::string timestampText(const DIMAGE& image) {
  if (image.sourceHeader.timestampSeconds == 0) return "";
  char text[40];
  if (platformTimeToUTCString(image.sourceHeader.timestampSeconds,
                              image.sourceHeader.timestampMicroseconds, true, false, true, text,
                              sizeof text) == nullptr)
    return "";
  return text;
}

bool setTimestamp(DIMAGE& image, const std::string& text) {
  int64_t seconds = 0;
  uint32_t microseconds = 0;
  if (!platformUTCStringToTime(text.c_str(), &seconds, &microseconds) || seconds < 0 ||
      seconds > UINT32_MAX)
    return false;
  image.sourceHeader.timestampSeconds = static_cast<uint32_t>(seconds);
  image.sourceHeader.timestampMicroseconds = microseconds;
  return true;
}

std::string isoTimestamp(uint32_t seconds, uint32_t microseconds) {
  struct tm parts {};
  qv::platform::utcCalendar(seconds, parts);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06uZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                microseconds % 1000000u);
  return text;
}

double epochSeconds(uint32_t seconds, uint32_t microseconds) {
  return static_cast<double>(seconds) + static_cast<double>(microseconds) * 1e-6;
}

bool splitEpochSeconds(double value, uint32_t& seconds, uint32_t& microseconds) {
  if (!(value >= 0.0) || value >= 4294967296.0) return false;
  double whole = std::floor(value);
  // value - whole is exact; the rounding error of value stays below half a
  // microsecond, so rounding gives the microseconds it was made from.
  long long micro = std::llround((value - whole) * 1e6);
  if (micro >= 1000000) {
    whole += 1.0;
    micro -= 1000000;
  }
  if (whole >= 4294967296.0) return false;
  seconds = static_cast<uint32_t>(whole);
  microseconds = static_cast<uint32_t>(micro);
  return true;
}

std::string headerText(const DIMAGE& image) {
  std::string text;
  for (const SequenceField& field : sequenceFields())
    text += std::string(field.key) + "=" + fieldText(field, image) + "\n";
  const std::string time = timestampText(image);
  if (!time.empty()) text += std::string(kTimestampKey) + "=" + time + "\n";
  text += std::string(kFlagsKey) + "=" + flagsText(image.frameHeader.imageFlags) + "\n";
  text += std::string(kFrameNumberKey) + "=" + std::to_string(image.frameHeader.frameNumber) + "\n";
  text += std::string(kEventNumberKey) + "=" + std::to_string(image.frameHeader.eventNumber) + "\n";
  return text;
}

namespace {

bool applyFrameValue(const std::string& key, const std::string& value, DIMAGE& image, bool& known) {
  known = true;
  FRAMEHEADER& f = image.frameHeader;
  if (key == kTimestampKey) return setTimestamp(image, value);
  if (key == kFlagsKey) return flagsFromText(value, f.imageFlags);
  if (key == kFrameNumberKey) return str2uint32(&f.frameNumber, value.c_str(), 10) == 0;
  if (key == kEventNumberKey) return str2uint32(&f.eventNumber, value.c_str(), 10) == 0;
  known = false;
  return true;
}

}  // namespace

bool applyHeaderText(const std::string& text, DIMAGE& image, std::string& why) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    bool known = false;
    bool applied = applyFrameValue(key, value, image, known);
    for (const SequenceField& field : sequenceFields()) {
      if (known) break;
      if (key != field.key) continue;
      known = true;
      applied = setField(field, image, value);
    }
    if (!applied) {
      why = "the value of " + key + " (\"" + value + "\") cannot be read";
      return false;
    }
  }
  return true;
}

void setFrameBytes(DIMAGE& image, uint32_t frameBytes) {
  image.frameHeader.appendedFrameSize = static_cast<int32_t>(frameBytes);
  image.sourceHeader.totalLength = frameBytes + QV_HDR_IMAGE_SIZE;
}

}  // namespace qvformats
