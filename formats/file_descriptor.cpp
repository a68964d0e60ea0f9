#include "formats/file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>

namespace qvformats::descriptor {

#if defined(_WIN32)

int createExclusive(const std::string& path) {
  return ::_open(path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

int openForReading(const std::string& path) {
  return ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

void close(int fd) { ::_close(fd); }

bool regularFileSize(int fd, uint64_t& size) {
  struct _stat64 status;
  if (::_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return false;
  size = static_cast<uint64_t>(status.st_size);
  return true;
}

// The runtime has no positioned read: seek there and back.
bool readAt(int fd, void* buffer, size_t bytes, uint64_t offset) {
  const int64_t position = ::_lseeki64(fd, 0, SEEK_CUR);
  if (position < 0 || bytes > 0x7fffffff ||
      ::_lseeki64(fd, static_cast<int64_t>(offset), SEEK_SET) < 0)
    return false;
  const int got = ::_read(fd, buffer, static_cast<unsigned>(bytes));
  const bool restored = ::_lseeki64(fd, position, SEEK_SET) == position;
  return restored && got >= 0 && static_cast<size_t>(got) == bytes;
}

void removeFile(const std::string& path) { ::_unlink(path.c_str()); }

#else

int createExclusive(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int openForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

void close(int fd) { ::close(fd); }

bool regularFileSize(int fd, uint64_t& size) {
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool readAt(int fd, void* buffer, size_t bytes, uint64_t offset) {
  return ::pread(fd, buffer, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

#endif

}  // namespace qvformats::descriptor
