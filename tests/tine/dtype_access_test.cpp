#include <cmath>
#include <cstring>
#include <string>

#include "tine/dtype_access.h"
#include "tine_fixture.h"

namespace {

using qv::tine::DTypeGetDouble;
using qv::tine::DTypeGetFloat;
using qv::tine::DTypeGetLong;
using qv::tine::DTypeGetString;
using qv::tine::DTypeGetStrings;
using qv::tine::DTypeIsTextFormat;
using qv::tine::DTypeSetDouble;
using qv::tine::DTypeSetDoubleFloatOrLong;
using qv::tine::DTypeSetDoubleOrFloat;
using qv::tine::DTypeSetDoubleWithTimeStamp;
using qv::tine::DTypeSetFloat;
using qv::tine::DTypeSetFloatDoubleOrLong;
using qv::tine::DTypeSetFloatOrDouble;
using qv::tine::DTypeSetFloatOrLong;
using qv::tine::DTypeSetInt;
using qv::tine::DTypeSetLong;
using qv::tine::DTypeSetLongFloatOrDouble;
using qv::tine::DTypeSetLongOrFloat;
using qv::tine::DTypeSetLongPair;
using qv::tine::DTypeSetString;

DTYPE container(int format, uint32_t count, void* data) {
  DTYPE d;
  std::memset(&d, 0, sizeof d);
  d.dFormat = static_cast<int16_t>(format);
  d.dArrayLength = count;
  d.data.vptr = data;
  return d;
}

TEST(DTypeText, Reader) {
  char source[] = "camera-one";
  DTYPE text = container(CF_TEXT, 10, source);
  char out[32];
  EXPECT_EQ(DTypeGetString(&text, out, sizeof out), 0);
  EXPECT_STREQ(out, "camera-one");
  EXPECT_EQ(DTypeGetString(&text, out, 5), 1);  // cut
  EXPECT_STREQ(out, "came");
  char name[16] = "abcdefgh";
  DTYPE name8 = container(CF_NAME8, 1, name);
  EXPECT_EQ(DTypeGetString(&name8, out, sizeof out), 0);
  EXPECT_STREQ(out, "abcdefgh");  // the fixed width, not the element count
  DTYPE empty = container(CF_TEXT, 0, source);
  EXPECT_EQ(DTypeGetString(&empty, out, sizeof out), -23);
  DTYPE number = container(CF_INT32, 1, source);
  EXPECT_EQ(DTypeGetString(&number, out, sizeof out), -2);
  EXPECT_EQ(DTypeGetString(nullptr, out, sizeof out), -2);
  EXPECT_TRUE(DTypeIsTextFormat(&name8));
  for (int f : {CF_TEXT, CF_NAME16, CF_NAME32, CF_NAME48, CF_NAME64}) {
    DTYPE d = container(f, 1, name);
    EXPECT_TRUE(DTypeIsTextFormat(&d)) << f;
  }
  EXPECT_FALSE(DTypeIsTextFormat(&number));
}

TEST(DTypeText, Writer) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  DTYPE name8 = container(CF_NAME8, 1, buffer);
  EXPECT_EQ(DTypeSetString(&name8, "ab"), 0);
  EXPECT_EQ(std::string(buffer, 8), std::string("ab\0\0\0\0\0\0", 8));  // zero-filled
  EXPECT_EQ(buffer[8], '#');
  EXPECT_GT(name8.dTimeStamp, 0.0);
  EXPECT_EQ(DTypeSetString(&name8, "abcdefghij"), 0);
  EXPECT_EQ(std::string(buffer, 8), "abcdefgh");
  EXPECT_EQ(buffer[8], '#');  // never past the width
  std::memset(buffer, '#', sizeof buffer);
  DTYPE text = container(CF_TEXT, 4, buffer);
  EXPECT_EQ(DTypeSetString(&text, "hello"), 0);
  EXPECT_EQ(std::string(buffer, 5), "hell#");
  DTYPE number = container(CF_INT32, 1, buffer);
  EXPECT_EQ(DTypeSetString(&number, "x"), 2);
  DTYPE empty = container(CF_TEXT, 0, buffer);
  EXPECT_EQ(DTypeSetString(&empty, "x"), 23);
  EXPECT_EQ(DTypeSetString(nullptr, "x"), 2);
}

TEST(DTypeNumbers, WritersConvertAndRefuse) {
  double d[2] = {0, 0};
  float f[2] = {0, 0};
  int32_t l[2] = {0, 0};
  DTYPE dd = container(CF_DOUBLE, 2, d), ff = container(CF_FLOAT, 2, f),
        ll = container(CF_INT32, 2, l);
  EXPECT_EQ(DTypeSetDouble(&dd, 2.5), 0);
  EXPECT_EQ(d[0], 2.5);
  EXPECT_EQ(dd.dArrayLength, 1u);
  EXPECT_GT(dd.dTimeStamp, 0.0);
  EXPECT_EQ(DTypeSetDouble(&ff, 2.5), 2);
  EXPECT_EQ(DTypeSetDoubleOrFloat(&ff, 0.1), 0);
  EXPECT_EQ(f[0], 0.1f);  // rounded to float
  EXPECT_EQ(DTypeSetDoubleOrFloat(&ll, 1.0), 2);
  EXPECT_EQ(DTypeSetDoubleFloatOrLong(&ll, -7.9), 0);
  EXPECT_EQ(l[0], -7);  // toward zero
  EXPECT_EQ(DTypeSetDoubleFloatOrLong(&ll, 1e20), 0);
  EXPECT_EQ(l[0], INT32_MAX);  // saturates instead of undefined behaviour
  EXPECT_EQ(DTypeSetDoubleFloatOrLong(&ll, NAN), 0);
  EXPECT_EQ(l[0], 0);
  EXPECT_EQ(DTypeSetFloat(&dd, 1.0f), 2);
  EXPECT_EQ(DTypeSetFloatOrDouble(&dd, 1.5f), 0);
  EXPECT_EQ(d[0], 1.5);
  EXPECT_EQ(DTypeSetFloatOrLong(&dd, 1.5f), 2);
  EXPECT_EQ(DTypeSetFloatOrLong(&ll, 9.99f), 0);
  EXPECT_EQ(l[0], 9);
  EXPECT_EQ(DTypeSetFloatDoubleOrLong(&ff, 3.0f), 0);
  EXPECT_EQ(DTypeSetLong(&ff, 1), 2);
  EXPECT_EQ(DTypeSetInt(&ll, 12), 0);
  EXPECT_EQ(DTypeSetLongOrFloat(&ff, 16777217), 0);
  EXPECT_EQ(f[0], 16777216.0f);
  EXPECT_EQ(DTypeSetLongOrFloat(&dd, 1), 2);
  EXPECT_EQ(DTypeSetLongFloatOrDouble(&dd, -3), 0);
  EXPECT_EQ(d[0], -3.0);
  EXPECT_EQ(DTypeSetLongPair(&ll, 5, 6), 0);
  EXPECT_EQ(l[0], 5);
  EXPECT_EQ(ll.dStamp, 6);
  DTYPE none = container(CF_INT32, 0, l);
  EXPECT_EQ(DTypeSetLong(&none, 1), 23);
  EXPECT_EQ(DTypeSetLong(nullptr, 1), 2);
}

TEST(DTypeNumbers, TimeStampedWriterLeavesTheContainerStamp) {
  double d = 0;
  DTYPE dd = container(CF_DOUBLE, 1, &d);
  EXPECT_EQ(DTypeSetDoubleWithTimeStamp(&dd, 4.0, 1234.5), 0);
  EXPECT_EQ(d, 4.0);
  EXPECT_EQ(dd.dTimeStamp, 0.0);
}

TEST(DTypeNumbers, ReadersForwardToTine) {
  int32_t l = 42;
  DTYPE ll = container(CF_INT32, 1, &l);
  double d = 0;
  float f = 0;
  int32_t out = 0;
  EXPECT_EQ(DTypeGetDouble(&ll, &d), 0);
  EXPECT_EQ(d, 42.0);
  EXPECT_EQ(DTypeGetFloat(&ll, &f), 0);
  EXPECT_EQ(f, 42.0f);
  double big = 3e10;
  DTYPE dd = container(CF_DOUBLE, 1, &big);
  EXPECT_EQ(DTypeGetLong(&dd, &out), 0);
  EXPECT_EQ(out, INT32_MAX);
  char text[] = "abc";
  DTYPE tt = container(CF_TEXT, 3, text);
  char buffer[8];
  int length = sizeof buffer;
  EXPECT_EQ(DTypeGetStrings(&tt, buffer, &length), 0);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_NE(DTypeGetDouble(&tt, &d), 0);
}

}  // namespace
