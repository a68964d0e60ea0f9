#include "output.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "system.h"

namespace qvtool {

namespace fs = std::filesystem;

namespace {

size_t lastSeparator(const std::string& path) { return path.find_last_of(sys::kPathSeparators); }

std::string kindOf(const fs::file_status& status) {
  switch (status.type()) {
    case fs::file_type::directory:
      return "a directory";
    case fs::file_type::symlink:
      return "a symbolic link";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device";
    case fs::file_type::fifo:
      return "a pipe";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

std::optional<Problem> refuseExisting(const std::string& target, const fs::file_status& status,
                                      bool force) {
  if (!fs::is_regular_file(status))
    return Problem{target + " is " + kindOf(status) + "; only a regular file is ever replaced", ""};
  if (!force) return Problem{target + " already exists (use --force to replace it)", ""};
  return std::nullopt;
}

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t slash = lastSeparator(path);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

std::string temporaryFolder() {
  for (const char* variable : {"TMPDIR", "TEMP"})
    if (const char* value = std::getenv(variable); value != nullptr && value[0] != '\0')
      return value;
  std::error_code error;
  const fs::path system = fs::temp_directory_path(error);
  return error ? std::string("/tmp") : system.string();
}

std::string baseName(const std::string& path) {
  const size_t slash = lastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

std::optional<Problem> checkTarget(const std::string& target, bool force) {
  if (target.empty() || lastSeparator(target) == target.size() - 1)
    return Problem{"'" + target + "' names a folder, not a file", ""};
  const std::string folder = folderOf(target);
  std::error_code error;
  const fs::file_status folderStatus = fs::status(folder, error);
  if (error) return Problem{"cannot write into " + folder + ": " + systemReason(error), ""};
  if (!fs::is_directory(folderStatus))
    return Problem{"cannot write into " + folder + ": " + systemReason(ENOTDIR), ""};
  // The target itself, links not followed.
  const fs::file_status status = fs::symlink_status(target, error);
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  if (error) return Problem{target + ": " + systemReason(error), ""};
  return refuseExisting(target, status, force);
}

// ---- staging folder ----------------------------------------------------------

StagingFolder::~StagingFolder() {
  std::error_code ignored;
  if (!m_path.empty()) fs::remove_all(m_path, ignored);
}

std::optional<Problem> StagingFolder::create(const std::string& folder) {
  m_path = sys::makePrivateFolder(folder, ".qvtool-");
  if (m_path.empty())
    return Problem{"cannot write into " + folder + ": " + systemReason(errno), ""};
  return std::nullopt;
}

// ---- placing files -------------------------------------------------------------

std::optional<Problem> placeFile(const std::string& staged, const std::string& target, bool force) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(target, error);
  if (status.type() != fs::file_type::not_found && !error) {
    if (auto refusal = refuseExisting(target, status, force)) return refusal;
    if (sys::renameReplacing(staged, target) != 0)
      return Problem{"cannot replace " + target + ": " + systemReason(errno), ""};
    return std::nullopt;
  }
  if (sys::renameNoReplace(staged, target) != 0) {
    if (errno == EEXIST) return Problem{target + " appeared meanwhile; left as it is", ""};
    return Problem{"cannot create " + target + ": " + systemReason(errno), ""};
  }
  return std::nullopt;
}

// ---- folders -----------------------------------------------------------------

std::optional<Problem> makeFolders(const std::string& folder, std::string& firstCreated) {
  firstCreated.clear();
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (fs::is_directory(status)) return std::nullopt;
  if (status.type() != fs::file_type::not_found) {
    if (error) return Problem{folder + ": " + systemReason(error), ""};
    return Problem{folder + " exists and is not a folder", ""};
  }
  const std::string parent = folderOf(folder);
  if (parent != folder) {
    if (auto problem = makeFolders(parent, firstCreated)) return problem;
  }
  std::error_code ignored;
  if (!fs::create_directory(folder, error) && !fs::is_directory(folder, ignored)) {
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
    std::error_code error;
    // fs::remove would take a file as well: only folders are ours to remove.
    if (!fs::is_directory(fs::symlink_status(folder, error)) || !fs::remove(folder, error) ||
        folder == top)
      return;
    const std::string parent = folderOf(folder);
    if (parent == folder) return;
    folder = parent;
  }
}

}  // namespace qvtool
