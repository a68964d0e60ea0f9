// The library's calls for Python: grabs, loads, saves and the queries.
#include <pybind11/stl.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "blocking.h"
#include "bunch.h"
#include "errors.h"
#include "files/files.h"
#include "formats/sequence_files.h"
#include "quivox3/quivox3.h"
#include "tine/grab_multi.h"

namespace qvpy {

namespace {

std::string tineText(int code) {
  char text[128] = {};
  size_t size = sizeof text;
  qvTineCodeToString(code, text, &size);
  return text;
}

std::string grabProblem(int error) {
  switch (error) {
    case QV_E_GRAB_ARGUMENT:
      return "argument, address or property name not usable";
    case QV_E_GRAB_TIMEOUT:
      return "no frame arrived for more than 5 s";
    case QV_E_GRAB_NO_MEMORY:
      return "out of memory";
    case QV_E_GRAB_ATTACH:
      return "the link to the server could not be attached";
    case QV_E_GRAB_INTERRUPTED:
      return "interrupted";
    default:
      return "grab failed";
  }
}

std::unique_ptr<Bunch> grab(const std::string& address, const std::string& property, unsigned count,
                            int rateMs, int mode, const py::object& progress) {
  if (count == 0) raiseError("ArgumentError", QV_E_GRAB_ARGUMENT, "count must be at least 1");
  auto bunch = std::make_unique<Bunch>();
  int error = 0, tineError = 0, interrupt = 0, received = 0;
  double fraction = 0;
  runBlocking(
      [&] {
        // Frames of the property's size go into the bunch's own block.
        received = qv::tine::_internal_grabFramesInto(
            bunch->get(), nullptr, address.c_str(), property.c_str(), count, rateMs, mode, &error,
            &tineError, &interrupt, &fraction, bunch.get());
      },
      &interrupt, &fraction, progress);
  if (error == QV_E_NONE) return bunch;
  const std::string reason = address + " " + property + ": " + grabProblem(error) + " after " +
                             std::to_string(received) + " of " + std::to_string(count) +
                             " frames (last TINE code " + std::to_string(tineError) + ": " +
                             tineText(tineError) + ")";
  if (error == QV_E_GRAB_NO_MEMORY) throw std::bad_alloc();
  raiseError(error == QV_E_GRAB_ARGUMENT ? "ArgumentError" : "TransferError", error, reason);
}

std::unique_ptr<Bunch> grabOne(const std::string& address, const std::string& property,
                               int timeoutMs) {
  int size = 0;
  {
    py::gil_scoped_release unlocked;
    size = qvEstimateMaxFrameSizeBytes(address.c_str(), property.c_str());
  }
  auto bunch = std::make_unique<Bunch>();
  if (qvCreateBunchStructure(bunch->get(), 1, static_cast<uint32_t>(size)) != 1) {
    throw std::bad_alloc();
  }
  int result = 0, tineCode = 0;
  runBlocking(
      [&] {
        result = qvGrabFrame(&bunch->get()->imageArray[0], nullptr, address.c_str(),
                             property.c_str(), timeoutMs, QV_CA_READ, &tineCode);
      },
      nullptr, nullptr, py::none());
  if (result == 1) return bunch;
  static const char* const kWhy[] = {"the address or property name is malformed",
                                     "no frame arrived in time", "the frame is invalid",
                                     "the property's size or format is unknown",
                                     "the address is too short or too long"};
  const std::string reason = address + " " + property + ": " +
                             (result <= 0 && result >= -4 ? kWhy[-result] : "grab failed") +
                             " (TINE code " + std::to_string(tineCode) + ": " + tineText(tineCode) +
                             ")";
  raiseError(result == 0 || result == QV_E_SINGLE_GRAB_ADDRESS ? "ArgumentError" : "TransferError",
             result, reason);
}

// HDF5 and TIFF files: told by content when loading, by name when saving.
bool hasExtension(const std::string& path, std::initializer_list<const char*> extensions) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* extension : extensions) {
    const size_t n = std::strlen(extension);
    if (lower.size() > n && lower.compare(lower.size() - n, n, extension) == 0) return true;
  }
  return false;
}

// The formats component's reasons carry no code of the library's: 0.
[[noreturn]] void raiseFormatsError(const std::string& path, const std::string& why) {
  raiseError("FileError", 0, path + ": " + why);
}

std::unique_ptr<Bunch> loadWithComponent(const std::string& path, qvformats::Container container,
                                         const py::object& progress) {
  auto bunch = std::make_unique<Bunch>();
  int interrupt = 0;
  double fraction = 0;
  std::string why;
  bool loaded = false;
  runBlocking(
      [&] {
        const qvformats::Control control{&interrupt, &fraction};
        // The frames go into the bunch's own block.
        loaded = container == qvformats::Container::kHdf5
                     ? qvformats::loadNexus(path, bunch->get(), control, why, bunch.get())
                     : qvformats::loadTiff(path, bunch->get(), control, why, bunch.get());
      },
      &interrupt, &fraction, progress);
  if (!loaded) raiseFormatsError(path, why);
  return bunch;
}

std::unique_ptr<Bunch> load(const std::string& path, const py::object& progress) {
  qvformats::Container container = qvformats::Container::kOther;
  {
    py::gil_scoped_release unlocked;
    container = qvformats::containerOf(path);
  }
  if (container != qvformats::Container::kOther)
    return loadWithComponent(path, container, progress);
  auto bunch = std::make_unique<Bunch>();
  int interrupt = 0, code = 0;
  double fraction = 0;
  std::string reason;
  runBlocking(
      [&] {
        try {
          // The frames of an IMC2/BKC2 file go into the bunch's own block.
          code = qv::files::loadImages(path.c_str(), bunch->get(), &interrupt, &fraction, reason,
                                       bunch.get());
        } catch (const std::bad_alloc&) {
          code = QV_E_LOAD_NO_MEMORY;
          reason = "out of memory";
        }
      },
      &interrupt, &fraction, progress);
  if (code == QV_E_NONE) return bunch;
  if (code == QV_E_LOAD_NO_MEMORY) throw std::bad_alloc();
  raiseError(code == QV_E_LOAD_ARGUMENT ? "ArgumentError" : "FileError", code, reason);
}

void saveWithComponent(Bunch& bunch, const std::string& path, bool nexus, bool shuffle,
                       const py::object& progress) {
  int interrupt = 0;
  double fraction = 0;
  std::string why;
  bool saved = false;
  runBlocking(
      [&] {
        const qvformats::Control control{&interrupt, &fraction};
        saved = nexus ? qvformats::saveNexus(*bunch.get(), path, {shuffle}, control, why)
                      : qvformats::saveTiff(*bunch.get(), path, control, why);
      },
      &interrupt, &fraction, progress);
  if (!saved) raiseFormatsError(path, why);
}

void save(Bunch& bunch, const std::string& path, bool shuffle, const py::object& progress) {
  const bool nexus = hasExtension(path, {".h5", ".nxs", ".hdf5", ".nx5"});
  if (nexus || hasExtension(path, {".tif", ".tiff"}))
    return saveWithComponent(bunch, path, nexus, shuffle, progress);
  int interrupt = 0, code = 0;
  double fraction = 0;
  char reason[1024] = "";
  runBlocking(
      [&] {
        code = qvSaveImagesToFileEx(bunch.get(), path.c_str(), reason, sizeof reason, &interrupt,
                                    &fraction);
      },
      &interrupt, &fraction, progress);
  if (code == QV_E_NONE) return;
  const bool argument =
      code == QV_E_SAVE_ARGUMENT || code == QV_E_SAVE_NOT_SEQUENCE || code == QV_E_SAVE_CONVERSION;
  raiseError(argument ? "ArgumentError" : "FileError", code, reason);
}

// The library's file codes, and "HDF5" and "TIFF" for the component's files.
py::object checkFormat(const std::string& path) {
  char reason[1024] = "";
  int type = QV_FILE_UNKNOWN;
  qvformats::Container container = qvformats::Container::kOther;
  {
    py::gil_scoped_release unlocked;
    container = qvformats::containerOf(path);
    if (container == qvformats::Container::kOther)
      type = qvCheckFileFormat(path.c_str(), reason, sizeof reason);
  }
  if (container == qvformats::Container::kHdf5) return py::str("HDF5");
  if (container == qvformats::Container::kTiff) return py::str("TIFF");
  if (type == QV_FILE_UNKNOWN) raiseError("FileError", QV_FILE_UNKNOWN, reason);
  return py::int_(type);
}

py::tuple libraryInfo() {
  unsigned major = 0, minor = 0, patch = 0;
  char text[512] = {};
  unsigned size = sizeof text;
  const char* info = qvLibraryInfoEx(&major, &minor, &patch, text, &size);
  return py::make_tuple(decodeText(info ? info : "", info ? std::strlen(info) : 0), major, minor,
                        patch);
}

std::vector<std::string> slotsToNames(const std::vector<char>& slots, unsigned count) {
  std::vector<std::string> names;
  for (unsigned i = 0; i < count; ++i) {
    const char* slot = slots.data() + i * QV_NAME_SLOT_SIZE;
    names.emplace_back(slot, strnlen(slot, QV_NAME_SLOT_SIZE));
  }
  return names;
}

void checkSysList(int result, const std::string& path) {
  if (result == 1) return;
  raiseError("FileError", result,
             "system list \"" + path +
                 (result == -1 ? "\" cannot be loaded" : "\" cannot be queried") +
                 " (the reason went to standard error)");
}

py::list imageSourceNames(const std::string& path) {
  unsigned count = 0;
  std::vector<char> slots;
  std::vector<QVIMAGESOURCEPAIR> pairs;
  int result = 0;
  {
    py::gil_scoped_release unlocked;
    result = qvGetAllImageSourceNames(path.c_str(), nullptr, nullptr, &count);
    if (result == 1 && count > 0) {
      slots.assign(size_t{count} * QV_NAME_SLOT_SIZE, '\0');
      pairs.resize(count);
      result = qvGetAllImageSourceNames(path.c_str(), slots.data(), pairs.data(), &count);
    }
  }
  checkSysList(result, path);
  py::list out;
  const std::vector<std::string> names = slotsToNames(slots, count);
  for (unsigned i = 0; i < count; ++i) {
    out.append(py::make_tuple(decodeText(names[i]), pairs[i].nameId));
  }
  return out;
}

py::tuple rawVideoServerNames(const std::string& path) {
  unsigned count = 0;
  std::vector<char> slots;
  char context[QV_TINE_CONTEXT_SIZE + 1] = {};
  int result = 0;
  {
    py::gil_scoped_release unlocked;
    result = qvGetAllRawVideoServerNames(path.c_str(), nullptr, nullptr, &count);
    if (result == 1) {
      slots.assign(size_t{count} * QV_NAME_SLOT_SIZE + 1, '\0');
      result = qvGetAllRawVideoServerNames(path.c_str(), context, slots.data(), &count);
    }
  }
  checkSysList(result, path);
  py::list names;
  for (const std::string& name : slotsToNames(slots, count)) names.append(decodeText(name));
  return py::make_tuple(decodeText(context, strnlen(context, QV_TINE_CONTEXT_SIZE)), names);
}

int modeFromText(const std::string& text) {
  const int mode = QVV3_INTERNAL_tineDecodeModeStringCMnew(text.c_str());
  if (mode < 0) raiseError("ArgumentError", mode, "unknown TINE call mode: " + text);
  return mode;
}

}  // namespace

void registerCalls(py::module_& m) {
  m.def("grab", &grab, py::arg("address"), py::arg("prop"), py::arg("count"), py::arg("rate_ms"),
        py::arg("mode"), py::arg("progress"));
  m.def("grab_one", &grabOne, py::arg("address"), py::arg("prop"), py::arg("timeout_ms"));
  m.def("load", &load, py::arg("path"), py::arg("progress"));
  m.def("save", &save, py::arg("bunch"), py::arg("path"), py::arg("shuffle"), py::arg("progress"));
  m.def("bunch_over_array", &Bunch::overArray, py::arg("array"), py::arg("fields"));
  m.def("check_format", &checkFormat, py::arg("path"));
  m.def("library_info", &libraryInfo);
  m.def("image_source_names", &imageSourceNames, py::arg("path"));
  m.def("raw_video_server_names", &rawVideoServerNames, py::arg("path"));
  m.def("mode_from_text", &modeFromText, py::arg("text"));
  m.def(
      "set_verbose",
      [](int level, const char* logFile) {
        if (qvSetVerboseEx(level, logFile) != 1) {
          raiseError("ArgumentError", -1, "verbosity must be 0..3, and 3 needs a log file");
        }
      },
      py::arg("level"), py::arg("log_file") = nullptr);
  m.def("get_verbose", &qvGetVerbose);
}

}  // namespace qvpy
