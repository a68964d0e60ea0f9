// A fresh temporary directory per test, removed with everything in it.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);
// A text file the library wrote (a log): its lines end in \n whatever the
// platform's text mode made of them.
std::string readTextFile(const std::string& path);
bool fileExists(const std::string& path);
// Whether the file appears within the given seconds (another process makes it).
bool waitForFile(const std::string& path, double seconds);
void writeFile(const std::string& path, const std::string& content);
