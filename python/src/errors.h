// Failures of the library as Python exceptions of quivox3's own classes.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace qvpy {

namespace py = pybind11;

// Text of the library (bytes in no known encoding) as a str: invalid UTF-8
// is replaced, never raised.
py::str decodeText(const char* text, size_t length);
inline py::str decodeText(const std::string& text) { return decodeText(text.data(), text.size()); }

// Raises quivox3.<kind> (Error, FileError, TransferError, ArgumentError,
// FormatError) carrying the library's code and reason.
[[noreturn]] void raiseError(const char* kind, int code, const std::string& reason);

}  // namespace qvpy
