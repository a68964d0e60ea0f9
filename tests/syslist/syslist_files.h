// Building blocks for system list files written by the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "runtime/logging.h"
#include "support/tempdir.h"
#include "syslist/syslist.h"

namespace sltest {

inline std::string element(const std::string& tag, const std::string& content) {
  return "<" + tag + ">" + content + "</" + tag + ">";
}

inline std::string source(const std::string& nameId, const std::string& type = "PCVision") {
  return element("ImageSource", element("NameID", nameId) + element("SGPType", type));
}

inline std::string group(const std::string& name, const std::string& names) {
  return element("oImageSourceGroup", element("Name", name) + element("ImageSourceNames", names));
}

// An SGP with its name and type, plus further children (references).
inline std::string sgp(const std::string& name, const std::string& type = "PCVision",
                       const std::string& more = "") {
  return element("SGP", element("Name", name) + element("Type", type) + more);
}

inline std::string sourceRef(const std::string& name) { return element("oImageSourceName", name); }
inline std::string groupRef(const std::string& name) {
  return element("oImageSourceGroupName", name);
}
inline std::string sgpRef(const std::string& name) { return element("oSGPName", name); }

inline std::string converter(const std::string& tag, const std::string& name,
                             const std::string& more = "") {
  return element(tag, element("Name", name) + more);
}

// A whole file; `components` goes after ImageSources and SGPs.
inline std::string sysList(const std::string& imageSources, const std::string& sgps,
                           const std::string& components = "",
                           const std::string& head =
                               "<Name>TestSystem</Name>"
                               "<TineContext>TESTCTX</TineContext>") {
  return "<?xml version=\"1.0\" ?>\n<QVv3>" + head +
         element("ComponentList",
                 element("ImageSources", imageSources) + element("SGPs", sgps) + components) +
         "</QVv3>\n";
}

// A minimal valid file: one source, one SGP.
inline std::string minimalSysList() { return sysList(source("cam1=1"), sgp("sgp1")); }

inline std::string nameOfLength(size_t length, char fill = 'n') {
  return std::string(length, fill);
}

// Loads a file text through a fresh CSysList with a standard-error channel
// and keeps what was written to standard error.
class SysListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_log.Init(nullptr, false, nullptr)); }
  void TearDown() override { m_log.Done(); }

  bool loadText(const std::string& text, bool verbose = true) {
    m_path = m_dir.file("syslist.xml");
    writeFile(m_path, text);
    return loadPath(m_path, verbose);
  }
  bool loadPath(const std::string& path, bool verbose = true) {
    ::testing::internal::CaptureStderr();
    const bool ok = m_list.load(path.c_str(), verbose, &m_log);
    m_stderr = ::testing::internal::GetCapturedStderr();
    return ok;
  }
  int countLines(const std::string& needle) const {
    int count = 0;
    for (size_t pos = m_stderr.find(needle); pos != std::string::npos;
         pos = m_stderr.find(needle, pos + needle.size())) {
      ++count;
    }
    return count;
  }

  TempDir m_dir;
  CLogging m_log;
  CSysList m_list;
  std::string m_path;
  std::string m_stderr;
};

}  // namespace sltest
