// TINE addresses, property names and mode texts as callers pass them.
#include <string>

#include "harness.h"
#include "tine/address_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvfuzz::quietLibrary();
  qvfuzz::Input input(data, size);
  const int code = input.take<int32_t>();
  const std::string text(reinterpret_cast<const char*>(input.rest()), input.left());
  char beautified[133];
  _internal_checkTineAddress("fuzz", text.c_str(), beautified, sizeof beautified, false);
  _internal_checkTinePropertyName("fuzz", text.c_str(), false);
  const int mode = QVV3_INTERNAL_tineDecodeModeStringCMnew(text.c_str());
  char modeText[64];
  size_t modeSize = sizeof modeText;
  QVV3_INTERNAL_tineModeToString(mode < 0 ? code : mode, code & 1, modeText, &modeSize);
  int access = 0;
  QVV3_INTERNAL_tineCMtoCA(mode < 0 ? code : mode, &access);
  char codeText[128];
  size_t codeSize = sizeof codeText;
  qvTineCodeToString(code, codeText, &codeSize);
  return 0;
}
