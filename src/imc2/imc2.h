// IMC2/BKC2 sequence files: writer, reader and content probe.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "image/frame_block.h"
#include "quivox3/quivox3.h"

namespace qv::imc2 {

// Image block head: len_uncompressed, len_compressed, record count, CR, LF.
constexpr uint64_t kIMC2ImageHeadBytes = 22;
constexpr uint32_t kIMC2MaxGlobalRecords = 100;
constexpr uint32_t kIMC2MinImageRecords = 2;
constexpr uint32_t kIMC2MaxImageRecords = 10;
constexpr uint32_t kIMC2MaxImagesWritten = 10000;

// Writer codes (shared with the legacy writers where the meaning overlaps).
constexpr int kWriteCreateFailed = -4;
constexpr int kWriteIoError = -5;
constexpr int kWriteNoCompressMemory = -6;
constexpr int kWriteCompressFailed = -7;
constexpr int kWriteInterrupted = -9;
constexpr int kWriteBadArgument = -12;
constexpr int kWriteNotSequence = -13;
constexpr int kWriteFileExists = -14;
constexpr int kWriteComposeError = -15;

// Reader codes.
constexpr int kReadBadArgument = -1;
constexpr int kReadInvalidImage = -2;
constexpr int kReadNotIMC2 = -3;
constexpr int kReadOpenFailed = -4;
constexpr int kReadIoError = -5;
constexpr int kReadNoTableMemory = -6;
constexpr int kReadNoMemory = -7;
constexpr int kReadZlibFailed = -8;
constexpr int kReadInterrupted = -9;
constexpr int kReadLengthTooLarge = -11;

// Code and text of the failure that ended a read or a write.
class CIMC2Outcome {
 public:
  int code() const { return m_iCode; }
  const std::string& message() const { return m_sMessage; }

 protected:
  // Records the failure; false, so that a step can return it directly.
  bool fail(int aiCode, std::string sMessage) {
    m_iCode = aiCode;
    m_sMessage = std::move(sMessage);
    return false;
  }

 private:
  int m_iCode = 0;
  std::string m_sMessage;
};

// "File \"<name>\"", the start of every file message.
inline std::string imc2FileQuote(const char* asFilePath) {
  return std::string("File \"") + asFilePath + "\"";
}

}  // namespace qv::imc2

// Writes a new file; never replaces an existing one and leaves no file
// behind on failure. Code and text are written only on failure.
bool _internal_writeIMC2File(QVBUNCHOFIMAGES* apImages, const char* asFilePath,
                             int* apiOutErrorCode, std::string& sOutErrorString,
                             int* apiInInterrupt, double* apdOutPercentageFinished);

// Reads a file into an empty bunch; the bunch is filled only on success.
// Code: 0 on success; the text is written only on failure. With a block the
// frames go into it where they fit (see qv::image::FrameBlock).
bool _internal_readIMC2File(const char* asFilePath, QVBUNCHOFIMAGES* apImages, int* apiOutErrorCode,
                            std::string& sOutErrorString, int* apiInInterrupt,
                            double* apdOutPercentageFinished,
                            qv::image::FrameBlock* apBlock = nullptr);

// Content probe: true when the whole file has the IMC2/BKC2 layout, ending
// right after the last image. Reads no pixels.
bool _internal_isIMC2File(const char* asFilePath);
