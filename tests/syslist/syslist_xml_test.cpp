// The XML of system lists: nesting beyond the limit is refused quickly
// whatever the markup around it, and texts are read as system lists have
// always been read.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "syslist/syslist_xml.h"
#include "syslist_files.h"

using namespace sltest;

namespace {

const std::string kQuotedDeclaration = "<?xml version='><!--' ?>";

std::string repeated(const std::string& text, int times) {
  std::string result;
  result.reserve(text.size() * static_cast<size_t>(times));
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

// `levels` elements nested open (or open and closed).
std::string nested(int levels, bool closed) {
  return repeated("<a>", levels) + (closed ? repeated("</a>", levels) : "");
}

// The minimal list with `text` put in front of its root's Name.
std::string withinRoot(const std::string& text) {
  std::string list = minimalSysList();
  return list.insert(list.find("<Name>"), text);
}

std::string replaced(std::string text, const std::string& what, const std::string& by) {
  return text.replace(text.find(what), what.size(), by);
}

// The minimal list with the given content of its Name (and declaration).
std::string named(const std::string& name, const std::string& declaration = "") {
  std::string list = sysList(source("cam1=1"), sgp("sgp1"), "",
                             "<Name>" + name + "</Name><TineContext>CTX</TineContext>");
  return declaration.empty() ? list : replaced(list, "<?xml version=\"1.0\" ?>", declaration);
}

}  // namespace

TEST_F(SysListTest, NestingBeyondTheLimitIsRefusedQuickly) {
  ASSERT_EQ(qv::syslist::kMaxNestingDepth, 200);
  const struct {
    const char* what;
    std::string text;
    int code;
  } cases[] = {
      {"quoted '>' in the declaration, 50,000 open", kQuotedDeclaration + nested(50000, false), -1},
      {"quoted '>' in the declaration, 50,000 closed",
       kQuotedDeclaration + "<QVv3>" + nested(50000, true) + "</QVv3>", -1},
      {"200,000 open", kQuotedDeclaration + nested(200000, false), -1},
      {"200,000 closed in a valid list", withinRoot(nested(200000, true)), -1},
      {"root and 199 levels in a valid list", withinRoot(nested(199, true)), 0},
      {"root and 200 levels in a valid list", withinRoot(nested(200, true)), -1},
      {"quoted '>' in the declaration of a valid list",
       replaced(minimalSysList(), "<?xml version=\"1.0\" ?>", kQuotedDeclaration), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(loadText(c.text), c.code == 0) << m_stderr;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(m_list.lastLoadCode(), c.code);
    if (c.code == -1) {
      EXPECT_NE(
          m_stderr.find("[syslist] Opening up syslist on startup failed. File=\"" + m_path + "\""),
          std::string::npos)
          << m_stderr;
    }
    // A parse that is quadratic in the depth would take minutes; the bound
    // leaves room for a sanitizer build on a busy machine.
    EXPECT_LT(seconds, 2.0);
  }
}

TEST_F(SysListTest, TextsAreReadAsBefore) {
  const struct {
    const char* what;
    std::string text;
    int code;
    std::string systemName;  // when loaded
  } cases[] = {
      {"white space trimmed and condensed", named("  Lab \n\t one\v "), 0, "Lab one"},
      {"references decoded", named("A&amp;B &lt;&#67;&#x44;&gt;&quot;&apos;"), 0, "A&B <CD>\"'"},
      {"referenced blanks kept", named("&#32;x&#32;"), 0, " x "},
      {"'&' of an unknown reference dropped", named("R&D"), 0, "RD"},
      {"CDATA as written", named("<![CDATA[ A  B ]]>"), 0, " A  B "},
      {"text up to a comment", named("Lab<!--c-->more"), 0, "Lab"},
      {"blank text is no node", named("&#32;<![CDATA[x]]>"), 0, "x"},
      {"reference in a UTF-8 list", named("K&#228;m"), 0, "K\xC3\xA4m"},
      {"reference in an ISO-8859-1 list",
       named("K&#228;m", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"), 0, "K\xE4m"},
      {"byte order mark", "\xEF\xBB\xBF" + named("Lab"), 0, "Lab"},
      {"simple document type", replaced(named("Lab"), "<QVv3>", "<!DOCTYPE QVv3><QVv3>"), 0, "Lab"},
      {"text after the root ends the list", named("Lab") + "junk <b", 0, "Lab"},
      {"NUL byte ends the list", named("Lab") + std::string("\0<b", 3), 0, "Lab"},
      {"comment first: no text", named("<!--c-->Lab"), -2, ""},
      {"element first: no text", named("<b/>Lab"), -2, ""},
      {"only a comment", "<!-- nothing -->", -2, ""},
      {"document type with an internal subset ends the list",
       replaced(named("Lab"), "<QVv3>", "<!DOCTYPE QVv3 [<!ENTITY e 'v'>]><QVv3>"), -2, ""},
      {"numeric reference without ';'", named("&#65"), -1, ""},
      {"numeric reference with a letter", named("&#6a;"), -1, ""},
      {"malformed reference in an attribute",
       replaced(named("Lab"), "<QVv3>", "<QVv3 a='&#x;&#1z;'>"), -1, ""},
      {"repeated attribute", replaced(named("Lab"), "<QVv3>", "<QVv3 a='1' a='2'>"), -1, ""},
      {"text ahead of the root", "x" + named("Lab"), -1, ""},
      {"empty", "", -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(loadText(c.text), c.code == 0) << m_stderr;
    EXPECT_EQ(m_list.lastLoadCode(), c.code);
    EXPECT_EQ(m_list.getSystemName(), c.systemName);
  }
}
