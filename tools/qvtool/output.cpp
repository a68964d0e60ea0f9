#include "output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace qvtool {

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string temporaryFolder() {
  for (const char* variable : {"TMPDIR", "TEMP"})
    if (const char* value = std::getenv(variable); value != nullptr && value[0] != '\0')
      return value;
  return "/tmp";
}

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

static std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::optional<Problem> checkTarget(const std::string& target, bool force) {
  if (target.empty() || target.back() == '/')
    return Problem{"'" + target + "' names a folder, not a file", ""};
  const std::string folder = folderOf(target);
  struct stat status;
  if (::stat(folder.c_str(), &status) != 0)
    return Problem{"cannot write into " + folder + ": " + systemReason(errno), ""};
  if (!S_ISDIR(status.st_mode))
    return Problem{"cannot write into " + folder + ": " + systemReason(ENOTDIR), ""};
  if (::lstat(target.c_str(), &status) != 0) {
    if (errno == ENOENT) return std::nullopt;
    return Problem{target + ": " + systemReason(errno), ""};
  }
  if (!S_ISREG(status.st_mode))
    return Problem{
        target + " is " + kindOf(status.st_mode) + "; only a regular file is ever replaced", ""};
  if (!force) return Problem{target + " already exists (use --force to replace it)", ""};
  return std::nullopt;
}

// ---- staging folder ----------------------------------------------------------

static void removeTree(const std::string& path) {
  if (DIR* dir = ::opendir(path.c_str())) {
    std::vector<std::string> entries;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") entries.push_back(path + "/" + name);
    }
    ::closedir(dir);
    for (const std::string& entry : entries) {
      struct stat status;
      if (::lstat(entry.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        removeTree(entry);
      else
        ::unlink(entry.c_str());
    }
  }
  ::rmdir(path.c_str());
}

StagingFolder::~StagingFolder() {
  if (!m_path.empty()) removeTree(m_path);
}

std::optional<Problem> StagingFolder::create(const std::string& folder) {
  std::string pattern = folder + "/.qvtool-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr)
    return Problem{"cannot write into " + folder + ": " + systemReason(errno), ""};
  m_path = pattern;
  return std::nullopt;
}

// ---- placing files -------------------------------------------------------------

// rename() that fails instead of replacing: renameat2 where the file system
// has it, else a hard link (which never replaces) and an unlink.
static int renameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}

std::optional<Problem> placeFile(const std::string& staged, const std::string& target, bool force) {
  struct stat status;
  if (::lstat(target.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode))
      return Problem{
          target + " is " + kindOf(status.st_mode) + "; only a regular file is ever replaced", ""};
    if (!force) return Problem{target + " already exists (use --force to replace it)", ""};
    if (::rename(staged.c_str(), target.c_str()) != 0)
      return Problem{"cannot replace " + target + ": " + systemReason(errno), ""};
    return std::nullopt;
  }
  if (renameNoReplace(staged, target) != 0) {
    if (errno == EEXIST) return Problem{target + " appeared meanwhile; left as it is", ""};
    return Problem{"cannot create " + target + ": " + systemReason(errno), ""};
  }
  return std::nullopt;
}

// ---- folders -----------------------------------------------------------------

std::optional<Problem> makeFolders(const std::string& folder, std::string& firstCreated) {
  firstCreated.clear();
  struct stat status;
  if (::stat(folder.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) return std::nullopt;
    return Problem{folder + " exists and is not a folder", ""};
  }
  if (errno != ENOENT) return Problem{folder + ": " + systemReason(errno), ""};
  const std::string parent = folderOf(folder);
  if (parent != folder) {
    if (auto problem = makeFolders(parent, firstCreated)) return problem;
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    const int error = errno;
    if (!firstCreated.empty()) removeEmptyFolders(parent, firstCreated);
    return Problem{"cannot create folder " + folder + ": " + systemReason(error), ""};
  }
  if (firstCreated.empty()) firstCreated = folder;
  return std::nullopt;
}

void removeEmptyFolders(const std::string& leaf, const std::string& top) {
  if (top.empty()) return;
  std::string folder = leaf;
  while (true) {
    if (::rmdir(folder.c_str()) != 0 || folder == top) return;
    const std::string parent = folderOf(folder);
    if (parent == folder) return;
    folder = parent;
  }
}

}  // namespace qvtool
