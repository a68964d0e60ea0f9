// Replays inputs through a fuzz target without libFuzzer: every file named on
// the command line, or every file in a named folder. Used by the test suite
// to keep fixed faults fixed in every build.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> filesUnder(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return {};
  if (!S_ISDIR(status.st_mode)) return {path};
  std::vector<std::string> files;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') files.push_back(path + "/" + entry->d_name);
    ::closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool replay(const std::string& file) {
  FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return false;
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0)
    data.insert(data.end(), chunk, chunk + n);
  std::fclose(in);
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i)
    for (const std::string& file : filesUnder(argv[i])) {
      if (!replay(file)) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      ++replayed;
    }
  std::printf("%zu input(s) replayed\n", replayed);
  return 0;
}
