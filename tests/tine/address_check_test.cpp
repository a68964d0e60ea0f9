#include <cstring>
#include <string>

#include "tine/address_check.h"
#include "tine_fixture.h"

namespace {

using qv::tine::kBeautifiedTineAddressSize;

class AddressCheck : public TineTest {
 protected:
  int check(const std::string& address, bool verbose = true) {
    std::memset(buffer, 'x', sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    return _internal_checkTineAddress("qvGrabFrame", address.c_str(), buffer, sizeof buffer,
                                      verbose);
  }
  char buffer[kBeautifiedTineAddressSize];
};

TEST_F(AddressCheck, MissingLeadingSlashIsPrependedAndReported) {
  EXPECT_EQ(check("ctx/srv/dev"), 1);
  EXPECT_STREQ(buffer, "/ctx/srv/dev");
  EXPECT_TRUE(log->contains(
      "Warning: qvGrabFrame: Parameter asTineAddress (\"ctx/srv/dev\") will be prepended with a "
      "'/' (slash), because first character should be a slash."));
  EXPECT_TRUE(log->contains(
      "Warning: qvGrabFrame: Parameter asTineAddress (\"ctx/srv/dev\") was corrected to "
      "\"/ctx/srv/dev\"."));
}

TEST_F(AddressCheck, ExtraPartsAreChoppedOff) {
  EXPECT_EQ(check("/ctx/srv/dev/extra/more"), 1);
  EXPECT_STREQ(buffer, "/ctx/srv/dev");
  EXPECT_TRUE(
      log->contains("contains too many number of slashes. Not counting first character, "
                    "there must be exactly two slashes. All characters starting from first "
                    "illegal slash up to the end of the string have been chopped off."));
  EXPECT_TRUE(log->contains("was corrected to \"/ctx/srv/dev\"."));
}

TEST_F(AddressCheck, ValidAddressIsCopiedSilently) {
  EXPECT_EQ(check("/ctx/srv/"), 1);  // the device part may be empty
  EXPECT_STREQ(buffer, "/ctx/srv/");
  EXPECT_EQ(check("/SIM/VIDEO/CAM1"), 1);
  EXPECT_STREQ(buffer, "/SIM/VIDEO/CAM1");
  EXPECT_EQ(log->text(), "");
}

TEST_F(AddressCheck, SlashErrorsCarryTheirReference) {
  struct Case {
    const char* address;
    const char* kind;
    int reference;
  } cases[] = {{"/ctx/srv", "too few number of slashes", 3},
               {"/ctx//dev", "illegal slash sequence", 2},
               {"//srv/dev", "illegal slash sequence", 1},
               {"/ctx/srv//dev", "illegal slash sequence", 4},
               {"/ctxsrvdev", "too few number of slashes", 1}};
  for (const Case& c : cases) {
    log->clear();
    EXPECT_EQ(check(c.address), 0) << c.address;
    EXPECT_STREQ(buffer, "") << c.address;
    std::string expected = std::string("Error: qvGrabFrame: Parameter asTineAddress (\"") +
                           c.address + "\") contains " + c.kind;
    EXPECT_TRUE(log->contains(expected)) << c.address << "\n" << log->text();
    EXPECT_TRUE(log->contains("Internal Reference: " + std::to_string(c.reference) + "."))
        << c.address;
  }
}

TEST_F(AddressCheck, LongestAddressWithoutSlashLosesItsLastCharacter) {
  std::string address(132, 'a');
  address[10] = '/';
  address[20] = '/';
  EXPECT_EQ(check(address), 1);
  EXPECT_EQ(std::strlen(buffer), 132u);
  EXPECT_EQ(std::string(buffer), "/" + address.substr(0, 131));
}

TEST_F(AddressCheck, LengthLimits) {
  EXPECT_EQ(check("/a/b"), -4);
  EXPECT_EQ(buffer[0], 'x');  // untouched
  EXPECT_TRUE(log->contains(
      "Error: qvGrabFrame: Parameter asTineAddress (\"/a/b\") is too short (4 characters). But it "
      "must be more than 4 characters."));
  EXPECT_EQ(check("/a/b/"), 1);
  std::string tooLong = "/a/b/" + std::string(128, 'c');
  ASSERT_EQ(tooLong.size(), 133u);
  EXPECT_EQ(check(tooLong), -4);
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(
      log->contains("is too long (133 characters). But it must be less than 133 characters."));
}

TEST_F(AddressCheck, BracketsAreLookedForAfterTheChop) {
  EXPECT_EQ(check("/ctx/srv/dev/[x]"), 1);
  EXPECT_STREQ(buffer, "/ctx/srv/dev");
  EXPECT_EQ(check("/ctx/s[rv/dev"), 0);
  EXPECT_TRUE(log->contains("contains illegal character [ (opening bracket)."));
  EXPECT_EQ(check("/ctx/srv/de]v"), 0);
  EXPECT_TRUE(log->contains("contains illegal character ] (closing bracket)."));
}

TEST_F(AddressCheck, RefusesNullArgumentsAndSmallBuffers) {
  char small[132];
  EXPECT_EQ(_internal_checkTineAddress("c", "/a/b/c", small, sizeof small, true), -5);
  EXPECT_EQ(_internal_checkTineAddress(nullptr, "/a/b/c", buffer, sizeof buffer, true), -5);
  EXPECT_EQ(_internal_checkTineAddress("c", nullptr, buffer, sizeof buffer, true), -5);
  EXPECT_EQ(_internal_checkTineAddress("c", "/a/b/c", nullptr, 133, true), -5);
  EXPECT_EQ(log->text(), "");
}

TEST_F(AddressCheck, QuietCheckGivesTheSameResults) {
  EXPECT_EQ(check("ctx/srv/dev", false), 1);
  EXPECT_STREQ(buffer, "/ctx/srv/dev");
  EXPECT_EQ(check("/ctx//dev", false), 0);
  EXPECT_EQ(check("/a/b", false), -4);
  EXPECT_EQ(log->text(), "");
}

TEST_F(AddressCheck, PropertyNames) {
  EXPECT_TRUE(_internal_checkTinePropertyName("qvGrabFrame", std::string(63, 'p').c_str(), true));
  EXPECT_FALSE(_internal_checkTinePropertyName("qvGrabFrame", std::string(64, 'p').c_str(), true));
  EXPECT_TRUE(log->contains("is too long. It must be less than 64 characters."));
  EXPECT_FALSE(_internal_checkTinePropertyName("qvGrabFrame", "", true));
  EXPECT_FALSE(_internal_checkTinePropertyName("qvGrabFrame", nullptr, true));
  EXPECT_EQ(log->count("is too short. It must be at least one character long."), 2);
  EXPECT_FALSE(_internal_checkTinePropertyName("qvGrabFrame", "a/b", true));
  EXPECT_TRUE(log->contains(
      "Error: qvGrabFrame: Parameter asTinePropertyName (\"a/b\") must not contain '/' (slash "
      "character(s))."));
  EXPECT_FALSE(_internal_checkTinePropertyName("qvGrabFrame", "a[b", true));
  EXPECT_TRUE(log->contains("must not contain '[' (opening bracket character(s))."));
  EXPECT_FALSE(_internal_checkTinePropertyName("qvGrabFrame", "ab]", true));
  EXPECT_TRUE(log->contains("must not contain ']' (closing bracket character(s))."));
  log->clear();
  EXPECT_FALSE(_internal_checkTinePropertyName("qvGrabFrame", "a/b", false));
  EXPECT_EQ(log->text(), "");
}

}  // namespace
