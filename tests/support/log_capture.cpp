#include "support/log_capture.h"

#include <cstdio>
#include <sstream>

#include "quivox3/quivox3.h"

LogCapture::LogCapture() : m_path(m_dir.file("capture.log")), m_previousLevel(qvGetVerbose()) {
  qvSetVerboseEx(3, m_path.c_str());
  clear();
}

LogCapture::~LogCapture() {
  if (m_previousLevel == 3)
    qvSetVerboseEx(0, nullptr);  // the previous file name is not kept; stay quiet
  else
    qvSetVerboseEx(m_previousLevel, nullptr);
}

std::string LogCapture::text() const { return readTextFile(m_path); }

bool LogCapture::contains(const std::string& needle) const {
  return text().find(needle) != std::string::npos;
}

int LogCapture::count(const std::string& needle) const {
  std::istringstream lines(text());
  std::string line;
  int n = 0;
  while (std::getline(lines, line))
    if (line.find(needle) != std::string::npos) ++n;
  return n;
}

void LogCapture::clear() { std::remove(m_path.c_str()); }
