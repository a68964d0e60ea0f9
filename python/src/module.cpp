// quivox3's compiled part: the library's records and calls for the Python
// package; the package's modules give them their Python form.
#include <pybind11/pybind11.h>

#include "quivox3/quivox3.h"

namespace qvpy {
namespace py = pybind11;
void registerBunch(py::module_& m);
void registerCalls(py::module_& m);
void registerSim(py::module_& m);
}  // namespace qvpy

PYBIND11_MODULE(_quivox3, m) {
  m.doc() = "Compiled core of the quivox3 package; use the package, not this module.";
  qvpy::registerBunch(m);
  qvpy::registerCalls(m);
#ifdef QVPY_WITH_SIM
  qvpy::registerSim(m);
  m.attr("HAS_SIM") = true;
#else
  m.attr("HAS_SIM") = false;
#endif
}
