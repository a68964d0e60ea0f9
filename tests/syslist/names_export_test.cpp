// The two exported name listings: count protocol, slot and pair layout,
// nothing written past what the caller counted, failures on standard error.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quivox3/quivox3.h"
#include "syslist_files.h"

using namespace sltest;

namespace {

constexpr unsigned char kGuard = 0xA5;

const std::string kName64 = std::string(60, 'L') + "long";  // exactly 64 characters

// Five image sources (the last with a 64-character name) and three SGPs.
std::string fiveSources() {
  return sysList(source("cam1=11") + source("Cam2=22", "DirectShow") + source("cam3=0") +
                     group("grp", "cam1:cam3") + source("cam4=99999999") + source(kName64 + "=5"),
                 sgp("sgpA") + sgp("sgpB", "DirectShow") + sgp(std::string(64, 'S')), "",
                 "<Name>Sys</Name><TineContext>MYCONTEXT</TineContext>");
}

class NamesExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = m_dir.file("syslist.xml");
    writeFile(m_path, fiveSources());
  }
  // A buffer of `slots` slots of `slotSize` bytes plus guard bytes behind.
  static std::vector<unsigned char> guarded(size_t slots, size_t slotSize) {
    return std::vector<unsigned char>(slots * slotSize + 64, kGuard);
  }
  static bool guardsIntact(const std::vector<unsigned char>& buffer, size_t from) {
    for (size_t i = from; i < buffer.size(); ++i) {
      if (buffer[i] != kGuard) return false;
    }
    return true;
  }
  static std::string slotText(const std::vector<unsigned char>& buffer, size_t index,
                              size_t slotSize = 64) {
    const char* slot = reinterpret_cast<const char*>(buffer.data()) + index * slotSize;
    return std::string(slot, strnlen(slot, 64));
  }

  TempDir m_dir;
  std::string m_path;
};

}  // namespace

TEST(NamesExportLayout, PairIs68BytesWithTheNumberAfterTheNameSlot) {
  EXPECT_EQ(sizeof(QVIMAGESOURCEPAIR), 68u);
  EXPECT_EQ(offsetof(QVIMAGESOURCEPAIR, nameId), 64u);
}

TEST_F(NamesExportTest, NullPathOrCountDoesNothing) {
  unsigned count = 7;
  char slots[64 * 8];
  EXPECT_EQ(qvGetAllImageSourceNames(nullptr, slots, nullptr, &count), 0);
  EXPECT_EQ(qvGetAllImageSourceNames(m_path.c_str(), slots, nullptr, nullptr), 0);
  EXPECT_EQ(qvGetAllRawVideoServerNames(nullptr, nullptr, slots, &count), 0);
  EXPECT_EQ(qvGetAllRawVideoServerNames(m_path.c_str(), nullptr, slots, nullptr), 0);
  EXPECT_EQ(count, 7u);
}

TEST_F(NamesExportTest, NullArraysReportTheNumberAvailable) {
  unsigned count = 0;
  EXPECT_EQ(qvGetAllImageSourceNames(m_path.c_str(), nullptr, nullptr, &count), 1);
  EXPECT_EQ(count, 5u);
  count = 0;
  EXPECT_EQ(qvGetAllRawVideoServerNames(m_path.c_str(), nullptr, nullptr, &count), 1);
  EXPECT_EQ(count, 3u);
}

TEST_F(NamesExportTest, FewerSlotsThanSourcesAreFilledAndNoMore) {
  auto slots = guarded(3, 64);
  unsigned count = 3;
  ASSERT_EQ(qvGetAllImageSourceNames(m_path.c_str(), reinterpret_cast<char*>(slots.data()), nullptr,
                                     &count),
            1);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(slotText(slots, 0), "cam1");
  EXPECT_EQ(slotText(slots, 1), "Cam2");
  EXPECT_EQ(slotText(slots, 2), "cam3");
  EXPECT_TRUE(guardsIntact(slots, 3 * 64));
}

TEST_F(NamesExportTest, SixtyFourCharacterNamesFillTheirSlotWithoutTerminator) {
  auto slots = guarded(5, 64);
  unsigned count = 5;
  ASSERT_EQ(qvGetAllImageSourceNames(m_path.c_str(), reinterpret_cast<char*>(slots.data()), nullptr,
                                     &count),
            1);
  ASSERT_EQ(count, 5u);
  EXPECT_EQ(std::memcmp(slots.data() + 4 * 64, kName64.data(), 64), 0);
  EXPECT_TRUE(guardsIntact(slots, 5 * 64));  // the byte after the full slot is untouched
  // Shorter names are terminated and their slot's rest is cleared.
  EXPECT_EQ(slots[3 * 64 + 4], 0);
  EXPECT_EQ(slots[3 * 64 + 63], 0);

  auto servers = guarded(3, 64);
  count = 3;
  ASSERT_EQ(qvGetAllRawVideoServerNames(m_path.c_str(), nullptr,
                                        reinterpret_cast<char*>(servers.data()), &count),
            1);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(slotText(servers, 0), "sgpA");
  EXPECT_EQ(slotText(servers, 1), "sgpB");
  EXPECT_EQ(std::memcmp(servers.data() + 2 * 64, std::string(64, 'S').data(), 64), 0);
  EXPECT_TRUE(guardsIntact(servers, 3 * 64));
}

TEST_F(NamesExportTest, BothArraysGetNamesThenPairs) {
  auto slots = guarded(10, 64);
  auto pairBytes = guarded(10, sizeof(QVIMAGESOURCEPAIR));
  auto* pairs = reinterpret_cast<QVIMAGESOURCEPAIR*>(pairBytes.data());
  unsigned count = 10;
  ASSERT_EQ(qvGetAllImageSourceNames(m_path.c_str(), reinterpret_cast<char*>(slots.data()), pairs,
                                     &count),
            1);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(slotText(slots, 4), kName64);
  const int32_t ids[] = {11, 22, 0, 99999999, 5};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pairs[i].nameId, ids[i]) << i;
  EXPECT_EQ(slotText(pairBytes, 1, sizeof(QVIMAGESOURCEPAIR)), "Cam2");
  EXPECT_EQ(std::memcmp(pairs[4].name, kName64.data(), 64), 0);
  EXPECT_TRUE(guardsIntact(pairBytes, 5 * sizeof(QVIMAGESOURCEPAIR)));
  EXPECT_TRUE(guardsIntact(slots, 5 * 64));

  // Pairs only, into two: the first two pairs and nothing behind them.
  auto twoPairs = guarded(2, sizeof(QVIMAGESOURCEPAIR));
  count = 2;
  ASSERT_EQ(qvGetAllImageSourceNames(m_path.c_str(), nullptr,
                                     reinterpret_cast<QVIMAGESOURCEPAIR*>(twoPairs.data()), &count),
            1);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(reinterpret_cast<QVIMAGESOURCEPAIR*>(twoPairs.data())[1].nameId, 22);
  EXPECT_TRUE(guardsIntact(twoPairs, 2 * sizeof(QVIMAGESOURCEPAIR)));
}

TEST_F(NamesExportTest, ZeroCountWritesNothing) {
  auto slots = guarded(0, 64);
  unsigned count = 0;
  EXPECT_EQ(qvGetAllImageSourceNames(m_path.c_str(), reinterpret_cast<char*>(slots.data()), nullptr,
                                     &count),
            1);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(guardsIntact(slots, 0));
}

TEST_F(NamesExportTest, TineContextIsWrittenWithOrWithoutSlots) {
  char context[64];
  std::memset(context, 'x', sizeof context);
  unsigned count = 0;
  ASSERT_EQ(qvGetAllRawVideoServerNames(m_path.c_str(), context, nullptr, &count), 1);
  EXPECT_STREQ(context, "MYCONTEXT");
  EXPECT_EQ(count, 3u);

  auto servers = guarded(1, 64);
  count = 1;
  std::memset(context, 'x', sizeof context);
  ASSERT_EQ(qvGetAllRawVideoServerNames(m_path.c_str(), context,
                                        reinterpret_cast<char*>(servers.data()), &count),
            1);
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(context, "MYCONTEXT");
  EXPECT_EQ(slotText(servers, 0), "sgpA");
  EXPECT_TRUE(guardsIntact(servers, 64));
}

TEST_F(NamesExportTest, LoadFailuresReturnMinusOneAndAreReportedOnStandardError) {
  const std::string missing = m_dir.file("missing.xml");
  unsigned count = 4;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(qvGetAllImageSourceNames(missing.c_str(), nullptr, nullptr, &count), -1);
  std::string logged = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count, 4u);
  EXPECT_NE(logged.find(" LTM] [syslist] Opening up syslist on startup failed. File=\"" + missing +
                        "\"\n"),
            std::string::npos)
      << logged;

  const std::string invalid = m_dir.file("invalid.xml");
  writeFile(invalid, sysList(source("a=1"), sgp("s", "PCVision", sourceRef("b"))));
  char context[64] = "untouched";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(qvGetAllRawVideoServerNames(invalid.c_str(), context, nullptr, &count), -1);
  logged = ::testing::internal::GetCapturedStderr();
  EXPECT_STREQ(context, "untouched");
  EXPECT_NE(logged.find("[syslist] One of the SGP components reference nonexisting Image Source "
                        "Name."),
            std::string::npos)
      << logged;

  writeFile(invalid, sysList(source("a=1") + source("b=2") +
                                 element("ImageSource",
                                         "<NameID>c=3</NameID>"
                                         "<SGPType>PCVision</SGPType>"
                                         "<SGPType>PCVision</SGPType>"),
                             sgp("s")));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(qvGetAllImageSourceNames(invalid.c_str(), nullptr, nullptr, &count), -1);
  logged = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(logged.find("<ImageSources>/<ImageSource> #003 /SGPType was found multiple times."),
            std::string::npos)
      << logged;
  EXPECT_NE(logged.find("[syslist] Syslist file contents could not be validated. File=\"" +
                        invalid + "\""),
            std::string::npos)
      << logged;
}

TEST_F(NamesExportTest, SuccessfulCallsAreQuiet) {
  unsigned count = 0;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(qvGetAllImageSourceNames(m_path.c_str(), nullptr, nullptr, &count), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}
