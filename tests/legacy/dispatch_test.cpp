#include <gtest/gtest.h>

#include <string>

#include "legacy/legacy.h"
#include "legacy_test_util.h"
#include "support/tempdir.h"

TEST(LegacyDispatch, SaveFileWithTypeFromRecordAppendsExtension) {
  TempDir dir;
  const std::string sBase = dir.file("out");
  for (int iType : {1, 2, 4}) {
    Record a;
    fillRecord(a.v, 6, 3, 16, 12, 2, iType);
    ASSERT_EQ(save_file(0, sBase.c_str(), &a.v), 0);
    const char* kExt[] = {"", ".imm", ".imc", ".bkg", ".bkc"};
    const std::string sFile = sBase + kExt[iType];
    ASSERT_TRUE(fileExists(sFile)) << sFile;
    Record b;
    ASSERT_EQ(load_file(0, sFile.c_str(), &b.v), 0);
    EXPECT_EQ(b.v.type, iType);
    EXPECT_EQ(b.v.numframes, 2);
    EXPECT_EQ(b.frame(1), a.frame(1));
    EXPECT_EQ(b.v.framescales[1], a.v.framescales[1]);
  }
}

TEST(LegacyDispatch, BkgThroughSaveFile) {
  TempDir dir;
  const std::string sBase = dir.file("out");
  Record two;
  fillRecord(two.v, 4, 4, 8, 8, 2, 3);
  EXPECT_EQ(save_file(0, sBase.c_str(), &two.v), -1);
  EXPECT_EQ(save_file(3, (sBase + ".bkg").c_str(), &two.v), -1);
  EXPECT_FALSE(fileExists(sBase + ".bkg"));
  Record one;
  fillRecord(one.v, 4, 4, 8, 8, 1, 3);
  ASSERT_EQ(save_file(0, sBase.c_str(), &one.v), 0);
  Record b;
  ASSERT_EQ(load_file(3, (sBase + ".bkg").c_str(), &b.v), 0);
  EXPECT_EQ(b.v.type, 3);
  EXPECT_EQ(b.frame(0), one.frame(0));
}

TEST(LegacyDispatch, SaveFileCodesAndRefusals) {
  TempDir dir;
  Record bmp;
  fillRecord(bmp.v, 4, 4, 8, 8, 1, 6);
  EXPECT_EQ(save_file(0, dir.file("out").c_str(), &bmp.v), -2);
  ASSERT_EQ(save_file(2, dir.file("as_imc").c_str(), &bmp.v), 0);  // name used unchanged
  Record b;
  ASSERT_EQ(load_imc_file(dir.file("as_imc").c_str(), &b.v), 0);
  EXPECT_EQ(b.frame(0), bmp.frame(0));
  EXPECT_EQ(save_file(5, dir.file("x").c_str(), &bmp.v), -2);
  EXPECT_EQ(save_file(1, dir.file("x").c_str(), nullptr), -3);
  bmp.v.numframes = 0;
  EXPECT_EQ(save_file(1, dir.file("x").c_str(), &bmp.v), -3);
  bmp.v.numframes = 1;
  EXPECT_EQ(save_file(1, std::string(1020, 'n').c_str(), &bmp.v), -8);
  EXPECT_FALSE(fileExists(dir.file("x")));
}

TEST(LegacyDispatch, LoadFileChoosesByExtensionIgnoringCase) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 3, 3, 8, 8, 2, 2);
  ASSERT_EQ(save_imc_file(dir.file("UP.IMC").c_str(), &a.v), 0);
  Record b;
  ASSERT_EQ(load_file(0, dir.file("UP.IMC").c_str(), &b.v), 0);
  EXPECT_EQ(b.v.type, 2);
  ASSERT_EQ(save_bkc_file(dir.file("x.BkC").c_str(), &a.v), 0);
  Record c;
  ASSERT_EQ(load_file(0, dir.file("x.BkC").c_str(), &c.v), 0);
  EXPECT_EQ(c.v.type, 4);

  Record d;
  EXPECT_EQ(load_file(0, dir.file("frame.bmp").c_str(), &d.v), -1);
  EXPECT_EQ(load_file(0, dir.file("imm").c_str(), &d.v), -1);
  EXPECT_EQ(load_file(0, nullptr, &d.v), -1);
  EXPECT_EQ(load_file(5, dir.file("x.imm").c_str(), &d.v), -2);
  EXPECT_EQ(load_file(-1, dir.file("x.imm").c_str(), &d.v), -2);
  EXPECT_TRUE(d.empty());
}
