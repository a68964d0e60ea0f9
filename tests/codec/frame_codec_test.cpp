// The frame codec: streams inflate to exactly the frame or not at all, and the
// expansion bound refuses impossible headers before anything is allocated.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/frame_codec.h"
#include "support/tempdir.h"

namespace {

std::vector<uint8_t> frameOf(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> frame(bytes);
  for (size_t i = 0; i < bytes; ++i) {
    seed = seed * 1664525u + 1013904223u;
    frame[i] = static_cast<uint8_t>((i / 7) + ((seed >> 28) & 3));  // smooth plus noise
  }
  return frame;
}

std::vector<uint8_t> compressed(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> out(qv::codec::compressBound(frame.size()));
  uint64_t length = 0;
  EXPECT_EQ(qv::codec::compressFrame(frame.data(), frame.size(), out.data(), out.size(), length),
            qv::codec::Compressed::kDone);
  out.resize(length);
  return out;
}

}  // namespace

TEST(FrameCodec, RoundTripsAndRefusesEveryOtherLength) {
  for (size_t bytes : {size_t{1}, size_t{4096}, size_t{640 * 480 * 2}}) {
    const std::vector<uint8_t> frame = frameOf(bytes, 7);
    const std::vector<uint8_t> stream = compressed(frame);
    EXPECT_LE(qv::codec::compressBound(bytes), qv::codec::compressBound(bytes + 1));
    EXPECT_GE(qv::codec::compressBound(bytes), bytes);
    std::vector<uint8_t> back(bytes + 1, 0xAB);
    ASSERT_TRUE(qv::codec::inflateExactly(stream.data(), stream.size(), back.data(), bytes))
        << bytes;
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), back.begin()));
    EXPECT_EQ(back[bytes], 0xAB) << "nothing written past the frame";
    // A frame of another length, a cut stream and a damaged one all fail.
    if (bytes > 1) {
      EXPECT_FALSE(qv::codec::inflateExactly(stream.data(), stream.size(), back.data(), bytes - 1));
    }
    EXPECT_FALSE(qv::codec::inflateExactly(stream.data(), stream.size(), back.data(), bytes + 1));
    EXPECT_FALSE(qv::codec::inflateExactly(stream.data(), stream.size() - 1, back.data(), bytes));
    std::vector<uint8_t> damaged = stream;
    damaged[damaged.size() - 1] ^= 0xFF;  // the checksum
    EXPECT_FALSE(qv::codec::inflateExactly(damaged.data(), damaged.size(), back.data(), bytes));
  }
}

TEST(FrameCodec, ExpansionBoundAndStreamCheckInFile) {
  EXPECT_TRUE(qv::codec::mayInflateTo(1, 1032));
  EXPECT_TRUE(qv::codec::mayInflateTo(1, 2063));
  EXPECT_FALSE(qv::codec::mayInflateTo(1, 2064));
  EXPECT_FALSE(qv::codec::mayInflateTo(0, 1032));
  // The zeros of a large frame compress to the deflate limit, and are accepted.
  const std::vector<uint8_t> zeros(27262976, 0);
  const std::vector<uint8_t> stream = compressed(zeros);
  EXPECT_TRUE(qv::codec::mayInflateTo(stream.size(), zeros.size())) << stream.size();

  TempDir dir;
  const std::string path = dir.file("stream");
  FILE* file = std::fopen(path.c_str(), "w+b");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(stream.data(), 1, stream.size(), file), stream.size());
  const struct {
    long offset;
    uint64_t streamBytes, frameBytes;
    qv::codec::StreamCheck expected;
  } cases[] = {
      {0, stream.size(), zeros.size(), qv::codec::StreamCheck::kExact},
      {0, stream.size(), zeros.size() - 1, qv::codec::StreamCheck::kMismatch},
      {0, stream.size(), zeros.size() + 1, qv::codec::StreamCheck::kMismatch},
      {0, stream.size() - 8, zeros.size(), qv::codec::StreamCheck::kMismatch},
      {1, stream.size(), zeros.size(), qv::codec::StreamCheck::kReadError},  // runs past the end
  };
  for (const auto& c : cases) {
    std::fseek(file, c.offset, SEEK_SET);
    EXPECT_EQ(qv::codec::checkStreamInFile(file, c.streamBytes, c.frameBytes), c.expected)
        << c.streamBytes << " -> " << c.frameBytes;
  }
  std::fclose(file);
}

namespace {

std::string zlibCompress(const std::vector<uint8_t>& frame) {
  uLongf length = compressBound(frame.size());
  std::string out(length, '\0');
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(&out[0]), &length, frame.data(), frame.size()), Z_OK);
  out.resize(length);
  return out;
}

// Noise no engine can shrink: splitmix64.
std::vector<uint8_t> noise(size_t bytes) {
  std::vector<uint8_t> frame(bytes);
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (size_t i = 0; i < bytes; ++i) {
    uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    frame[i] = static_cast<uint8_t>(z ^ (z >> 31));
  }
  return frame;
}

}  // namespace

TEST(FrameCodec, StreamsAreZlibStreamsNoLongerThanZlibsOwn) {
  for (size_t bytes : {size_t{100}, size_t{4096}, size_t{1280 * 1024 * 2}}) {
    const std::vector<uint8_t> frame = frameOf(bytes, 11);
    const std::vector<uint8_t> stream = compressed(frame);
    const std::string reference = zlibCompress(frame);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0x78) << "zlib format, 32 KiB window";
    EXPECT_EQ(stream[1], 0x9C) << "the default level's header";
    EXPECT_LE(stream.size(), reference.size()) << bytes;
    if (std::string(qv::codec::engineName()) == "zlib") {
      EXPECT_EQ(std::string(stream.begin(), stream.end()), reference) << "zlib's own bytes";
    }
    // zlib alone reads the stream back to the frame's exact bytes.
    std::vector<uint8_t> back(bytes);
    uLongf produced = bytes;
    ASSERT_EQ(uncompress(back.data(), &produced, stream.data(), stream.size()), Z_OK);
    EXPECT_EQ(produced, bytes);
    EXPECT_EQ(back, frame);
    // And the codec reads zlib's own stream.
    std::vector<uint8_t> again(bytes);
    EXPECT_TRUE(qv::codec::inflateExactly(reinterpret_cast<const uint8_t*>(reference.data()),
                                          reference.size(), again.data(), bytes));
    EXPECT_EQ(again, frame);
  }
}

TEST(FrameCodec, AStreamThatDoesNotFitIsReportedNotFailed) {
  const std::vector<uint8_t> frame = noise(256 * 1024);
  std::vector<uint8_t> out(frame.size() - 1);
  uint64_t length = 0;
  EXPECT_EQ(qv::codec::compressFrame(frame.data(), frame.size(), out.data(), out.size(), length),
            qv::codec::Compressed::kDidNotFit);
  // With the bound's room the same frame compresses (to more than itself).
  out.resize(qv::codec::compressBound(frame.size()));
  ASSERT_EQ(qv::codec::compressFrame(frame.data(), frame.size(), out.data(), out.size(), length),
            qv::codec::Compressed::kDone);
  EXPECT_GE(length, frame.size());
  EXPECT_LE(length, out.size());
}
