#include "fixtures.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "quivox3/quivox3.h"
#include "support/tempdir.h"

bool writeSequence(const std::string& path, int frames, int width, int height) {
  QVBUNCHOFIMAGES bunch;
  qvInitializeBunchStructure(&bunch);
  const uint32_t bytes = static_cast<uint32_t>(width * height);
  if (qvCreateBunchStructure(&bunch, static_cast<uint32_t>(frames), bytes) != 1) return false;
  for (int i = 0; i < frames; ++i) {
    DIMAGE& img = bunch.imageArray[i];
    std::memset(&img, 0, QV_HDR_IMAGE_SIZE);
    img.sourceHeader.baseTag = QV_BASE_TAG;
    img.sourceHeader.versionTag = 1;
    img.sourceHeader.cameraPortId = kPortId;
    std::strcpy(img.sourceHeader.cameraPortName, kPortName);
    img.sourceHeader.timestampSeconds = kFirstSecond + static_cast<uint32_t>(i);
    img.sourceHeader.timestampMicroseconds = 250000;
    img.sourceHeader.totalLength = QV_HDR_IMAGE_SIZE + bytes;
    FRAMEHEADER& f = img.frameHeader;
    f.sourceWidth = width;
    f.sourceHeight = height;
    f.aoiWidth = f.aoiHeight = -1;
    f.bytesPerPixel = 1;
    f.effectiveBitsPerPixel = 8;
    f.horizontalBinning = f.verticalBinning = 1;
    f.sourceFormat = f.imageFormat = CF_IMAGE_FORMAT_GRAY;
    f.frameNumber = kFirstFrameNumber + static_cast<uint32_t>(i);
    f.eventNumber = kFirstEventNumber + static_cast<uint32_t>(i);
    f.xScale = f.yScale = 10.0f;
    f.imageFlags = CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER;
    f.appendedFrameSize = static_cast<int32_t>(bytes);
    uint64_t state = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(i + 1);
    for (uint32_t p = 0; p < bytes; p += 8) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      std::memcpy(img.frameBuffer + p, &state, std::min<uint32_t>(8, bytes - p));
    }
  }
  const bool saved = qvSaveImagesToFile(&bunch, path.c_str()) == 0;
  qvFreeBunch(&bunch);
  return saved;
}

int framesIn(const std::string& path) {
  QVBUNCHOFIMAGES bunch;
  qvInitializeBunchStructure(&bunch);
  const int frames =
      qvLoadImagesFromFile(path.c_str(), &bunch) == 0 ? static_cast<int>(bunch.numFrames) : -1;
  qvFreeBunch(&bunch);
  return frames;
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

static void scan(const std::string& root, const std::string& relative, bool withContent,
                 Snapshot& out) {
  for (const auto& name : entries(relative.empty() ? root : root + "/" + relative)) {
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    const std::string full = root + "/" + rel;
    struct stat status;
    if (::lstat(full.c_str(), &status) != 0) continue;
    if (S_ISREG(status.st_mode)) {
      out[rel] = withContent ? "file:" + readFile(full) : "file";
    } else if (S_ISDIR(status.st_mode)) {
      out[rel] = "dir";
      scan(root, rel, withContent, out);
    } else if (S_ISLNK(status.st_mode)) {
      char target[4096];
      const ssize_t n = ::readlink(full.c_str(), target, sizeof target);
      out[rel] = "link:" + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else {
      out[rel] = "other";
    }
  }
}

Snapshot snapshot(const std::string& dir, bool withContent) {
  Snapshot result;
  scan(dir, "", withContent, result);
  return result;
}

std::string changes(const Snapshot& before, const Snapshot& after) {
  std::string text;
  for (const auto& [name, kind] : after) {
    auto old = before.find(name);
    if (old == before.end())
      text += "new: " + name + "\n";
    else if (old->second != kind)
      text += "changed: " + name + "\n";
  }
  for (const auto& [name, kind] : before)
    if (after.count(name) == 0) text += "gone: " + name + "\n";
  return text;
}

bool waitForHiddenEntry(const std::string& dir, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  do {
    for (const auto& name : entries(dir))
      if (name[0] == '.') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

bool running(int pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t end = stat.rfind(')');
  return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args) text += a + " ";
  return text;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int lineCount(const std::string& text) {
  int n = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  return n + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string lineStartingWith(const std::string& text, const std::string& prefix) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  return "";
}
