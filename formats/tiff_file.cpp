#include "formats/tiff_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "formats/file_descriptor.h"
#include "quivox3/quivox3.h"

namespace qvformats::tiff {

namespace {

// The largest block libtiff may allocate at once for a file being read: a
// whole frame's strip with room to spare. Arrays or texts that a damaged
// file claims beyond it are refused instead of allocated.
constexpr tmsize_t kMaxReadAllocation = 2 * tmsize_t{MAX_TRANSPORT_SIZE} + (8 << 20);

// libtiff starts many messages with the file's name, which the caller knows.
std::string messageText(const File::Messages& kept, const char* module, const char* format,
                        va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::string message = text;
  const std::string named = kept.path + ": ";
  if (message.compare(0, named.size(), named) == 0) message.erase(0, named.size());
  if (module == nullptr || module[0] == '\0' || kept.path == module) return message;
  return std::string(module) + ": " + message;
}

int keepError(TIFF*, void* userData, const char* module, const char* format, va_list args) {
  auto* kept = static_cast<File::Messages*>(userData);
  // The first error names the cause; the later ones its consequences.
  if (kept->error.empty()) kept->error = messageText(*kept, module, format, args);
  return 1;
}

// libtiff reads on past a damaged entry of a directory, warning that it
// ignored the entry's tag: such tags are noted by name.
int keepWarning(TIFF*, void* userData, const char* module, const char* format, va_list args) {
  auto* kept = static_cast<File::Messages*>(userData);
  kept->warning = messageText(*kept, module, format, args);
  const size_t name = kept->warning.find('"');
  const size_t end = name == std::string::npos ? name : kept->warning.find('"', name + 1);
  if (end != std::string::npos && kept->warning.find(" ignored", end) != std::string::npos &&
      kept->dropped.size() < 4096)
    kept->dropped += kept->warning.substr(name, end + 1 - name);
  return 1;
}

struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using Options = std::unique_ptr<TIFFOpenOptions, OptionsFree>;

std::string systemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

File::~File() { close(); }

void File::close() {
  if (m_tiff != nullptr) TIFFClose(m_tiff);
  m_tiff = nullptr;
  if (m_created) descriptor::removeFile(m_path);
  m_created = false;
}

bool File::attach(int fd, const char* mode, std::string& why) {
  Options options(TIFFOpenOptionsAlloc());
  if (!options) {
    descriptor::close(fd);
    why = "not enough memory to open the file";
    return false;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), keepError, &m_messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), keepWarning, &m_messages);
  if (mode[0] == 'r') TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxReadAllocation);
  m_tiff = TIFFFdOpenExt(fd, m_path.c_str(), mode, options.get());
  if (m_tiff != nullptr) return true;  // the descriptor is libtiff's now
  descriptor::close(fd);
  why = takeError("libtiff cannot use it");
  return false;
}

bool File::create(const std::string& path, bool bigTiff, std::string& why) {
  m_path = m_messages.path = path;
  const int fd = descriptor::createExclusive(path);
  if (fd < 0) {
    why = errno == EEXIST ? "the file already exists" : systemError("cannot create the file");
    return false;
  }
  m_created = true;
  if (attach(fd, bigTiff ? "w8" : "w", why)) return true;
  why = "cannot write the file: " + why;
  close();
  return false;
}

bool File::open(const std::string& path, std::string& why) {
  m_path = m_messages.path = path;
  const int fd = descriptor::openForReading(path);
  if (fd < 0) {
    why = systemError("cannot open the file");
    return false;
  }
  if (!descriptor::regularFileSize(fd, m_size)) {
    descriptor::close(fd);
    why = "not a regular file";
    return false;
  }
  // Read through the descriptor, not a mapping: a file cut short while it
  // is read must fail the load, not the process.
  if (attach(fd, "rm", why)) return true;
  why = "not a TIFF file, or a damaged one: " + why;
  return false;
}

std::string File::takeError(const char* fallback) {
  Messages& kept = m_messages;
  std::string error = !kept.error.empty()     ? kept.error
                      : !kept.warning.empty() ? kept.warning
                                              : fallback;
  kept.error.clear();
  kept.warning.clear();
  return error;
}

bool File::takeDroppedTag(const char* name) {
  const bool dropped = m_messages.dropped.find('"' + std::string(name) + '"') != std::string::npos;
  m_messages.dropped.clear();
  return dropped;
}

bool File::currentDirectoryComplete() const {
  const bool big = TIFFIsBigTIFF(m_tiff) != 0;
  const uint64_t at = TIFFCurrentDirOffset(m_tiff);
  const size_t countBytes = big ? 8 : 2;
  uint8_t count[8] = {};
  if (!descriptor::readAt(TIFFFileno(m_tiff), count, countBytes, at)) return false;
  uint64_t entries = 0;
  for (size_t i = 0; i < countBytes; ++i) {
    const size_t byte = TIFFIsBigEndian(m_tiff) ? i : countBytes - 1 - i;
    entries = entries << 8 | count[byte];
  }
  const uint64_t entryBytes = big ? 20 : 12, linkBytes = big ? 8 : 4;
  if (entries > m_size / entryBytes) return false;
  return at <= m_size && m_size - at >= countBytes + entries * entryBytes + linkBytes;
}

bool File::commit(std::string& why) {
  const bool flushed = TIFFFlush(m_tiff) == 1;
  TIFFClose(m_tiff);
  m_tiff = nullptr;
  if (!flushed || !m_messages.error.empty()) {
    why = "cannot finish the file: " + takeError("libtiff failed");
    close();
    return false;
  }
  m_created = false;
  return true;
}

}  // namespace qvformats::tiff
