// NeXus files: round trips of every kind of frame, the direct conversions
// to and from IMC2 (byte-identical files, chunks that are the IMC2 streams),
// hostile files and writers that leave nothing behind.
#include <gtest/gtest.h>
#include <hdf5.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "formats/nexus_file.h"
#include "formats/sequence_files.h"
#include "imc2/imc2.h"
#include "support/bunch.h"
#include "support/tempdir.h"

namespace {

using qvformats::Conversion;

// Frames of varied content: smooth ramps that compress, and one of noise
// that does not (stored raw), with every per-frame field set.
void makeSequence(TestBunch& bunch, uint32_t n, int32_t width, int32_t height, int32_t bytes,
                  int32_t format, bool bigEndian = false) {
  makeBunch(bunch, n, width, height, bytes, format, [](uint32_t i, size_t b) {
    if (i == 1) return static_cast<uint8_t>((b * 2654435761u) >> 13);  // noise
    return static_cast<uint8_t>((b / 64 + i * 3) & 0xff);
  });
  for (uint32_t i = 0; i < n; ++i) {
    DIMAGE& image = bunch[i];
    FRAMEHEADER& f = image.frameHeader;
    f.frameNumber = 100 + i * 2;
    f.eventNumber = i == 0 ? 0 : 7000 + i;
    f.xScale = 0.0123f;
    f.yScale = 0.0456f;
    f.imageRotation = 90.0f;
    f.scale_x_offset = -1.5f;
    f.horizontalBinning = 2;
    // Spare fields are no file's: they read back as the loaders set them.
    f.fspare3 = -1.0f;
    f.ispare1 = f.ispare2 = f.ispare3 = -1;
    f.effectiveBitsPerPixel = bytes == 2 ? 12 : f.effectiveBitsPerPixel;
    f.imageFlags = (bigEndian ? 0u : CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER) |
                   CF_IMAGE_FLAG_IMAGE_LOSSLESS | (i == 2 ? CF_IMAGE_FLAG_SOFTWARE_ROI : 0u);
    image.sourceHeader.timestampSeconds = 1765340000u + i;
    image.sourceHeader.timestampMicroseconds = i * 123457u % 1000000u;
    image.sourceHeader.cameraPortId = 42;
    std::strcpy(image.sourceHeader.cameraPortName, "TTF2.CAM/Screen1");
  }
}

// Headers equal field for field (the frame pointers aside), pixels equal.
void expectSameBunch(QVBUNCHOFIMAGES& expected, QVBUNCHOFIMAGES& actual) {
  ASSERT_EQ(expected.numFrames, actual.numFrames);
  for (uint32_t i = 0; i < expected.numFrames; ++i) {
    const DIMAGE& a = expected.imageArray[i];
    const DIMAGE& b = actual.imageArray[i];
    const auto* x = reinterpret_cast<const uint8_t*>(&a);
    const auto* y = reinterpret_cast<const uint8_t*>(&b);
    size_t differs = 0;
    while (differs < offsetof(DIMAGE, frameBufferSize) && x[differs] == y[differs]) ++differs;
    EXPECT_EQ(offsetof(DIMAGE, frameBufferSize), differs) << "header of frame " << i;
    ASSERT_EQ(a.frameHeader.appendedFrameSize, b.frameHeader.appendedFrameSize);
    EXPECT_EQ(0, std::memcmp(a.frameBuffer, b.frameBuffer, a.frameHeader.appendedFrameSize))
        << "pixels of frame " << i;
  }
}

struct Shape {
  const char* name;
  int32_t bytes, format;
  bool bigEndian, shuffle, areaOfInterest;
};

class NexusRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(NexusRoundTrip, KeepsEveryFieldAndPixel) {
  const Shape& shape = GetParam();
  TempDir dir;
  TestBunch bunch;
  makeSequence(bunch, 4, 37, 23, shape.bytes, shape.format, shape.bigEndian);
  if (shape.areaOfInterest) {
    for (uint32_t i = 0; i < bunch.size(); ++i) {
      FRAMEHEADER& f = bunch[i].frameHeader;
      f.sourceWidth = 640;
      f.sourceHeight = 480;
      f.aoiWidth = 37;
      f.aoiHeight = 23;
      f.xStart = 100;
      f.yStart = 50;
    }
  }
  const std::string path = dir.file("seq.h5");
  std::string why;
  ASSERT_TRUE(qvformats::saveNexus(*bunch.get(), path, {shape.shuffle}, {}, why)) << why;
  TestBunch loaded;
  ASSERT_TRUE(qvformats::loadNexus(path, loaded.get(), {}, why)) << why;
  expectSameBunch(*bunch.get(), *loaded.get());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, NexusRoundTrip,
    ::testing::Values(Shape{"grey8", 1, CF_IMAGE_FORMAT_GRAY, false, false, false},
                      Shape{"grey16", 2, CF_IMAGE_FORMAT_GRAY, false, false, true},
                      Shape{"grey16shuffled", 2, CF_IMAGE_FORMAT_GRAY, false, true, false},
                      Shape{"grey16bigEndian", 2, CF_IMAGE_FORMAT_GRAY, true, true, false},
                      Shape{"grey32", 4, CF_IMAGE_FORMAT_GRAY, false, true, true},
                      Shape{"rgb", 3, CF_IMAGE_FORMAT_RGB, false, false, false}),
    [](const ::testing::TestParamInfo<Shape>& info) { return info.param.name; });

// The chunk of every frame as the file stores it, inflated with zlib.
std::vector<std::vector<uint8_t>> inflatedChunks(const std::string& path, size_t frameBytes,
                                                 uint32_t frames) {
  std::vector<std::vector<uint8_t>> out;
  hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  hid_t data = H5Dopen2(file, qvformats::nexus::kDataPath, H5P_DEFAULT);
  for (uint32_t i = 0; i < frames; ++i) {
    const hsize_t offset[3] = {i, 0, 0};
    hsize_t bytes = 0;
    H5Dget_chunk_storage_size(data, offset, &bytes);
    std::vector<uint8_t> chunk(bytes);
    uint32_t skipped = 0;
    H5Dread_chunk(data, H5P_DEFAULT, offset, &skipped, chunk.data());
    if (skipped != 0) {  // stored raw
      out.push_back(chunk);
      continue;
    }
    std::vector<uint8_t> frame(frameBytes);
    uLongf length = frameBytes;
    EXPECT_EQ(Z_OK, uncompress(frame.data(), &length, chunk.data(), chunk.size())) << "frame " << i;
    EXPECT_EQ(frameBytes, length);
    out.push_back(frame);
  }
  H5Dclose(data);
  H5Fclose(file);
  return out;
}

TEST(NexusConversion, MovesImc2FramesAsTheyAreAndBackToTheSameFile) {
  TempDir dir;
  TestBunch bunch;
  makeSequence(bunch, 5, 64, 48, 2, CF_IMAGE_FORMAT_GRAY);
  const std::string imc2 = dir.file("in.imc2"), nexus = dir.file("out.nxs"),
                    back = dir.file("back.imc2");
  ASSERT_EQ(0, qvSaveImagesToFile(bunch.get(), imc2.c_str()));

  std::string why;
  double progress = 0;
  uint32_t frames = 0;
  ASSERT_EQ(Conversion::kDone,
            qvformats::convertImc2ToNexus(imc2, nexus, {}, {nullptr, &progress}, why, frames))
      << why;
  EXPECT_DOUBLE_EQ(1.0, progress);
  const size_t frameBytes = 64 * 48 * 2;
  const auto chunks = inflatedChunks(nexus, frameBytes, 5);
  for (uint32_t i = 0; i < 5; ++i)
    EXPECT_EQ(0, std::memcmp(chunks[i].data(), bunch[i].frameBuffer, frameBytes)) << "frame " << i;

  EXPECT_EQ(5u, frames);
  ASSERT_EQ(Conversion::kDone, qvformats::convertNexusToImc2(nexus, back, {}, why, frames)) << why;
  EXPECT_EQ(readFile(imc2), readFile(back));
  // A cut or damaged IMC2 file fails as its load would, leaving no HDF5 file.
  const std::string bytes = readFile(imc2);
  for (size_t cut : {size_t{100}, bytes.size() / 2, bytes.size() - 1}) {
    writeFile(dir.file("cut.imc2"), bytes.substr(0, cut));
    EXPECT_EQ(Conversion::kFailed,
              qvformats::convertImc2ToNexus(dir.file("cut.imc2"), dir.file("cut.h5"), {}, {}, why,
                                            frames))
        << cut;
    EXPECT_NE(std::string::npos, why.find("cut.imc2")) << why;
    EXPECT_FALSE(fileExists(dir.file("cut.h5"))) << cut;
  }
  // Shuffled files need the frames themselves: not a direct conversion.
  EXPECT_EQ(Conversion::kNotDirect,
            qvformats::convertImc2ToNexus(imc2, dir.file("s.h5"), {true}, {}, why, frames));
  EXPECT_FALSE(fileExists(dir.file("s.h5")));
}

TEST(NexusConversion, OrdinarySaveGivesTheDirectConversionsFile) {
  TempDir dir;
  TestBunch bunch;
  makeSequence(bunch, 3, 40, 30, 2, CF_IMAGE_FORMAT_GRAY);
  const std::string saved = dir.file("saved.h5"), imc2 = dir.file("x.imc2"),
                    moved = dir.file("moved.h5");
  std::string why;
  uint32_t frames = 0;
  ASSERT_TRUE(qvformats::saveNexus(*bunch.get(), saved, {}, {}, why)) << why;
  ASSERT_EQ(0, qvSaveImagesToFile(bunch.get(), imc2.c_str()));
  ASSERT_EQ(Conversion::kDone, qvformats::convertImc2ToNexus(imc2, moved, {}, {}, why, frames))
      << why;
  TestBunch a, b;
  ASSERT_TRUE(qvformats::loadNexus(saved, a.get(), {}, why)) << why;
  ASSERT_TRUE(qvformats::loadNexus(moved, b.get(), {}, why)) << why;
  expectSameBunch(*a.get(), *b.get());
  EXPECT_EQ(inflatedChunks(saved, 40 * 30 * 2, 3), inflatedChunks(moved, 40 * 30 * 2, 3));
}

// ---- hostile files ----

// A file with one data set at the frames' place, written with HDF5 itself.
void writeForeignFile(const std::string& path, hid_t type, std::vector<hsize_t> dims,
                      const char* where = qvformats::nexus::kDataPath) {
  hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  hid_t links = H5Pcreate(H5P_LINK_CREATE);
  H5Pset_create_intermediate_group(links, 1);
  hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
  hid_t set = H5Dcreate2(file, where, type, space, links, H5P_DEFAULT, H5P_DEFAULT);
  H5Dclose(set);
  H5Sclose(space);
  H5Pclose(links);
  H5Fclose(file);
}

TEST(NexusHostile, RefusesWhatIsNoSequenceSayingWhatItFound) {
  TempDir dir;
  TestBunch bunch;
  makeSequence(bunch, 3, 32, 16, 2, CF_IMAGE_FORMAT_GRAY);
  const std::string valid = dir.file("valid.h5");
  std::string why;
  ASSERT_TRUE(qvformats::saveNexus(*bunch.get(), valid, {}, {}, why)) << why;
  const std::string bytes = readFile(valid);

  struct Case {
    std::string name, expected;
  };
  std::vector<Case> cases;
  writeFile(dir.file("text.h5"), "just some text, no HDF5 at all\n");
  cases.push_back({"text.h5", "not an HDF5 file"});
  for (size_t cut : {size_t{8}, size_t{600}, bytes.size() / 2, bytes.size() - 100}) {
    const std::string name = "cut" + std::to_string(cut) + ".h5";
    writeFile(dir.file(name), bytes.substr(0, cut));
    cases.push_back({name, ""});
  }
  writeForeignFile(dir.file("float.h5"), H5T_IEEE_F32LE, {2, 8, 8});
  cases.push_back({"float.h5", "float32"});
  writeForeignFile(dir.file("signed.h5"), H5T_STD_I16LE, {2, 8, 8});
  cases.push_back({"signed.h5", "int16"});
  writeForeignFile(dir.file("rank2.h5"), H5T_STD_U16LE, {8, 8});
  cases.push_back({"rank2.h5", "2 dimension(s)"});
  writeForeignFile(dir.file("rgb16.h5"), H5T_STD_U16LE, {2, 8, 8, 3});
  cases.push_back({"rgb16.h5", "4 dimension(s)"});
  writeForeignFile(dir.file("huge.h5"), H5T_STD_U8LE, {1, 100000, 100000});
  cases.push_back({"huge.h5", "which no sequence can"});
  writeForeignFile(dir.file("other.h5"), H5T_IEEE_F64LE, {3, 4}, "/measurement/temperature");
  cases.push_back({"other.h5", "/measurement (group)"});

  for (const Case& c : cases) {
    uint32_t frames = 0;
    TestBunch loaded;
    std::string reason;
    EXPECT_FALSE(qvformats::loadNexus(dir.file(c.name), loaded.get(), {}, reason)) << c.name;
    EXPECT_EQ(0u, loaded.size()) << c.name;
    EXPECT_FALSE(reason.empty()) << c.name;
    EXPECT_NE(std::string::npos, reason.find(c.expected)) << c.name << ": " << reason;
    EXPECT_NE(Conversion::kDone,
              qvformats::convertNexusToImc2(dir.file(c.name), dir.file(c.name + ".imc2"), {},
                                            reason, frames))
        << c.name;
    EXPECT_FALSE(fileExists(dir.file(c.name + ".imc2"))) << c.name;
  }
}

TEST(NexusHostile, FramesOfForeignFilesComeWithHeadersOfTheirShape) {
  TempDir dir;
  const std::string path = dir.file("foreign.h5");
  writeForeignFile(path, H5T_STD_U16BE, {2, 5, 7});  // never written: fill value zero
  TestBunch loaded;
  std::string why;
  ASSERT_TRUE(qvformats::loadNexus(path, loaded.get(), {}, why)) << why;
  ASSERT_EQ(2u, loaded.size());
  const FRAMEHEADER& f = loaded[1].frameHeader;
  EXPECT_EQ(7, f.sourceWidth);
  EXPECT_EQ(5, f.sourceHeight);
  EXPECT_EQ(2, f.bytesPerPixel);
  EXPECT_EQ(2u, f.frameNumber);
  EXPECT_EQ(0u, f.imageFlags & CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER);  // big-endian samples
  EXPECT_EQ(1, qvCheckImageValidity(&loaded[1], nullptr, 0));
}

TEST(NexusWriter, LeavesNoFileOnFailureAndNeverReplacesOne) {
  TempDir dir;
  TestBunch bunch;
  makeSequence(bunch, 3, 16, 16, 1, CF_IMAGE_FORMAT_GRAY);
  std::string why;
  const std::string existing = dir.file("existing.h5");
  writeFile(existing, "keep me");
  EXPECT_FALSE(qvformats::saveNexus(*bunch.get(), existing, {}, {}, why));
  EXPECT_EQ("keep me", readFile(existing));

  int interrupt = 1;
  EXPECT_FALSE(
      qvformats::saveNexus(*bunch.get(), dir.file("i.h5"), {}, {&interrupt, nullptr}, why));
  EXPECT_EQ("interrupted", why);
  EXPECT_FALSE(fileExists(dir.file("i.h5")));

  bunch[2].frameHeader.bytesPerPixel = 2;  // no longer a sequence
  EXPECT_FALSE(qvformats::saveNexus(*bunch.get(), dir.file("n.h5"), {}, {}, why));
  EXPECT_FALSE(fileExists(dir.file("n.h5")));
}

}  // namespace
