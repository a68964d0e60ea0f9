// Exported entry points for sequence files: load by content, save by name.
#include <cstring>
#include <string>

#include "imc2/imc2.h"

namespace {

// Reason texts go out only on failure, cut to the buffer and terminated.
void copyReason(const std::string& sReason, char* asOut, size_t aiSize) {
  if (asOut == nullptr || aiSize <= 1) return;
  const size_t iLength = sReason.size() < aiSize - 1 ? sReason.size() : aiSize - 1;
  memcpy(asOut, sReason.data(), iLength);
  asOut[iLength] = '\0';
}

}  // namespace

extern "C" QV_API int qvSaveImagesToFileEx(QVBUNCHOFIMAGES* apImages, const char* asFilePath,
                                           char* asOutErrorString,
                                           unsigned int aiOutErrorStringSize, int* apiInInterrupt,
                                           double* apdOutPercentageFinished) {
  int iOutErrorCode = 0;
  std::string sOutErrorString;
  if (_internal_writeIMC2File(apImages, asFilePath, &iOutErrorCode, sOutErrorString,
                              apiInInterrupt, apdOutPercentageFinished)) {
    return 0;
  }
  copyReason(sOutErrorString, asOutErrorString, aiOutErrorStringSize);
  return iOutErrorCode;
}

extern "C" QV_API int qvSaveImagesToFile(QVBUNCHOFIMAGES* apImages, const char* asFilePath) {
  return qvSaveImagesToFileEx(apImages, asFilePath, nullptr, 0, nullptr, nullptr);
}
