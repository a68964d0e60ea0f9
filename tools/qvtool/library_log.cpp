#include "library_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "output.h"
#include "quivox3/quivox3.h"
#include "system.h"

namespace qvtool {

namespace {

constexpr char kLogFolderVariable[] = "KELTA_CLIENTLIB_LOGGING_PATH";

}  // namespace

bool routeLibraryLog(bool toStandardError, const std::string& logFile, std::string& error) {
  if (!logFile.empty()) {
    // The library would fall back to standard error; say so plainly instead.
    FILE* file = std::fopen(logFile.c_str(), "a");
    if (file == nullptr) {
      error = "cannot write the log file " + logFile + ": " + std::strerror(errno);
      return false;
    }
    std::fclose(file);
  }
  // The library starts its per-process log file at the first verbosity
  // change, before the new verbosity applies. Point that start at a private
  // folder, silence the library, and remove the folder right after.
  const char* previous = std::getenv(kLogFolderVariable);
  const std::string saved = previous != nullptr ? previous : "";
  const std::string folder = sys::makePrivateFolder(temporaryFolder(), "qvtool-log-");
  if (!folder.empty()) sys::setEnvironment(kLogFolderVariable, folder.c_str());
  int accepted = qvSetVerbose(0);
  if (!folder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (previous != nullptr)
      sys::setEnvironment(kLogFolderVariable, saved.c_str());
    else
      sys::unsetEnvironment(kLogFolderVariable);
  }
  if (accepted == 1 && !logFile.empty()) accepted = qvSetVerboseEx(3, logFile.c_str());
  if (accepted == 1 && logFile.empty() && toStandardError) accepted = qvSetVerbose(1);
  if (accepted != 1) {
    error = "the library refused the log settings";
    return false;
  }
  return true;
}

}  // namespace qvtool
