#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "legacy/legacy.h"
#include "legacy_test_util.h"

TEST(Vidinfhdr, FreshRecordIsEmptyAndFreeingItChangesNothing) {
  VIDINFHDR v;
  std::memset(&v, 0x5A, sizeof v);
  initialize_vidinfhdr(&v);
  EXPECT_EQ(v.type, -1);
  EXPECT_EQ(v.framebits, nullptr);
  EXPECT_EQ(v.framescales, nullptr);
  const int32_t iWidth = v.width;
  free_vidinfhdr(&v);
  EXPECT_EQ(v.type, -1);
  EXPECT_EQ(v.width, iWidth);
  initialize_vidinfhdr(nullptr);
  free_vidinfhdr(nullptr);
}

TEST(Vidinfhdr, FreeReleasesEveryFilledTypeAndIsHarmlessTwice) {
  for (int iType : {1, 2, 3, 4, 5, 6}) {
    VIDINFHDR v;
    initialize_vidinfhdr(&v);
    fillRecord(v, 3, 2, 8, 8, 2, iType);
    free_vidinfhdr(&v);  // the sanitizer build reports a leak if anything stays
    EXPECT_EQ(v.type, -1);
    EXPECT_EQ(v.framebits, nullptr);
    EXPECT_EQ(v.framescales, nullptr);
    EXPECT_EQ(v.width, 3);
    free_vidinfhdr(&v);
  }
}

TEST(Vidinfhdr, FreeSkipsNullFrameEntriesAndNullArrays) {
  VIDINFHDR v;
  initialize_vidinfhdr(&v);
  fillRecord(v, 2, 2, 8, 8, 3, 1);
  std::free(v.framebits[1]);
  v.framebits[1] = nullptr;
  free_vidinfhdr(&v);
  EXPECT_EQ(v.framebits, nullptr);

  fillRecord(v, 2, 2, 8, 8, 1, 4);
  std::free(v.framescales);
  v.framescales = nullptr;
  free_vidinfhdr(&v);
  EXPECT_EQ(v.type, -1);
}

TEST(Vidinfhdr, UnknownTypeIsNotFreed) {
  VIDINFHDR v;
  initialize_vidinfhdr(&v);
  fillRecord(v, 2, 2, 8, 8, 1, 1);
  v.type = 7;
  free_vidinfhdr(&v);
  EXPECT_NE(v.framebits, nullptr);
  v.type = 1;
  free_vidinfhdr(&v);
}

TEST(Vidinfhdr, ExportedCodeTexts) {
  char buffer[200];
  EXPECT_STREQ(load_file__return_code_to_string(0, buffer, sizeof buffer), "Success.");
  EXPECT_STREQ(load_file__return_code_to_string(-1, buffer, sizeof buffer),
               "File could not be checked for type (file extension not imc or bkc or bkg or imm "
               "-> unknown).");
  EXPECT_STREQ(load_file__return_code_to_string(-6, buffer, sizeof buffer),
               "Already initialized, please free VIDINFHDR (and memory) first.");
  EXPECT_STREQ(load_file__return_code_to_string(-8, buffer, sizeof buffer),
               "Error during decompression.");
  char small[64];
  const char* sText = load_file__return_code_to_string(-9, small, 64);
  EXPECT_EQ(sText, small);
  EXPECT_STREQ(small, "Return code -9 is unknown.");
}

TEST(Vidinfhdr, ExportedCodeTextBufferLimits) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_STREQ(load_file__return_code_to_string(-3, buffer, 1), "Error translating return code.");
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_STREQ(load_file__return_code_to_string(-3, nullptr, 50), "Error translating return code.");
  load_file__return_code_to_string(-3, buffer, 10);
  EXPECT_STREQ(buffer, "File coul");
  EXPECT_EQ(buffer[10], 'x');
}

TEST(Vidinfhdr, InternalCodeTexts) {
  std::string sOut;
  EXPECT_EQ(_internal_legacyLoadResultString(0, sOut), "Successful.");
  EXPECT_EQ(sOut, "Successful.");
  EXPECT_EQ(_internal_legacyLoadResultString(-9, sOut), "User break.");
  EXPECT_EQ(_internal_legacyLoadResultString(-6, sOut),
            "Parameter error (VIDINFHDR passed is not empty).");
  EXPECT_EQ(_internal_legacyLoadResultString(-2, sOut), "Unknown return code (-2).");
  EXPECT_EQ(sOut, "Unknown return code (-2).");
  EXPECT_EQ(_internal_legacyLoadResultString(1, sOut), "Unknown return code (1).");
}
