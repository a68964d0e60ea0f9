#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "imc2/imc2.h"
#include "imc2_test_util.h"
#include "legacy/legacy.h"
#include "support/tempdir.h"

namespace {

constexpr int32_t kW = 16, kH = 16;
constexpr uint32_t kFrame = kW * kH;

std::string rawFrame() {
  std::string s(kFrame, '\0');
  for (uint32_t i = 0; i < kFrame; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
  return s;
}
std::string uniformFrame() { return std::string(kFrame, '\x2a'); }

Bytes head(uint32_t G) { return Bytes().u32(0).u32(1).u32(G).crlf(); }

Bytes& addRecords(Bytes& b, const std::vector<std::string>& records) {
  for (const auto& r : records) b.record(r);
  return b;
}

// One image block: lengths, count, records, data.
Bytes& addImage(Bytes& b, uint64_t ulen, uint64_t clen, const std::vector<std::string>& records,
                const std::string& data) {
  b.u64(ulen).u64(clen).u32(static_cast<uint32_t>(records.size())).crlf();
  addRecords(b, records);
  return b.raw(data);
}

std::vector<std::string> imageRecords(uint32_t i, uint32_t n) {
  return {"image_start=image " + std::to_string(i) + " of " + std::to_string(n),
          "image_flags=LITTLE_ENDIAN"};
}

// Two valid images: the first stored raw, the second as a zlib stream.
Bytes validFile(std::vector<std::string> globals = globalRecords(2, kW, kH, 1)) {
  Bytes b = head(static_cast<uint32_t>(globals.size()));
  addRecords(b, globals);
  addImage(b, kFrame, kFrame, imageRecords(1, 2), rawFrame());
  const std::string z = zlibCompress(uniformFrame());
  addImage(b, kFrame, z.size(), imageRecords(2, 2), z);
  return b;
}

struct Loaded {
  int code;
  std::string reason;
  TestBunch bunch;
};

void load(Loaded& out, const std::string& path, int* interrupt = nullptr,
          double* progress = nullptr) {
  char reason[1024] = "untouched";
  out.code = qvLoadImagesFromFileEx(path.c_str(), out.bunch.get(), interrupt, progress, reason,
                                    sizeof reason);
  out.reason = reason;
}

// Loads content written to a fresh file; the path goes into Q.
struct Case {
  std::string content;
  int code;
  std::string messageAfterQ;  // "" = do not compare
};

std::string Q(const std::string& path) { return "File \"" + path + "\""; }

void expectFailure(const TempDir& dir, const Case& c, const char* what) {
  const std::string path = dir.file("crafted");
  remove(path.c_str());
  writeFile(path, c.content);
  Loaded l;
  load(l, path);
  EXPECT_EQ(l.code, c.code) << what << ": " << l.reason;
  if (!c.messageAfterQ.empty()) {
    EXPECT_EQ(l.reason, Q(path) + c.messageAfterQ) << what;
  }
  EXPECT_EQ(l.bunch.get()->numFrames, 0u) << what;
  EXPECT_EQ(l.bunch.get()->imageArray, nullptr) << what;
}

std::vector<std::string> replaced(std::vector<std::string> v, size_t i, const std::string& r) {
  v[i] = r;
  return v;
}

}  // namespace

TEST(IMC2Reader, RoundTripKeepsEveryHeaderFieldTheFormatCarries) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 3, 40, 30, 2);
  for (uint32_t i = 0; i < 3; ++i) {
    DIMAGE& img = bunch[i];
    img.sourceHeader.cameraPortId = -5;
    strcpy(img.sourceHeader.cameraPortName, "camera/port:1");
    img.sourceHeader.timestampSeconds = 2200000000u + i;
    img.sourceHeader.timestampMicroseconds = 999999 - i;
    img.frameHeader.sourceWidth = 50;
    img.frameHeader.sourceHeight = 31;
    img.frameHeader.aoiWidth = 40;
    img.frameHeader.aoiHeight = 30;
    img.frameHeader.xStart = 10;
    img.frameHeader.yStart = 1;
    img.frameHeader.effectiveBitsPerPixel = 12;
    img.frameHeader.horizontalBinning = 2;
    img.frameHeader.verticalBinning = 4;
    img.frameHeader.sourceFormat = CF_IMAGE_FORMAT_BAYER;
    img.frameHeader.frameNumber = 100 + i * 7;
    img.frameHeader.eventNumber = i == 1 ? 0 : 4000000000u;
    img.frameHeader.xScale = 0.0125f;
    img.frameHeader.yScale = 0.0125f;
    img.frameHeader.imageRotation = -90.5f;
    img.frameHeader.scale_x_offset = 3.25f;
    img.frameHeader.scale_y_offset = -7.5f;
    img.frameHeader.fspare3 = -1.0f;
    img.frameHeader.imageFlags = 0x3E3 ^ (i << 7);
    img.frameHeader.ispare1 = img.frameHeader.ispare2 = img.frameHeader.ispare3 = -1;
  }
  const std::string path = dir.file("rt.imc2");
  ASSERT_EQ(qvSaveImagesToFile(bunch.get(), path.c_str()), 0);
  Loaded l;
  double progress = 0;
  load(l, path, nullptr, &progress);
  ASSERT_EQ(l.code, 0) << l.reason;
  EXPECT_EQ(l.reason, "untouched");
  EXPECT_DOUBLE_EQ(progress, 1.0);
  ASSERT_EQ(l.bunch.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    const DIMAGE& in = bunch[i];
    const DIMAGE& out = l.bunch[i];
    EXPECT_EQ(memcmp(&in, &out, QV_HDR_IMAGE_SIZE), 0) << "header of image " << i;
    EXPECT_EQ(out.frameBufferSize, static_cast<uint32_t>(in.frameHeader.appendedFrameSize));
    EXPECT_EQ(memcmp(in.frameBuffer, out.frameBuffer, out.frameBufferSize), 0);
  }
}

TEST(IMC2Reader, AbsentOptionalKeysLeaveTheTemplateValues) {
  TempDir dir;
  TestBunch bunch;
  makeBunch(bunch, 2, 4, 4, 1);
  const std::string path = dir.file("plain.bkc2");
  ASSERT_EQ(qvSaveImagesToFile(bunch.get(), path.c_str()), 0);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  Loaded l;
  load(l, path);
  ASSERT_EQ(l.code, 0) << l.reason;
  char shortened[64] = {};
  _internal_shortenPath(path.c_str(), shortened, sizeof shortened);
  for (uint32_t i = 0; i < 2; ++i) {
    const DIMAGE& img = l.bunch[i];
    EXPECT_EQ(img.sourceHeader.cameraPortId, 0);
    EXPECT_EQ(memcmp(img.sourceHeader.cameraPortName, shortened, 64), 0);
    EXPECT_EQ(img.sourceHeader.timestampSeconds, static_cast<uint32_t>(st.st_mtime));
    EXPECT_EQ(img.sourceHeader.timestampMicroseconds, 0u);
    EXPECT_EQ(img.frameHeader.frameNumber, i + 1);
    EXPECT_EQ(img.frameHeader.eventNumber, 0u);
    EXPECT_EQ(img.frameHeader.fspare3, -1.0f);
    EXPECT_EQ(img.frameHeader.ispare2, -1);
    EXPECT_EQ(img.sourceHeader.baseTag, QV_BASE_TAG);
    EXPECT_EQ(img.sourceHeader.versionTag, 1u);
  }
}

TEST(IMC2Reader, CraftedFileLoadsRawAndZlibFrames) {
  TempDir dir;
  const std::string path = dir.file("ok");
  writeFile(path, validFile().str());
  Loaded l;
  load(l, path);
  ASSERT_EQ(l.code, 0) << l.reason;
  ASSERT_EQ(l.bunch.size(), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(l.bunch[0].frameBuffer), kFrame), rawFrame());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(l.bunch[1].frameBuffer), kFrame), uniformFrame());
  EXPECT_EQ(l.bunch[1].frameHeader.imageFlags, CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER);

  int code = 99;
  std::string reason = "kept";
  QVBUNCHOFIMAGES direct;
  qvInitializeBunchStructure(&direct);
  EXPECT_TRUE(_internal_readIMC2File(path.c_str(), &direct, &code, reason, nullptr, nullptr));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(reason, "kept");
  qvFreeBunch(&direct);
}

TEST(IMC2Reader, ArgumentChecks) {
  TempDir dir;
  const std::string path = dir.file("ok");
  writeFile(path, validFile().str());
  char reason[256];
  EXPECT_EQ(qvLoadImagesFromFileEx(nullptr, nullptr, nullptr, nullptr, reason, sizeof reason), -1);
  EXPECT_STREQ(reason, "Parameter asFilePath must not be NULL.");
  EXPECT_EQ(qvLoadImagesFromFileEx("", nullptr, nullptr, nullptr, reason, sizeof reason), -1);
  EXPECT_STREQ(reason, "Parameter asFilePath must not be empty string.");
  EXPECT_EQ(qvLoadImagesFromFileEx(path.c_str(), nullptr, nullptr, nullptr, reason, sizeof reason),
            -1);
  EXPECT_EQ(reason, Q(path) + " load error: Parameter apImages must not be NULL.");
  DIMAGE dummy;
  QVBUNCHOFIMAGES notEmpty = {nullptr, 1};
  EXPECT_EQ(
      qvLoadImagesFromFileEx(path.c_str(), &notEmpty, nullptr, nullptr, reason, sizeof reason), -1);
  EXPECT_EQ(reason,
            Q(path) + " load error: Parameter apImages->numFrames must not be bigger than zero.");
  notEmpty = {&dummy, 0};
  EXPECT_EQ(
      qvLoadImagesFromFileEx(path.c_str(), &notEmpty, nullptr, nullptr, reason, sizeof reason), -1);
  EXPECT_EQ(
      reason,
      Q(path) + " load error: Parameter apImages->imageArray must not be initialized (!=NULL).");

  // The reader checks the same on its own.
  QVBUNCHOFIMAGES one = {nullptr, 1};
  int code = 0;
  std::string text;
  EXPECT_FALSE(_internal_readIMC2File(path.c_str(), &one, &code, text, nullptr, nullptr));
  EXPECT_EQ(code, -1);
  EXPECT_EQ(text,
            Q(path) + " load error: Parameter apImages->numFrames must not be bigger than zero.");

  const std::string missing = dir.file("missing");
  QVBUNCHOFIMAGES empty = {nullptr, 0};
  EXPECT_EQ(
      qvLoadImagesFromFileEx(missing.c_str(), &empty, nullptr, nullptr, reason, sizeof reason), -4);
  EXPECT_EQ(reason, Q(missing) + " could not be opened for reading.");
}

TEST(IMC2Reader, FileHeaderChecks) {
  TempDir dir;
  const Case cases[] = {
      {"", -5, " read error (magic1)."},
      {std::string("\1\0\0", 3), -5, " read error (magic1)."},
      {std::string("\1\0\0\0\0\0", 6), -5, " read error (magic2)."},
      {std::string("\1\0\0\0\0\0\0\0", 8), -3, " is no imc2(bkc2) file (magic1 not zero)."},
      {Bytes().u32(0).u32(2).str(), -3, " is no imc2(bkc2) file (magic2 not one)."},
      {Bytes().u32(0).u32(1).str(), -5, " read error (number_of_global_metadata_sets_in_file)."},
      {Bytes().u32(0).u32(1).u32(20).str(), -5,
       " read error (carriage return after number_of_global_metadata_sets_in_file)."},
      {Bytes().u32(0).u32(1).u32(20).u8(13).str(), -5,
       " read error (line feed after number_of_global_metadata_sets_in_file)."},
      {Bytes().u32(0).u32(1).u32(20).u8(10).u8(10).str(), -3,
       " parse error (incorrect carriage return value after number_of_global_metadata_sets_in_file "
       "(must be 13, but is 10)."},
      {Bytes().u32(0).u32(1).u32(20).u8(13).u8(0).str(), -3,
       " parse error (incorrect line feed value after number_of_global_metadata_sets_in_file (must "
       "be 10, but is 0)."},
      {head(19).str(), -3,
       " parse error (number_of_global_metadata_sets_in_file(19) must be larger than or equal "
       "n_mandatory_global_metadata_sets_in_file(20)."},
      {head(101).str(), -3,
       " parse error (number_of_global_metadata_sets_in_file(101) must less than or equal 100."},
      {head(0xFFFFFFFF).str(), -3,
       " parse error (number_of_global_metadata_sets_in_file(4294967295) must less than or equal "
       "100."},
  };
  for (const Case& c : cases) expectFailure(dir, c, c.messageAfterQ.c_str());
}

TEST(IMC2Reader, GlobalBlockChecks) {
  TempDir dir;
  const auto g = globalRecords(2, kW, kH, 1);
  auto fileWith = [](const std::vector<std::string>& globals) { return validFile(globals).str(); };
  auto plus = [&](std::vector<std::string> v, const std::string& extra) {
    v.push_back(extra);
    return v;
  };
  const std::string path = dir.file("crafted");
  const Case cases[] = {
      {fileWith(replaced(g, 1, "width_px=abc")), -3,
       " parse error: Error validating Key=Value \"width_px=abc\" at global_metadata_set 2 of 20"},
      {fileWith(replaced(g, 3, "scale_x_mm/px=1e39")), -3,
       " parse error: Error validating Key=Value \"scale_x_mm/px=1e39\" at global_metadata_set 4 "
       "of 20"},
      {fileWith(plus(g, "WIDTH_PX=16")), -3,
       " parse error: Error validating Key=Value \"WIDTH_PX=16\" at global_metadata_set 21 of 21"},
      {fileWith(replaced(g, 15, "source_format=gray")), -3,
       " parse error: Global metadata source_format=gray could not be converted."},
      {fileWith(replaced(g, 16, "image_format=CF_IMAGE_FORMAT_GRAY")), -3,
       " parse error: Global metadata image_format=CF_IMAGE_FORMAT_GRAY could not be converted."},
      {fileWith(plus(g, "camera_port_name=")), -3,
       " parse error: Global metadata camera_port_name must not be empty if specified."},
      {fileWith(plus(g, "camera_port_id=-1x")), -3,
       " parse error: Error validating Key=Value \"camera_port_id=-1x\" at global_metadata_set 21 "
       "of 21"},
      {fileWith(replaced(g, 17, "unknown_key=1")), -3,
       " parse error: Mandatory meta data key \"image_rotation is missing in file."},
      {fileWith(replaced(g, 0, "number_of_images=0")), -3,
       " parse error: Meta value images_in_file=0 invalid. Must be >0."},
      {fileWith(replaced(g, 0, "Number_Of_Images=-1")), -5,
       " read error: Unable to read len_uncompressed value at image 3 of 4294967295."},
  };
  for (const Case& c : cases) expectFailure(dir, c, c.messageAfterQ.c_str());

  // Malformed records carry the record reader's code and a message of their own.
  Bytes b = head(20);
  addRecords(b, {g[0], g[1]}).record(g[2], 10, 10);
  const Case malformed = {b.str(), -6, ""};
  expectFailure(dir, malformed, "malformed");
  Loaded l;
  load(l, path);
  EXPECT_EQ(l.reason,
            "Error at _internal_read_metadata_set_from_file while reading 3 of 20 global "
            "metadata set from file \"" +
                path + "\".");
  Bytes noDelimiter = head(20);
  addRecords(noDelimiter, {"number_of_images"});
  expectFailure(dir, {noDelimiter.str(), -6, ""}, "no delimiter");
}

TEST(IMC2Reader, ImageBlockChecks) {
  TempDir dir;
  const auto g = globalRecords(1, kW, kH, 1);
  const std::string z = zlibCompress(uniformFrame());
  auto oneImage = [&](uint64_t ulen, uint64_t clen, const std::vector<std::string>& records,
                      const std::string& data) {
    Bytes b = head(20);
    addRecords(b, g);
    return addImage(b, ulen, clen, records, data).str();
  };
  const auto rec = imageRecords(1, 1);
  auto withRecords = [&](std::vector<std::string> records) {
    return oneImage(kFrame, kFrame, records, rawFrame());
  };
  Bytes badCr = head(20);
  addRecords(badCr, g).u64(kFrame).u64(kFrame).u32(2).u8(13).u8(13);
  Bytes badCrFirst = head(20);
  addRecords(badCrFirst, g).u64(kFrame).u64(kFrame).u32(2).u8(10).u8(10);
  std::string corrupt = z;
  corrupt[z.size() / 2] ^= 0x55;
  const std::string shortStream = zlibCompress(std::string(kFrame - 1, '\x2a'));
  const std::string longStream = zlibCompress(std::string(kFrame + 1, '\x2a'));
  const std::string of = " of image 1 of 1";
  const Case cases[] = {
      {oneImage(2147483648u, 1, rec, "").substr(0, 5054 + 8), -11,
       " parse error: len_uncompressed too large (2147483648 > 2147483647(int32t_max) at image 1 "
       "of 1."},
      {oneImage(kFrame, 0xFFFFFFFFFFFFFFFFull, rec, ""), -11,
       " parse error: len_compressed too large (18446744073709551615 > 2147483647(int32t_max) of "
       "image 1 of 1."},
      {badCrFirst.str(), -3,
       " parse error (incorrect carriage return value after num_image_metadata_sets of image 1 of "
       "1(must be 13, but is 10))."},
      {badCr.str(), -3,
       " parse error (incorrect line feed value after num_image_metadata_sets of image 1 of 1(must "
       "be 10, but is 13))."},
      {oneImage(0, 0, rec, ""), -3,
       " parse error: Value of len_compressed(0) or len_uncompressed(0) zero or u<c, of image 1 of "
       "1."},
      {oneImage(kFrame, 0, rec, ""), -3,
       " parse error: Value of len_compressed(0) or len_uncompressed(256) zero or u<c, of image 1 "
       "of 1."},
      {oneImage(10, 11, rec, rawFrame()), -3,
       " parse error: Value of len_compressed(11) or len_uncompressed(10) zero or u<c, of image 1 "
       "of 1."},
      {withRecords({rec[0]}), -3,
       " parse error: Value of num_image_metadata_sets=1 incorrect, of image 1 of 1. Must be "
       "[2..10]."},
      {withRecords(std::vector<std::string>(11, "x=1")), -3,
       " parse error: Value of num_image_metadata_sets=11 incorrect, of image 1 of 1. Must be "
       "[2..10]."},
      {withRecords({rec[0], rec[1], "framenumber=x"}), -3,
       " parse error: Error validating KeyValue=\"framenumber=x\" at image_metadata_set 3 of 3" +
           of + ".)"},
      {withRecords({rec[0], rec[1], "IMAGE_FLAGS=BIG_ENDIAN"}), -3,
       " parse error: Error validating KeyValue=\"IMAGE_FLAGS=BIG_ENDIAN\" at image_metadata_set 3 "
       "of 3" +
           of + ".)"},
      {withRecords({rec[0], "image_flags=LITTLE_ENDIAN BIG_ENDIAN"}), -3,
       " parse error: Per-image metadata image_flags=LITTLE_ENDIAN BIG_ENDIAN could not be "
       "converted "
       "to flags bits,for image 1 of 1."},
      {withRecords({rec[0], rec[1], "timestamp_utc=2023-07-26 14:03:05.000000 UTC"}), -3,
       " parse error: Per-image metadata timestamp_utc=2023-07-26 14:03:05.000000 UTC could not be "
       "converted to UTC timestamp,for image 1 of 1."},
      {withRecords({rec[0], "eventnumber=1"}), -3,
       " parse error: Mandatory per-image meta data key \"image_flags is missing in file."},
      {withRecords({rec[1], "other=1"}), -3,
       " parse error: Mandatory per-image meta data key \"image_start is missing in file."},
      {oneImage(kFrame, z.size(), rec, corrupt), -8,
       " decompression error: zlib decompression failed at image 1 of 1."},
      {oneImage(kFrame, shortStream.size(), rec, shortStream), -8,
       " decompression error: zlib decompression failed at image 1 of 1."},
      {oneImage(kFrame, longStream.size(), rec, longStream), -8,
       " decompression error: zlib decompression failed at image 1 of 1."},
      {oneImage(kFrame, kFrame, rec, rawFrame().substr(1)), -5,
       " read error: Unable to read image compressed bits (size=256) of image 1 of 1."},
  };
  for (const Case& c : cases) expectFailure(dir, c, c.messageAfterQ.c_str());
}

TEST(IMC2Reader, TolerantOfOtherWritersRecords) {
  TempDir dir;
  auto g = globalRecords(2, kW, kH, 1);
  for (int k = 0; g.size() < 100; ++k) g.push_back("vendor_key_" + std::to_string(k) + "=x=y");
  Bytes b = head(100);
  addRecords(b, g);
  std::vector<std::string> rec = {"Image_Start=whatever", "IMAGE_FLAGS=little_endian lossless"};
  while (rec.size() < 10) rec.push_back("extra" + std::to_string(rec.size()) + "=");
  addImage(b, kFrame, kFrame, rec, rawFrame());
  addImage(b, kFrame, kFrame, rec, rawFrame());  // the same keys again in the next image
  b.raw("trailing bytes are not read");
  const std::string path = dir.file("other");
  writeFile(path, b.str());
  Loaded l;
  load(l, path);
  ASSERT_EQ(l.code, 0) << l.reason;
  ASSERT_EQ(l.bunch.size(), 2u);
  EXPECT_EQ(l.bunch[1].frameHeader.imageFlags, 3u);
  EXPECT_EQ(qvCheckFileFormat(path.c_str(), nullptr, 0), -1) << "the probe rejects trailing bytes";
}

TEST(IMC2Reader, FewerAnnouncedImagesLoadOnlyThose) {
  TempDir dir;
  Bytes b = validFile(globalRecords(1, kW, kH, 1));
  const std::string path = dir.file("fewer");
  writeFile(path, b.str());
  Loaded l;
  load(l, path);
  ASSERT_EQ(l.code, 0) << l.reason;
  EXPECT_EQ(l.bunch.size(), 1u);
}

TEST(IMC2Reader, TruncationAnywhereIsAReadError) {
  TempDir dir;
  const std::string full = validFile().str();
  const std::string path = dir.file("cut");
  for (size_t cut = 0; cut < full.size(); ++cut) {
    remove(path.c_str());
    writeFile(path, full.substr(0, cut));
    Loaded l;
    load(l, path);
    ASSERT_EQ(l.code, -5) << "cut at " << cut << ": " << l.reason;
    ASSERT_EQ(l.bunch.get()->imageArray, nullptr);
  }
  // Each field names itself.
  const size_t image1 = 5054, image2 = image1 + 22 + 504 + kFrame;
  const std::pair<size_t, std::string> named[] = {
      {image1, Q(path) + " read error: Unable to read len_uncompressed value at image 1 of 2."},
      {image1 + 8, Q(path) + " read error: Unable to read len_compressed value at image 1 of 2."},
      {image1 + 16,
       Q(path) + " read error: Unable to read num_image_metadata_sets of image 1 of 2."},
      {image1 + 20,
       Q(path) + " read error (carriage return after num_image_metadata_sets of image 1 of 2)."},
      {image1 + 21,
       Q(path) + " read error (line feed after num_image_metadata_sets of image 1 of 2)."},
      {image1 + 22 + 252 + 10,
       "Error at _internal_read_metadata_set_from_file while reading 2 of 2 "
       "per-image metadata set of image 1 of 2 from file \"" +
           path + "\"."},
      {image2 - 1,
       Q(path) + " read error: Unable to read image compressed bits (size=256) of image 1 of 2."},
      {image2 + 3, Q(path) + " read error: Unable to read len_uncompressed value at image 2 of 2."},
      {14 + 252 * 4,
       "Error at _internal_read_metadata_set_from_file while reading 5 of 20 global "
       "metadata set from file \"" +
           path + "\"."},
  };
  for (const auto& n : named) {
    remove(path.c_str());
    writeFile(path, full.substr(0, n.first));
    Loaded l;
    load(l, path);
    EXPECT_EQ(l.reason, n.second) << "cut at " << n.first;
  }
}

TEST(IMC2Reader, CountsBeyondTheFileFailWithoutLargeAllocations) {
  TempDir dir;
  const std::string path = dir.file("hostile");
  // A billion images announced by a file of one image.
  Bytes b = validFile(replaced(globalRecords(2, kW, kH, 1), 0, "number_of_images=1000000000"));
  expectFailure(
      dir,
      {b.str(), -5, " read error: Unable to read len_uncompressed value at image 3 of 1000000000."},
      "billion images");
  // A frame of 2 GiB from a stream of five bytes cannot be.
  const auto g = globalRecords(1, kW, kH, 1);
  Bytes huge = head(20);
  addRecords(huge, g);
  addImage(huge, 2147483647, 5, imageRecords(1, 1), "abcde");
  expectFailure(
      dir, {huge.str(), -8, " decompression error: zlib decompression failed at image 1 of 1."},
      "2 GiB from 5 bytes");
  // A raw frame larger than the rest of the file.
  Bytes raw = head(20);
  addRecords(raw, g);
  addImage(raw, 100000000, 100000000, imageRecords(1, 1), rawFrame());
  expectFailure(
      dir,
      {raw.str(), -5,
       " read error: Unable to read image compressed bits (size=100000000) of image 1 of 1."},
      "raw beyond the end");
}

TEST(IMC2Reader, FramesBeyondTheTransportLimitAreDecidedWithoutTheirBuffer) {
  TempDir dir;
  const uint64_t big = MAX_TRANSPORT_SIZE + 1;
  // Compressible, but far from the deflate limit of 1032:1.
  std::string frame(big, '\0');
  std::mt19937 rng(3);
  for (size_t i = 0; i < frame.size(); i += 97) frame[i] = static_cast<char>(rng());
  const std::string stream = zlibCompress(frame);
  const auto g = globalRecords(1, kW, kH, 1);
  Bytes valid = head(20);
  addRecords(valid, g);
  addImage(valid, big, stream.size(), imageRecords(1, 1), stream);
  expectFailure(
      dir, {valid.str(), -2, " load error: _internal_qvCheckImageValidity failed at image 1 of 1."},
      "oversized valid stream");
  std::string broken = stream;
  broken[stream.size() - 2] ^= 1;  // adler-32 trailer
  Bytes bad = head(20);
  addRecords(bad, g);
  addImage(bad, big, broken.size(), imageRecords(1, 1), broken);
  expectFailure(dir,
                {bad.str(), -8, " decompression error: zlib decompression failed at image 1 of 1."},
                "oversized broken stream");
}

TEST(IMC2Reader, InvalidImageReleasesTheImagesBeforeIt) {
  TempDir dir;
  // 3 bytes per pixel are refused for GRAY only through the size rule, so use 5.
  auto g = replaced(globalRecords(2, kW, kH, 1), 11, "bytes_per_pixel=5");
  expectFailure(dir,
                {validFile(g).str(), -2,
                 " load error: _internal_qvCheckImageValidity failed at image 1 of 2."},
                "bytes per pixel");
  // The second image fails: its frame is shorter than the geometry needs.
  Bytes b = head(20);
  addRecords(b, globalRecords(2, kW, kH, 1));
  addImage(b, kFrame, kFrame, imageRecords(1, 2), rawFrame());
  addImage(b, kFrame - 1, kFrame - 1, imageRecords(2, 2), rawFrame().substr(1));
  expectFailure(
      dir, {b.str(), -2, " load error: _internal_qvCheckImageValidity failed at image 2 of 2."},
      "short frame");
}

TEST(IMC2Reader, GeometryBeyondSixtyFourBitsIsInvalid) {
  TempDir dir;
  // RGB frames of 2147483647 x 2147483647: the size no frame can have, not a
  // product wrapped into a small one.
  auto g = globalRecords(3, 2147483647, 2147483647, 3);
  for (std::string& record : g) {
    if (record.rfind("source_format=", 0) == 0) record = "source_format=RGB";
    if (record.rfind("image_format=", 0) == 0) record = "image_format=RGB";
  }
  Bytes b = head(static_cast<uint32_t>(g.size()));
  addRecords(b, g);
  for (uint32_t i = 1; i <= 3; ++i)
    addImage(b, 16, 16, imageRecords(i, 3), std::string(16, '\x11'));
  expectFailure(
      dir, {b.str(), -2, " load error: _internal_qvCheckImageValidity failed at image 1 of 3."},
      "beyond 64 bits");
}

TEST(IMC2Reader, InterruptAndProgress) {
  TempDir dir;
  const std::string path = dir.file("i");
  writeFile(path, validFile().str());
  int interrupt = 1;
  double progress = -1;
  Loaded l;
  load(l, path, &interrupt, &progress);
  EXPECT_EQ(l.code, -9);
  EXPECT_EQ(l.reason, Q(path) + " load error: Interrupted by user.");
  EXPECT_EQ(l.bunch.get()->imageArray, nullptr);
  EXPECT_DOUBLE_EQ(progress, 0.05) << "the global block was read first";

  interrupt = 0;
  Loaded ok;
  load(ok, path, &interrupt, &progress);
  EXPECT_EQ(ok.code, 0);
  EXPECT_DOUBLE_EQ(progress, 1.0);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)  // Windows: no address space limit
// With the address space limited, an allocation that follows a header
// instead of the file would fail the load with -7.
TEST(IMC2ReaderDeathTest, HostileCountsStayWithinALimitedAddressSpace) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  const std::string path = dir.file("billion");
  writeFile(
      path,
      validFile(replaced(globalRecords(2, kW, kH, 1), 0, "number_of_images=4000000000")).str());
  EXPECT_EXIT(
      {
        const rlim_t limit = rlim_t{1} << 30;
        rlimit lim;
        lim.rlim_cur = lim.rlim_max = limit;
        setrlimit(RLIMIT_AS, &lim);
        QVBUNCHOFIMAGES b;
        qvInitializeBunchStructure(&b);
        const int code = qvLoadImagesFromFile(path.c_str(), &b);
        _exit(code == -5 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

namespace {

// A caller's block in a vector, as a binding would lend one.
struct VectorBlock : qv::image::FrameBlock {
  std::vector<uint8_t> memory;
  uint32_t images = 0;
  uint64_t frameBytes = 0;
  uint8_t* reserve(uint32_t n, uint64_t bytes) override {
    images = n;
    frameBytes = bytes;
    memory.assign(n * bytes, 0);
    return memory.data();
  }
};

// The frames of the block are the block's: only the others go with the bunch.
void freeLeavingTheBlock(QVBUNCHOFIMAGES& bunch, const VectorBlock& block) {
  for (uint32_t i = 0; i < bunch.numFrames; ++i) {
    uint8_t* p = bunch.imageArray[i].frameBuffer;
    if (p >= block.memory.data() && p < block.memory.data() + block.memory.size()) {
      bunch.imageArray[i].frameBuffer = nullptr;
    }
  }
  qvFreeBunch(&bunch);
}

}  // namespace

TEST(IMC2Reader, FramesGoIntoALentBlockInOrder) {
  TempDir dir;
  TestBunch saved;
  makeBunch(saved, 4, 24, 10, 2);
  const std::string path = dir.file("block.imc2");
  char reason[256] = "";
  ASSERT_EQ(
      qvSaveImagesToFileEx(saved.get(), path.c_str(), reason, sizeof reason, nullptr, nullptr), 0)
      << reason;
  const std::string whole = readFile(path);
  const struct {
    const char* name;
    std::string content;
    bool loads;
  } cases[] = {{"whole", whole, true},
               {"truncated", whole.substr(0, whole.size() - 100), false},
               {"damaged stream", whole.substr(0, whole.size() - 3) + "xyz", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(path, c.content);
    VectorBlock block;
    QVBUNCHOFIMAGES bunch;
    qvInitializeBunchStructure(&bunch);
    int code = 0;
    std::string why;
    const bool loaded =
        _internal_readIMC2File(path.c_str(), &bunch, &code, why, nullptr, nullptr, &block);
    EXPECT_EQ(loaded, c.loads) << why;
    EXPECT_EQ(block.frameBytes, 24u * 10u * 2u);
    if (loaded) {
      ASSERT_EQ(bunch.numFrames, 4u);
      for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(bunch.imageArray[i].frameBuffer, block.memory.data() + i * block.frameBytes);
        EXPECT_EQ(0,
                  memcmp(bunch.imageArray[i].frameBuffer, saved[i].frameBuffer, block.frameBytes));
      }
    } else {
      EXPECT_EQ(bunch.numFrames, 0u) << "a failed load hands nothing over";
    }
    freeLeavingTheBlock(bunch, block);
  }
}
