#include <cstdint>
#include <vector>

#include "platform/tine_api.h"
#include "runtime/logging.h"
#include "tine/link_close.h"
#include "tine_fixture.h"

namespace {

class LinkClose : public TineTest {
 protected:
  // A real link of the default server, delivering into this fixture.
  int openLink() {
    pixels.resize(640 * 480 * 2);
    image.frameBuffer = pixels.data();
    image.frameBufferSize = static_cast<uint32_t>(pixels.size());
    dout.dFormat = CF_IMAGE;
    dout.dArrayLength = image.frameBufferSize;
    dout.data.vptr = &image;
    return AttachLinkEx2(
        kCam1, "Frame", &dout, nullptr, 1, 1000, [](int, int, void*) {}, 3, 1, nullptr);
  }
  std::vector<uint8_t> pixels;
  DIMAGE image{};
  DTYPE dout{};
};

TEST_F(LinkClose, ImmediateSuccessIsSilent) {
  int id = openLink();
  ASSERT_GT(id, 0);
  EXPECT_EQ(_internal_TineCloseLink(id), 0);
  EXPECT_EQ(tinesimOpenLinkCount(), 0);
  EXPECT_EQ(tinesimCallCount("CloseLink"), 1);
  EXPECT_EQ(log->text(), "");
}

TEST_F(LinkClose, FailingTwiceThenSucceeding) {
  int id = openLink();
  ASSERT_EQ(id, 1);
  tinesimSetCloseLinkFailures(2, 8);
  EXPECT_EQ(_internal_TineCloseLink(id), 0);
  EXPECT_EQ(log->count("needs to be repeated"), 1);
  EXPECT_TRUE(log->contains(
      "kelta client library: v3clientapi: _internal_TineCloseLink(aTineLinkID=1) needs to be "
      "repeated (try #2). Last return code from CloseLink was 8."));
  EXPECT_TRUE(log->contains(
      "kelta client library: v3clientapi: _internal_TineCloseLink(aTineLinkID=1) needed to be "
      "repeated #3 times! Last return code from CloseLink was 0."));
  EXPECT_EQ(tinesimCallCount("CloseLink"), 3);
}

TEST_F(LinkClose, SafeCloseReportsToItsLogInstance) {
  TempDir dir;
  std::string path = dir.file("close.log");
  CLogging logging;
  ASSERT_TRUE(logging.Init(path.c_str(), false, nullptr));
  logging.SetOutputs(false, false, true, false);
  int id = openLink();
  ASSERT_EQ(id, 1);
  tinesimSetCloseLinkFailures(3, 8);
  EXPECT_EQ(SafeTineCloseLink(id, &logging), 0);
  logging.Done();
  std::string text = readFile(path);
  EXPECT_NE(text.find("kelta tinehelper: SafeTineCloseLink(aTineLinkID=1, apLogInstance) needs to "
                      "be repeated (try #2). Last return code from CloseLink was 8."),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("(try #3). Last return code from CloseLink was 8."), std::string::npos);
  EXPECT_NE(text.find("needed to be repeated #4 times! Final return code from CloseLink was 0."),
            std::string::npos);
  id = openLink();
  tinesimSetCloseLinkFailures(2, 8);
  EXPECT_EQ(SafeTineCloseLink(id, nullptr), 0);  // no log instance: nothing written, no crash
  EXPECT_EQ(tinesimCallCount("CloseLink"), 7);
}

}  // namespace
