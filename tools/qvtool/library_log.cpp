#include "library_log.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output.h"
#include "quivox3/quivox3.h"

namespace qvtool {

namespace {

constexpr char kLogFolderVariable[] = "KELTA_CLIENTLIB_LOGGING_PATH";

void removeFolder(const std::string& folder) {
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(dir);
  }
  ::rmdir(folder.c_str());
}

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
  std::string folder = temporaryFolder() + "/qvtool-log-XXXXXX";
  const bool haveFolder = ::mkdtemp(folder.data()) != nullptr;
  if (haveFolder) ::setenv(kLogFolderVariable, folder.c_str(), 1);
  int accepted = qvSetVerbose(0);
  if (haveFolder) {
    removeFolder(folder);
    if (previous != nullptr)
      ::setenv(kLogFolderVariable, saved.c_str(), 1);
    else
      ::unsetenv(kLogFolderVariable);
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
