// The two general entry points of the legacy formats: choose the reader or
// writer by a type code, or by the file name's extension.
#include <strings.h>

#include <cstring>
#include <string>

#include "legacy/legacy.h"
#include "legacy/legacy_io.h"

using namespace qv::legacy;

namespace {

// Extensions by type code 1 to 4, in the order the name is tested.
constexpr const char* kExtensions[] = {".imm", ".imc", ".bkg", ".bkc"};
constexpr size_t kMaxSaveNameLength = 1019;

bool endsWithIgnoringCase(const char* asName, const char* asEnding) {
  const size_t n = std::strlen(asName);
  const size_t m = std::strlen(asEnding);
  return n >= m && strcasecmp(asName + n - m, asEnding) == 0;
}

// 1 to 4 for a known extension, 0 for none.
int typeFromExtension(const char* asName) {
  for (int i = 0; i < 4; ++i)
    if (endsWithIgnoringCase(asName, kExtensions[i])) return i + 1;
  return 0;
}

}  // namespace

extern "C" QV_API int load_file(int type, const char* name, VIDINFHDR* vinf) {
  if (type == 0) {
    type = name != nullptr ? typeFromExtension(name) : 0;
    if (type == 0) return kReadNoExtension;
  }
  switch (type) {
    case 1: return load_imm_file(name, vinf);
    case 2: return load_imc_file(name, vinf);
    case 3: return load_bkg_file(name, vinf);
    case 4: return load_bkc_file(name, vinf);
    case 6: return load_bmp_file(name, vinf, 0);
    default: return kReadUnknownType;
  }
}

extern "C" QV_API int save_file(int type, const char* name, VIDINFHDR* vinf) {
  if (name == nullptr) return kWriteCreateFailed;
  if (std::strlen(name) > kMaxSaveNameLength) return kWriteNameTooLong;
  if (vinf == nullptr || vinf->numframes == 0) return kWriteNoRecord;
  std::string sFileName(name);
  if (type == 0) {
    if (vinf->type < 1 || vinf->type > 4) return kWriteNotWritable;
    type = vinf->type;
    sFileName += kExtensions[type - 1];
  }
  switch (type) {
    case 1: return save_imm_file(sFileName.c_str(), vinf);
    case 2: return save_imc_file(sFileName.c_str(), vinf);
    case 3:
      if (vinf->numframes > 1) return kWriteTooManyFrames;
      return save_bkg_file(sFileName.c_str(), vinf);
    case 4: return save_bkc_file(sFileName.c_str(), vinf);
    default: return kWriteNotWritable;
  }
}
