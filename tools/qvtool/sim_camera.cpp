#include "sim_camera.h"

#include <cstdio>

#ifdef QVTOOL_STAND_IN
#include "tinesim/control.h"
#endif

namespace qvtool {

namespace {

constexpr int kLargestSide = 16384;

bool parseSize(const std::string& text, int& width, int& height) {
  char x = 0, extra = 0;
  return std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &extra) == 3 &&
         (x == 'x' || x == 'X') && width >= 1 && width <= kLargestSide && height >= 1 &&
         height <= kLargestSide;
}

int formatCode(const std::string& name) {
  static const struct {
    const char* name;
    int code;
  } kFormats[] = {{"gray8", 0}, {"gray16", 1}, {"rgb", 2}, {"jpeg-gray", 3}, {"jpeg-rgb", 4}};
  for (const auto& format : kFormats)
    if (name == format.name) return format.code;
  return -1;
}

}  // namespace

std::optional<Problem> shapeSimulatedCamera(const SimulatedCamera& camera,
                                            const std::string& address,
                                            const std::string& property) {
  if (!camera.requested()) return std::nullopt;
  int width = 640, height = 480, format = 1;
  if (!camera.size.empty() && !parseSize(camera.size, width, height))
    return Problem{"--sim-size wants WIDTHxHEIGHT, each 1.." + std::to_string(kLargestSide) +
                       ", not '" + camera.size + "'",
                   "", kUsage};
  if (!camera.format.empty() && (format = formatCode(camera.format)) < 0)
    return Problem{"--sim-format wants one of " + std::string(kSimulatedFormats) + ", not '" +
                       camera.format + "'",
                   "", kUsage};
#ifdef QVTOOL_STAND_IN
  if (tinesimAddImageProperty(address.c_str(), property.c_str(), width, height, format) != 0)
    return Problem{"cannot shape the simulated camera " + address + " " + property, ""};
  return std::nullopt;
#else
  (void)address;
  (void)property;
  return Problem{
      "--sim-size and --sim-format shape the simulated camera; this qvtool talks to a real TINE "
      "library",
      "", kUsage};
#endif
}

}  // namespace qvtool
