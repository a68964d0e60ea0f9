// Outputs that appear only when complete. Everything is written into a
// hidden staging folder next to the target and renamed over it after the
// library reported success and closed the file; a failure or interrupt
// removes the staging folder, so nothing that existed before is touched.
#pragma once

#include <optional>
#include <string>

#include "report.h"
#include "system.h"

namespace qvtool {

std::string folderOf(const std::string& path);  // "." for a bare name
// Where temporary work goes: TMPDIR, else TEMP, else /tmp.
std::string temporaryFolder();
std::string baseName(const std::string& path);

// Both names exist and are the same file (device and inode, links followed).
bool sameFile(const std::string& a, const std::string& b);

// May target be written? Its folder must exist; an existing target is
// refused unless force, and even then only a regular file is replaced.
std::optional<Problem> checkTarget(const std::string& target, bool force);

class StagingFolder {
 public:
  StagingFolder() = default;
  ~StagingFolder();  // removes the folder with whatever is still in it
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  // Creates ".qvtool-XXXXXX" inside folder; the problem names the system's reason.
  std::optional<Problem> create(const std::string& folder);
  std::string file(const std::string& name) const { return m_path + sys::kPathSeparator + name; }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// Moves a staged file onto target: never replaces anything unless force, and
// then only a regular file. The staged file stays where it was on failure.
std::optional<Problem> placeFile(const std::string& staged, const std::string& target, bool force);

// Creates folder and its missing parents; reports the first one it made
// (empty when all existed), so a failed run can remove what it created.
std::optional<Problem> makeFolders(const std::string& folder, std::string& firstCreated);
// Removes the empty folders from leaf up to and including top.
void removeEmptyFolders(const std::string& leaf, const std::string& top);

}  // namespace qvtool
