#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image.h"
#include "legacy/legacy.h"
#include "legacy_test_util.h"
#include "support/log_capture.h"
#include "support/tempdir.h"

namespace {

struct ImageShape {
  int w = 8, h = 4, bpp = 1, aoiW = -1, aoiH = -1, format = CF_IMAGE_FORMAT_GRAY;
  int ebits = -1;
  float xScale = 2.0f, yScale = 2.0f;
};

// A valid image whose pixels are a pattern that depends on its index.
DIMAGE makeImage(const ImageShape& s, int iIndex) {
  DIMAGE img;
  std::memset(&img, 0, sizeof img);
  img.sourceHeader.baseTag = QV_BASE_TAG;
  img.sourceHeader.versionTag = 1;
  img.frameHeader.sourceWidth = s.w;
  img.frameHeader.sourceHeight = s.h;
  img.frameHeader.aoiWidth = s.aoiW;
  img.frameHeader.aoiHeight = s.aoiH;
  img.frameHeader.bytesPerPixel = s.bpp;
  img.frameHeader.effectiveBitsPerPixel = s.ebits;
  img.frameHeader.horizontalBinning = img.frameHeader.verticalBinning = 1;
  img.frameHeader.sourceFormat = img.frameHeader.imageFormat = s.format;
  img.frameHeader.xScale = s.xScale;
  img.frameHeader.yScale = s.yScale;
  img.frameHeader.imageFlags = 3;
  const int iBytes = (s.aoiW > 0 ? s.aoiW : s.w) * (s.aoiH > 0 ? s.aoiH : s.h) * s.bpp;
  img.frameHeader.appendedFrameSize = iBytes;
  img.sourceHeader.totalLength = 188 + iBytes;
  img.frameBufferSize = iBytes;
  img.frameBuffer = static_cast<uint8_t*>(std::malloc(iBytes));
  for (int k = 0; k < iBytes; ++k) img.frameBuffer[k] = static_cast<uint8_t>(k * 3 + iIndex);
  return img;
}

struct Bunch {
  QVBUNCHOFIMAGES b{nullptr, 0};
  Bunch() = default;
  Bunch(const ImageShape& s, int n) {
    b.imageArray = static_cast<DIMAGE*>(std::calloc(n, sizeof(DIMAGE)));
    b.numFrames = n;
    for (int i = 0; i < n; ++i) b.imageArray[i] = makeImage(s, i);
  }
  ~Bunch() { qvFreeBunch(&b); }
  std::string frame(int i) const {
    const DIMAGE& img = b.imageArray[i];
    return std::string(reinterpret_cast<const char*>(img.frameBuffer),
                       img.frameHeader.appendedFrameSize);
  }
};

}  // namespace

TEST(BunchToVidinfhdr, AreaOfInterestGeometryAndFrames) {
  ImageShape s;
  s.w = 640;
  s.h = 480;
  s.aoiW = 320;
  s.aoiH = 240;
  Bunch bunch(s, 2);
  Record r;
  int iIntact = -1;
  ASSERT_EQ(qvBunchToVIDINFHDREx(&bunch.b, &r.v, 0, &iIntact), 1);
  EXPECT_EQ(iIntact, 1);
  EXPECT_EQ(r.v.width, 320);
  EXPECT_EQ(r.v.height, 240);
  EXPECT_EQ(r.v.bpp, 8);
  EXPECT_EQ(r.v.ebpp, 8);
  EXPECT_EQ(r.v.type, 1);
  EXPECT_EQ(r.v.numframes, 2);
  EXPECT_EQ(r.v.scale, 2.0);
  EXPECT_EQ(r.frameBytes(), 76800u);
  EXPECT_EQ(r.frame(1), bunch.frame(1));
  EXPECT_EQ(bunch.b.numFrames, 2u);
}

TEST(BunchToVidinfhdr, SixteenBitEffectiveBitsAndScales) {
  ImageShape s;
  s.bpp = 2;
  s.ebits = 12;
  s.xScale = s.yScale = 0.0f;
  Bunch bunch(s, 1);
  Record r;
  ASSERT_EQ(qvBunchToVIDINFHDR(&bunch.b, &r.v), 1);
  EXPECT_EQ(r.v.bpp, 16);
  EXPECT_EQ(r.v.ebpp, 12);
  EXPECT_EQ(r.v.scale, 1.0);
  EXPECT_EQ(r.v.framescales[0], 1.0);
}

TEST(BunchToVidinfhdr, ScalesMustAgreeWithinTolerance) {
  ImageShape s;
  s.xScale = 0.5f;
  s.yScale = 0.500005f;
  Bunch ok(s, 1);
  Record r;
  EXPECT_EQ(qvBunchToVIDINFHDR(&ok.b, &r.v), 1);
  EXPECT_EQ(r.v.scale, 0.5);

  s.yScale = 0.5001f;
  Bunch bad(s, 1);
  Record r2;
  char text[200];
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&bad.b, &r2.v, text, sizeof text, 0, nullptr), -2);
  EXPECT_STREQ(text, "The scaling factors for x(0.500000) and y(0.500100) must be identical.");
  EXPECT_TRUE(r2.empty());
}

TEST(BunchToVidinfhdr, NotConvertibleBunches) {
  char text[300];
  ImageShape jpeg;
  jpeg.format = CF_IMAGE_FORMAT_JPEG;
  Bunch j(jpeg, 1);
  Record r;
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&j.b, &r.v, text, sizeof text, 0, nullptr), -2);
  EXPECT_STREQ(text, "Image format of images must be CF_IMAGE_FORMAT_GRAY(0) but is JPEG(5).");

  ImageShape grey3;
  grey3.bpp = 3;
  Bunch g(grey3, 1);
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&g.b, &r.v, text, sizeof text, 0, nullptr), -2);
  EXPECT_STREQ(text, "Image bytesperpixel(3) must be either 1 or 2.");

  Bunch mixed(ImageShape(), 2);
  mixed.b.imageArray[1].frameHeader.imageFormat = CF_IMAGE_FORMAT_RGB;
  mixed.b.imageArray[1].frameHeader.sourceFormat = CF_IMAGE_FORMAT_RGB;
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&mixed.b, &r.v, text, sizeof text, 0, nullptr), -1);
  EXPECT_EQ(std::string(text).rfind("Parameter QVBUNCHOFIMAGES *aImages is no sequence "
                                    "(qvIsSequence(aImages) returned 0, but must return 1.",
                                    0),
            0u);
  EXPECT_TRUE(r.empty());
}

TEST(BunchToVidinfhdr, FrameSmallerThanItsGeometryIsRefused) {
  // 65536 x 65536 wraps to 0 in the 32-bit size rule of the validity check.
  ImageShape s;
  s.w = 65536;
  s.h = 65536;
  Bunch bunch;
  bunch.b.imageArray = static_cast<DIMAGE*>(std::calloc(1, sizeof(DIMAGE)));
  bunch.b.numFrames = 1;
  ImageShape small;
  small.w = small.h = 4;
  bunch.b.imageArray[0] = makeImage(small, 0);
  bunch.b.imageArray[0].frameHeader.sourceWidth = 65536;
  bunch.b.imageArray[0].frameHeader.sourceHeight = 65536;
  Record r;
  EXPECT_LT(qvBunchToVIDINFHDR(&bunch.b, &r.v), 0);
  EXPECT_TRUE(r.empty());
}

TEST(BunchToVidinfhdr, ParameterErrorsTouchNothing) {
  Bunch bunch(ImageShape(), 2);
  Record r;
  char text[200];
  int iIntact = -1;
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&bunch.b, &r.v, text, sizeof text, 2, &iIntact), 0);
  EXPECT_STREQ(text, "Parameter error(aiLowMemoryConsumption is neither zero nor one).");
  EXPECT_EQ(iIntact, 1);
  EXPECT_EQ(bunch.b.numFrames, 2u);
  EXPECT_NE(bunch.b.imageArray[0].frameBuffer, nullptr);
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&bunch.b, nullptr, text, sizeof text, 0, nullptr), 0);
  EXPECT_STREQ(text, "Parameter error (struct VIDINFHDR *aV is NULL).");
  EXPECT_EQ(qvBunchToVIDINFHDREx2(nullptr, &r.v, text, sizeof text, 0, nullptr), 0);
  EXPECT_STREQ(text, "Parameter error (QVBUNCHOFIMAGES *aImages is NULL).");
  QVBUNCHOFIMAGES empty{nullptr, 0};
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&empty, &r.v, text, sizeof text, 0, nullptr), 0);
  EXPECT_STREQ(text, "Parameter error(QVBUNCHOFIMAGES *aImages->numFrames is zero).");
  QVBUNCHOFIMAGES noArray{nullptr, 3};
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&noArray, &r.v, text, sizeof text, 0, nullptr), 0);
  EXPECT_STREQ(text, "Parameter error(QVBUNCHOFIMAGES *aImages->imageArray is NULL).");
  EXPECT_TRUE(r.empty());
}

TEST(BunchToVidinfhdr, TextBufferLimits) {
  QVBUNCHOFIMAGES empty{nullptr, 0};
  Record r;
  char text[32];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&empty, &r.v, text, 1, 0, nullptr), 0);
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(qvBunchToVIDINFHDREx2(&empty, &r.v, text, 20, 0, nullptr), 0);
  EXPECT_STREQ(text, std::string("Parameter error(QVBUNCHOFIMAGES *aImages->numFrames is zero).")
                         .substr(0, 19)
                         .c_str());
  EXPECT_EQ(text[20], 'x');
}

TEST(BunchToVidinfhdr, LowMemoryModeConsumesTheBunch) {
  Bunch bunch(ImageShape(), 3);
  const std::string sFrame2 = bunch.frame(2);
  Record r;
  int iIntact = -1;
  ASSERT_EQ(qvBunchToVIDINFHDREx(&bunch.b, &r.v, 1, &iIntact), 1);
  EXPECT_EQ(iIntact, 0);
  EXPECT_EQ(bunch.b.numFrames, 0u);
  EXPECT_EQ(bunch.b.imageArray, nullptr);
  EXPECT_EQ(r.frame(2), sFrame2);

  // A refusal after the checks of the arguments leaves the bunch intact.
  ImageShape jpeg;
  jpeg.format = CF_IMAGE_FORMAT_JPEG;
  Bunch j(jpeg, 1);
  Record r2;
  EXPECT_EQ(qvBunchToVIDINFHDREx(&j.b, &r2.v, 1, &iIntact), -2);
  EXPECT_EQ(iIntact, 1);
  EXPECT_EQ(j.b.numFrames, 1u);
}

TEST(VidinfhdrToBunch, FieldsOfTheImages) {
  TempDir dir;
  const std::string sFile = dir.file("seq.imm");
  writeFile(sFile, "x");
  struct stat st;
  ASSERT_EQ(stat(sFile.c_str(), &st), 0);
  Record r;
  fillRecord(r.v, 5, 3, 16, 12, 2, 1);
  QVBUNCHOFIMAGES b{nullptr, 0};
  std::string sError;
  double dProgress = -1;
  ASSERT_TRUE(
      _internal_VIDINFHDRToBunch(sFile.c_str(), &r.v, &b, nullptr, &dProgress, 0.5, sError));
  EXPECT_EQ(dProgress, 1.0);
  ASSERT_EQ(b.numFrames, 2u);
  for (uint32_t i = 0; i < 2; ++i) {
    const DIMAGE& img = b.imageArray[i];
    EXPECT_EQ(std::memcmp(&img.sourceHeader.baseTag, "QVV3", 4), 0);
    EXPECT_EQ(img.sourceHeader.versionTag, 1u);
    EXPECT_EQ(img.sourceHeader.totalLength, 188u + 30u);
    EXPECT_EQ(img.sourceHeader.timestampSeconds, static_cast<uint32_t>(st.st_mtime));
    EXPECT_EQ(img.sourceHeader.timestampMicroseconds, 0u);
    std::string sShort(64, '\0');
    _internal_shortenPath(sFile.c_str(), &sShort[0], 64);
    EXPECT_STREQ(img.sourceHeader.cameraPortName, sShort.c_str());
    const FRAMEHEADER& f = img.frameHeader;
    EXPECT_EQ(f.sourceWidth, 5);
    EXPECT_EQ(f.sourceHeight, 3);
    EXPECT_EQ(f.aoiWidth, -1);
    EXPECT_EQ(f.bytesPerPixel, 2);
    EXPECT_EQ(f.effectiveBitsPerPixel, 12);
    EXPECT_EQ(f.horizontalBinning, -1);
    EXPECT_EQ(f.imageFormat, 0);
    EXPECT_EQ(f.frameNumber, i + 1);
    EXPECT_EQ(f.xScale, static_cast<float>(r.v.framescales[i]));
    EXPECT_EQ(f.yScale, f.xScale);
    EXPECT_EQ(f.imageRotation, -1.0f);
    EXPECT_EQ(f.imageFlags, 3u);
    EXPECT_EQ(f.ispare2, -1);
    EXPECT_EQ(f.appendedFrameSize, 30);
    EXPECT_EQ(img.frameBufferSize, 30u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.frameBuffer), 30), r.frame(i));
  }
  EXPECT_EQ(r.v.type, 1);  // the record stays with the caller
  qvFreeBunch(&b);
}

TEST(VidinfhdrToBunch, NoFileNameAndEffectiveBitsCappedAtDepth) {
  Record r;
  fillRecord(r.v, 2, 2, 16, 20, 1, 1);
  QVBUNCHOFIMAGES b{nullptr, 0};
  std::string sError;
  ASSERT_TRUE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, nullptr, nullptr, 0.0, sError));
  EXPECT_EQ(b.imageArray[0].frameHeader.effectiveBitsPerPixel, 16);
  EXPECT_EQ(b.imageArray[0].sourceHeader.timestampSeconds, 0u);
  EXPECT_EQ(b.imageArray[0].sourceHeader.cameraPortName[0], '\0');
  qvFreeBunch(&b);
}

TEST(VidinfhdrToBunch, UserBreakAndRefusals) {
  Record r;
  fillRecord(r.v, 2, 2, 8, 8, 3, 1);
  QVBUNCHOFIMAGES b{nullptr, 0};
  std::string sError;
  int iBreak = 1;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, &iBreak, nullptr, 0, sError));
  EXPECT_EQ(sError, "Interrupted by user.");
  EXPECT_EQ(b.numFrames, 0u);
  EXPECT_EQ(b.imageArray, nullptr);

  r.v.bpp = 12;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, nullptr, nullptr, 0, sError));
  EXPECT_EQ(sError, "Parameter apInVinf->bpp must be either 8 or 16.");
  r.v.bpp = 8;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, nullptr, &b, nullptr, nullptr, 0, sError));
  EXPECT_EQ(sError, "Parameter apInVinf must not be NULL.");
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, nullptr, nullptr, nullptr, 0, sError));
  EXPECT_EQ(sError, "Parameter apOutImages must not be NULL.");
  r.v.width = 0;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, nullptr, nullptr, 0, sError));
  EXPECT_EQ(sError, "Parameter apInVinf->width must be greater zero.");
  r.v.width = 2;
  // Frames beyond the transport limit do not form valid images.
  r.v.height = 20000;
  r.v.width = 20000;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, nullptr, nullptr, 0, sError));
  EXPECT_EQ(sError, "_internal_qvCheckImageValidity failed at image 1 of 3.");
  r.v.width = r.v.height = 2;
  EXPECT_EQ(b.imageArray, nullptr);
}

TEST(Conversion, RecordToBunchToRecordAndThroughFiles) {
  TempDir dir;
  Record a;
  fillRecord(a.v, 6, 4, 16, 10, 3, 1);
  for (int i = 0; i < 3; ++i) a.v.framescales[i] = 0.75;  // a sequence shares its scale
  ASSERT_EQ(save_imc_file(dir.file("a.imc").c_str(), &a.v), 0);
  Record loaded;
  ASSERT_EQ(load_imc_fileEx(dir.file("a.imc").c_str(), &loaded.v, nullptr, nullptr, 0.5), 0);
  QVBUNCHOFIMAGES b{nullptr, 0};
  std::string sError;
  ASSERT_TRUE(_internal_VIDINFHDRToBunch(dir.file("a.imc").c_str(), &loaded.v, &b, nullptr, nullptr,
                                         0.5, sError))
      << sError;
  EXPECT_EQ(qvIsSequence(&b), 1);
  Record back;
  ASSERT_EQ(qvBunchToVIDINFHDR(&b, &back.v), 1);
  qvFreeBunch(&b);
  EXPECT_EQ(back.v.width, 6);
  EXPECT_EQ(back.v.height, 4);
  EXPECT_EQ(back.v.bpp, 16);
  EXPECT_EQ(back.v.ebpp, 10);
  EXPECT_EQ(back.v.numframes, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back.frame(i), a.frame(i));
    EXPECT_EQ(back.v.framescales[i], a.v.framescales[i]);
  }
}

TEST(ShortenPath, FitsOrCutsInTheMiddle) {
  char buffer[64];
  const std::string s63(63, 'a');
  ASSERT_TRUE(_internal_shortenPath(s63.c_str(), buffer, 64));
  EXPECT_EQ(std::string(buffer), s63);

  std::string s100;
  for (int i = 0; i < 100; ++i) s100 += char('A' + i % 26);
  ASSERT_TRUE(_internal_shortenPath(s100.c_str(), buffer, 64));
  EXPECT_EQ(std::string(buffer), s100.substr(0, 29) + "..." + s100.substr(100 - 31));

  // Head through the third separator, tail from the second-to-last one, both
  // widened towards the cut (tail first) to exactly 63 characters.
  const std::string sPath = "/data/run/2026/" + std::string(80, 'm') + "/cam/file.imm";
  ASSERT_TRUE(_internal_shortenPath(sPath.c_str(), buffer, 64));
  const std::string sOut(buffer);
  EXPECT_EQ(sOut.size(), 63u);
  // "/data/run/" (10) and "/cam/file.imm" (13), widened by 37: tail 19, head 18.
  EXPECT_EQ(sOut, sPath.substr(0, 28) + "..." + sPath.substr(sPath.size() - 32));

  // Pieces too long for the room: an even split.
  const std::string sLong = "/" + std::string(70, 'h') + "/" + std::string(70, 't');
  ASSERT_TRUE(_internal_shortenPath(sLong.c_str(), buffer, 64));
  EXPECT_EQ(std::string(buffer), sLong.substr(0, 30) + "..." + sLong.substr(sLong.size() - 30));

  // A trailing separator does not count.
  // Head "/a/b/" (5), tail "/dd/ee/" (7), widened by 16 to fit 31.
  const std::string sTrailing = "/a/b/c/" + std::string(60, 'x') + "\\dd\\ee/";
  ASSERT_TRUE(_internal_shortenPath(sTrailing.c_str(), buffer, 32));
  EXPECT_EQ(std::string(buffer), sTrailing.substr(0, 13) + "..." + sTrailing.substr(74 - 15));
}

TEST(ShortenPath, RefusesTinyOrNullBuffers) {
  char buffer[8] = "keep";
  EXPECT_FALSE(_internal_shortenPath("abcdefgh", buffer, 4));
  EXPECT_STREQ(buffer, "keep");
  EXPECT_FALSE(_internal_shortenPath("abcdefgh", nullptr, 64));
  EXPECT_TRUE(_internal_shortenPath("abcdefgh", buffer, 5));
  EXPECT_STREQ(buffer, "...h");  // no separator: head (size-1)/2-2, tail (size-1)/2-1, +1
}

TEST(VidinfhdrToBunch, MissingFrameLeavesNothingBehind) {
  Record r;
  fillRecord(r.v, 2, 2, 8, 8, 3, 1);
  std::free(r.v.framebits[2]);
  r.v.framebits[2] = nullptr;
  QVBUNCHOFIMAGES b{nullptr, 0};
  std::string sError;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, nullptr, nullptr, 0, sError));
  EXPECT_EQ(sError, "Parameter apInVinf->framebits[2] must not be NULL.");
  EXPECT_EQ(b.imageArray, nullptr);
  EXPECT_EQ(b.numFrames, 0u);
}

namespace {

const char kValidityLine[] = "CDIMAGE::checkValidity error: ";
const char kTransportReason4096[] =
    "In case Img.frameHeader.appendedFrameSize(33554432) is bigger than zero, it must not be "
    "bigger than MAX_TRANSPORT_SIZE(27262976).";

// A record of one frame with the geometry given; its pixels are one byte, as
// an oversized frame is refused before they would be read.
void fillOversizedRecord(VIDINFHDR& v, int w, int h, int bpp, int n = 1) {
  fillRecord(v, 1, 1, 8, 8, n, 1);
  v.width = w;
  v.height = h;
  v.bpp = bpp;
  v.ebpp = bpp;
}

// An IMM file of one 4096 x 4096 16-bit frame: 33554432 bytes of pixels.
std::string writeOversizedImm(const TempDir& dir) {
  const std::string sPath = dir.file("big.imm");
  writeFile(sPath, frameHeader(4096, 16, 4096, 16) + bytes(33554432, '\x01') + f64(1.0));
  return sPath;
}

}  // namespace

TEST(VidinfhdrToBunch, OversizedFrameLogsTheValidityReason) {
  // The reason the validity check gives for the image the conversion would build.
  DIMAGE img;
  std::memset(&img, 0, sizeof img);
  img.sourceHeader.baseTag = QV_BASE_TAG;
  img.sourceHeader.totalLength = 188 + 33554432u;
  img.frameHeader.sourceWidth = img.frameHeader.sourceHeight = 4096;
  img.frameHeader.aoiWidth = img.frameHeader.aoiHeight = -1;
  img.frameHeader.bytesPerPixel = 2;
  img.frameHeader.imageFlags = 3;
  img.frameHeader.appendedFrameSize = 33554432;
  img.frameBufferSize = 33554432u;
  uint8_t oneByte = 0;
  img.frameBuffer = &oneByte;  // never read
  char sReason[512] = "";
  {
    LogCapture quiet;
    ASSERT_EQ(qvCheckImageValidity(&img, sReason, sizeof sReason), -1);
  }
  ASSERT_EQ(std::string(sReason), kTransportReason4096);

  Record r;
  fillOversizedRecord(r.v, 4096, 4096, 16, 2);
  QVBUNCHOFIMAGES b{nullptr, 0};
  std::string sError;
  double dProgress = -1;
  LogCapture log;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, nullptr, &dProgress, 0.5, sError));
  EXPECT_EQ(sError, "_internal_qvCheckImageValidity failed at image 1 of 2.");
  EXPECT_EQ(log.count(kValidityLine), 1) << log.text();
  EXPECT_EQ(log.count(std::string(kValidityLine) + sReason), 1) << log.text();
  EXPECT_EQ(dProgress, -1);
  EXPECT_EQ(b.numFrames, 0u);
  EXPECT_EQ(b.imageArray, nullptr);
  EXPECT_EQ(r.v.numframes, 2);  // the record stays as it was
}

TEST(VidinfhdrToBunch, OversizedFrameBeyondThirtyTwoBitsLogsItsTrueSize) {
  const struct {
    int w, h, bpp;
    const char* size;
  } cases[] = {
      {20000, 20000, 8, "400000000"},
      {40000, 40000, 16, "3200000000"},  // above the signed 32-bit range
      {65536, 65536, 16, "8589934592"},  // above the unsigned 32-bit range
      {65536, 32768, 16, "4294967296"},  // wraps to 0 in 32 bits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Record r;
    fillOversizedRecord(r.v, c.w, c.h, c.bpp);
    QVBUNCHOFIMAGES b{nullptr, 0};
    std::string sError;
    LogCapture log;
    EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, nullptr, nullptr, 0, sError));
    EXPECT_EQ(sError, "_internal_qvCheckImageValidity failed at image 1 of 1.");
    EXPECT_EQ(log.count(std::string(kValidityLine) + "In case Img.frameHeader.appendedFrameSize(" +
                        c.size +
                        ") is bigger than zero, it must not be bigger than "
                        "MAX_TRANSPORT_SIZE(27262976)."),
              1)
        << log.text();
    EXPECT_EQ(b.imageArray, nullptr);
  }
}

TEST(VidinfhdrToBunch, UserBreakWinsOverTheSizeRefusal) {
  Record r;
  fillOversizedRecord(r.v, 4096, 4096, 16, 2);
  QVBUNCHOFIMAGES b{nullptr, 0};
  std::string sError;
  int iBreak = 1;
  LogCapture log;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, &iBreak, nullptr, 0, sError));
  EXPECT_EQ(sError, "Interrupted by user.");
  EXPECT_EQ(log.count(kValidityLine), 0) << log.text();
  EXPECT_EQ(b.numFrames, 0u);
  EXPECT_EQ(b.imageArray, nullptr);

  // Any other value of the flag is no break: the size refusal follows.
  iBreak = 2;
  EXPECT_FALSE(_internal_VIDINFHDRToBunch(nullptr, &r.v, &b, &iBreak, nullptr, 0, sError));
  EXPECT_EQ(sError, "_internal_qvCheckImageValidity failed at image 1 of 2.");
  EXPECT_EQ(log.count(std::string(kValidityLine) + kTransportReason4096), 1) << log.text();
}

TEST(Conversion, OversizedImmFileFailsWithTheValidityReasonInTheLog) {
  TempDir dir;
  const std::string sPath = writeOversizedImm(dir);
  ASSERT_EQ(qvCheckFileFormat(sPath.c_str(), nullptr, 0), 0);

  LogCapture log;
  QVBUNCHOFIMAGES b{nullptr, 0};
  char sText[300] = "";
  double dProgress = -1;
  EXPECT_EQ(qvLoadImagesFromFileEx(sPath.c_str(), &b, nullptr, &dProgress, sText, sizeof sText),
            -15);
  EXPECT_EQ(std::string(sText), "File \"" + sPath +
                                    "\" load error: _internal_qvCheckImageValidity failed at "
                                    "image 1 of 1.");
  EXPECT_EQ(log.count(kValidityLine), 1) << log.text();
  EXPECT_EQ(log.count(std::string(kValidityLine) + kTransportReason4096), 1) << log.text();
  EXPECT_EQ(b.numFrames, 0u);
  EXPECT_EQ(b.imageArray, nullptr);
}

TEST(Conversion, InterruptSetBeforeLoadingAnOversizedImmFileWins) {
  TempDir dir;
  const std::string sPath = writeOversizedImm(dir);
  LogCapture log;
  QVBUNCHOFIMAGES b{nullptr, 0};
  char sText[300] = "";
  int iInterrupt = 1;
  // The IMM reader sees the flag first: the legacy reader's interruption.
  EXPECT_EQ(qvLoadImagesFromFileEx(sPath.c_str(), &b, &iInterrupt, nullptr, sText, sizeof sText),
            -9);
  EXPECT_EQ(std::string(sText), "File \"" + sPath + "\" load error: User break.");
  EXPECT_EQ(log.count(kValidityLine), 0) << log.text();
  EXPECT_EQ(b.numFrames, 0u);
  EXPECT_EQ(b.imageArray, nullptr);
}
