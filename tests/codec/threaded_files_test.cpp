// Sequence files written and read with frames on several codec threads: the
// same bytes as one frame at a time, streams zlib alone reads, frames back in
// their order, and interrupts or write failures part-way that leave no file
// and no thread behind.
#include <gtest/gtest.h>
#include <signal.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "legacy/legacy.h"
#include "legacy/legacy_test_util.h"
#include "support/bunch.h"
#include "support/tempdir.h"
#include "support/threads.h"

namespace {

constexpr unsigned kThreadCounts[] = {1, 2, 3, 8};

// Noise no deflate engine shrinks (splitmix64), or a smooth camera-like ramp.
uint8_t pixel(uint32_t frame, size_t i, bool noisy) {
  if (!noisy) return static_cast<uint8_t>((i / 5 + frame * 3) ^ (i % 3));
  uint64_t z = (frame * 0x100000000ull + i) * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint8_t>(z ^ (z >> 31));
}
bool isNoisy(uint32_t frame) { return frame == 1 || frame == 4 || frame == 5; }

std::string zlibInflate(const std::string& stream, size_t frameBytes) {
  std::string out(frameBytes, '\0');
  uLongf produced = frameBytes;
  const int r = uncompress(reinterpret_cast<Bytef*>(&out[0]), &produced,
                           reinterpret_cast<const Bytef*>(stream.data()), stream.size());
  return r == Z_OK && produced == frameBytes ? out : "<not the frame>";
}

uint64_t u64At(const std::string& s, size_t at) {
  uint64_t v = 0;
  std::memcpy(&v, s.data() + at, 8);
  return v;
}
uint32_t u32At(const std::string& s, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

// The frames of an IMC2 file as zlib alone reads them: raw blocks as they
// are, streams through uncompress.
std::vector<std::string> imc2FramesByZlib(const std::string& file, size_t* rawFrames) {
  constexpr size_t kRecord = 252;
  std::vector<std::string> frames;
  size_t at = 8;
  at += 4 + 2 + u32At(file, at) * kRecord;
  while (at + 22 <= file.size()) {
    const uint64_t ulen = u64At(file, at), clen = u64At(file, at + 8);
    at += 16;
    at += 4 + 2 + u32At(file, at) * kRecord;
    const std::string data = file.substr(at, clen);
    at += clen;
    if (clen == ulen) ++*rawFrames;
    frames.push_back(clen == ulen ? data : zlibInflate(data, ulen));
  }
  return frames;
}

// The frames of an IMC file through uncompress.
std::vector<std::string> imcFramesByZlib(const std::string& file) {
  std::vector<std::string> frames;
  for (size_t at = 16; at + 16 <= file.size();) {
    const uint32_t clen = u32At(file, at + 8), ulen = u32At(file, at + 12);
    frames.push_back(zlibInflate(file.substr(at + 16, clen), ulen));
    at += 16 + clen;
  }
  return frames;
}

void makeMixedBunch(TestBunch& bunch, uint32_t frames, int32_t width, int32_t height) {
  makeBunch(bunch, frames, width, height, 2, CF_IMAGE_FORMAT_GRAY,
            [](uint32_t f, size_t i) { return pixel(f, i, isNoisy(f)); });
  for (uint32_t f = 0; f < frames; ++f) bunch[f].frameHeader.frameNumber = 1000 + 7 * f;
}

void fillMixedRecord(Record& r, int frames, int width, int height) {
  fillRecord(r.v, width, height, 16, 12, frames, 2);
  for (int f = 0; f < frames; ++f) {
    for (size_t i = 0; i < r.frameBytes(); ++i) r.v.framebits[f][i] = pixel(f, i, isNoisy(f));
  }
}

std::string frameOf(const DIMAGE& img) {
  return std::string(reinterpret_cast<const char*>(img.frameBuffer),
                     static_cast<size_t>(img.frameHeader.appendedFrameSize));
}

int saveBunch(QVBUNCHOFIMAGES* bunch, const std::string& path, int* interrupt = nullptr,
              double* progress = nullptr) {
  char reason[512] = "";
  return qvSaveImagesToFileEx(bunch, path.c_str(), reason, sizeof reason, interrupt, progress);
}

int loadBunch(QVBUNCHOFIMAGES* bunch, const std::string& path, int* interrupt = nullptr,
              double* progress = nullptr) {
  char reason[512] = "";
  return qvLoadImagesFromFileEx(path.c_str(), bunch, interrupt, progress, reason, sizeof reason);
}

}  // namespace

TEST(ThreadedFiles, EveryThreadCountWritesTheSameBytesInFrameOrder) {
  TempDir dir;
  TestBunch bunch;
  makeMixedBunch(bunch, 7, 192, 128);
  Record record;
  fillMixedRecord(record, 7, 192, 128);
  std::string firstImc2, firstImc;
  for (unsigned threads : kThreadCounts) {
    SCOPED_TRACE(std::to_string(threads) + " codec threads");
    qvtest::ScopedCodecThreads env(threads);
    const std::string imc2 = dir.file("t" + std::to_string(threads) + ".imc2");
    const std::string imc = dir.file("t" + std::to_string(threads) + ".imc");
    ASSERT_EQ(saveBunch(bunch.get(), imc2), 0);
    ASSERT_EQ(save_imc_file(imc.c_str(), &record.v), 0);
    const std::string imc2Bytes = readFile(imc2), imcBytes = readFile(imc);
    if (firstImc2.empty()) {
      firstImc2 = imc2Bytes;
      firstImc = imcBytes;
    }
    EXPECT_TRUE(imc2Bytes == firstImc2) << "IMC2 bytes differ from one thread's";
    EXPECT_TRUE(imcBytes == firstImc) << "IMC bytes differ from one thread's";

    size_t rawFrames = 0;
    const std::vector<std::string> byZlib = imc2FramesByZlib(imc2Bytes, &rawFrames);
    const std::vector<std::string> imcByZlib = imcFramesByZlib(imcBytes);
    ASSERT_EQ(byZlib.size(), 7u);
    ASSERT_EQ(imcByZlib.size(), 7u);
    EXPECT_EQ(rawFrames, 3u) << "the noise frames are stored raw";
    TestBunch back;
    ASSERT_EQ(loadBunch(back.get(), imc2), 0);
    Record recordBack;
    ASSERT_EQ(load_imc_file(imc.c_str(), &recordBack.v), 0);
    ASSERT_EQ(back.size(), 7u);
    for (uint32_t f = 0; f < 7; ++f) {
      EXPECT_TRUE(byZlib[f] == frameOf(bunch[f])) << "zlib reads IMC2 frame " << f;
      EXPECT_TRUE(frameOf(back[f]) == frameOf(bunch[f])) << "IMC2 frame " << f;
      EXPECT_EQ(back[f].frameHeader.frameNumber, bunch[f].frameHeader.frameNumber);
      EXPECT_TRUE(imcByZlib[f] == record.frame(f)) << "zlib reads IMC frame " << f;
      EXPECT_TRUE(recordBack.frame(f) == record.frame(f)) << "IMC frame " << f;
      EXPECT_EQ(recordBack.v.framescales[f], record.v.framescales[f]);
    }
  }
}

namespace {

// Sets the flag once the progress passes a mark, from a thread of its own,
// as a caller's user interface would.
class InterruptAt {
 public:
  explicit InterruptAt(double mark)
      : m_watcher([this, mark] {
          double seen = 0;
          while (!m_stop.load()) {
            __atomic_load(&progress, &seen, __ATOMIC_ACQUIRE);
            if (seen > mark) {
              __atomic_store_n(&flag, 1, __ATOMIC_RELEASE);
              return;
            }
            std::this_thread::yield();
          }
        }) {}
  ~InterruptAt() { join(); }
  void join() {
    m_stop = true;
    if (m_watcher.joinable()) m_watcher.join();
  }
  int flag = 0;
  double progress = 0;

 private:
  std::atomic<bool> m_stop{false};
  std::thread m_watcher;
};

}  // namespace

TEST(ThreadedFiles, InterruptPartWayLeavesNoFileAndNoThread) {
  qvtest::ScopedCodecThreads env(3u);
  TempDir dir;
  TestBunch bunch;
  makeMixedBunch(bunch, 120, 512, 512);
  Record record;
  fillMixedRecord(record, 120, 512, 512);
  const std::string saved = dir.file("whole.imc2"), savedImc = dir.file("whole.imc");
  ASSERT_EQ(saveBunch(bunch.get(), saved), 0);
  ASSERT_EQ(save_imc_file(savedImc.c_str(), &record.v), 0);
  const size_t baseline = qvtest::threadsAfterWarmUp();

  const struct {
    const char* name;
    int expected;
    std::function<int(InterruptAt&)> call;
    std::string leftover;  // must not exist afterwards
  } cases[] = {
      {"IMC2 save", QV_E_SAVE_INTERRUPTED,
       [&](InterruptAt& i) {
         return saveBunch(bunch.get(), dir.file("cut.imc2"), &i.flag, &i.progress);
       },
       dir.file("cut.imc2")},
      {"IMC2 load", QV_E_LOAD_INTERRUPTED,
       [&](InterruptAt& i) {
         TestBunch back;
         const int r = loadBunch(back.get(), saved, &i.flag, &i.progress);
         EXPECT_EQ(back.size(), 0u);
         return r;
       },
       ""},
      {"IMC save", -9,
       [&](InterruptAt& i) {
         return save_imc_fileEx(dir.file("cut.imc").c_str(), &record.v, &i.flag, &i.progress);
       },
       dir.file("cut.imc")},
      {"IMC load", -9,
       [&](InterruptAt& i) {
         Record back;
         const int r = load_imc_fileEx(savedImc.c_str(), &back.v, &i.flag, &i.progress, 1.0);
         EXPECT_TRUE(back.empty());
         return r;
       },
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Early, so that a watcher the scheduler keeps waiting still comes in time.
    InterruptAt interrupt(0.1);
    EXPECT_EQ(c.call(interrupt), c.expected);
    interrupt.join();
    EXPECT_LT(interrupt.progress, 1.0) << "stopped before the end";
    if (!c.leftover.empty()) {
      EXPECT_FALSE(fileExists(c.leftover));
    }
    EXPECT_EQ(qvtest::threadsInProcess(), baseline) << "a thread outlived the call";
  }
}

#if !defined(_WIN32)  // Linux only: resource limits and signals are POSIX
TEST(ThreadedFilesDeathTest, WriteFailurePartWayLeavesNoFileAndNoThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  TestBunch bunch;
  makeMixedBunch(bunch, 12, 256, 256);
  Record record;
  fillMixedRecord(record, 12, 256, 256);
  for (const bool imc : {false, true}) {
    const std::string path = dir.file(imc ? "full.imc" : "full.imc2");
    auto save = [&] {
      return imc ? save_imc_file(path.c_str(), &record.v) : saveBunch(bunch.get(), path);
    };
    // Writing stops half-way through the file.
    ASSERT_EQ(save(), 0);
    const rlim_t limit = readFile(path).size() / 2;
    std::remove(path.c_str());
    auto saveUnderLimit = [&] {
      qvtest::ScopedCodecThreads env(3u);
      signal(SIGXFSZ, SIG_IGN);
      rlimit lim{limit, limit};
      setrlimit(RLIMIT_FSIZE, &lim);
      const size_t before = qvtest::threadsAfterWarmUp();
      const int code = save();
      const bool ok = code == (imc ? -5 : QV_E_SAVE_WRITE) && !fileExists(path) &&
                      qvtest::threadsInProcess() == before;
      std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(saveUnderLimit(), ::testing::ExitedWithCode(0), "") << (imc ? "IMC" : "IMC2");
  }
}
#endif
