// Schema rules: every broken rule yields its code and its message (with the
// element's index where it has one), and the load fails with -2.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "syslist/syslist_xml.h"
#include "syslist_files.h"

using namespace sltest;

namespace {

struct Case {
  const char* what;
  std::string xml;
  int code;
  std::string message;  // expected on standard error
};

const std::string kHead = "<Name>TestSystem</Name><TineContext>TESTCTX</TineContext>";
const std::string kOneSgp = sgp("sgp1");

std::string withSources(const std::string& sources) { return sysList(sources, kOneSgp); }

std::vector<Case> failingCases() {
  const std::string ok = source("ok=1");
  return {
      {"root missing", "<Other/>", -1, "Main Tag 'QVv3' missing."},
      {"system name missing", "<QVv3><TineContext>C</TineContext><ComponentList/></QVv3>", -2,
       "Tag QVv3>/<Name> missing or malformed valid:String[len=1..64]."},
      {"system name empty", sysList(ok, kOneSgp, "", "<Name></Name><TineContext>C</TineContext>"),
       -2, "Tag QVv3>/<Name> missing"},
      {"system name 65",
       sysList(ok, kOneSgp, "", element("Name", nameOfLength(65)) + "<TineContext>C</TineContext>"),
       -2, "Tag QVv3>/<Name> missing"},
      {"context missing", sysList(ok, kOneSgp, "", "<Name>S</Name>"), -37,
       "Mandatory tag <QVv3>/<TineContext> missing or malformed (valid:String[len=1..32])."},
      {"context 33",
       sysList(ok, kOneSgp, "", "<Name>S</Name>" + element("TineContext", nameOfLength(33))), -37,
       "Mandatory tag <QVv3>/<TineContext>"},
      {"component list missing", "<QVv3>" + kHead + "</QVv3>", -3,
       "Tag <QVv3>/<Components> not found."},
      {"image sources missing", "<QVv3>" + kHead + "<ComponentList/></QVv3>", -4,
       "Tag <QVv3>/<Components>/<SGPs> not found."},
      {"image source as text", withSources(ok + "ImageSource"), -5,
       "<ImageSources>/<ImageSource> #002: Illegal ImageSource node."},
      {"second NameID",
       withSources(ok + element("ImageSource",
                                "<NameID>a=1</NameID><NameID>b=2</NameID>"
                                "<SGPType>PCVision</SGPType>")),
       -6, "<ImageSources>/<ImageSource> #002 /NameID was found multiple times."},
      {"second SGPType in the third source",
       withSources(ok + source("b=2") +
                   element("ImageSource",
                           "<NameID>c=3</NameID><SGPType>PCVision</SGPType>"
                           "<SGPType>DirectShow</SGPType>")),
       -7, "<ImageSources>/<ImageSource> #003 /SGPType was found multiple times."},
      {"NameID without text",
       withSources(element("ImageSource", "<NameID/><SGPType>PCVision</SGPType>")), -8,
       "<ImageSources>/<ImageSource> #001 /NameID is malformed or invalid "
       "(valid:String[len=3..73], "
       "e.g. \"10203040=FirstScreen\", INT[0,99999999]=String[1..64])."},
      {"unknown SGPType", withSources(source("a=1", "Webcam")), -9,
       "<ImageSources>/<ImageSource> #001 /SGPType is malformed or invalid (valid: special "
       "strings[len<=32]), e.g. PCVision, ProsilicaGigE, ..."},
      {"no NameID", withSources(element("ImageSource", "<SGPType>PCVision</SGPType>")), -10,
       "<ImageSources>/<ImageSource> #001 /NameID was not found."},
      {"no SGPType", withSources(element("ImageSource", "<NameID>a=1</NameID>")), -11,
       "<ImageSources>/<ImageSource> #001 /SGPType was not found."},
      {"group as text", withSources(ok + group("g1", "ok") + "oImageSourceGroup"), -12,
       "<ImageSources>/<oImageSourceGroup> #002: Illegal oImageSourceGroup node."},
      {"group without name",
       withSources(ok + element("oImageSourceGroup", element("ImageSourceNames", "ok"))), -13,
       "<ImageSources>/<oImageSourceGroup> #001 /<Name> is missing or invalid "
       "(valid:String[len=1..64])."},
      {"group with two names",
       withSources(ok + element("oImageSourceGroup",
                                "<Name>a</Name><Name>b</Name>"
                                "<ImageSourceNames>ok</ImageSourceNames>")),
       -13, "#001 /<Name> is missing or invalid"},
      {"group name 65", withSources(ok + group(nameOfLength(65), "ok")), -13,
       "#001 /<Name> is missing or invalid"},
      {"name list 201",
       withSources(ok + group("g", nameOfLength(60) + ":" + nameOfLength(60) + ":" +
                                       nameOfLength(60) + ":" + nameOfLength(18))),
       -14,
       "<ImageSources>/<oImageSourceGroup> #001 /<ImageSourceNames> is missing or invalid "
       "(valid:String[len=1..200])."},
      {"name list empty", withSources(ok + group("g", "")), -14, "#001 /<ImageSourceNames> is"},
      {"listed name 65", withSources(ok + group("g", "ok:" + nameOfLength(65))), -15,
       "<ImageSources>/<oImageSourceGroup> #001 /<ImageSourceNames>/<ImageSourceName> One of "
       "the single names is invalid (valid:String[1..64], no ':', no '=')."},
      {"listed name with =", withSources(ok + group("g", "ok:a=b")), -15,
       "#001 /<ImageSourceNames>"},
      {"group without list", withSources(ok + element("oImageSourceGroup", "<Name>g</Name>")), -16,
       "<ImageSources>/<oImageSourceGroup> #001 /<ImageSourceNames>/<ImageSourceName> must "
       "contain at least one image source name."},
      {"group list of separators", withSources(ok + group("g", "::")), -16,
       "#001 /<ImageSourceNames>/<ImageSourceName> must contain"},
      {"no SGP", sysList(ok, ""), -17,
       "<QVv3>/<SGPs>/<SGP> not found a single time. This is invalid. One or more tags like "
       "this must exist."},
      {"SGP as text", sysList(ok, kOneSgp + "SGP"), -18, "<SGPs>/<SGP> #002 Illegal SGP node."},
      {"bad group reference", sysList(ok, sgp("s", "PCVision", groupRef("a:b"))), -19,
       "<SGPs>/<SGP> #001 one of the oImageSourceGroupName subtags is malformed "
       "(valid:String[1..64], no ':', no '=')."},
      {"bad source reference", sysList(ok, kOneSgp + sgp("s", "PCVision", sourceRef("a=b"))), -20,
       "<SGPs>/<SGP> #002 one of the oImageSourceName subtags is malformed"},
      {"empty source reference", sysList(ok, sgp("s", "PCVision", "<oImageSourceName/>")), -20,
       "<SGPs>/<SGP> #001 one of the oImageSourceName subtags is malformed"},
      {"SGP name with colon", sysList(ok, sgp("a:b")), -21,
       "<SGPs>/<SGP> #001 Name node malformed (valid:String[1..64], no ':', no '=')."},
      {"SGP name 65", sysList(ok, sgp(nameOfLength(65))), -21, "#001 Name node malformed"},
      {"SGP with two names", sysList(ok, sgp("s", "PCVision", "<Name>t</Name>")), -22,
       "<SGPs>/<SGP> #001 Name node found multiple times."},
      {"SGP type unknown", sysList(ok, sgp("s", "Webcam")), -23,
       "<SGPs>/<SGP> #001 Type node malformed/invalid (valid: special strings[len<=32]), e.g. "
       "PCVision, ProsilicaGigE, ...)."},
      {"SGP with two types", sysList(ok, sgp("s", "PCVision", "<Type>DirectShow</Type>")), -24,
       "<SGPs>/<SGP> #001 Type node found multiple times."},
      {"SGP without name", sysList(ok, element("SGP", "<Type>PCVision</Type>")), -25,
       "<SGPs>/<SGP> #001 Name node not found."},
      {"SGP without type", sysList(ok, element("SGP", "<Name>s</Name>")), -26,
       "<SGPs>/<SGP> #001 Type node not found."},
      {"GS2CL as text", sysList(ok, kOneSgp, element("oGS2CLs", "GS2CL")), -27,
       "<oGS2CLs>/<GS2CL> #001 Illegal GS2CLnode"},
      {"GS2CL bad SGP name",
       sysList(ok, kOneSgp, element("oGS2CLs", converter("GS2CL", "g", sgpRef("")))), -28,
       "<oGS2CLs>/<GS2CL> #001 one of the oSGPName subtags is malformed. "},
      {"GS2CL bad name", sysList(ok, kOneSgp, element("oGS2CLs", converter("GS2CL", "g=1"))), -29,
       "<oGS2CLs>/<GS2CL> #001 Name node malformed (valid:String[1..64], no ':', no '=')."},
      {"GS2CL without name",
       sysList(ok, kOneSgp, element("oGS2CLs", converter("GS2CL", "g") + element("GS2CL", ""))),
       -30, "<oGS2CLs>/<GS2CL> #002 Name node not found."},
      {"GS2CL with two names",
       sysList(ok, kOneSgp, element("oGS2CLs", converter("GS2CL", "g", "<Name>h</Name>"))), -31,
       "<oGS2CLs>/<GS2CL> #001 Name node found multiple times."},
      {"Raw2Jpeg as text", sysList(ok, kOneSgp, element("oRaw2Jpegs", "Raw2Jpeg")), -32,
       "<oRaw2Jpegs>/<Raw2Jpeg> #001 Illegal Raw2Jpeg node"},
      {"Raw2Jpeg bad SGP name",
       sysList(ok, kOneSgp, element("oRaw2Jpegs", converter("Raw2Jpeg", "r", sgpRef("x:y")))), -33,
       "<oRaw2Jpegs>/<Raw2Jpeg> #001 one of the oSGPName subtags malformed "
       "(valid:String[1..64], no ':', no '=')."},
      {"Raw2Jpeg bad name",
       sysList(ok, kOneSgp, element("oRaw2Jpegs", converter("Raw2Jpeg", nameOfLength(65)))), -34,
       "<oRaw2Jpegs>/<Raw2Jpeg> #001 Name node malformed (valid:String[1..64], no ':', no '=')."},
      {"Raw2Jpeg without name",
       sysList(ok, kOneSgp, element("oRaw2Jpegs", element("Raw2Jpeg", ""))), -35,
       "<oRaw2Jpegs>/<Raw2Jpeg> #001 Name node not found."},
      {"Raw2Jpeg with two names",
       sysList(ok, kOneSgp, element("oRaw2Jpegs", converter("Raw2Jpeg", "r", "<Name>q</Name>"))),
       -36, "<oRaw2Jpegs>/<Raw2Jpeg> #001 Name node found multiple times."},
  };
}

int validateText(const std::string& xml, CLogging& log, std::string& logged) {
  pugi::xml_document document;
  EXPECT_TRUE(qv::syslist::parseSysListXml(xml, document)) << xml;
  ::testing::internal::CaptureStderr();
  const int code = qv::syslist::validateDocument(document, true, &log);
  logged = ::testing::internal::GetCapturedStderr();
  return code;
}

}  // namespace

TEST_F(SysListTest, EveryBrokenRuleHasItsCodeAndMessage) {
  for (const Case& c : failingCases()) {
    SCOPED_TRACE(c.what);
    std::string logged;
    EXPECT_EQ(validateText(c.xml, m_log, logged), c.code);
    EXPECT_NE(logged.find(c.message), std::string::npos) << logged;
    EXPECT_NE(logged.find(" LTM] "), std::string::npos) << logged;

    // Through load: -2, the validation line first, then the load line.
    EXPECT_FALSE(loadText(c.xml));
    EXPECT_EQ(m_list.lastLoadCode(), -2);
    EXPECT_FALSE(m_list.isLoaded());
    EXPECT_EQ(countLines("\n"), 2) << m_stderr;
    EXPECT_NE(m_stderr.find("[syslist] Syslist file contents could not be validated. File=\"" +
                            m_path + "\""),
              std::string::npos)
        << m_stderr;
  }
}

TEST_F(SysListTest, ValidationFailureIsLoggedEvenWhenLoadIsQuiet) {
  EXPECT_FALSE(loadText(sysList(source("a=1", "Webcam"), sgp("s")), false));
  EXPECT_NE(m_stderr.find("#001 /SGPType is malformed"), std::string::npos);
  EXPECT_EQ(m_stderr.find("[syslist]"), std::string::npos);
}

TEST_F(SysListTest, NameIdTextsAtAndBeyondTheirLimits) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"a=0", true},                           // shortest whole text
      {nameOfLength(64) + "=99999999", true},  // 73 characters, largest number
      {nameOfLength(64) + "=00000001", true},
      {nameOfLength(65) + "=1", false},           // name too long
      {nameOfLength(63) + "=1234567890", false},  // 74 characters
      {"a=100000000", false},                     // number too large
      {"a=99999999999999999999999", false},       // no overflow to a small number
      {"ab", false},
      {"cam1", false},
      {"=12", false},
      {"cam1=", false},
      {"a:b=1", false},
      {"cam1=12x", false},
      {"cam1=-1", false},
      {"10203040=FirstScreen", true},          // number first, as message -8 shows
      {"99999999=" + nameOfLength(64), true},  // number first at 73 characters
      {"1=" + nameOfLength(65), false},        // number first, name too long
      {"100000000=cam", false},                // number first, number too large
      {"99999999999999999999999=cam", false},
      {"-1=cam", false},
      {"1=a=b", false},  // number first, name holding '='
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string logged;
    const std::string xml = sysList(source(c.text), sgp("s"));
    EXPECT_EQ(validateText(xml, m_log, logged), c.valid ? 0 : -8) << logged;
    EXPECT_EQ(loadText(xml), c.valid) << m_stderr;
  }
}

TEST_F(SysListTest, NameIdGivesNameLeftAndNumberRightOfTheEqualSign) {
  ASSERT_TRUE(loadText(sysList(source("cam1=4711") + source("cam2=0042", "DirectShow"), sgp("s"))))
      << m_stderr;
  uint32_t id = 0;
  ASSERT_TRUE(m_list.getNameIdOfImageSource("cam1", id));
  EXPECT_EQ(id, 4711u);
  ASSERT_TRUE(m_list.getNameIdOfImageSource("cam2", id));
  EXPECT_EQ(id, 42u);
  EXPECT_FALSE(m_list.getNameIdOfImageSource("CAM1", id));  // exact look-up
  int32_t type = 0;
  ASSERT_TRUE(m_list.getSGPTypeByNameId(42, type));
  EXPECT_EQ(type, 4);
  EXPECT_STREQ(qv::syslist::sgpTypeToName(type), "DirectShow");
  EXPECT_STREQ(qv::syslist::sgpTypeToName(9), "Unknown SGP Type");
  EXPECT_STREQ(qv::syslist::sgpTypeToName(0), "Unknown SGP Type");
}

TEST_F(SysListTest, NameIdInEitherOrderLoadsToTheSameNameAndNumber) {
  const struct {
    std::string text;
    std::string name;
    uint32_t id;
  } cases[] = {
      {"cam1=4711", "cam1", 4711},
      {"4711=cam1", "cam1", 4711},
      {"FirstScreen=10203040", "FirstScreen", 10203040},
      {"10203040=FirstScreen", "FirstScreen", 10203040},
      {"cam2=0042", "cam2", 42},
      {"0042=cam2", "cam2", 42},
      {"x=0", "x", 0},
      {"0=x", "x", 0},
      {"123=456", "123", 456},  // all digits on the right: name first
      {"1a=2", "1a", 2},
      {"2=1a", "1a", 2},
      {"my cam=7", "my cam", 7},
      {"7=my cam", "my cam", 7},
      {nameOfLength(64) + "=99999999", nameOfLength(64), 99999999},
      {"99999999=" + nameOfLength(64), nameOfLength(64), 99999999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    qv::syslist::NameId parsed;
    ASSERT_TRUE(qv::syslist::parseNameId(c.text, parsed));
    EXPECT_EQ(parsed.name, c.name);
    EXPECT_EQ(parsed.number, c.id);

    const std::string xml = sysList(source(c.text), sgp("s"));
    std::string logged;
    EXPECT_EQ(validateText(xml, m_log, logged), 0) << logged;
    ASSERT_TRUE(loadText(xml)) << m_stderr;
    uint32_t id = 0;
    ASSERT_TRUE(m_list.getNameIdOfImageSource(c.name.c_str(), id));
    EXPECT_EQ(id, c.id);
    EXPECT_TRUE(m_list.existsImageSource(c.name.c_str()));

    // The exported listing gives the same pair.
    QVIMAGESOURCEPAIR pair[2];
    std::memset(pair, 0, sizeof pair);
    unsigned count = 2;
    ASSERT_EQ(qvGetAllImageSourceNames(m_path.c_str(), nullptr, pair, &count), 1);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(std::string(pair[0].name, strnlen(pair[0].name, 64)), c.name);
    EXPECT_EQ(pair[0].nameId, static_cast<int32_t>(c.id));
  }
}

TEST_F(SysListTest, NameIdInBothOrdersNamesTheSameSourceTwice) {
  // The same name written in both orders is one name twice.
  EXPECT_FALSE(loadText(sysList(source("cam1=1") + source("2=CAM1"), sgp("s"))));
  EXPECT_EQ(m_list.lastLoadCode(), -7);
  // Mixed orders in one file, referenced by name.
  ASSERT_TRUE(loadText(sysList(source("cam1=1") + source("2=cam2") + group("g", "cam1:cam2"),
                               sgp("s", "PCVision", groupRef("g")))))
      << m_stderr;
  uint32_t id = 0;
  ASSERT_TRUE(m_list.getNameIdOfImageSource("cam2", id));
  EXPECT_EQ(id, 2u);
  EXPECT_EQ(m_list.testConnection("cam2", "s"), 0);
}

TEST_F(SysListTest, NameIdThatIsNeitherOrderIsRefused) {
  const std::string refused[] = {
      "cam1",  // no '='
      "1234",
      "=12",  // empty name side
      "=cam",
      "cam1=",  // empty number side
      "12=",
      "cam=cam",  // no number on either side
      "12a=34b", "a1=b2",
      "12 =cam",  // blanks are no digits
      "cam= 12", "+12=cam",
      "1=a=b",  // the name would hold '='
      "a=1=2",   "1=2=3",
      "1=a:b",  // ':' nowhere
      "a:b=1",   "0x10=cam", "==1",
  };
  for (const std::string& text : refused) {
    SCOPED_TRACE(text);
    qv::syslist::NameId parsed;
    parsed.name = "untouched";
    parsed.number = 77;
    EXPECT_FALSE(qv::syslist::parseNameId(text, parsed));
    EXPECT_EQ(parsed.name, "untouched");
    EXPECT_EQ(parsed.number, 77u);

    const std::string xml = sysList(source(text), sgp("s"));
    std::string logged;
    EXPECT_EQ(validateText(xml, m_log, logged), -8) << logged;
    EXPECT_NE(logged.find("#001 /NameID is malformed or invalid"), std::string::npos) << logged;
    EXPECT_FALSE(loadText(xml));
    EXPECT_EQ(m_list.lastLoadCode(), -2);
  }
}

TEST_F(SysListTest, TypeNamesIgnoreCaseAndLimitsAreInclusive) {
  const std::string xml =
      sysList(source("a=1", "PLEORA-EBUS") + source("b=2", "labviewtoqvv3") + group("g", "a"),
              sgp(nameOfLength(64), "Pleora-eBus"), "",
              element("Name", nameOfLength(64)) + element("TineContext", nameOfLength(32)));
  std::string logged;
  EXPECT_EQ(validateText(xml, m_log, logged), 0) << logged;
  ASSERT_TRUE(loadText(xml)) << m_stderr;
  EXPECT_EQ(m_list.getSystemName(), nameOfLength(64));
  EXPECT_EQ(m_list.getTineContext(), nameOfLength(32));
  int32_t type = 0;
  ASSERT_TRUE(m_list.getTypeOfSGP(nameOfLength(64).c_str(), type));
  EXPECT_EQ(type, 8);
  ASSERT_TRUE(m_list.getSGPTypeOfImageSource("b", type));
  EXPECT_EQ(type, 7);
}

TEST_F(SysListTest, CommentsAndUnknownElementsAreIgnored) {
  const std::string xml =
      sysList("<!--ImageSource-->" + source("a=1") + "<Remark>x</Remark>" +
                  element("ImageSource", "<NameID>b=2</NameID><Extra/><SGPType>PCVision</SGPType>"),
              "<!--SGP-->" + sgp("s", "PCVision", "<Note>n</Note>"));
  std::string logged;
  EXPECT_EQ(validateText(xml, m_log, logged), 0) << logged;
  EXPECT_TRUE(loadText(xml)) << m_stderr;
}
