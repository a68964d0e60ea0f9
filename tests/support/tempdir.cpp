#include "support/tempdir.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
// A fresh name in the temporary folder, created exclusively.
static std::string makeTemporaryDirectory() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("qvtest-" + std::to_string(random() % 1000000000000ull));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) return path.string();
  }
  throw std::runtime_error("no temporary directory could be made");
}
#else
static std::string makeTemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qvtest-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}
#endif

TempDir::TempDir() : m_path(makeTemporaryDirectory()) {}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string readTextFile(const std::string& path) {
  std::string text = readFile(path);
  size_t kept = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) text[kept++] = text[i];
  text.resize(kept);
  return text;
}

bool fileExists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

bool waitForFile(const std::string& path, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!fileExists(path)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}
