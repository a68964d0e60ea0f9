// A libtiff file whose errors and warnings are kept for the caller's reason
// instead of being printed: the handlers belong to this file alone, so
// nothing global changes and files on other threads are not disturbed.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>

namespace qvformats::tiff {

class File {
 public:
  // What libtiff's handlers keep, through their user data.
  struct Messages {
    std::string path;
    std::string error, warning;
    std::string dropped;  // names of dropped tags, each quoted
  };

  File() = default;
  ~File();  // closes; a file created here and not committed is removed
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // A new file (never an existing one), BigTIFF when asked.
  bool create(const std::string& path, bool bigTiff, std::string& why);
  // An existing file for reading; its size bounds what its pages may claim.
  bool open(const std::string& path, std::string& why);

  TIFF* get() const { return m_tiff; }
  uint64_t size() const { return m_size; }
  // What libtiff said about the last failure: its first error since the
  // last call, else its last warning, else the fallback.
  std::string takeError(const char* fallback);
  // Whether libtiff dropped the named tag of a directory read since the
  // last call: it warns and reads on, as if the tag were absent.
  bool takeDroppedTag(const char* name);
  // libtiff takes a directory whose link to the next one is cut off for the
  // last: a file cut there would pass for a shorter one.
  bool currentDirectoryComplete() const;

  // Closes a created file, which stays only when everything was written.
  bool commit(std::string& why);

 private:
  bool attach(int fd, const char* mode, std::string& why);
  void close();

  TIFF* m_tiff = nullptr;
  std::string m_path;
  bool m_created = false;
  uint64_t m_size = 0;
  Messages m_messages;
};

}  // namespace qvformats::tiff
