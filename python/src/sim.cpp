// The stand-in TINE layer's simulated video servers, for notebooks, tests
// and demos. Only present when the package is built with the stand-in.
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "bunch.h"
#include "errors.h"
#include "tinesim/control.h"

namespace qvpy {

namespace {

void check(int result, const std::string& what) {
  if (result != 0) raiseError("ArgumentError", result, what);
}

std::string unknown(const std::string& address, const std::string& property) {
  return "no simulated property " + address + " " + property + ", or an unusable argument";
}

}  // namespace

void registerSim(py::module_& m) {
  m.def("sim_reset", &tinesimReset);
  m.def("sim_add_image_property", [](const std::string& address, const std::string& property,
                                     int width, int height, int format) {
    check(tinesimAddImageProperty(address.c_str(), property.c_str(), width, height, format),
          "cannot add " + address + " " + property + " (width and height 1..16384)");
  });
  m.def("sim_remove_server", [](const std::string& address) {
    check(tinesimRemoveServer(address.c_str()), "no simulated server " + address);
  });
  m.def("sim_set_effective_bits",
        [](const std::string& address, const std::string& property, int bits) {
          check(tinesimSetEffectiveBits(address.c_str(), property.c_str(), bits),
                unknown(address, property));
        });
  m.def("sim_set_frame_numbering", [](const std::string& address, const std::string& property,
                                      uint32_t start, int32_t step, uint32_t repeats) {
    check(tinesimSetFrameNumbering(address.c_str(), property.c_str(), start, step, repeats),
          unknown(address, property));
  });
  m.def("sim_set_silent", [](const std::string& address, bool silent) {
    check(tinesimSetServerSilent(address.c_str(), silent ? 1 : 0),
          "no simulated server " + address);
  });
  m.def("sim_set_link_stop_after",
        [](const std::string& address, const std::string& property, int frames) {
          check(tinesimSetLinkStopAfter(address.c_str(), property.c_str(), frames),
                unknown(address, property));
        });
  m.def("sim_replay", [](const std::string& address, const std::string& property, Bunch& bunch,
                         bool keepFrameNumbers) {
    // The stand-in copies the frames: the bunch may go afterwards.
    check(
        tinesimSetReplay(address.c_str(), property.c_str(), bunch.get(), keepFrameNumbers ? 1 : 0),
        unknown(address, property));
  });
  m.def("sim_pattern_frame_number", [](const Bunch& bunch, int64_t index) {
    return tinesimPatternFrameNumber(&bunch.image(index));
  });
  m.def("sim_call_count", [](const std::string& name) { return tinesimCallCount(name.c_str()); });
  m.def("sim_open_link_count", &tinesimOpenLinkCount);
}

}  // namespace qvpy
