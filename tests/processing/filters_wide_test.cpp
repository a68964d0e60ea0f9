// The filters on frames wide enough for their block-wise paths, checked
// against plain per-pixel reference computations written from the rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "legacy_record.h"
#include "quivox3/quivox3.h"

using qvtest::LegacyRecord;
using Frame = std::vector<uint32_t>;

namespace {

Frame noisyFrame(size_t aiCount, uint32_t aiSeed, uint32_t aiBase, uint32_t aiSpread,
                 uint32_t aiSpike, uint32_t aiSpikeEvery) {
  Frame f(aiCount);
  uint32_t s = aiSeed;
  for (size_t i = 0; i < aiCount; ++i) {
    s = s * 1664525u + 1013904223u;
    f[i] = aiBase + (s >> 8) % aiSpread;
    if ((s >> 20) % aiSpikeEvery == 0) f[i] = aiSpike;
  }
  return f;
}

void referenceSpikeFilter(Frame& f, size_t w, size_t h) {
  for (size_t y = 1; y + 1 < h; ++y) {
    for (size_t x = 1; x + 1 < w; ++x) {
      const uint64_t c = f[y * w + x];
      if (c == 0) continue;
      const uint64_t t = 2 * c / 3;
      uint64_t sum = 0;
      int below = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          if (dx == 0 && dy == 0) continue;
          const uint64_t n = f[(y + dy) * w + (x + dx)];
          sum += n;
          below += n < t;
        }
      }
      if (below >= 4) f[y * w + x] = static_cast<uint32_t>(sum / 8);
    }
  }
}

TEST(SpikeFilterWide, MatchesThePerPixelRuleAcrossBlocksAndDepths) {
  const size_t w = 203, h = 9;  // blocks of the row plus a ragged end
  struct Case {
    int iBpp;
    uint32_t iBase, iSpread, iSpike, iEvery;
  } cases[] = {
      {8, 10, 30, 250, 7},        // spikes often, clusters across block edges
      {16, 1000, 200, 60000, 5},  //
      {16, 1000, 900, 3000, 3},   // borderline thresholds
      {32, 1000000000u, 5000, 3000000000u, 6},
      {32, 0x40000000u, 0x10000000u, 0xFFFFFFFFu, 4},  // neighbour sums beyond 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.iBpp);
    std::vector<Frame> frames;
    for (uint32_t f = 0; f < 3; ++f) {
      frames.push_back(
          noisyFrame(w * h, 17 + f * 31 + c.iBpp, c.iBase, c.iSpread, c.iSpike, c.iEvery));
    }
    LegacyRecord r(static_cast<int>(w), static_cast<int>(h), c.iBpp, c.iBpp, frames);
    ASSERT_EQ(xrayfilter(r.get()), 0);
    size_t iChanged = 0;
    for (int f = 0; f < 3; ++f) {
      Frame expected = frames[static_cast<size_t>(f)];
      referenceSpikeFilter(expected, w, h);
      EXPECT_EQ(r.frame(f), expected) << "frame " << f;
      for (size_t i = 0; i < expected.size(); ++i) iChanged += expected[i] != frames[f][i];
    }
    EXPECT_GT(iChanged, 0u) << "the case must contain spikes";
  }
}

TEST(ConvertFormatWide, AverageAndMaximumOverManyBlocks) {
  const size_t w = 97, h = 53;  // 5141 pixels: two full blocks and a tail
  for (int iBpp : {8, 16, 32}) {
    SCOPED_TRACE(iBpp);
    const uint32_t iTop = iBpp == 32 ? 0xFFFFFFFFu : (1u << iBpp) - 1;
    std::vector<Frame> frames;
    for (uint32_t f = 0; f < 5; ++f) frames.push_back(noisyFrame(w * h, 3 + f, 0, iTop, iTop, 9));
    Frame average(w * h), maximum(w * h);
    for (size_t i = 0; i < w * h; ++i) {
      double sum = 0;
      uint32_t m = 0;
      for (const Frame& f : frames) {
        sum += f[i];
        m = std::max(m, f[i]);
      }
      average[i] = static_cast<uint32_t>(sum / 5.0);
      maximum[i] = m;
    }
    LegacyRecord a(static_cast<int>(w), static_cast<int>(h), iBpp, iBpp, frames);
    ASSERT_EQ(convert_format(a.get(), 3, 1), 0);
    EXPECT_EQ(a.frame(0), average);
    LegacyRecord m(static_cast<int>(w), static_cast<int>(h), iBpp, iBpp, frames);
    ASSERT_EQ(convert_format(m.get(), 3, 2), 0);
    EXPECT_EQ(m.frame(0), maximum);
  }
}

TEST(SignificanceMapWide, MatchesThePerPixelRuleOverManyBlocks) {
  const size_t w = 61, h = 37;  // 2257 pixels: two full blocks and a tail
  const int n = 4;
  std::vector<Frame> framesA, framesB;
  for (int f = 0; f < n; ++f) {
    framesA.push_back(noisyFrame(w * h, 100 + f, 1000, 60, 1000, 1000000));
    framesB.push_back(noisyFrame(w * h, 200 + f, 1000, 40, 1000, 1000000));
  }
  const double factor = 1.5;
  Frame expected(w * h);
  size_t iOnes = 0;
  for (size_t i = 0; i < w * h; ++i) {
    double sa = 0, sb = 0;
    for (int f = 0; f < n; ++f) {
      sa += framesA[f][i];
      sb += framesB[f][i];
    }
    const double ma = sa / n, mb = sb / n;
    double sq = 0;
    for (int f = 0; f < n; ++f) sq += (mb - framesB[f][i]) * (mb - framesB[f][i]);
    expected[i] = factor * std::sqrt(sq / (n - 1)) >= ma - mb ? 1 : 0;
    iOnes += expected[i];
  }
  ASSERT_GT(iOnes, 0u);
  ASSERT_LT(iOnes, w * h);
  LegacyRecord a(static_cast<int>(w), static_cast<int>(h), 16, 12, framesA);
  LegacyRecord b(static_cast<int>(w), static_cast<int>(h), 16, 12, framesB);
  LegacyRecord map;
  ASSERT_EQ(calculate_significance_map(a.get(), b.get(), map.get(), factor), 0);
  EXPECT_EQ(map.frame(0), expected);
}

// The first frame's brightest pixel exceeds the rectangle's pixel count, the
// second's does not: the two ways of scaling must agree with the rule.
TEST(NormalizeWide, SixteenBitRectangleMatchesThePerPixelRule) {
  const size_t w = 150, h = 20;
  const std::vector<Frame> sources = {noisyFrame(w * h, 5, 0, 3000, 2999, 50),
                                      noisyFrame(w * h, 9, 0, 900, 899, 50)};
  LegacyRecord r(static_cast<int>(w), static_cast<int>(h), 16, 12, sources);
  ASSERT_EQ(normalizeframes_rect(r.get(), 140, 18, 3, 2), 0);
  for (size_t i = 0; i < sources.size(); ++i) {
    const Frame& source = sources[i];
    uint32_t m = 0;
    for (size_t y = 2; y <= 18; ++y)
      for (size_t x = 3; x <= 140; ++x) m = std::max(m, source[y * w + x]);
    const double f = 4095.0 / m;
    Frame expected = source;
    for (size_t y = 2; y <= 18; ++y)
      for (size_t x = 3; x <= 140; ++x)
        expected[y * w + x] = static_cast<uint32_t>(source[y * w + x] * f);
    EXPECT_EQ(r.frame(static_cast<int>(i)), expected) << "frame " << i;
  }
}

}  // namespace
