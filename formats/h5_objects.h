// HDF5 identifiers that close themselves, errors kept off the terminal, and
// the few typed reads and writes the NeXus layout needs.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qvformats::h5 {

class Object {
 public:
  using Closer = herr_t (*)(hid_t);
  Object() = default;
  Object(hid_t id, Closer closer) : m_id(id), m_closer(closer) {}
  ~Object() { reset(); }
  Object(Object&& other) noexcept
      : m_id(std::exchange(other.m_id, H5I_INVALID_HID)), m_closer(other.m_closer) {}
  Object& operator=(Object&& other) noexcept {
    if (this != &other) {
      reset();
      m_id = std::exchange(other.m_id, H5I_INVALID_HID);
      m_closer = other.m_closer;
    }
    return *this;
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  hid_t get() const { return m_id; }
  explicit operator bool() const { return m_id >= 0; }
  // Closes now; false when HDF5 reports a failure (a file's last writes).
  bool close() {
    if (m_id < 0) return true;
    const bool closed = m_closer(m_id) >= 0;
    m_id = H5I_INVALID_HID;
    return closed;
  }
  void reset() { close(); }

 private:
  hid_t m_id = H5I_INVALID_HID;
  Closer m_closer = nullptr;
};

inline Object file(hid_t id) { return {id, H5Fclose}; }
inline Object group(hid_t id) { return {id, H5Gclose}; }
inline Object dataset(hid_t id) { return {id, H5Dclose}; }
inline Object space(hid_t id) { return {id, H5Sclose}; }
inline Object type(hid_t id) { return {id, H5Tclose}; }
inline Object plist(hid_t id) { return {id, H5Pclose}; }
inline Object attribute(hid_t id) { return {id, H5Aclose}; }

// While alive, HDF5 prints no error stacks on this thread: failures become
// the caller's messages.
class QuietErrors {
 public:
  QuietErrors() {
    H5Eget_auto2(H5E_DEFAULT, &m_function, &m_data);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  ~QuietErrors() { H5Eset_auto2(H5E_DEFAULT, m_function, m_data); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  H5E_auto2_t m_function = nullptr;
  void* m_data = nullptr;
};

// ---- writing ----
bool writeTextAttribute(hid_t object, const char* name, const std::string& value);
Object createGroup(hid_t parent, const char* name, const char* nxClass);
// Scalar datasets of one value.
bool writeScalar(hid_t parent, const char* name, hid_t memType, hid_t fileType, const void* value);
bool writeText(hid_t parent, const char* name, const std::string& value);
// One-dimensional datasets.
bool writeVector(hid_t parent, const char* name, hid_t memType, hid_t fileType, const void* values,
                 hsize_t count);
bool writeTexts(hid_t parent, const char* name, const std::vector<std::string>& values);

// ---- reading ----
bool exists(hid_t parent, const char* path);  // every link of the path
bool readTextAttribute(hid_t object, const char* name, std::string& value);
// A scalar (or one-element) dataset converted to the memory type.
bool readScalar(hid_t parent, const char* name, hid_t memType, void* value);
bool readText(hid_t parent, const char* name, std::string& value);
// A one-dimensional dataset of exactly count values.
bool readVector(hid_t parent, const char* name, hid_t memType, void* values, hsize_t count);
bool readTexts(hid_t parent, const char* name, std::vector<std::string>& values, hsize_t count);

}  // namespace qvformats::h5
