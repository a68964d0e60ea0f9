// The two general entry points of the legacy formats: choose the reader or
// writer by a type code, or by the file name's extension.
#include <cstring>
#include <string>

#include "legacy/legacy.h"
#include "legacy/legacy_io.h"
#include "runtime/guard.h"
#include "runtime/text.h"

using namespace qv::legacy;

namespace {

constexpr size_t kMaxSaveNameLength = 1019;

constexpr LegacyFileType kLegacyFileTypes[] = {
    {1, ".imm", "imm"}, {2, ".imc", "imc"}, {3, ".bkg", "bkg"}, {4, ".bkc", "bkc"}};

}  // namespace

namespace qv::legacy {

const LegacyFileType* _internal_legacyFileTypeOf(const char* name) {
  for (const LegacyFileType& fileType : kLegacyFileTypes)
    if (qv::text::endsWithIgnoringCase(name, fileType.extension)) return &fileType;
  return nullptr;
}

const char* _internal_legacyExtensionOf(int32_t type) {
  for (const LegacyFileType& fileType : kLegacyFileTypes)
    if (fileType.type == type) return fileType.extension;
  return nullptr;
}

}  // namespace qv::legacy

extern "C" QV_API int load_file(int type, const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("load_file", kReadOutOfMemory, [&]() -> int {
    if (type == 0) {
      const LegacyFileType* fileType = _internal_legacyFileTypeOf(name);
      if (fileType == nullptr) return kReadNoExtension;
      type = fileType->type;
    }
    switch (type) {
      case 1:
        return load_imm_file(name, vinf);
      case 2:
        return load_imc_file(name, vinf);
      case 3:
        return load_bkg_file(name, vinf);
      case 4:
        return load_bkc_file(name, vinf);
      case 6:
        return load_bmp_file(name, vinf, 0);
      default:
        return kReadUnknownType;
    }
  });
}

extern "C" QV_API int save_file(int type, const char* name, VIDINFHDR* vinf) {
  return qv::runtime::guarded<int>("save_file", kWriteOutOfMemory, [&]() -> int {
    if (name == nullptr) return kWriteCreateFailed;
    if (std::strlen(name) > kMaxSaveNameLength) return kWriteNameTooLong;
    if (vinf == nullptr || vinf->numframes == 0) return kWriteNoRecord;
    std::string sFileName(name);
    if (type == 0) {
      if (vinf->type < 1 || vinf->type > 4) return kWriteNotWritable;
      type = vinf->type;
      sFileName += _internal_legacyExtensionOf(type);
    }
    switch (type) {
      case 1:
        return save_imm_file(sFileName.c_str(), vinf);
      case 2:
        return save_imc_file(sFileName.c_str(), vinf);
      case 3:
        if (vinf->numframes > 1) return kWriteTooManyFrames;
        return save_bkg_file(sFileName.c_str(), vinf);
      case 4:
        return save_bkc_file(sFileName.c_str(), vinf);
      default:
        return kWriteNotWritable;
    }
  });
}
