// Lifecycle of the legacy sequence record and the texts of the legacy reader
// result codes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "legacy/legacy.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"

namespace {

const char* const kUntranslatable = "Error translating return code.";

bool isFilledType(int32_t iType) { return iType >= 1 && iType <= 6; }

// Texts of the exported code-to-text call; null for codes it does not know.
const char* exportedCodeText(int iCode) {
  switch (iCode) {
    case 0:
      return "Success.";
    case -1:
      return "File could not be checked for type (file extension not imc or bkc or bkg or imm -> "
             "unknown).";
    case -2:
      return "File type unknown.";
    case -3:
      return "File could not be opened.";
    case -4:
      return "Error in file (unexpected content). File may be corrupted.";
    case -5:
      return "Error reading file.";
    case -6:
      return "Already initialized, please free VIDINFHDR (and memory) first.";
    case -7:
      return "Out of memory.";
    case -8:
      return "Error during decompression.";
    default:
      return nullptr;
  }
}

// Texts used by the file dispatch when it reports a legacy reader's result.
const char* internalCodeText(int iCode) {
  switch (iCode) {
    case 0:
      return "Successful.";
    case -3:
      return "Could not open file.";
    case -4:
      return "Error in file.";
    case -5:
      return "Error reading file.";
    case -6:
      return "Parameter error (VIDINFHDR passed is not empty).";
    case -7:
      return "Out of memory.";
    case -8:
      return "Decompression error.";
    case -9:
      return "User break.";
    default:
      return nullptr;
  }
}

}  // namespace

extern "C" QV_API void initialize_vidinfhdr(VIDINFHDR* vinf) {
  qv::runtime::guarded("initialize_vidinfhdr", [&] {
    if (vinf == nullptr) return;
    vinf->type = -1;
    vinf->framebits = nullptr;
    vinf->framescales = nullptr;
  });
}

extern "C" QV_API void free_vidinfhdr(VIDINFHDR* vinf) {
  qv::runtime::guarded("free_vidinfhdr", [&] {
    if (vinf == nullptr || !isFilledType(vinf->type)) return;
    vinf->type = -1;
    std::free(vinf->framescales);
    vinf->framescales = nullptr;
    if (vinf->framebits != nullptr) {
      for (int32_t i = 0; i < vinf->numframes; ++i) std::free(vinf->framebits[i]);
      std::free(vinf->framebits);
      vinf->framebits = nullptr;
    }
  });
}

// The call never answers null: when it cannot translate, it answers the
// fixed text, and so it does should anything go wrong.
extern "C" QV_API const char* load_file__return_code_to_string(int code, char* buffer, int length) {
  return qv::runtime::guarded("load_file__return_code_to_string", kUntranslatable, [&] {
    if (buffer == nullptr || length < 2) return kUntranslatable;
    if (const char* sText = exportedCodeText(code)) {
      std::snprintf(buffer, static_cast<size_t>(length), "%s", sText);
    } else {
      std::snprintf(buffer, static_cast<size_t>(length), "Return code %d is unknown.", code);
    }
    return static_cast<const char*>(buffer);
  });
}

std::string _internal_legacyLoadResultString(int code, std::string& out) {
  if (const char* sText = internalCodeText(code)) {
    out = sText;
  } else {
    out = "Unknown return code (" + std::to_string(code) + ").";
  }
  return out;
}
