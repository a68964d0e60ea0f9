// Exported entry points for sequence files: load by content, save by name.
#include <cstring>
#include <string>

#include "files/files.h"
#include "imc2/imc2.h"
#include "legacy/legacy.h"
#include "runtime/guard.h"
#include "runtime/text.h"

namespace {

constexpr int kFileUnknown = -1;
constexpr int kLoadBadArgument = -1;
constexpr int kLoadInterrupted = -9;
constexpr int kLoadIMMFailed = -12;
constexpr int kLoadBKGFailed = -13;
constexpr int kLoadIMCFailed = -14;
constexpr int kLoadConversionFailed = -15;
constexpr int kLoadNoMemory = -7;
constexpr int kSaveNoMemory = -6;
constexpr int kSaveBadArgument = -12;
constexpr int kSaveConversionFailed = -16;
// The dispatch's legacy load progress: the reader fills the first half,
// the conversion into a bunch the second.
constexpr double kLegacyReaderShare = 0.5;

using qv::imc2::imc2FileQuote;
using qv::legacy::_internal_legacyFileTypeOf;
using qv::legacy::LegacyFileType;

// A legacy record that is released on every way out.
class CLocalVidInfHdr {
 public:
  CLocalVidInfHdr() { initialize_vidinfhdr(&m_vinf); }
  ~CLocalVidInfHdr() { free_vidinfhdr(&m_vinf); }
  CLocalVidInfHdr(const CLocalVidInfHdr&) = delete;
  CLocalVidInfHdr& operator=(const CLocalVidInfHdr&) = delete;
  VIDINFHDR* get() { return &m_vinf; }

 private:
  VIDINFHDR m_vinf;
};

int saveBkgIgnoringBreakAndProgress(const char* asName, VIDINFHDR* apVinf, int*, double*) {
  return save_bkg_file(asName, apVinf);
}

// The writer of a legacy record type.
using LegacyWriter = int (*)(const char*, VIDINFHDR*, int*, double*);
LegacyWriter legacyWriterOf(int32_t type) {
  switch (type) {
    case 1:
      return save_imm_fileEx;
    case 2:
      return save_imc_fileEx;
    case 3:
      return saveBkgIgnoringBreakAndProgress;
    default:
      return save_bkc_fileEx;
  }
}

std::string legacyWriterText(int aiCode) {
  switch (aiCode) {
    case -1:
      return "Multiple video images can not be saved as bkg file.";
    case -2:
      return "Internal Error: Wrong vinf->type.";
    case -3:
      return "Internal Error: vinf NULL or vinf->numframes zero.";
    case -4:
      return "Could not open file for writing.";
    case -5:
      return "Error writing to file.";
    case -6:
      return "Memory allocation error.";
    case -7:
      return "Zlib compression failed.";
    case -9:
      return "User break.";
    default:
      return "Unknown Error Code: " + std::to_string(aiCode);
  }
}

int saveLegacy(QVBUNCHOFIMAGES* apImages, const char* asFilePath, const LegacyFileType& aFormat,
               int* apiInInterrupt, double* apdOutPercentageFinished, std::string& sReason) {
  CLocalVidInfHdr vinf;
  char sTransformErrorMessage[200] = "";
  const int r = qvBunchToVIDINFHDREx2(apImages, vinf.get(), sTransformErrorMessage,
                                      sizeof sTransformErrorMessage, 0, nullptr);
  if (r != 1) {
    sReason = imc2FileQuote(asFilePath) +
              " save error: Transcoding Error: Error Code: " + std::to_string(r) + " (" +
              sTransformErrorMessage + ")";
    return kSaveConversionFailed;
  }
  vinf.get()->type = aFormat.type;
  const int code = legacyWriterOf(aFormat.type)(asFilePath, vinf.get(), apiInInterrupt,
                                                apdOutPercentageFinished);
  if (code == 0) return 0;
  sReason = imc2FileQuote(asFilePath) + " save error: Error saving to " + aFormat.name +
            " format: " + legacyWriterText(code);
  return code;
}

int saveImages(QVBUNCHOFIMAGES* apImages, const char* asFilePath, int* apiInInterrupt,
               double* apdOutPercentageFinished, std::string& sReason) {
  if (asFilePath == nullptr) {
    sReason = "Parameter asFilePath must not be NULL.";
    return kSaveBadArgument;
  }
  if (asFilePath[0] == '\0') {
    sReason = "Parameter asFilePath must not be empty string.";
    return kSaveBadArgument;
  }
  if (apImages == nullptr) {
    sReason = imc2FileQuote(asFilePath) + " save error: Parameter apImages must not be NULL.";
    return kSaveBadArgument;
  }
  if (const LegacyFileType* pFormat = _internal_legacyFileTypeOf(asFilePath)) {
    return saveLegacy(apImages, asFilePath, *pFormat, apiInInterrupt, apdOutPercentageFinished,
                      sReason);
  }
  int iOutErrorCode = 0;
  if (_internal_writeIMC2File(apImages, asFilePath, &iOutErrorCode, sReason, apiInInterrupt,
                              apdOutPercentageFinished)) {
    return 0;
  }
  return iOutErrorCode;
}

int loadImagesWithReason(const char* asFilePath, QVBUNCHOFIMAGES* apImages, int* apiInInterrupt,
                         double* apdOutPercentageFinished, char* asOutErrorString,
                         unsigned int aiOutErrorStringSize) {
  std::string sReason;
  const int code = qv::files::loadImages(asFilePath, apImages, apiInInterrupt,
                                         apdOutPercentageFinished, sReason);
  if (code != 0) qv::text::copyReason(sReason, asOutErrorString, aiOutErrorStringSize);
  return code;
}

int saveImagesWithReason(QVBUNCHOFIMAGES* apImages, const char* asFilePath, char* asOutErrorString,
                         unsigned int aiOutErrorStringSize, int* apiInInterrupt,
                         double* apdOutPercentageFinished) {
  std::string sReason;
  const int code =
      saveImages(apImages, asFilePath, apiInInterrupt, apdOutPercentageFinished, sReason);
  if (code != 0) qv::text::copyReason(sReason, asOutErrorString, aiOutErrorStringSize);
  return code;
}

}  // namespace

namespace qv::files {

int loadImages(const char* asFilePath, QVBUNCHOFIMAGES* apImages, int* apiInInterrupt,
               double* apdOutPercentageFinished, std::string& sReason,
               qv::image::FrameBlock* apBlock) {
  CLocalVidInfHdr vinf;
  if (asFilePath == nullptr) {
    sReason = "Parameter asFilePath must not be NULL.";
    return kLoadBadArgument;
  }
  if (asFilePath[0] == '\0') {
    sReason = "Parameter asFilePath must not be empty string.";
    return kLoadBadArgument;
  }
  const std::string sLoadError = imc2FileQuote(asFilePath) + " load error: ";
  if (apImages == nullptr) {
    sReason = sLoadError + "Parameter apImages must not be NULL.";
    return kLoadBadArgument;
  }
  if (apImages->numFrames != 0) {
    sReason = sLoadError + "Parameter apImages->numFrames must not be bigger than zero.";
    return kLoadBadArgument;
  }
  if (apImages->imageArray != nullptr) {
    sReason = sLoadError + "Parameter apImages->imageArray must not be initialized (!=NULL).";
    return kLoadBadArgument;
  }

  // The strict IMC probe goes before the tolerant IMM probe, so that an IMC
  // or BKC file is never read as IMM.
  int code = 0;
  std::string sText;
  if (_internal_isIMCFile(asFilePath)) {
    code = load_imc_fileEx(asFilePath, vinf.get(), apiInInterrupt, apdOutPercentageFinished,
                           kLegacyReaderShare);
    if (code != 0) {
      sReason = sLoadError + _internal_legacyLoadResultString(code, sText);
      return code == kLoadInterrupted ? kLoadInterrupted : kLoadIMCFailed;
    }
  } else if (_internal_isIMMFile(asFilePath)) {
    code = load_imm_fileEx(asFilePath, vinf.get(), apiInInterrupt, apdOutPercentageFinished,
                           kLegacyReaderShare);
    if (code != 0) {
      sReason = sLoadError + _internal_legacyLoadResultString(code, sText);
      return code == kLoadInterrupted ? kLoadInterrupted : kLoadIMMFailed;
    }
  } else if (_internal_isBKGFile(asFilePath)) {
    code = load_bkg_fileEx(asFilePath, vinf.get(), apdOutPercentageFinished, kLegacyReaderShare);
    if (code != 0) {
      sReason = sLoadError + _internal_legacyLoadResultString(code, sText);
      return kLoadBKGFailed;
    }
  } else {
    int iIMC2ErrorCode = 0;
    if (_internal_readIMC2File(asFilePath, apImages, &iIMC2ErrorCode, sReason, apiInInterrupt,
                               apdOutPercentageFinished, apBlock)) {
      return 0;
    }
    return iIMC2ErrorCode;
  }

  std::string sConversionError;
  if (!_internal_VIDINFHDRToBunch(asFilePath, vinf.get(), apImages, apiInInterrupt,
                                  apdOutPercentageFinished, kLegacyReaderShare, sConversionError)) {
    sReason = sLoadError + sConversionError;
    return kLoadConversionFailed;
  }
  return 0;
}

}  // namespace qv::files

extern "C" QV_API int qvCheckFileFormat(const char* asFilePath, char* asOutErrorString,
                                        size_t aiOutErrorStringSize) {
  return qv::runtime::guarded(
      "qvCheckFileFormat", kFileUnknown,
      [&] {
        if (_internal_isIMC2File(asFilePath)) return 3;
        if (_internal_isIMCFile(asFilePath)) return 2;
        if (_internal_isIMMFile(asFilePath)) return 0;
        if (_internal_isBKGFile(asFilePath)) return 1;
        qv::text::copyReason(
            std::string("File (") + (asFilePath != nullptr ? asFilePath : "NULL") +
                ") is either no IMC2 or BKC2 or IMC or BKC or IMM or BKG or could not be found "
                "or opened.",
            asOutErrorString, aiOutErrorStringSize);
        return kFileUnknown;
      },
      {asOutErrorString, aiOutErrorStringSize});
}

// A failed load leaves the bunch empty: the readers hand their images over
// only at the very end, after the last step that may fail.
extern "C" QV_API int qvLoadImagesFromFileEx(const char* asFilePath, QVBUNCHOFIMAGES* apImages,
                                             int* apiInInterrupt, double* apdOutPercentageFinished,
                                             char* asOutErrorString,
                                             unsigned int aiOutErrorStringSize) {
  return qv::runtime::guarded("qvLoadImagesFromFileEx", kLoadNoMemory,
                              [&] {
                                return loadImagesWithReason(asFilePath, apImages, apiInInterrupt,
                                                            apdOutPercentageFinished,
                                                            asOutErrorString, aiOutErrorStringSize);
                              },
                              {asOutErrorString, aiOutErrorStringSize});
}

extern "C" QV_API int qvLoadImagesFromFile(const char* asFilePath, QVBUNCHOFIMAGES* apImages) {
  return qv::runtime::guarded("qvLoadImagesFromFile", kLoadNoMemory, [&] {
    return loadImagesWithReason(asFilePath, apImages, nullptr, nullptr, nullptr, 0);
  });
}

// A failed save leaves no file of its own behind (legacy writers and the
// IMC2/BKC2 writer delete what they had begun, also when unwinding).
extern "C" QV_API int qvSaveImagesToFileEx(QVBUNCHOFIMAGES* apImages, const char* asFilePath,
                                           char* asOutErrorString,
                                           unsigned int aiOutErrorStringSize, int* apiInInterrupt,
                                           double* apdOutPercentageFinished) {
  return qv::runtime::guarded("qvSaveImagesToFileEx", kSaveNoMemory,
                              [&] {
                                return saveImagesWithReason(apImages, asFilePath, asOutErrorString,
                                                            aiOutErrorStringSize, apiInInterrupt,
                                                            apdOutPercentageFinished);
                              },
                              {asOutErrorString, aiOutErrorStringSize});
}

extern "C" QV_API int qvSaveImagesToFile(QVBUNCHOFIMAGES* apImages, const char* asFilePath) {
  return qv::runtime::guarded("qvSaveImagesToFile", kSaveNoMemory, [&] {
    return saveImagesWithReason(apImages, asFilePath, nullptr, 0, nullptr, nullptr);
  });
}
