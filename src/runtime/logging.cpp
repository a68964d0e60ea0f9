#include "runtime/logging.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>

#include "platform/files.h"
#include "platform/tine_api.h"
#include "runtime/timetext.h"

namespace qv::runtime {

void formatLine(char* asLine, size_t aiLineSize, const char* asMessage) {
  timeValue now;
  platformGetTime(&now);
  struct tm local;
  if (qv::platform::localCalendar(now.seconds, local)) {
    std::snprintf(asLine, aiLineSize, "[%02d.%02d.%02d %02d:%02d:%02d:%03u LTM] %s", local.tm_mday,
                  local.tm_mon + 1, local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<unsigned>(now.milliseconds), asMessage);
  } else {
    std::snprintf(asLine, aiLineSize, "[time_conversion_error] %s", asMessage);
  }
}

}  // namespace qv::runtime

namespace {

bool fileExists(const char* asName) {
  struct stat status;
  return ::stat(asName, &status) == 0;
}

// The whole line and its newline in one piece, so concurrent appenders in
// other processes never split a line.
void writeLine(FILE* aStream, const char* asLine) {
  char buffer[CLogging::kLineSize + 1];
  size_t length = std::strlen(asLine);
  if (length > CLogging::kLineSize - 1) length = CLogging::kLineSize - 1;
  std::memcpy(buffer, asLine, length);
  buffer[length] = '\n';
  qv::platform::appendWhole(aStream, buffer, length + 1);
}

void reportUninitialised(const char* asWhich, const char* asFormat) {
  std::fprintf(stderr, "WW: CLogging::%s() called without having initialized CLogging!\n", asWhich);
  std::fprintf(stderr, "%s\n", asFormat != nullptr ? asFormat : "");
}

}  // namespace

CLogging::CLogging()
    : m_bInitialized(false),
      m_bHasFile(false),
      m_hSemaphore(nullptr),
      m_uiMaxBackupFiles(9),
      m_uiMaxFileSizeBytes(10485760),
      m_bOwnSemaphore(false) {
  m_sFileName[0] = '\0';
  m_msg[0] = '\0';
  m_msg_2[0] = '\0';
}

CLogging::~CLogging() { Done(); }

const char* CLogging::MakeModuleRelativePath(const char* asName) {
  static char sModuleRelativePath[kRotationNameSize];
  std::string path;
  std::string directory;
  if (qv::platform::executablePath(path)) {
    if (path.size() > kRotationNameSize - 1) path.resize(kRotationNameSize - 1);
    size_t cut = path.find_last_of(qv::platform::kDirectorySeparator);
    if (cut != std::string::npos) directory = path.substr(0, cut);
  }
  if (directory.empty()) {
    std::snprintf(sModuleRelativePath, sizeof sModuleRelativePath, "%s", asName);
  } else {
    std::snprintf(sModuleRelativePath, sizeof sModuleRelativePath, "%s%c%s", directory.c_str(),
                  qv::platform::kDirectorySeparator, asName);
  }
  return sModuleRelativePath;
}

bool CLogging::Init(const char* asFileName, bool abRelativeToExecutable,
                    SemaphoreHandle aSemaphore) {
  if (m_bInitialized) return false;
  if (asFileName != nullptr && asFileName[0] == '\0') return false;
  m_bHasFile = asFileName != nullptr;
  if (m_bHasFile) {
    m_bToFile = true;
    const char* name = abRelativeToExecutable ? MakeModuleRelativePath(asFileName) : asFileName;
    // Longer names are cut to the field rather than overrunning it.
    std::snprintf(m_sFileName, sizeof m_sFileName, "%s", name);
  } else {
    m_bToFile = false;
  }
  m_bToStdout = false;
  m_bToFecLog = false;
  m_bToStderr = true;
  m_uiMaxBackupFiles = 9;
  m_uiMaxFileSizeBytes = 10485760;
  m_bFirstWrite = true;
  m_uiLinesSinceCheck = 0;
  m_uiCheckInterval = 1000;
  if (aSemaphore != nullptr) {
    m_bOwnSemaphore = false;
    m_hSemaphore = aSemaphore;
  } else {
    m_bOwnSemaphore = true;
    m_hSemaphore = qv::platform::semaphoreCreate(1, 1);
    if (m_hSemaphore == nullptr) {
      Log("--- Error: Logging Semaphore could not be allocated!");
      return false;
    }
  }
  m_bInitialized = true;
  return true;
}

void CLogging::Done() {
  if (m_bOwnSemaphore && m_hSemaphore != nullptr) {
    if (!qv::platform::semaphoreWait(m_hSemaphore, 2000))
      LogUnlocked("WW: Logging Semaphore Wait error in CLogging::Done()");
    qv::platform::semaphoreClose(m_hSemaphore);
  }
  m_hSemaphore = nullptr;
  m_bOwnSemaphore = false;
  m_sFileName[0] = '\0';
  m_bInitialized = false;
}

bool CLogging::WriteDestinations(bool abToStdout, bool abToStderr, bool abToFile, bool abToFecLog,
                                 const char* asFormat, va_list aArgs) {
  std::vsnprintf(m_msg, sizeof m_msg - 1, asFormat, aArgs);     // at most 510 characters
  qv::runtime::formatLine(m_msg_2, sizeof m_msg_2 - 1, m_msg);  // at most 538 characters
  if (abToFecLog) feclog("%s", m_msg);
  if (abToStdout) writeLine(stdout, m_msg_2);
  if (abToStderr) writeLine(stderr, m_msg_2);
  if (m_bHasFile && abToFile) WriteToFile(m_msg_2);
  return true;
}

bool CLogging::Log(const char* asFormat, ...) {
  if (!m_bInitialized) {
    reportUninitialised("Log", asFormat);
    return false;
  }
  if (!qv::platform::semaphoreWait(m_hSemaphore)) {
    LogUnlocked("WW: Logging Semaphore Wait error in Log()");
    return false;
  }
  va_list args;
  va_start(args, asFormat);
  WriteDestinations(m_bToStdout, m_bToStderr, m_bToFile, m_bToFecLog, asFormat, args);
  va_end(args);
  if (!qv::platform::semaphoreRelease(m_hSemaphore))
    LogUnlocked("WW: Logging Semaphore Release error in Log()");
  return true;
}

bool CLogging::DedicatedLog(bool abToStdout, bool abToStderr, bool abToFile, bool abToFecLog,
                            const char* asFormat, ...) {
  if (!m_bInitialized) {
    reportUninitialised("DedicatedLog", asFormat);
    return false;
  }
  if (!qv::platform::semaphoreWait(m_hSemaphore)) {
    LogUnlocked("WW: Logging Semaphore Wait error in DedicatedLog()");
    return false;
  }
  va_list args;
  va_start(args, asFormat);
  WriteDestinations(abToStdout, abToStderr, abToFile, abToFecLog, asFormat, args);
  va_end(args);
  if (!qv::platform::semaphoreRelease(m_hSemaphore))
    LogUnlocked("WW: Logging Semaphore Release error in DedicatedLog()");
  return true;
}

bool CLogging::LogUnlocked(const char* asFormat, ...) {
  if (!m_bInitialized) {
    reportUninitialised("Log", asFormat);
    return false;
  }
  va_list args;
  va_start(args, asFormat);
  WriteDestinations(m_bToStdout, m_bToStderr, m_bToFile, m_bToFecLog, asFormat, args);
  va_end(args);
  return true;
}

void CLogging::SimpleLog(FILE* aOutFile, const char* asFormat, ...) {
  if (aOutFile == nullptr) {
    std::fputs("WW: CLogging::SimpleLog() called with aOutFile NULL!\n", stderr);
    std::fputs("WW: CLogging::SimpleLog() will be printed to stderr instead!\n", stderr);
    aOutFile = stderr;
  }
  char message[kMessageSize];
  char line[kLineSize];
  va_list args;
  va_start(args, asFormat);
  std::vsnprintf(message, sizeof message - 1, asFormat, args);
  va_end(args);
  qv::runtime::formatLine(line, sizeof line - 1, message);
  writeLine(aOutFile, line);
}

void CLogging::SetOutputs(bool abToStdout, bool abToStderr, bool abToFile, bool abToFecLog) {
  m_bToStdout = abToStdout;
  m_bToStderr = abToStderr;
  m_bToFecLog = abToFecLog;
  if (m_bHasFile) m_bToFile = abToFile;
}

void CLogging::WriteToFile(const char* asLine) {
  if (m_bFirstWrite || m_uiLinesSinceCheck > m_uiCheckInterval) {
    m_bFirstWrite = false;
    if (m_uiLinesSinceCheck > m_uiCheckInterval) m_uiLinesSinceCheck = 0;
    if (FILE* file = std::fopen(m_sFileName, "rb")) {
      long size = -1;
      if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
      std::fclose(file);
      if (size > static_cast<long>(m_uiMaxFileSizeBytes) && !ArrangeOldLogs(m_uiMaxBackupFiles))
        std::fprintf(
            stderr, "CLogging(): ArrangeOldLogs(): Error rearranging backup log files at \"%s\".\n",
            m_sFileName);
    }
  }
  FILE* file = std::fopen(m_sFileName, "at");
  if (file == nullptr) {
    std::fprintf(stderr, "WW: Error print to log file \"%s\".\n", m_sFileName);
    return;
  }
  writeLine(file, asLine);
  std::fclose(file);
  ++m_uiLinesSinceCheck;
}

namespace {

// Name of backup number (0: the log file itself); false when it does not fit,
// so that a cut name never renames or deletes some other file.
bool backupName(char (&asOut)[CLogging::kRotationNameSize], const char* asFileName,
                uint32_t auiNumber) {
  int length = auiNumber == 0 ? std::snprintf(asOut, sizeof asOut, "%s", asFileName)
                              : std::snprintf(asOut, sizeof asOut, "%s.%u", asFileName, auiNumber);
  return length >= 0 && static_cast<size_t>(length) < sizeof asOut;
}

}  // namespace

bool CLogging::ArrangeOldLogs(uint32_t auiLevel) {
  const uint32_t n = m_uiMaxBackupFiles;
  char tmpFileOldName[kRotationNameSize];
  char tmpNewName[kRotationNameSize];
  if (auiLevel == 0) {
    if (!backupName(tmpNewName, m_sFileName, n)) return false;
    if (fileExists(tmpNewName)) return std::remove(tmpNewName) == 0;
    return true;
  }
  // Level n moves the file itself to .1; lower levels shift backup n-level up by one.
  const uint32_t oldNumber = auiLevel >= n ? 0 : n - auiLevel;
  if (!backupName(tmpFileOldName, m_sFileName, oldNumber) ||
      !backupName(tmpNewName, m_sFileName, oldNumber + 1))
    return false;
  if (fileExists(tmpNewName) && !ArrangeOldLogs(auiLevel - 1)) return false;
  return std::rename(tmpFileOldName, tmpNewName) == 0;
}
