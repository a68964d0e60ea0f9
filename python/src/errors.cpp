#include "errors.h"

namespace qvpy {

py::str decodeText(const char* text, size_t length) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(length), "replace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

void raiseError(const char* kind, int code, const std::string& reason) {
  py::object type = py::module_::import("quivox3._errors").attr(kind);
  py::object error = type(code, decodeText(reason));
  PyErr_SetObject(type.ptr(), error.ptr());
  throw py::error_already_set();
}

}  // namespace qvpy
