#include "formats/h5_objects.h"

#include <cstring>

namespace qvformats::h5 {

namespace {

// Variable-length UTF-8 text: what h5py and the NeXus tools read as str.
Object textType() {
  Object text = type(H5Tcopy(H5T_C_S1));
  if (!text || H5Tset_size(text.get(), H5T_VARIABLE) < 0 ||
      H5Tset_cset(text.get(), H5T_CSET_UTF8) < 0)
    return {};
  return text;
}

// Any text type a foreign writer may have used (fixed or variable length)
// as a std::string.
bool readTextsOf(hid_t object, bool isAttribute, hsize_t count, std::vector<std::string>& out) {
  Object stored = type(isAttribute ? H5Aget_type(object) : H5Dget_type(object));
  if (!stored || H5Tget_class(stored.get()) != H5T_STRING) return false;
  const htri_t variable = H5Tis_variable_str(stored.get());
  if (variable < 0) return false;
  // HDF5 converts no text between character sets: read in the stored one.
  Object memory = type(H5Tcopy(H5T_C_S1));
  if (!memory || H5Tset_cset(memory.get(), H5Tget_cset(stored.get())) < 0) return false;
  out.assign(count, std::string());
  if (variable > 0) {
    if (H5Tset_size(memory.get(), H5T_VARIABLE) < 0) return false;
    std::vector<char*> texts(count, nullptr);
    const herr_t read =
        isAttribute ? H5Aread(object, memory.get(), texts.data())
                    : H5Dread(object, memory.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, texts.data());
    for (hsize_t i = 0; i < count; ++i) {
      if (texts[i] != nullptr) out[i] = texts[i];
      H5free_memory(texts[i]);
    }
    return read >= 0;
  }
  const size_t size = H5Tget_size(stored.get());
  if (size == 0 || size > 65536 || H5Tset_size(memory.get(), size) < 0) return false;
  std::vector<char> buffer(size * count + 1, '\0');
  const herr_t read =
      isAttribute ? H5Aread(object, memory.get(), buffer.data())
                  : H5Dread(object, memory.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer.data());
  if (read < 0) return false;
  for (hsize_t i = 0; i < count; ++i) {
    const char* text = buffer.data() + i * size;
    out[i].assign(text, strnlen(text, size));
  }
  return true;
}

// The number of elements of a dataset or attribute's space, when it is a
// scalar or a one-dimensional space.
bool elementCount(hid_t spaceId, hsize_t& count) {
  const int rank = H5Sget_simple_extent_ndims(spaceId);
  if (rank < 0 || rank > 1) return false;
  const hssize_t points = H5Sget_simple_extent_npoints(spaceId);
  if (points < 0) return false;
  count = static_cast<hsize_t>(points);
  return true;
}

}  // namespace

bool writeTextAttribute(hid_t object, const char* name, const std::string& value) {
  Object text = textType();
  Object scalar = space(H5Screate(H5S_SCALAR));
  if (!text || !scalar) return false;
  Object attr =
      attribute(H5Acreate2(object, name, text.get(), scalar.get(), H5P_DEFAULT, H5P_DEFAULT));
  const char* data = value.c_str();
  return attr && H5Awrite(attr.get(), text.get(), &data) >= 0;
}

Object createGroup(hid_t parent, const char* name, const char* nxClass) {
  Object created = group(H5Gcreate2(parent, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
  if (!created || !writeTextAttribute(created.get(), "NX_class", nxClass)) return {};
  return created;
}

bool writeScalar(hid_t parent, const char* name, hid_t memType, hid_t fileType, const void* value) {
  Object scalar = space(H5Screate(H5S_SCALAR));
  if (!scalar) return false;
  Object set = dataset(
      H5Dcreate2(parent, name, fileType, scalar.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
  return set && H5Dwrite(set.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, value) >= 0;
}

bool writeText(hid_t parent, const char* name, const std::string& value) {
  Object text = textType();
  const char* data = value.c_str();
  return text && writeScalar(parent, name, text.get(), text.get(), &data);
}

bool writeVector(hid_t parent, const char* name, hid_t memType, hid_t fileType, const void* values,
                 hsize_t count) {
  Object line = space(H5Screate_simple(1, &count, nullptr));
  if (!line) return false;
  Object set = dataset(
      H5Dcreate2(parent, name, fileType, line.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
  return set &&
         (count == 0 || H5Dwrite(set.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, values) >= 0);
}

bool writeTexts(hid_t parent, const char* name, const std::vector<std::string>& values) {
  Object text = textType();
  std::vector<const char*> pointers;
  pointers.reserve(values.size());
  for (const std::string& value : values) pointers.push_back(value.c_str());
  return text && writeVector(parent, name, text.get(), text.get(), pointers.data(), values.size());
}

bool exists(hid_t parent, const char* path) {
  // Every link on the way must exist before the next one may be asked for.
  std::string prefix;
  const std::string whole = path;
  size_t start = 0;
  while (start <= whole.size()) {
    const size_t slash = whole.find('/', start);
    const size_t end = slash == std::string::npos ? whole.size() : slash;
    prefix = whole.substr(0, end);
    if (!prefix.empty() && H5Lexists(parent, prefix.c_str(), H5P_DEFAULT) <= 0) return false;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return H5Oexists_by_name(parent, path, H5P_DEFAULT) > 0;
}

bool readTextAttribute(hid_t object, const char* name, std::string& value) {
  if (H5Aexists(object, name) <= 0) return false;
  Object attr = attribute(H5Aopen(object, name, H5P_DEFAULT));
  if (!attr) return false;
  Object extent = space(H5Aget_space(attr.get()));
  hsize_t count = 0;
  if (!extent || !elementCount(extent.get(), count) || count != 1) return false;
  std::vector<std::string> texts;
  if (!readTextsOf(attr.get(), true, 1, texts)) return false;
  value = texts[0];
  return true;
}

bool readScalar(hid_t parent, const char* name, hid_t memType, void* value) {
  return readVector(parent, name, memType, value, 1);
}

bool readText(hid_t parent, const char* name, std::string& value) {
  std::vector<std::string> texts;
  if (!readTexts(parent, name, texts, 1)) return false;
  value = texts[0];
  return true;
}

// A dataset at name holding a scalar or exactly count values in one dimension.
Object openValues(hid_t parent, const char* name, hsize_t count) {
  if (!exists(parent, name)) return {};
  Object set = dataset(H5Dopen2(parent, name, H5P_DEFAULT));
  if (!set) return {};
  Object extent = space(H5Dget_space(set.get()));
  hsize_t stored = 0;
  if (!extent || !elementCount(extent.get(), stored) || stored != count) return {};
  return set;
}

bool readVector(hid_t parent, const char* name, hid_t memType, void* values, hsize_t count) {
  Object set = openValues(parent, name, count);
  if (!set) return false;
  Object storedType = type(H5Dget_type(set.get()));
  // Numbers only: HDF5 would convert text or compounds into garbage or fail late.
  const H5T_class_t kind = storedType ? H5Tget_class(storedType.get()) : H5T_NO_CLASS;
  if (kind != H5T_INTEGER && kind != H5T_FLOAT) return false;
  return count == 0 || H5Dread(set.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, values) >= 0;
}

bool readTexts(hid_t parent, const char* name, std::vector<std::string>& values, hsize_t count) {
  Object set = openValues(parent, name, count);
  return set && readTextsOf(set.get(), false, count, values);
}

}  // namespace qvformats::h5
