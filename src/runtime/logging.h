// CLogging: one log channel writing time-stamped lines to any of standard
// output, standard error, a rotating log file and the TINE front-end log.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "platform/compiler.h"
#include "platform/platform.h"

class CLogging {
 public:
  using SemaphoreHandle = qv::platform::SemaphoreHandle;

  CLogging();
  ~CLogging();
  CLogging(const CLogging&) = delete;
  CLogging& operator=(const CLogging&) = delete;

  bool Init(const char* asFileName, bool abRelativeToExecutable, SemaphoreHandle aSemaphore);
  void Done();
  bool Log(const char* asFormat, ...) QV_PRINTF_FORMAT(2, 3);
  bool DedicatedLog(bool abToStdout, bool abToStderr, bool abToFile, bool abToFecLog,
                    const char* asFormat, ...) QV_PRINTF_FORMAT(6, 7);
  static void SimpleLog(FILE* aOutFile, const char* asFormat, ...) QV_PRINTF_FORMAT(2, 3);
  void SetOutputs(bool abToStdout, bool abToStderr, bool abToFile, bool abToFecLog);
  SemaphoreHandle GetSemaphore() const { return m_hSemaphore; }

  const char* FileName() const { return m_sFileName; }

  static constexpr size_t kMessageSize = 512;  // message: at most 510 characters
  static constexpr size_t kLineSize = 540;     // line: at most 538 characters
  static constexpr size_t kFileNameSize = 245;
  static constexpr size_t kRotationNameSize = 255;

 private:
  bool LogUnlocked(const char* asFormat, ...) QV_PRINTF_FORMAT(2, 3);
  bool WriteDestinations(bool abToStdout, bool abToStderr, bool abToFile, bool abToFecLog,
                         const char* asFormat, va_list aArgs);
  void WriteToFile(const char* asLine);
  bool ArrangeOldLogs(uint32_t auiLevel);
  static const char* MakeModuleRelativePath(const char* asName);

  bool m_bToStdout = false;
  bool m_bToFile = false;
  bool m_bToFecLog = false;
  bool m_bToStderr = false;
  char m_sFileName[kFileNameSize];
  bool m_bInitialized;
  bool m_bHasFile;
  SemaphoreHandle m_hSemaphore;
  uint32_t m_uiMaxBackupFiles;
  uint32_t m_uiMaxFileSizeBytes;
  bool m_bFirstWrite = true;
  uint32_t m_uiLinesSinceCheck = 0;
  uint32_t m_uiCheckInterval = 1000;
  bool m_bOwnSemaphore;
  char m_msg[kMessageSize];
  char m_msg_2[kLineSize];
};

namespace qv::runtime {
// Formats "[dd.mm.yy hh:mm:ss:mmm LTM] message" into aLine (cut to its size).
void formatLine(char* asLine, size_t aiLineSize, const char* asMessage);
}  // namespace qv::runtime
