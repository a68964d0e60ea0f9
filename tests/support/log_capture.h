// Sends the library log to a file of a temporary directory for the life of
// the object, then restores the previous verbosity.
#pragma once

#include <string>

#include "support/tempdir.h"

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged since construction (or since the last clear()).
  std::string text() const;
  bool contains(const std::string& needle) const;
  // Number of lines containing the needle.
  int count(const std::string& needle) const;
  void clear();
  const std::string& path() const { return m_path; }

 private:
  TempDir m_dir;
  std::string m_path;
  int m_previousLevel;
};
