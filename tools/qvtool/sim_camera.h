// Shaping the simulated camera of the stand-in TINE layer for demos and
// tests (--sim-size, --sim-format). Refused when a real TINE library is
// linked: then there is nothing to shape.
#pragma once

#include <optional>
#include <string>

#include "report.h"

namespace qvtool {

struct SimulatedCamera {
  std::string size;    // "WxH", empty: keep
  std::string format;  // gray8|gray16|rgb|jpeg-gray|jpeg-rgb, empty: keep
  bool requested() const { return !size.empty() || !format.empty(); }
};

constexpr char kSimulatedFormats[] = "gray8, gray16, rgb, jpeg-gray, jpeg-rgb";

// Usage problems (exit 2) for values that do not parse; applies them to the
// property when the stand-in is linked.
std::optional<Problem> shapeSimulatedCamera(const SimulatedCamera& camera,
                                            const std::string& address,
                                            const std::string& property);

}  // namespace qvtool
