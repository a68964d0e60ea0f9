#include "runtime/log.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "runtime/guard.h"
#include "runtime/logging.h"

// Process-wide runtime state. Deliberately unlocked: every message at
// verbosity 3 is one open-append-close, so lines stay whole across threads
// and processes; changing the verbosity while others log is not synchronised.
static int g_iVerbosity = 3;
static char g_sLogFilePath[1024] = "kelta-sharedlib.log";
static FILE* g_pLogStream = nullptr;  // null stands for standard error
static bool g_bLoggingInitialized = false;
static int g_iLogLevel = 0;

namespace {

const char kLibraryBanner[] =
    "**** QVv3 shared client library, win64(msvs2019,x64), v1.0.0, b894(Release) (Jul 26, 2023) "
    "***";
const char kPrefix[] = "[qvv3 shared lib] ";

FILE* logStream() { return g_pLogStream != nullptr ? g_pLogStream : stderr; }

std::string defaultLogDirectory() {
  const char* directory = std::getenv("KELTA_CLIENTLIB_LOGGING_PATH");
  std::string result =
      directory != nullptr ? std::string(directory) : qv::platform::temporaryDirectory();
  if (!result.empty() && result.back() != qv::platform::kDirectorySeparator)
    result += qv::platform::kDirectorySeparator;
  return result;
}

std::string setupDate() {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int64_t seconds = 0;
  unsigned milliseconds = 0;
  qv::platform::currentTime(seconds, milliseconds);
  struct tm local;
  if (!qv::platform::localCalendar(seconds, local)) return "TIME-CONV-ERR";
  char date[20];
  std::snprintf(date, sizeof date, "%04d-%s-%02d", local.tm_year + 1900, kMonths[local.tm_mon],
                local.tm_mday);
  return date;
}

void composeDefaultLogFileName(unsigned long aulProcessId) {
  std::string user;
  if (!qv::platform::userName(user) || user.size() > 256) user = "USERNAME-QUERY-ERROR";
  std::string host;
  if (!qv::platform::computerName(host) || host.size() > 1023) host = "HOSTNAME-QUERY-ERROR";
  std::string directory = defaultLogDirectory();
  std::string date = setupDate();
  int length = std::snprintf(
      g_sLogFilePath, sizeof g_sLogFilePath, "%s%s--%s--p-%lu--u-%s--h-%s.log", directory.c_str(),
      "kelta-sharedlib", date.c_str(), aulProcessId, user.c_str(), host.c_str());
  if (length < 0 || static_cast<size_t>(length) >= sizeof g_sLogFilePath)
    std::snprintf(g_sLogFilePath, sizeof g_sLogFilePath, "%s", "kelta-sharedlib-ERR.log");
}

}  // namespace

void _internal_initLogging(bool abCompose) {
  std::string processName;
  unsigned long processId = qv::platform::processId();
  if (!qv::platform::executablePath(processName)) {
    processName = "PROCESSNAME-QUERY-ERROR";
    processId = 0;
  }
  if (abCompose) composeDefaultLogFileName(processId);
  if (g_iVerbosity <= 2) return;
  if (FILE* file = std::fopen(g_sLogFilePath, "at")) {
    CLogging::SimpleLog(file, "Logfile started. pid(%lu)->pname(\"%s\")", processId,
                        processName.c_str());
    _internal_logLibraryInfo(file, "");
    std::fclose(file);
  } else {
    CLogging::SimpleLog(
        stderr,
        "[qvv3 shared lib] Logfile (\"%s\") could not be opened for writing! stderr "
        "will be used instead.",
        g_sLogFilePath);
    CLogging::SimpleLog(stderr, "[qvv3 shared lib] pid(%lu)->pname(\"%s\")", processId,
                        processName.c_str());
    _internal_logLibraryInfo(stderr, "[qvv3 shared lib]");
  }
}

void _internal_log(const char* asFormat, ...) noexcept {
  if (g_iVerbosity == 0) return;
  char message[510];
  va_list args;
  va_start(args, asFormat);
  std::vsnprintf(message, sizeof message, asFormat, args);
  va_end(args);
  // Composing the default file name needs memory. Without it this message
  // goes to standard error and the next one tries again, rather than
  // writing a file nobody chose or failing the caller. A message written
  // while the initialisation runs (from a call failing inside it) does not
  // start it again.
  static thread_local bool t_bInitializing = false;
  bool bInitialized = g_bLoggingInitialized;
  if (!bInitialized && !t_bInitializing) {
    t_bInitializing = true;
    try {
      _internal_initLogging(true);
      g_bLoggingInitialized = bInitialized = true;
    } catch (...) {
    }
    t_bInitializing = false;
  }
  FILE* destination = logStream();
  FILE* opened = nullptr;
  if (g_iVerbosity > 2 && bInitialized) {
    opened = std::fopen(g_sLogFilePath, "at");
    destination = opened != nullptr ? opened : stderr;
  }
  if (destination == stdout || destination == stderr)
    CLogging::SimpleLog(destination, "%s%s", kPrefix, message);
  else
    CLogging::SimpleLog(destination, "%s", message);
  if (opened != nullptr) std::fclose(opened);
}

int _internal_getLogLevel() noexcept {
  if (g_iLogLevel != 0) return g_iLogLevel;
  static const char kVariable[] = "KELTA_CLIENTLIB_LOGLEVEL";
  if (const char* value = std::getenv(kVariable)) {
    long level = std::strtol(value, nullptr, 10);
    if (level == 1 || level == 2) {
      g_iLogLevel = static_cast<int>(level);
      _internal_log("Log-Level has been set to %d (via environment variable %s).", g_iLogLevel,
                    kVariable);
    } else {
      _internal_log("_internal_getLogLevel(): environment variable \"%s=%s\" parse error.",
                    kVariable, value);
    }
  }
  if (g_iLogLevel == 0) g_iLogLevel = 1;
  return g_iLogLevel;
}

void _internal_logLibraryInfo(FILE* aStream, const char* asPrefix) {
  if (aStream == nullptr) aStream = stderr;
  if (asPrefix == nullptr) asPrefix = "";
  unsigned major = 0, minor = 0, subMinor = 0;
  char buffer[200];
  unsigned length = sizeof buffer;
  const char* text = qvLibraryInfoEx(&major, &minor, &subMinor, buffer, &length);
  if (text != nullptr)
    CLogging::SimpleLog(aStream,
                        "%s Library info: qvLibraryInfoEx() returned \"%s\" (vX.Y=%u.%u.%u)",
                        asPrefix, text, major, minor, subMinor);
  else
    CLogging::SimpleLog(aStream,
                        "%s Library info: qvLibraryInfoEx() returned NULL! (vX.Y=%u.%u.%u)",
                        asPrefix, major, minor, subMinor);
}

void _internal_logVerbosityChange(int aiOldLevel, const char* asOldFile, int aiNewLevel,
                                  const char* asNewFile, bool abAboutToBe) {
  const char* insertion = abAboutToBe ? "about to be " : "";
  if (asOldFile == nullptr) asOldFile = "";
  if (asNewFile == nullptr) asNewFile = "";
  if (aiNewLevel != 3 && aiOldLevel != 3)
    _internal_log("qvSetVerboseEx: verbosity setting %schanged from %d to %d", insertion,
                  aiOldLevel, aiNewLevel);
  else if (aiNewLevel != 3)
    _internal_log("qvSetVerboseEx: verbosity setting %schanged from %d (old file=\"%s\") to %d",
                  insertion, aiOldLevel, asOldFile, aiNewLevel);
  else if (aiOldLevel != 3)
    _internal_log("qvSetVerboseEx: verbosity setting %schanged from %d to %d (new file=\"%s\")",
                  insertion, aiOldLevel, aiNewLevel, asNewFile);
  else
    _internal_log(
        "qvSetVerboseEx: verbosity setting %schanged from %d (old file=\"%s\") to %d (new "
        "file=\"%s\")",
        insertion, aiOldLevel, asOldFile, aiNewLevel, asNewFile);
}

extern "C" QV_API int qvGetVerbose(void) {
  return qv::runtime::guarded("qvGetVerbose", 0, [] { return g_iVerbosity; });
}

extern "C" QV_API int qvGetVerboseEx(int* apiVerbosity, char* asLogFileName, int* apiSize) {
  return qv::runtime::guarded("qvGetVerboseEx", -1, [&] {
    if (apiVerbosity == nullptr || asLogFileName == nullptr || apiSize == nullptr) return -1;
    if (g_iVerbosity == 3) {
      int needed = static_cast<int>(std::strlen(g_sLogFilePath)) + 1;
      if (*apiSize < needed) {
        *apiSize = needed;
        return 0;
      }
      std::memcpy(asLogFileName, g_sLogFilePath, static_cast<size_t>(needed));
      *apiSize = needed;
    } else {
      if (*apiSize < 1) {
        *apiSize = 1;
        return 0;
      }
      asLogFileName[0] = '\0';
      *apiSize = 1;
    }
    *apiVerbosity = g_iVerbosity;
    return 1;
  });
}

namespace {

int setVerbosity(int aiLevel, const char* asLogFileName) {
  if (aiLevel < 0 || aiLevel > 3 || (aiLevel == 3 && asLogFileName == nullptr)) return 0;
  if (!g_bLoggingInitialized) {
    _internal_initLogging(true);
    g_bLoggingInitialized = true;
  }
  const bool levelChanges = aiLevel != g_iVerbosity;
  if (levelChanges || aiLevel == 3)
    _internal_logVerbosityChange(g_iVerbosity, g_sLogFilePath, aiLevel, asLogFileName, true);
  char sOldLogFilePath[1024];
  std::snprintf(sOldLogFilePath, sizeof sOldLogFilePath, "%s", g_sLogFilePath);
  const int oldLevel = g_iVerbosity;
  FILE* const pOldStream = g_pLogStream;
  g_iVerbosity = aiLevel;
  g_pLogStream = aiLevel == 2 ? stdout : nullptr;
  if (aiLevel == 3) {
    std::snprintf(g_sLogFilePath, sizeof g_sLogFilePath, "%s", asLogFileName);
    try {
      _internal_initLogging(asLogFileName[0] == '\0');
    } catch (...) {
      // A refused change changes nothing: the old destination stays.
      g_iVerbosity = oldLevel;
      g_pLogStream = pOldStream;
      std::snprintf(g_sLogFilePath, sizeof g_sLogFilePath, "%s", sOldLogFilePath);
      throw;
    }
  }
  if (levelChanges || aiLevel == 3)
    _internal_logVerbosityChange(oldLevel, sOldLogFilePath, g_iVerbosity, g_sLogFilePath, false);
  return 1;
}

}  // namespace

extern "C" QV_API int qvSetVerboseEx(int aiLevel, const char* asLogFileName) {
  return qv::runtime::guarded("qvSetVerboseEx", 0,
                              [&] { return setVerbosity(aiLevel, asLogFileName); });
}

extern "C" QV_API int qvSetVerbose(int aiLevel) {
  return qv::runtime::guarded("qvSetVerbose", 0, [&] { return setVerbosity(aiLevel, nullptr); });
}

namespace {

const char* libraryInfo(unsigned* vMajor, unsigned* vMinor, unsigned* vSubMinor, char* buffer,
                        unsigned* buflen) {
  if (vMajor != nullptr) *vMajor = 1;
  if (vMinor != nullptr) *vMinor = 0;
  if (vSubMinor != nullptr) *vSubMinor = 0;
  if (buflen == nullptr) return nullptr;
  if (buffer == nullptr) {
    *buflen = 121;
    return nullptr;
  }
  if (*buflen == 0) return nullptr;  // no room even for the terminator
  const char* tineVersion = GetSystemVersionString();
  std::snprintf(buffer, *buflen, "%s Tine # %s ****", kLibraryBanner,
                tineVersion != nullptr ? tineVersion : "");
  *buflen = 121;
  return buffer;
}

}  // namespace

extern "C" QV_API const char* qvLibraryInfoEx(unsigned* vMajor, unsigned* vMinor,
                                              unsigned* vSubMinor, char* buffer, unsigned* buflen) {
  return qv::runtime::guarded("qvLibraryInfoEx", static_cast<const char*>(nullptr), [&] {
    return libraryInfo(vMajor, vMinor, vSubMinor, buffer, buflen);
  });
}

extern "C" QV_API const char* qvLibraryInfo(unsigned* vMajor, unsigned* vMinor, char* buffer,
                                            unsigned* buflen) {
  return qv::runtime::guarded("qvLibraryInfo", static_cast<const char*>(nullptr),
                              [&] { return libraryInfo(vMajor, vMinor, nullptr, buffer, buflen); });
}
