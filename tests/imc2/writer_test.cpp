#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <random>
#include <string>
#include <vector>

#include "imc2/imc2.h"
#include "imc2_test_util.h"
#include "support/tempdir.h"

namespace {

struct SaveResult {
  int code;
  std::string reason;
};

SaveResult save(QVBUNCHOFIMAGES* bunch, const char* path, int* interrupt = nullptr,
                double* progress = nullptr) {
  char reason[1024] = "untouched";
  const int code = qvSaveImagesToFileEx(bunch, path, reason, sizeof reason, interrupt, progress);
  return {code, reason};
}

std::string quoted(const std::string& path) { return "File \"" + path + "\""; }

std::string uncompress(const std::string& stream, size_t size) {
  std::string out(size, '\0');
  uLongf n = size;
  if (::uncompress(reinterpret_cast<Bytef*>(&out[0]), &n,
                   reinterpret_cast<const Bytef*>(stream.data()), stream.size()) != Z_OK) {
    return "<zlib error>";
  }
  out.resize(n);
  return out;
}

std::string frameBytes(const DIMAGE& img) {
  return std::string(reinterpret_cast<const char*>(img.frameBuffer),
                     static_cast<size_t>(img.frameHeader.appendedFrameSize));
}

}  // namespace

TEST(IMC2Writer, TwentyGlobalRecordsPutTheFirstImageAt5054) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 2, 8, 4, 1);
  const std::string path = dir.file("a.imc2");
  ASSERT_EQ(save(bunch.get(), path.c_str()).code, 0);

  const std::string content = readFile(path);
  const ParsedFile f = parseIMC2(content, 2);
  ASSERT_TRUE(f.wellFormed);
  EXPECT_EQ(f.magic1, 0u);
  EXPECT_EQ(f.magic2, 1u);
  EXPECT_EQ(content.substr(8, 6), std::string("\x14\0\0\0\r\n", 6));
  EXPECT_EQ(f.globals, globalRecords(2, 8, 4, 1));
  ASSERT_EQ(f.images.size(), 2u);
  EXPECT_EQ(f.images[0].blockOffset, 5054u);
  EXPECT_EQ(f.images[0].records,
            (std::vector<std::string>{"image_start=image 1 of 2",
                                      "image_flags=LITTLE_ENDIAN LOSSLESS_BIT_NOT_SET "
                                      "XYSTART_ZERO_BASED LOCAL_TIMESTAMP"}));
  EXPECT_EQ(f.images[1].records[0], "image_start=image 2 of 2");
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(f.images[i].lenUncompressed, 32u);
    const std::string frame = frameBytes(bunch[i]);
    if (f.images[i].lenCompressed < 32) {
      EXPECT_EQ(uncompress(f.images[i].data, 32), frame);
    } else {
      EXPECT_EQ(f.images[i].data, frame);
    }
  }
}

TEST(IMC2Writer, PortNameAndIdGiveTwentyTwoRecordsAndTheBlockAt5558) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 1, 4, 4, 2);
  DIMAGE& img = bunch[0];
  img.sourceHeader.cameraPortId = -5;
  memset(img.sourceHeader.cameraPortName, 'N', 64);  // not terminated within its field
  img.frameHeader.sourceWidth = 10;
  img.frameHeader.sourceHeight = 6;
  img.frameHeader.aoiWidth = 4;
  img.frameHeader.aoiHeight = 4;
  img.frameHeader.xStart = 3;
  img.frameHeader.yStart = 2;
  img.frameHeader.effectiveBitsPerPixel = -1;
  img.frameHeader.xScale = 0.0125f;
  img.frameHeader.yScale = 0.0000001f;
  img.frameHeader.imageRotation = -1.0f;
  img.frameHeader.scale_x_offset = -2.5f;
  img.frameHeader.scale_y_offset = 1e10f;
  img.frameHeader.sourceFormat = CF_IMAGE_FORMAT_BAYER;
  img.frameHeader.horizontalBinning = -3;
  const std::string path = dir.file("b");
  ASSERT_EQ(save(bunch.get(), path.c_str()).code, 0);

  const ParsedFile f = parseIMC2(readFile(path), 1);
  ASSERT_TRUE(f.wellFormed);
  ASSERT_EQ(f.globals.size(), 22u);
  EXPECT_EQ(f.images[0].blockOffset, 5558u);
  const std::vector<std::string> expected = {"number_of_images=1",
                                             "width_px=4",
                                             "height_px=4",
                                             "scale_x_mm/px=0.012500",
                                             "scale_y_mm/px=0.000000",
                                             "source_width_px=10",
                                             "source_height_px=6",
                                             "aoi_width_px=4",
                                             "aoi_height_px=4",
                                             "x_start_px=3",
                                             "y_start_px=2",
                                             "bytes_per_pixel=2",
                                             "effective_bits_per_pixel=-1",
                                             "horizontal_binning=-3",
                                             "vertical_binning=1",
                                             "source_format=BAYER",
                                             "image_format=GRAY",
                                             "image_rotation=-1.000000",
                                             "scale_x_offset=-2.500000",
                                             "scale_y_offset=10000000000.000000",
                                             "camera_port_name=" + std::string(64, 'N'),
                                             "camera_port_id=4294967291"};
  EXPECT_EQ(f.globals, expected);
}

TEST(IMC2Writer, PortNameAloneOrIdAloneGiveTwentyOneRecords) {
  TempDir dir;
  for (int withName = 0; withName < 2; ++withName) {
    TestBunch bunch;
    makeBunch(bunch, 1, 2, 2, 1);
    if (withName) {
      strcpy(bunch[0].sourceHeader.cameraPortName, "port");
    } else {
      bunch[0].sourceHeader.cameraPortId = 7;
    }
    const std::string path = dir.file("c" + std::to_string(withName));
    ASSERT_EQ(save(bunch.get(), path.c_str()).code, 0);
    const ParsedFile f = parseIMC2(readFile(path), 1);
    ASSERT_TRUE(f.wellFormed);
    ASSERT_EQ(f.globals.size(), 21u);
    EXPECT_EQ(f.globals[20], withName ? "camera_port_name=port" : "camera_port_id=7");
  }
}

TEST(IMC2Writer, PerImageRecordsFollowTheOptionalFields) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 4, 2, 2, 1);
  bunch[0].sourceHeader.timestampSeconds = 1690383845;  // 2023-07-26 15:04:05 UTC
  bunch[0].sourceHeader.timestampMicroseconds = 123;
  bunch[0].frameHeader.frameNumber = 4294967295u;
  bunch[0].frameHeader.eventNumber = 9;
  bunch[0].frameHeader.imageFlags = 0x3EF;
  bunch[1].sourceHeader.timestampSeconds = 2147483648u;       // from 2038 on
  bunch[1].sourceHeader.timestampMicroseconds = 0x80000000u;  // negative as signed: 0
  bunch[2].frameHeader.eventNumber = 1;
  bunch[3].sourceHeader.timestampSeconds = 4294967295u;
  const std::string path = dir.file("d.bkc2");
  ASSERT_EQ(save(bunch.get(), path.c_str()).code, 0);

  const ParsedFile f = parseIMC2(readFile(path), 4);
  ASSERT_TRUE(f.wellFormed);
  EXPECT_EQ(
      f.images[0].records,
      (std::vector<std::string>{
          "image_start=image 1 of 4", "timestamp_utc=2023-07-26  3:04:05.000123 PM UTC",
          "image_flags=LITTLE_ENDIAN LOSSLESS HORIZONTAL_FLIP_180 VERTICAL_FLIP_180 "
          "XYSTART_ZERO_BASED EVENTNUMBER_OUT_OF_SYNC GLOBAL_TIMESTAMP TIMESTAMP_EXTRAPOLATED "
          "SCALE_OFFSET SOFTWARE_ROI",
          "framenumber=4294967295", "eventnumber=9"}));
  ASSERT_EQ(f.images[1].records.size(), 3u);
  EXPECT_EQ(f.images[1].records[1], "timestamp_utc=2038-01-19  3:14:08.000000 AM UTC");
  ASSERT_EQ(f.images[2].records.size(), 3u);
  EXPECT_EQ(f.images[2].records[2], "eventnumber=1");
  ASSERT_EQ(f.images[3].records.size(), 3u);
  EXPECT_EQ(f.images[3].records[1], "timestamp_utc=2106-02-07  6:28:15.000000 AM UTC");
}

TEST(IMC2Writer, IncompressibleFramesAreStoredRawAndUniformOnesCompressed) {
  TempDir dir;
  std::mt19937 rng(42);
  TestBunch bunch;
  makeBunch(bunch, 2, 256, 256, 1, CF_IMAGE_FORMAT_GRAY,
            [&](uint32_t i, size_t) { return i == 0 ? static_cast<uint8_t>(rng()) : uint8_t{77}; });
  const std::string path = dir.file("e");
  ASSERT_EQ(save(bunch.get(), path.c_str()).code, 0);
  const ParsedFile f = parseIMC2(readFile(path), 2);
  ASSERT_TRUE(f.wellFormed);
  EXPECT_EQ(f.images[0].lenCompressed, 65536u);
  EXPECT_EQ(f.images[0].data, frameBytes(bunch[0]));
  EXPECT_LT(f.images[1].lenCompressed, 1000u);
  EXPECT_EQ(f.images[1].data, zlibCompress(frameBytes(bunch[1])))
      << "zlib format at the default level";
}

TEST(IMC2Writer, TinyFramesAreStoredRawInsteadOfFailing) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 3, 1, 1, 1);
  const std::string path = dir.file("tiny");
  ASSERT_EQ(save(bunch.get(), path.c_str()).code, 0);
  const ParsedFile f = parseIMC2(readFile(path), 3);
  ASSERT_TRUE(f.wellFormed);
  for (const auto& block : f.images) {
    EXPECT_EQ(block.lenUncompressed, 1u);
    EXPECT_EQ(block.lenCompressed, 1u);
  }
  EXPECT_EQ(f.images[2].data, frameBytes(bunch[2]));
}

TEST(IMC2Writer, ArgumentPreconditionsInOrder) {
  TempDir dir;
  const std::string path = dir.file("p");
  const std::string Q = quoted(path);
  TestBunch bunch;
  SaveResult r = save(nullptr, nullptr);
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason, "Parameter asFilePath must not be NULL.");
  r = save(nullptr, "");
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason, "Parameter asFilePath must not be empty string.");
  r = save(nullptr, path.c_str());
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason, Q + " save error: Parameter apImages must not be NULL.");
  r = save(bunch.get(), path.c_str());
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason, Q + " save error: Parameter apImages->imageArray must not be NULL.");

  makeBunch(bunch, 1, 2, 2, 1);
  QVBUNCHOFIMAGES view = *bunch.get();
  view.numFrames = 0;
  r = save(&view, path.c_str());
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason, Q + " save error: Parameter apImages->numFrames must not be NULL.");
  view.numFrames = 10001;  // refused before any image is looked at
  r = save(&view, path.c_str());
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.reason,
            Q + " save error: Parameter apImages->numFrames(=10001) must not be >10'000.");
  EXPECT_FALSE(fileExists(path));
}

TEST(IMC2Writer, BunchMustBeAGrayOrRgbSequence) {
  TempDir dir;
  const std::string path = dir.file("s");
  const std::string Q = quoted(path);
  {
    TestBunch bunch;
    makeBunch(bunch, 2, 2, 2, 1);
    bunch[1].frameHeader.yScale = 2.0f;
    const SaveResult r = save(bunch.get(), path.c_str());
    EXPECT_EQ(r.code, -13);
    EXPECT_EQ(r.reason, Q + " save error: Bunch of images passed must be an image sequence (header "
                            "fields valid and almost identical), but qvIsSequence() returned 0");
  }
  {
    TestBunch bunch;
    makeBunch(bunch, 2, 2, 2, 1);
    bunch[1].frameHeader.bytesPerPixel = 5;
    const SaveResult r = save(bunch.get(), path.c_str());
    EXPECT_EQ(r.code, -13);
    EXPECT_EQ(r.reason, Q + " save error: Bunch of images passed must be an image sequence (header "
                            "fields valid and almost identical), but qvIsSequence() returned -1");
  }
  for (int32_t format : {CF_IMAGE_FORMAT_RGBA, CF_IMAGE_FORMAT_JPEG}) {
    TestBunch bunch;
    makeBunch(bunch, 1, 2, 2, 4, format);
    const SaveResult r = save(bunch.get(), path.c_str());
    EXPECT_EQ(r.code, -13);
    EXPECT_EQ(r.reason,
              Q + " save error: Bunch of images passed must be either GRAY or RGB image format.");
  }
  TestBunch rgb;
  makeBunch(rgb, 1, 2, 2, 3, CF_IMAGE_FORMAT_RGB);
  EXPECT_FALSE(fileExists(path));
  EXPECT_EQ(save(rgb.get(), path.c_str()).code, 0);
}

TEST(IMC2Writer, NeverReplacesAnExistingFile) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 1, 2, 2, 1);
  const std::string path = dir.file("exists.imc2");
  writeFile(path, "precious");
  SaveResult r = save(bunch.get(), path.c_str());
  EXPECT_EQ(r.code, -14);
  EXPECT_EQ(r.reason, quoted(path) + " save error: File already exists.");
  EXPECT_EQ(readFile(path), "precious");

  // A file the process cannot read is still an existing file.
  chmod(path.c_str(), 0);
  r = save(bunch.get(), path.c_str());
  chmod(path.c_str(), 0600);
  EXPECT_EQ(r.code, -14);
  EXPECT_EQ(readFile(path), "precious");

  const std::string missingDir = dir.file("no/such/dir.imc2");
  r = save(bunch.get(), missingDir.c_str());
  EXPECT_EQ(r.code, -4);
  EXPECT_EQ(r.reason, quoted(missingDir) + " save error: File could not be opened for writing.");
}

TEST(IMC2Writer, InterruptDeletesTheFileAndOtherValuesContinue) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 3, 4, 4, 1);
  const std::string path = dir.file("i");
  int interrupt = 1;
  double progress = -1;
  SaveResult r = save(bunch.get(), path.c_str(), &interrupt, &progress);
  EXPECT_EQ(r.code, -9);
  EXPECT_EQ(r.reason, quoted(path) + " save error: Interrupted by user.");
  EXPECT_FALSE(fileExists(path));
  EXPECT_DOUBLE_EQ(progress, 0.09) << "the global block was written before the test";

  interrupt = 2;
  r = save(bunch.get(), path.c_str(), &interrupt, &progress);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.reason, "untouched");
  EXPECT_EQ(progress, 1.0);
  EXPECT_TRUE(parseIMC2(readFile(path), 3).wellFormed);
}

TEST(IMC2Writer, InvalidMicrosecondsFailWithComposeErrorAndNoFile) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 2, 4, 4, 1);
  bunch[1].sourceHeader.timestampSeconds = 100;
  bunch[1].sourceHeader.timestampMicroseconds = 1000000;
  const std::string path = dir.file("t");
  const SaveResult r = save(bunch.get(), path.c_str());
  EXPECT_EQ(r.code, -15);
  EXPECT_EQ(r.reason, quoted(path) +
                          " save error: Error preparing timestamp string for "
                          "timestamp=100.1000000 sec.usec_offset before writing "
                          "per-image metadata timestamp_utc for image 2 of 2).");
  EXPECT_FALSE(fileExists(path));
}

TEST(IMC2Writer, FramesWithoutBytesAreRefused) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 1, 4, 4, 1, CF_IMAGE_FORMAT_RGB);  // RGB with 1 byte: no size rule
  bunch[0].frameHeader.appendedFrameSize = 0;
  bunch[0].sourceHeader.totalLength = 188;
  const std::string path = dir.file("z");
  const SaveResult r = save(bunch.get(), path.c_str());
  EXPECT_EQ(r.code, -7);
  EXPECT_EQ(r.reason, quoted(path) + " save error: Error compressing image #1 of 1.");
  EXPECT_FALSE(fileExists(path));
}

TEST(IMC2Writer, TenThousandImagesAreWritten) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 10000, 1, 1, 1);
  const std::string path = dir.file("many");
  double progress = 0;
  ASSERT_EQ(save(bunch.get(), path.c_str(), nullptr, &progress).code, 0);
  EXPECT_EQ(progress, 1.0);
  const ParsedFile f = parseIMC2(readFile(path), 10000);
  ASSERT_TRUE(f.wellFormed);
  EXPECT_EQ(f.images[9999].records[0], "image_start=image 10000 of 10000");
}

#if !defined(_WIN32)  // Linux only: resource limits and signals are POSIX
// Write failures for real: a file size limit on a child process, with the
// limit signal ignored so that writes fail with an error instead.
namespace {
int saveUnderFileSizeLimit(QVBUNCHOFIMAGES* bunch, const std::string& path, rlim_t limit,
                           std::string* reason) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit lim{limit, limit};
  setrlimit(RLIMIT_FSIZE, &lim);
  const SaveResult r = save(bunch, path.c_str());
  *reason = r.reason;
  return r.code;
}
}  // namespace

TEST(IMC2WriterDeathTest, WriteErrorInAFrameLeavesNoFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  TestBunch bunch;
  std::mt19937 rng(1);
  makeBunch(bunch, 2, 512, 512, 1, CF_IMAGE_FORMAT_GRAY,
            [&](uint32_t, size_t) { return static_cast<uint8_t>(rng()); });
  const std::string path = dir.file("full");
  EXPECT_EXIT(
      {
        std::string reason;
        const int code = saveUnderFileSizeLimit(bunch.get(), path, 300000, &reason);
        const bool ok =
            code == -5 && !fileExists(path) &&
            reason == quoted(path) + " save error (image data (pixels) for image 2 of 2).";
        rmdir(dir.path().c_str());
        _exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(IMC2WriterDeathTest, FailedFinalFlushIsReportedAndDeletesTheFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 1, 8, 8, 1);  // whole file stays in the stream buffer until closing
  const std::string path = dir.file("flush");
  EXPECT_EXIT(
      {
        std::string reason;
        const int code = saveUnderFileSizeLimit(bunch.get(), path, 1000, &reason);
        const bool ok = code == -5 && !fileExists(path) &&
                        reason == quoted(path) + " write error (closing the file).";
        rmdir(dir.path().c_str());
        _exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif
