#include "platform/files.h"

#include <sys/stat.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include <cerrno>
#include <new>

namespace qv::platform {

bool seekTo64(FILE* apFile, int64_t aiOffset, int aiWhence) {
#if defined(_WIN32)
  return _fseeki64(apFile, aiOffset, aiWhence) == 0;
#else
  return fseeko(apFile, static_cast<off_t>(aiOffset), aiWhence) == 0;
#endif
}

int64_t tell64(FILE* apFile) {
#if defined(_WIN32)
  return _ftelli64(apFile);
#else
  return static_cast<int64_t>(ftello(apFile));
#endif
}

bool fileSize(FILE* apFile, int64_t& aiSize) {
  const int64_t iPosition = tell64(apFile);
  if (iPosition < 0 || !seekTo64(apFile, 0, SEEK_END)) return false;
  const int64_t iEnd = tell64(apFile);
  if (iEnd < 0 || !seekTo64(apFile, iPosition, SEEK_SET)) return false;
  aiSize = iEnd;
  return true;
}

bool fileSize(FILE* apFile, uint64_t& auiSize) {
  int64_t iSize = 0;
  if (!fileSize(apFile, iSize)) return false;
  auiSize = static_cast<uint64_t>(iSize);
  return true;
}

bool fileModificationTime(const char* asPath, int64_t& aiSeconds) {
  struct stat st;
  if (asPath == nullptr || stat(asPath, &st) != 0) return false;
  aiSeconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool appendWhole(FILE* apStream, const void* apData, size_t aiBytes) {
#if defined(_WIN32)
  // The C runtime appends by seeking to the end and then writing, so two
  // processes could write over each other's text. An exclusive lock on one
  // byte far beyond any end of file keeps each seek and its write together.
  // The byte itself is never read or written: Windows locks bind reads and
  // writes of the locked range.
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(apStream)));
  OVERLAPPED sentinel{};
  sentinel.Offset = 0xFFFFFFF0u;
  sentinel.OffsetHigh = 0x7FFFFFFFu;
  const bool locked = handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_DISK &&
                      ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &sentinel);
  const bool written =
      std::fwrite(apData, 1, aiBytes, apStream) == aiBytes && std::fflush(apStream) == 0;
  if (locked) ::UnlockFileEx(handle, 0, 1, 0, &sentinel);
  return written;
#else
  // A file opened for appending gets every write at its end in one piece.
  return std::fwrite(apData, 1, aiBytes, apStream) == aiBytes && std::fflush(apStream) == 0;
#endif
}

// A new file, failing with EEXIST when the name is taken. The C runtime of
// Windows knows no "x" mode: its low-level open does.
static FILE* openExclusively(const char* asPath) {
#if defined(_WIN32)
  const int fd = ::_open(asPath, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = ::_fdopen(fd, "wb");
  if (file == nullptr) {
    const int error = errno;
    ::_close(fd);
    ::_unlink(asPath);
    errno = error;
  }
  return file;
#else
  return std::fopen(asPath, "wbx");
#endif
}

bool OutputFile::create(const char* asPath, Mode aMode, size_t aiBufferBytes) {
  discard();
  if (asPath == nullptr) return false;
  // The name is kept before the file exists: should keeping it fail, there
  // is no file that could not be deleted again.
  m_sPath = asPath;
  m_pFile = aMode == Mode::kExclusive ? openExclusively(asPath) : std::fopen(asPath, "wb");
  if (m_pFile == nullptr) {
    const int iError = errno;
    m_sPath.clear();
    errno = iError;
    return false;
  }
  if (aiBufferBytes > 0) {
    // The stream must be given the buffer itself; without one the size is
    // ignored. Without memory the default buffer serves.
    m_pBuffer.reset(new (std::nothrow) char[aiBufferBytes]);
    if (m_pBuffer) std::setvbuf(m_pFile, m_pBuffer.get(), _IOFBF, aiBufferBytes);
  }
  return true;
}

bool OutputFile::commit() {
  if (m_pFile == nullptr) return false;
  FILE* pFile = m_pFile;
  m_pFile = nullptr;
  const bool bClosed = std::fclose(pFile) == 0;
  if (!bClosed) std::remove(m_sPath.c_str());
  m_sPath.clear();
  return bClosed;
}

void OutputFile::discard() {
  if (m_pFile == nullptr) return;
  std::fclose(m_pFile);
  m_pFile = nullptr;
  std::remove(m_sPath.c_str());
  m_sPath.clear();
}

}  // namespace qv::platform
