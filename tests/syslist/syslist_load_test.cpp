// Loading: unreadable and malformed files, cross-checks with their codes and
// messages, and the resolution of groups and SGP source lists.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "syslist_files.h"

using namespace sltest;

namespace {

// The names an SGP serves, as the query copies them.
std::vector<std::string> sourcesOf(const CSysList& list, const char* sgpName) {
  uint32_t count = 0;
  if (!list.getNumberOfImageSourcesOfSGP(sgpName, count)) return {"<query failed>"};
  std::vector<char> slots(count * 64 + 1);
  if (!list.getImageSourceNamesOfSGP(sgpName, slots.data(), count)) return {"<query failed>"};
  std::vector<std::string> names;
  for (uint32_t i = 0; i < count; ++i)
    names.emplace_back(slots.data() + i * 64, strnlen(slots.data() + i * 64, 64));
  return names;
}

using Names = std::vector<std::string>;

}  // namespace

TEST_F(SysListTest, UnreadableOrMalformedFilesFailWithMinusOne) {
  const std::string expected = "[syslist] Opening up syslist on startup failed. File=\"";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty file", ""},
      {"not XML", "hello"},
      {"unclosed element", "<QVv3><Name>x</Name>"},
      {"mismatched tags", "<QVv3><Name>x</Nme></QVv3>"},
      {"second root after the list", minimalSysList() + "<QVv3>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(loadText(c.text));
    EXPECT_EQ(m_list.lastLoadCode(), -1);
    EXPECT_NE(m_stderr.find(expected + m_path + "\""), std::string::npos) << m_stderr;
  }

  const std::string missing = m_dir.file("no-such-file.xml");
  EXPECT_FALSE(loadPath(missing));
  EXPECT_NE(m_stderr.find(expected + missing + "\""), std::string::npos) << m_stderr;
  EXPECT_FALSE(loadPath(m_dir.path()));  // a directory is no file
  EXPECT_EQ(m_list.lastLoadCode(), -1);
  writeFile(m_dir.file("plain"), "x");
  EXPECT_FALSE(loadPath(m_dir.file("plain") + "/syslist.xml"));
  EXPECT_EQ(m_list.lastLoadCode(), -1);
  EXPECT_FALSE(m_list.load(nullptr, false, &m_log));
  // Without a log nothing is reported, and nothing breaks.
  writeFile(m_path, sysList(source("a=1") + group("g", "x"), sgp("s", "PCVision", groupRef("g"))));
  EXPECT_FALSE(m_list.load(m_path.c_str(), true, nullptr));
  EXPECT_EQ(m_list.lastLoadCode(), -12);
  writeFile(m_path, minimalSysList());
  EXPECT_TRUE(m_list.load(m_path.c_str(), true, nullptr));
}

TEST_F(SysListTest, DeeplyNestedFileIsRefusedWithoutExhaustingTheStack) {
  std::string text = "<QVv3>";
  for (int i = 0; i < 200000; ++i) text += "<a>";
  EXPECT_FALSE(loadText(text));
  EXPECT_EQ(m_list.lastLoadCode(), -1);

  // Self-closing elements, comments and quoted '>' do not count as depth.
  std::string flat = minimalSysList();
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "<x a=\"1>2\"/><!-- <y> -->";
  flat.insert(flat.find("<Name>"), many);
  EXPECT_TRUE(loadText(flat)) << m_stderr;
}

TEST_F(SysListTest, UnreadableFileFails) {
#if defined(_WIN32)
  GTEST_SKIP() << "file modes do not keep a Windows file from being read";
#else
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
#endif
  const std::string path = m_dir.file("locked.xml");
  writeFile(path, minimalSysList());
  ::chmod(path.c_str(), 0);
  EXPECT_FALSE(loadPath(path));
  EXPECT_EQ(m_list.lastLoadCode(), -1);
}

TEST_F(SysListTest, HugeFileIsNotReadIntoMemory) {
  const std::string path = m_dir.file("huge.xml");
  writeFile(path, minimalSysList());
  ASSERT_EQ(::truncate(path.c_str(), 17LL * 1024 * 1024), 0);  // sparse: costs no disk
  EXPECT_FALSE(loadPath(path));
  EXPECT_EQ(m_list.lastLoadCode(), -1);
}

TEST_F(SysListTest, CrLfLineEndsAreAccepted) {
  std::string text = minimalSysList();
  std::string crlf;
  for (char c : text) crlf += (c == '>' ? std::string(">\r\n") : std::string(1, c));
  EXPECT_TRUE(loadText(crlf)) << m_stderr;
}

TEST_F(SysListTest, CrossCheckFailuresHaveTheirCodesAndMessages) {
  const struct {
    const char* what;
    std::string xml;
    int code;
    std::string message;
  } cases[] = {
      {"only groups", sysList(group("g", "a"), sgp("s")), -14,
       "[syslist] At least one Image Source must exist."},
      {"source named like an SGP", sysList(source("cam1=1"), sgp("CAM1")), -7,
       "[syslist] At least one (unique) ID or Name exist more than once. This is illegal."},
      {"two sources, one name", sysList(source("cam=1") + source("Cam=2"), sgp("s")), -7,
       "[syslist] At least one (unique) ID"},
      {"group named like a GS2CL",
       sysList(source("a=1") + group("G", "a"), sgp("s"),
               element("oGS2CLs", converter("GS2CL", "g"))),
       -7, "[syslist] At least one (unique) ID"},
      {"Raw2Jpeg names a missing SGP",
       sysList(source("a=1"), sgp("s"),
               element("oRaw2Jpegs", converter("Raw2Jpeg", "r", sgpRef("t")))),
       -8, "[syslist] One of the Raw2Jpeg components reference nonexisting SGP Name."},
      {"GS2CL names a missing SGP",
       sysList(source("a=1"), sgp("s"), element("oGS2CLs", converter("GS2CL", "g", sgpRef("t")))),
       -9, "[syslist] One of the GS2CL components reference nonexisting SGP Name."},
      {"SGP names a missing source", sysList(source("a=1"), sgp("s", "PCVision", sourceRef("b"))),
       -10, "[syslist] One of the SGP components reference nonexisting Image Source Name."},
      {"SGP names a missing group", sysList(source("a=1"), sgp("s", "PCVision", groupRef("g"))),
       -11, "[syslist] One of the SGP components reference nonexisting Image Source Group Name."},
      {"SGP names a source as a group", sysList(source("a=1"), sgp("s", "PCVision", groupRef("a"))),
       -11, "[syslist] One of the SGP components reference nonexisting Image Source Group Name."},
      {"group names a missing source",
       sysList(source("a=1") + group("g", "a:ghost"), sgp("s", "PCVision", groupRef("g"))), -12,
       "[syslist] Warning: Imagesourcegroup (\"g\") contains non-existant image source "
       "(\"ghost\")."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(loadText(c.xml));
    EXPECT_EQ(m_list.lastLoadCode(), c.code);
    EXPECT_NE(m_stderr.find(c.message), std::string::npos) << m_stderr;
    EXPECT_FALSE(m_list.isLoaded());
  }
  // -12 also carries the load message after the warning.
  EXPECT_NE(m_stderr.find("[syslist] One of the Image Source groups reference nonexisting Image "
                          "Source Name."),
            std::string::npos);
}

TEST_F(SysListTest, QuietLoadLogsNoOutcome) {
  EXPECT_FALSE(loadText(sysList(source("cam1=1"), sgp("CAM1")), false));
  EXPECT_EQ(m_list.lastLoadCode(), -7);
  EXPECT_TRUE(m_stderr.empty()) << m_stderr;
  EXPECT_FALSE(loadPath(m_dir.file("missing"), false));
  EXPECT_TRUE(m_stderr.empty()) << m_stderr;
}

TEST_F(SysListTest, SGPWithoutReferencesServesAllSourcesOfItsType) {
  ASSERT_TRUE(loadText(sysList(
      source("p1=1") + source("d1=2", "DirectShow") + source("p2=3") + source("x=4", "pleora-ebus"),
      sgp("pc") + sgp("ds", "DirectShow") + sgp("jai", "JaiPulnixGigE") +
          sgp("listed", "PCVision", sourceRef("X")))))
      << m_stderr;
  EXPECT_EQ(sourcesOf(m_list, "pc"), (Names{"p1", "p2"}));
  EXPECT_EQ(sourcesOf(m_list, "DS"), (Names{"d1"}));
  EXPECT_EQ(sourcesOf(m_list, "jai"), Names{});  // none of its type: empty, still loads
  // Named sources are taken as they are, whatever their type, spelled as the source.
  EXPECT_EQ(sourcesOf(m_list, "listed"), (Names{"x"}));
  EXPECT_TRUE(m_stderr.empty()) << m_stderr;
}

TEST_F(SysListTest, GroupsResolveIntoSGPsWithOneWarningPerDuplicate) {
  ASSERT_TRUE(loadText(sysList(
      source("a=1") + source("b=2") + source("c=3") + group("g1", "B:A") + group("g2", "::c::b:"),
      sgp("s", "DirectShow", sourceRef("a") + groupRef("G1") + groupRef("g2")))))
      << m_stderr;
  // a listed directly; g1 adds b (A is a duplicate); g2 adds c (b again a duplicate).
  EXPECT_EQ(sourcesOf(m_list, "s"), (Names{"a", "b", "c"}));
  EXPECT_EQ(countLines("[syslist] Warning:"), 2) << m_stderr;
  EXPECT_NE(m_stderr.find("[syslist] Warning: Imagesourcegroup contains image source (\"A\") "
                          "that is already bound to that SGP (\"a\")."),
            std::string::npos)
      << m_stderr;
  EXPECT_NE(m_stderr.find("image source (\"b\") that is already bound to that SGP (\"B\")."),
            std::string::npos)
      << m_stderr;
  // Groups are resolved away.
  EXPECT_FALSE(m_list.existsImageSourceGroup("g1"));
}

TEST_F(SysListTest, NameListsOfExactly200CharactersLoad) {
  const std::string n1 = nameOfLength(50, 'a'), n2 = nameOfLength(49, 'b'),
                    n3 = nameOfLength(49, 'c'), n4 = nameOfLength(49, 'd');
  const std::string list = n1 + ":" + n2 + ":" + n3 + ":" + n4;
  ASSERT_EQ(list.size(), 200u);
  const std::string sources =
      source(n1 + "=1") + source(n2 + "=2") + source(n3 + "=3") + source(n4 + "=4");
  ASSERT_TRUE(loadText(sysList(sources + group("g", list), sgp("s", "PCVision", groupRef("g")))))
      << m_stderr;
  EXPECT_EQ(sourcesOf(m_list, "s"), (Names{n1, n2, n3, n4}));

  EXPECT_FALSE(loadText(sysList(sources + group("g", list + "e"), sgp("s"))));
  EXPECT_EQ(m_list.lastLoadCode(), -2);
  EXPECT_NE(m_stderr.find("#001 /<ImageSourceNames> is missing or invalid"), std::string::npos);
}

TEST_F(SysListTest, ConvertersServeTheirSGPsOrAllWhenTheyNameNone) {
  ASSERT_TRUE(loadText(sysList(
      source("a=1") + source("b=2", "DirectShow"), sgp("s1") + sgp("s2", "DirectShow"),
      element("oGS2CLs", converter("GS2CL", "gAll") + converter("GS2CL", "gOne", sgpRef("S2"))) +
          element("oRaw2Jpegs", converter("Raw2Jpeg", "r1", sgpRef("s1") + sgpRef("s2"))))))
      << m_stderr;
  char slots[4 * 64];
  uint32_t count = 4;
  ASSERT_TRUE(m_list.getConvertersServingSGP("s1", slots, count));
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(slots, "gAll");
  EXPECT_STREQ(slots + 64, "r1");
  count = 4;
  ASSERT_TRUE(m_list.getGS2CLsServingSGP("s2", slots, count));
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(slots + 64, "gOne");

  EXPECT_EQ(m_list.testConnection("a", "s1"), 0);
  EXPECT_EQ(m_list.testConnection("a", "s2"), -4);
  EXPECT_EQ(m_list.testConnection("s1", "gAll"), 0);  // empty list: connected
  EXPECT_EQ(m_list.testConnection("gOne", "s1"), -4);
  EXPECT_EQ(m_list.testConnection("gOne", "S2"), 0);
  EXPECT_EQ(m_list.testConnection("nobody", "s1"), -2);
  EXPECT_EQ(m_list.testConnection("a", "gAll"), -3);

  count = 1;  // the Raw2Jpeg form refuses too few slots
  EXPECT_FALSE(m_list.getSGPNamesOfRaw2Jpeg("r1", slots, count));
  count = 2;
  EXPECT_TRUE(m_list.getSGPNamesOfRaw2Jpeg("R1", slots, count));
  EXPECT_EQ(count, 2u);
  count = 1;  // the GS2CL form copies what fits
  EXPECT_TRUE(m_list.getSGPNamesOfGS2CL("gOne", slots, count));
  EXPECT_EQ(count, 1u);

  count = 0;
  ASSERT_TRUE(m_list.getNumberOfSGPsHoldingImageSource("b", count));
  EXPECT_EQ(count, 1u);
}

TEST_F(SysListTest, FailedOrRepeatedLoadLeavesNoStaleContent) {
  ASSERT_TRUE(loadText(sysList(source("a=1") + source("b=2"), sgp("s"))));
  uint32_t count = 0;
  ASSERT_TRUE(m_list.getNumberOfImageSources(count));
  EXPECT_EQ(count, 2u);
  ASSERT_TRUE(loadText(minimalSysList()));
  ASSERT_TRUE(m_list.getNumberOfImageSources(count));
  EXPECT_EQ(count, 1u);

  EXPECT_FALSE(loadText(sysList(source("a=1"), sgp("A"))));
  count = 99;
  char slot[64];
  EXPECT_FALSE(m_list.getNumberOfImageSources(count));
  EXPECT_FALSE(m_list.getImageSourceNames(slot, count));
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(m_list.getSystemName(), "");
  EXPECT_EQ(m_list.getTineContext(), "");
  EXPECT_EQ(m_list.testConnection("a", "A"), -1);
}

TEST(SysListThreads, SeparateListsLoadOnSeveralThreadsAtOnce) {
  TempDir dir;
  CLogging log;
  ASSERT_TRUE(log.Init(nullptr, false, nullptr));
  constexpr int kThreads = 4;
  std::vector<std::string> paths;
  for (int t = 0; t < kThreads; ++t) {
    std::string sources;
    std::string groups;
    for (int i = 0; i < 20; ++i) {
      const std::string name = "t" + std::to_string(t) + "s" + std::to_string(i);
      sources += source(name + "=" + std::to_string(i));
      groups += group("g" + name, name + ":" + name + "x:" + name);
    }
    for (int i = 0; i < 20; ++i)
      sources += source("t" + std::to_string(t) + "s" + std::to_string(i) + "x=9");
    paths.push_back(dir.file("list" + std::to_string(t) + ".xml"));
    writeFile(paths.back(),
              sysList(sources + groups,
                      sgp("sgp", "PCVision", groupRef("gt" + std::to_string(t) + "s3"))));
  }
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  ::testing::internal::CaptureStderr();  // duplicate warnings
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 25; ++round) {
        CSysList list;
        uint32_t count = 0;
        if (!list.load(paths[t].c_str(), true, &log) ||
            !list.getNumberOfImageSourcesOfSGP("sgp", count) || count != 2) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ::testing::internal::GetCapturedStderr();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  log.Done();
}

TEST_F(SysListTest, SeveralHundredImageSourcesLoadWellUnderASecond) {
  std::string sources;
  std::string sgps;
  const char* types[] = {"PCVision", "ProsilicaGigE", "DirectShow", "pleora-ebus"};
  for (int i = 0; i < 600; ++i) {
    sources += source("camera" + std::to_string(i) + "=" + std::to_string(1000 + i), types[i % 4]);
  }
  for (int g = 0; g < 30; ++g) {
    std::string list;
    for (int k = 0; k < 10; ++k) list += (k ? ":camera" : "camera") + std::to_string(g * 20 + k);
    sources += group("group" + std::to_string(g), list);
  }
  for (int s = 0; s < 60; ++s) {
    std::string refs = s < 30 ? groupRef("group" + std::to_string(s)) : "";
    sgps += sgp("sgp" + std::to_string(s), types[s % 4], refs);
  }
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(loadText(
      sysList(sources, sgps, element("oGS2CLs", converter("GS2CL", "gs", sgpRef("sgp1"))))))
      << m_stderr;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  uint32_t count = 0;
  ASSERT_TRUE(m_list.getNumberOfImageSources(count));
  EXPECT_EQ(count, 600u);
  ASSERT_TRUE(m_list.getNumberOfImageSourcesOfSGP("sgp45", count));
  EXPECT_EQ(count, 150u);
  EXPECT_LT(seconds, 0.5) << "600 image sources took " << seconds << " s";
  RecordProperty("load_seconds", std::to_string(seconds));
}
