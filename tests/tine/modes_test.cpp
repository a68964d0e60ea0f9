#include <climits>
#include <cstring>
#include <string>

#include "platform/tine_api.h"
#include "quivox3/quivox3.h"
#include "tine/modes.h"
#include "tine_fixture.h"

namespace {

using qv::tine::_internal_tineCodeToString;
using qv::tine::_internal_tineDecodeAccessString;
using qv::tine::_internal_tineDecodeModeString;
using qv::tine::_internal_tineDecodeModeStringCMnew;

TEST(ModeDecoding, RuleBasedDecoder) {
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("timer | connect"), 0x2003);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("CM_TIMER,CM_SYNCNOTIFY"), 0x8003);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("event\tstream\n"), 0x86);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("EVENT TIMER"), -4);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("TIMER STREAM CONNECT"), -4);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("MCAST NETWORK TIMER"), -4);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("TIMER TIMER"), -4);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("SYNCNOTIFY"), -5);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew("TIMER FOO"), -3);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew(""), -2);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew(" |,\t\n"), -2);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew(nullptr), -2);
  std::string longest = "TIMER" + std::string(195, ' ');
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew(longest.c_str()), 3);
  EXPECT_EQ(QVV3_INTERNAL_tineDecodeModeStringCMnew((longest + " ").c_str()), -1);
  EXPECT_EQ(_internal_tineDecodeModeStringCMnew("SYNCNOTIFY", 77), 77);
  EXPECT_EQ(_internal_tineDecodeModeStringCMnew("TIMER", 77), 3);
}

TEST(ModeDecoding, PlainDecoders) {
  EXPECT_EQ(_internal_tineDecodeAccessString("ca_read|CA_CONNECT"), 0x2001);
  EXPECT_EQ(_internal_tineDecodeAccessString("CA_WRITE CA_WRITE"), 2);  // repeats allowed
  EXPECT_EQ(_internal_tineDecodeAccessString("CA_READ READ"), -3);
  EXPECT_EQ(_internal_tineDecodeAccessString(","), -2);
  EXPECT_EQ(_internal_tineDecodeAccessString("bogus", 1), 1);
  // The plain mode table knows long names only and no exclusions.
  EXPECT_EQ(_internal_tineDecodeModeString("CM_TIMER CM_EVENT"), 7);
  EXPECT_EQ(_internal_tineDecodeModeString("CM_MCAST,cm_syncnotify"), 0x8200);
  EXPECT_EQ(_internal_tineDecodeModeString("TIMER"), -3);
  EXPECT_EQ(_internal_tineDecodeModeString(std::string(201, 'x').c_str()), -1);
  EXPECT_EQ(_internal_tineDecodeModeString("TIMER", -9), -9);
}

std::string render(int mode, int shortForm, int* result = nullptr) {
  char text[200];
  size_t length = sizeof text;
  int r = QVV3_INTERNAL_tineModeToString(mode, shortForm, text, &length);
  if (result != nullptr) *result = r;
  return text;
}

TEST(ModeRendering, Tables) {
  EXPECT_EQ(render(0x2003, 0), "CM_TIMER|CM_CONNECT");
  EXPECT_EQ(render(0x203, 1), "TIMER|BCAST|MCAST");
  EXPECT_EQ(render(0, 0), "CM_CANCEL");
  EXPECT_EQ(render(0xFFF6, 1),
            "EVENT|NODUPLICATES|SEEKPATTERN|MISSPATTERN|STREAM|BCAST|MCAST|USEONERROR|RETRY|"
            "GROUPED|CONNECT|WAIT|SYNCNOTIFY");
  EXPECT_EQ(render(0x10105, 1), "RECEIVE");  // bits of no row are ignored
  int result = -9;
  EXPECT_EQ(render(0x7, 0, &result), "(error)");
  EXPECT_EQ(result, 0);
}

TEST(ModeRendering, BufferSizes) {
  size_t length = 0;
  EXPECT_EQ(QVV3_INTERNAL_tineModeToString(0x2003, 0, nullptr, &length), -1);
  ASSERT_EQ(length, std::strlen("CM_TIMER|CM_CONNECT") + 1);
  char text[32];
  std::memset(text, '#', sizeof text);
  size_t exact = length;
  EXPECT_EQ(QVV3_INTERNAL_tineModeToString(0x2003, 0, text, &exact), 1);
  EXPECT_STREQ(text, "CM_TIMER|CM_CONNECT");
  EXPECT_EQ(exact, length);
  EXPECT_EQ(text[length], '#');  // nothing past the stated size
  size_t tooSmall = length - 1;
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(QVV3_INTERNAL_tineModeToString(0x2003, 0, text, &tooSmall), -1);
  EXPECT_EQ(tooSmall, length);
  EXPECT_EQ(text[0], '#');
  EXPECT_EQ(QVV3_INTERNAL_tineModeToString(3, 1, text, nullptr), -1);
}

TEST(ModeToAccess, Conversion) {
  int access = -1;
  EXPECT_EQ(QVV3_INTERNAL_tineCMtoCA(0x83, &access), 1);
  EXPECT_EQ(access, 0x801);
  EXPECT_EQ(QVV3_INTERNAL_tineCMtoCA(0x8006, &access), 1);
  EXPECT_EQ(access, 1);
  EXPECT_EQ(QVV3_INTERNAL_tineCMtoCA(0x2003, &access), 1);
  EXPECT_EQ(access, 0x2001);
  access = 42;
  EXPECT_EQ(QVV3_INTERNAL_tineCMtoCA(0x2203, &access), 0);
  EXPECT_EQ(QVV3_INTERNAL_tineCMtoCA(0x283, &access), 0);
  EXPECT_EQ(QVV3_INTERNAL_tineCMtoCA(0x2083, &access), 0);
  EXPECT_EQ(access, 42);
  EXPECT_EQ(QVV3_INTERNAL_tineCMtoCA(0, nullptr), 1);
}

TEST(CodeTexts, ExportedConversion) {
  char text[64];
  size_t length = sizeof text;
  ASSERT_EQ(qvTineCodeToString(5, text, &length), 1);
  std::string five = text;
  EXPECT_EQ(five, cc2str(5));
  EXPECT_EQ(length, five.size() + 1);
  length = sizeof text;
  ASSERT_EQ(qvTineCodeToString(-5, text, &length), 1);
  EXPECT_EQ(std::string(text), five);
  for (int code : {GetErrorListSize(), GetErrorListSize() + 1, INT_MIN}) {
    length = sizeof text;
    ASSERT_EQ(qvTineCodeToString(code, text, &length), 1);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(length, 1u);
  }
  length = 4;  // cut to size - 1 characters
  ASSERT_EQ(qvTineCodeToString(5, text, &length), 1);
  EXPECT_EQ(std::string(text), five.substr(0, 3));
  EXPECT_EQ(length, 4u);
  length = 0;
  EXPECT_EQ(qvTineCodeToString(5, text, &length), 0);
  EXPECT_EQ(qvTineCodeToString(5, nullptr, &length), 0);
  EXPECT_EQ(qvTineCodeToString(5, text, nullptr), 0);
}

TEST(CodeTexts, InternalConversionWritesNumbersBeyondTheList) {
  char text[33];
  EXPECT_STREQ(_internal_tineCodeToString(-7, text, sizeof text), cc2str(7));
  EXPECT_STREQ(_internal_tineCodeToString(GetErrorListSize(), text, sizeof text),
               std::to_string(GetErrorListSize()).c_str());
  EXPECT_STREQ(_internal_tineCodeToString(INT_MIN, text, sizeof text), "2147483648");
  char small[4];
  EXPECT_STREQ(_internal_tineCodeToString(123456, small, sizeof small), "123");
  char one[1] = {'#'};
  _internal_tineCodeToString(5, one, 1);
  EXPECT_EQ(one[0], '#');
}

}  // namespace
