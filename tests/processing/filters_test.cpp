#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "legacy_record.h"
#include "quivox3/quivox3.h"

using qvtest::LegacyRecord;
using Frame = std::vector<uint32_t>;

namespace {

// ---------------------------------------------------------------- normalise

TEST(Normalize, EightBitFrameScaledByItsBrightestPixel) {
  LegacyRecord r(3, 2, 8, 8, {{100, 50, 0, 1, 99, 2}, {85, 10, 1, 0, 84, 3}});
  ASSERT_EQ(normalizeframes(r.get()), 0);
  // f = 255/100 as a double is just below 2.55: 100 ends at 254.
  EXPECT_EQ(r.frame(0), (Frame{254, 127, 0, 2, 252, 5}));
  // The second frame has its own maximum; f = 3 exactly.
  EXPECT_EQ(r.frame(1), (Frame{255, 30, 3, 0, 252, 9}));
}

TEST(Normalize, SixteenBitWithTwelveEffectiveBits) {
  LegacyRecord r(2, 2, 16, 12, {{1000, 500, 0, 1}, {3, 1, 2, 0}});
  ASSERT_EQ(normalizeframes(r.get()), 0);
  const Frame first = r.frame(0);
  EXPECT_GE(first[0], 4094u);
  EXPECT_LE(first[0], 4095u);
  EXPECT_EQ(first[1], 2047u);
  EXPECT_EQ(first[2], 0u);
  EXPECT_EQ(first[3], 4u);
  EXPECT_EQ(r.frame(1), (Frame{4095, 1365, 2730, 0}));
}

TEST(Normalize, ThirtyTwoBitReachesTheFullRangeWithoutWrapping) {
  LegacyRecord r(3, 1, 32, 32, {{2, 1, 0}, {0xFFFFFFFFu, 0x80000000u, 7}});
  ASSERT_EQ(normalizeframes(r.get()), 0);
  EXPECT_EQ(r.frame(0), (Frame{0xFFFFFFFFu, 0x7FFFFFFFu, 0}));
  EXPECT_EQ(r.frame(1), (Frame{0xFFFFFFFFu, 0x80000000u, 7}));
}

TEST(Normalize, AllZeroFrameStaysZero) {
  LegacyRecord r(2, 2, 16, 16, {{0, 0, 0, 0}});
  ASSERT_EQ(normalizeframes(r.get()), 0);
  EXPECT_EQ(r.frame(0), (Frame{0, 0, 0, 0}));
}

TEST(Normalize, RectangleInEitherCornerOrderTouchesOnlyItsInside) {
  const std::vector<Frame> frames = {{200, 1, 2, 3,  //
                                      4, 5, 10, 0,   //
                                      9, 8, 7, 6},
                                     {1, 1, 1, 1,    //
                                      1, 51, 17, 1,  //
                                      1, 1, 1, 1}};
  LegacyRecord ordered(4, 3, 8, 8, frames);
  LegacyRecord reversed(4, 3, 8, 8, frames);
  ASSERT_EQ(normalizeframes_rect(ordered.get(), 1, 1, 2, 2), 0);
  ASSERT_EQ(normalizeframes_rect(reversed.get(), 2, 2, 1, 1), 0);
  // Brightest inside is 10 (the 200 outside does not count): f = 25.5.
  EXPECT_EQ(ordered.frame(0), (Frame{200, 1, 2, 3,    //
                                     4, 127, 255, 0,  //
                                     9, 204, 178, 6}));
  // f = 5 from this frame's own 51.
  EXPECT_EQ(ordered.frame(1), (Frame{1, 1, 1, 1,     //
                                     1, 255, 85, 1,  //
                                     1, 5, 5, 1}));
  EXPECT_EQ(reversed.frame(0), ordered.frame(0));
  EXPECT_EQ(reversed.frame(1), ordered.frame(1));
}

TEST(Normalize, RefusedRecordsAreLeftAlone) {
  EXPECT_EQ(normalizeframes(nullptr), -1);
  EXPECT_EQ(normalizeframes_rect(nullptr, 0, 0, 0, 0), -1);
  LegacyRecord empty;
  EXPECT_EQ(normalizeframes(empty.get()), -1);

  LegacyRecord twelveBit(2, 1, 12, 12, {{100, 3}});
  EXPECT_EQ(normalizeframes(twelveBit.get()), -1);

  LegacyRecord r(3, 2, 8, 8, {{10, 20, 30, 40, 50, 60}});
  EXPECT_EQ(normalizeframes_rect(r.get(), 0, 0, 3, 1), -1);
  EXPECT_EQ(normalizeframes_rect(r.get(), 0, 2, 0, 0), -1);
  EXPECT_EQ(r.frame(0), (Frame{10, 20, 30, 40, 50, 60}));

  LegacyRecord noFrames(3, 2, 8, 8, {});
  EXPECT_EQ(normalizeframes(noFrames.get()), 0);
}

// ------------------------------------------------------------- spike filter

Frame flat(size_t aiCount, uint32_t aiValue) { return Frame(aiCount, aiValue); }

TEST(SpikeFilter, IsolatedSpikeBecomesTheMeanOfItsNeighbours) {
  Frame spike = flat(25, 10);
  spike[12] = 200;  // t = 133: all eight neighbours are below
  Frame mild = flat(25, 10);
  mild[12] = 14;  // t = 9: none below
  LegacyRecord r(5, 5, 8, 8, {spike, mild});
  ASSERT_EQ(xrayfilter(r.get()), 0);
  EXPECT_EQ(r.frame(0), flat(25, 10));
  EXPECT_EQ(r.frame(1), mild);
}

TEST(SpikeFilter, WorksInPlaceInScanOrderAndNeverTouchesTheBorder) {
  Frame f = flat(30, 10);  // 6 x 5
  f[2 * 6 + 2] = 200;
  f[2 * 6 + 3] = 200;
  f[0 * 6 + 3] = 250;  // border: never examined
  f[2 * 6 + 5] = 250;
  LegacyRecord r(6, 5, 8, 8, {f});
  ASSERT_EQ(xrayfilter(r.get()), 0);
  Frame expected = f;
  expected[2 * 6 + 2] = (7 * 10 + 200) >> 3;  // 33: its right neighbour is still a spike
  expected[2 * 6 + 3] = (7 * 10 + 33) >> 3;   // 12: sees the already filtered 33
  EXPECT_EQ(r.frame(0), expected);
}

TEST(SpikeFilter, FourNeighboursBelowAreEnoughThreeAreNot) {
  // Centre 30, t = 20: neighbours of 5 count, neighbours of 40 do not.
  Frame four = {40, 40, 40, 40,  //
                40, 30, 5,  40,  //
                5,  5,  5,  5,   //
                40, 40, 40, 40};
  Frame three = four;
  three[10] = 40;
  LegacyRecord r(4, 4, 16, 16, {four, three});
  ASSERT_EQ(xrayfilter(r.get()), 0);
  // Centre of the first frame: (40*4 + 5*4) >> 3 = 22.
  EXPECT_EQ(r.frame(0)[5], 22u);
  EXPECT_EQ(r.frame(1)[5], 30u);
}

TEST(SpikeFilter, SixteenBitSpike) {
  Frame f = flat(16, 1000);
  f[5] = 60000;
  LegacyRecord r(4, 4, 16, 12, {f});
  ASSERT_EQ(xrayfilter(r.get()), 0);
  EXPECT_EQ(r.frame(0), flat(16, 1000));
}

TEST(SpikeFilter, ThirtyTwoBitUsesTheSameThresholdAsEightAndSixteen) {
  // A real spike above 2.86e9: (c/2)*3 would wrap to 205032704 and keep it.
  Frame spike = flat(16, 1000000000u);
  spike[5] = 3000000000u;
  // A pixel just a fifth brighter than its surroundings is no spike:
  // (c/2)*3 = 450 would put every neighbour below and blur it.
  Frame mild = flat(16, 250);
  mild[5] = 300;
  // Near the top of the range the sum of the neighbours exceeds 32 bits.
  Frame top = flat(16, 0xFFFFFFF0u);
  top[5] = 0xFFFFFFFFu;
  Frame topSpike = flat(16, 0x50000000u);
  topSpike[5] = 0xFFFFFFFFu;
  LegacyRecord r(4, 4, 32, 32, {spike, mild, top, topSpike});
  ASSERT_EQ(xrayfilter(r.get()), 0);
  EXPECT_EQ(r.frame(0), flat(16, 1000000000u));
  EXPECT_EQ(r.frame(1), mild);
  EXPECT_EQ(r.frame(2), top);
  EXPECT_EQ(r.frame(3), flat(16, 0x50000000u));
}

TEST(SpikeFilter, RefusedRecords) {
  EXPECT_EQ(xrayfilter(nullptr), -1);
  LegacyRecord empty;
  EXPECT_EQ(xrayfilter(empty.get()), -1);
  LegacyRecord threeByThree(3, 3, 8, 8, {flat(9, 1)});
  EXPECT_EQ(xrayfilter(threeByThree.get()), -1);
  LegacyRecord narrow(3, 4, 8, 8, {flat(12, 1)});
  EXPECT_EQ(xrayfilter(narrow.get()), -1);
  Frame f = flat(16, 1);
  f[5] = 200;
  LegacyRecord twentyFour(4, 4, 24, 24, {f});
  EXPECT_EQ(xrayfilter(twentyFour.get()), -1);
  EXPECT_EQ(twentyFour.frame(0), f);
}

// ---------------------------------------------------------- convert_format

TEST(ConvertFormat, AverageOfThreeFramesBecomesOneBackgroundFrame) {
  LegacyRecord r(2, 2, 8, 8, {{1, 2, 3, 4}, {2, 3, 4, 5}, {3, 3, 3, 250}});
  r->scale = 0.5;
  ASSERT_EQ(convert_format(r.get(), 3, 1), 0);
  EXPECT_EQ(r->type, 3);
  EXPECT_EQ(r->numframes, 1);
  EXPECT_EQ(r.frame(0), (Frame{2, 2, 3, 86}));
  EXPECT_EQ(r->framescales[0], 0.5);
}

TEST(ConvertFormat, MaximumProjection) {
  LegacyRecord r(2, 2, 16, 12, {{1, 4095, 3, 0}, {2, 3, 4000, 0}, {3, 3, 3, 0}});
  ASSERT_EQ(convert_format(r.get(), 3, 2), 0);
  EXPECT_EQ(r->numframes, 1);
  EXPECT_EQ(r.frame(0), (Frame{3, 4095, 4000, 0}));
}

TEST(ConvertFormat, WideValuesAverageWithoutOverflow) {
  LegacyRecord r16(1, 2, 16, 16, {{65535, 1}, {65535, 2}, {65534, 2}});
  ASSERT_EQ(convert_format(r16.get(), 3, 1), 0);
  EXPECT_EQ(r16.frame(0), (Frame{65534, 1}));
  LegacyRecord r32(1, 2, 32, 32, {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu}});
  ASSERT_EQ(convert_format(r32.get(), 3, 1), 0);
  EXPECT_EQ(r32.frame(0), (Frame{0xFFFFFFFFu, 0x7FFFFFFFu}));
  LegacyRecord max32(1, 1, 32, 32, {{0x80000000u}, {0xFFFFFFFEu}});
  ASSERT_EQ(convert_format(max32.get(), 3, 2), 0);
  EXPECT_EQ(max32.frame(0), (Frame{0xFFFFFFFEu}));
}

TEST(ConvertFormat, ModesAndTypes) {
  LegacyRecord r(2, 1, 8, 8, {{1, 2}, {3, 4}, {5, 6}});
  unsigned char** pBits = r->framebits;
  EXPECT_EQ(convert_format(r.get(), 3, 0), -4);
  EXPECT_EQ(convert_format(r.get(), 3, 3), -3);
  EXPECT_EQ(convert_format(r.get(), 2, 1), -3);
  EXPECT_EQ(convert_format(r.get(), 6, 0), -2);
  EXPECT_EQ(convert_format(r.get(), 0, 0), -2);
  EXPECT_EQ(r->type, 1);
  EXPECT_EQ(r->numframes, 3);
  EXPECT_EQ(r->framebits, pBits);

  EXPECT_EQ(convert_format(r.get(), 2, 0), 0);
  EXPECT_EQ(r->type, 2);
  EXPECT_EQ(convert_format(r.get(), 4, 0), 0);
  EXPECT_EQ(r->type, 4);
  EXPECT_EQ(r->numframes, 3);
  EXPECT_EQ(r->framebits, pBits);

  LegacyRecord single(2, 1, 8, 8, {{7, 8}});
  EXPECT_EQ(convert_format(single.get(), 3, 0), 0);
  EXPECT_EQ(single->type, 3);
  EXPECT_EQ(single.frame(0), (Frame{7, 8}));
}

TEST(ConvertFormat, RefusedRecords) {
  EXPECT_EQ(convert_format(nullptr, 3, 1), -1);
  LegacyRecord empty;
  EXPECT_EQ(convert_format(empty.get(), 1, 0), -1);
  LegacyRecord map(2, 1, 8, 8, {{1, 0}}, 5);
  EXPECT_EQ(convert_format(map.get(), 1, 0), -1);
  LegacyRecord bmp(2, 1, 8, 8, {{1, 0}}, 6);
  EXPECT_EQ(convert_format(bmp.get(), 3, 0), -1);

  LegacyRecord twelve(2, 1, 12, 12, {{1, 2}, {3, 4}});
  EXPECT_EQ(convert_format(twelve.get(), 3, 1), -5);
  EXPECT_EQ(twelve->type, 1);
  EXPECT_EQ(twelve->numframes, 2);
}

// ----------------------------------------------------------- significance

TEST(SignificanceMap, ConstantReferenceMarksWhereMeanADoesNotExceedMeanB) {
  LegacyRecord a(4, 1, 8, 8, {{4, 5, 6, 5}, {4, 5, 6, 6}});
  LegacyRecord b(4, 1, 8, 8, {{5, 5, 5, 5}, {5, 5, 5, 5}});
  a->scale = 0.75;
  LegacyRecord map;
  ASSERT_EQ(calculate_significance_map(a.get(), b.get(), map.get(), 2.0), 0);
  EXPECT_EQ(map->type, 5);
  EXPECT_EQ(map->numframes, 1);
  EXPECT_EQ(map->width, 4);
  EXPECT_EQ(map->height, 1);
  EXPECT_EQ(map->bpp, 8);
  EXPECT_EQ(map->ebpp, 8);
  EXPECT_EQ(map->scale, 0.75);
  EXPECT_EQ(map->framescales[0], 0.75);
  EXPECT_EQ(map.frame(0), (Frame{1, 1, 0, 0}));
}

TEST(SignificanceMap, SpreadOfBScaledByTheFactor) {
  // B at every pixel: 0 and 10, mean 5, sample deviation sqrt(50) = 7.07.
  LegacyRecord a(3, 1, 16, 12, {{12, 13, 0}, {12, 12, 0}});
  LegacyRecord b(3, 1, 16, 12, {{0, 0, 0}, {10, 10, 10}});
  LegacyRecord map;
  ASSERT_EQ(calculate_significance_map(a.get(), b.get(), map.get(), 1.0), 0);
  // Differences 7 (within 7.07), 7.5 (beyond), -5 (always within).
  EXPECT_EQ(map.frame(0), (Frame{1, 0, 1}));
  EXPECT_EQ(map->bpp, 16);

  LegacyRecord map2;
  ASSERT_EQ(calculate_significance_map(a.get(), b.get(), map2.get(), 1.1), 0);
  EXPECT_EQ(map2.frame(0), (Frame{1, 1, 1}));

  LegacyRecord mapNaN;
  ASSERT_EQ(calculate_significance_map(a.get(), b.get(), mapNaN.get(),
                                       std::numeric_limits<double>::quiet_NaN()),
            0);
  EXPECT_EQ(mapNaN.frame(0), (Frame{0, 0, 0}));
}

TEST(SignificanceMap, ThirtyTwoBitMapHoldsOneInFourBytes) {
  LegacyRecord a(2, 1, 32, 32, {{0xFFFFFFFFu, 1}, {0xFFFFFFFFu, 1}, {0xFFFFFFFFu, 1}});
  LegacyRecord b(2, 1, 32, 32, {{1, 1}, {1, 1}, {1, 1}});
  LegacyRecord map;
  ASSERT_EQ(calculate_significance_map(a.get(), b.get(), map.get(), 3.0), 0);
  EXPECT_EQ(map.frame(0), (Frame{0, 1}));
}

TEST(SignificanceMap, ChecksInTheirOrder) {
  LegacyRecord two(2, 1, 8, 8, {{1, 2}, {3, 4}});
  LegacyRecord twoMore(2, 1, 8, 8, {{1, 2}, {3, 4}});
  LegacyRecord one(2, 1, 8, 8, {{1, 2}});
  LegacyRecord three(2, 1, 8, 8, {{1, 2}, {3, 4}, {5, 6}});
  LegacyRecord wide(3, 1, 8, 8, {{1, 2, 3}, {3, 4, 5}});
  LegacyRecord otherEbpp(2, 1, 8, 7, {{1, 2}, {3, 4}});
  LegacyRecord twelve(2, 1, 12, 12, {{1, 2}, {3, 4}});
  LegacyRecord twelveMore(2, 1, 12, 12, {{1, 2}, {3, 4}});

  LegacyRecord filled(1, 1, 8, 8, {{1}}, 5);
  EXPECT_EQ(calculate_significance_map(nullptr, nullptr, filled.get(), 1.0), -1);
  EXPECT_EQ(calculate_significance_map(two.get(), twoMore.get(), nullptr, 1.0), -1);

  LegacyRecord map;
  EXPECT_EQ(calculate_significance_map(one.get(), two.get(), map.get(), 1.0), -2);
  EXPECT_EQ(calculate_significance_map(nullptr, two.get(), map.get(), 1.0), -2);
  EXPECT_EQ(calculate_significance_map(two.get(), one.get(), map.get(), 1.0), -3);
  EXPECT_EQ(calculate_significance_map(two.get(), three.get(), map.get(), 1.0), -4);
  EXPECT_EQ(calculate_significance_map(two.get(), wide.get(), map.get(), 1.0), -5);
  EXPECT_EQ(calculate_significance_map(two.get(), otherEbpp.get(), map.get(), 1.0), -5);
  EXPECT_EQ(calculate_significance_map(twelve.get(), twelveMore.get(), map.get(), 1.0), -7);
  EXPECT_EQ(map->type, -1);
  EXPECT_EQ(map->framebits, nullptr);
  EXPECT_EQ(map->framescales, nullptr);
}

// ------------------------------------------------------------ colour tables

struct Rgb {
  int r, g, b, spare;
  bool operator==(const Rgb& o) const {
    return r == o.r && g == o.g && b == o.b && spare == o.spare;
  }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << "," << c.spare << ")";
}
Rgb entry(const std::vector<unsigned char>& aTable, size_t i) {
  return {aTable[4 * i], aTable[4 * i + 1], aTable[4 * i + 2], aTable[4 * i + 3]};
}

TEST(ColourTable, GreyRampOfEightBits) {
  std::vector<unsigned char> table(1024, 0xAB);
  int iSize = 1024;
  ASSERT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), &iSize, 0, 1, 8), 256);
  EXPECT_EQ(iSize, 1024);
  EXPECT_EQ(entry(table, 0), (Rgb{0, 0, 0, 0}));
  EXPECT_EQ(entry(table, 128), (Rgb{128, 128, 128, 0}));
  EXPECT_EQ(entry(table, 255), (Rgb{255, 255, 255, 0}));
}

TEST(ColourTable, TwelveBitsInTwoBytesMarkTheOverflowRange) {
  for (int iPalette = 0; iPalette <= 2; ++iPalette) {
    SCOPED_TRACE(iPalette);
    std::vector<unsigned char> table(262144, 0xAB);
    int iSize = static_cast<int>(table.size());
    ASSERT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), &iSize, iPalette, 2, 12), 65536);
    EXPECT_EQ(iSize, 262144);
    EXPECT_EQ(entry(table, 4095), (Rgb{255, 255, 255, 0}));
    for (size_t i = 4096; i < 65536; ++i) ASSERT_EQ(entry(table, i), (Rgb{255, 0, 255, 0})) << i;
    EXPECT_EQ(entry(table, 0).spare, 0);
  }
  std::vector<unsigned char> grey(262144);
  int iSize = 262144;
  ASSERT_EQ(QVV3_INTERNAL_qvCreateColourTable(grey.data(), &iSize, 0, 2, 12), 65536);
  EXPECT_EQ(entry(grey, 2048), (Rgb{127, 127, 127, 0}));  // 2048*255/4095 = 127.5
}

TEST(ColourTable, BlackBlueGreenRedWhite) {
  std::vector<unsigned char> table(1024);
  int iSize = 1024;
  ASSERT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), &iSize, 1, 1, 8), 256);
  EXPECT_EQ(entry(table, 0), (Rgb{0, 0, 0, 0}));
  EXPECT_EQ(entry(table, 1), (Rgb{0, 0, 255, 0}));
  EXPECT_EQ(entry(table, 85), (Rgb{0, 0, 112, 0}));
  EXPECT_EQ(entry(table, 86), (Rgb{0, 68, 108, 0}));
  EXPECT_EQ(entry(table, 150), (Rgb{0, 210, 0, 0}));
  EXPECT_EQ(entry(table, 170), (Rgb{0, 253, 0, 0}));
  EXPECT_EQ(entry(table, 171), (Rgb{67, 0, 0, 0}));
  EXPECT_EQ(entry(table, 254), (Rgb{250, 0, 0, 0}));
  EXPECT_EQ(entry(table, 255), (Rgb{255, 255, 255, 0}));
}

TEST(ColourTable, BlueCyanYellowRed) {
  std::vector<unsigned char> table(1024);
  int iSize = 1024;
  ASSERT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), &iSize, 2, 1, 8), 256);
  EXPECT_EQ(entry(table, 0), (Rgb{0, 0, 127, 0}));
  EXPECT_EQ(entry(table, 31), (Rgb{0, 0, 251, 0}));
  EXPECT_EQ(entry(table, 32), (Rgb{0, 0, 255, 0}));
  EXPECT_EQ(entry(table, 96), (Rgb{0, 255, 255, 0}));
  EXPECT_EQ(entry(table, 160), (Rgb{255, 255, 0, 0}));
  EXPECT_EQ(entry(table, 224), (Rgb{255, 0, 0, 0}));
  EXPECT_EQ(entry(table, 254), (Rgb{135, 0, 0, 0}));
  EXPECT_EQ(entry(table, 255), (Rgb{255, 255, 255, 0}));
}

TEST(ColourTable, ArgumentsOutOfRangeLeaveTheSizeAlone) {
  std::vector<unsigned char> table(262144);
  const int kUntouched = 262144;
  struct Case {
    int iPalette, iBytes, iBits;
  } cases[] = {{0, 1, 12}, {0, 1, 7}, {0, 2, 17}, {3, 1, 8}, {-1, 1, 8}, {0, 3, 8}, {0, 0, 8}};
  for (const Case& c : cases) {
    int iSize = kUntouched;
    EXPECT_EQ(
        QVV3_INTERNAL_qvCreateColourTable(table.data(), &iSize, c.iPalette, c.iBytes, c.iBits), -1);
    EXPECT_EQ(iSize, kUntouched);
  }
  int iSize = kUntouched;
  EXPECT_EQ(QVV3_INTERNAL_qvCreateColourTable(nullptr, &iSize, 0, 1, 8), -1);
  EXPECT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), nullptr, 0, 1, 8), -1);
}

TEST(ColourTable, SmallCapacityReportsTheNeededSizeAndWritesNothing) {
  std::vector<unsigned char> table(1024, 0xAB);
  int iSize = 1000;
  EXPECT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), &iSize, 0, 1, 8), -2);
  EXPECT_EQ(iSize, 1024);
  EXPECT_EQ(table, std::vector<unsigned char>(1024, 0xAB));
}

TEST(GrayToRgb24, SixteenBitPixelsThroughATwelveBitTable) {
  std::vector<unsigned char> table(262144);
  int iTableSize = 262144;
  ASSERT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), &iTableSize, 0, 2, 12), 65536);
  const unsigned char source[] = {0xFF, 0x0F, 0x00, 0x10, 0x00, 0x08};
  std::vector<unsigned char> out(9, 0xAB);
  int iSize = 9;
  ASSERT_EQ(QVV3_INTERNAL_qvGrayToRGB24(source, 6, out.data(), &iSize, table.data(), 2, 3), 0);
  EXPECT_EQ(iSize, 9);
  EXPECT_EQ(out, (std::vector<unsigned char>{255, 255, 255, 255, 0, 255, 127, 127, 127}));
}

TEST(GrayToRgb24, EightBitPixelsAndTheSizeRules) {
  std::vector<unsigned char> table(1024);
  int iTableSize = 1024;
  ASSERT_EQ(QVV3_INTERNAL_qvCreateColourTable(table.data(), &iTableSize, 2, 1, 8), 256);
  const unsigned char source[] = {0, 96, 255};
  std::vector<unsigned char> out(16, 0xAB);

  int iSize = 8;
  EXPECT_EQ(QVV3_INTERNAL_qvGrayToRGB24(source, 3, out.data(), &iSize, table.data(), 1, 3), -2);
  EXPECT_EQ(iSize, 9);
  EXPECT_EQ(out, std::vector<unsigned char>(16, 0xAB));

  ASSERT_EQ(QVV3_INTERNAL_qvGrayToRGB24(source, 3, out.data(), &iSize, table.data(), 1, 3), 0);
  EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 10),
            (std::vector<unsigned char>{0, 0, 127, 0, 255, 255, 255, 255, 255, 0xAB}));

  const int kUntouched = 100;
  struct Case {
    const unsigned char* src;
    int iLength;
    unsigned char* dst;
    bool bSize;
    const unsigned char* tbl;
    int iBytes, iCount;
  } cases[] = {
      {source, 3, out.data(), true, table.data(), 3, 1},   // bytes per pixel
      {source, 3, out.data(), true, table.data(), 1, 0},   // pixel count
      {nullptr, 3, out.data(), true, table.data(), 1, 3},  // source
      {source, 3, nullptr, true, table.data(), 1, 3},      // destination
      {source, 3, out.data(), false, table.data(), 1, 3},  // size
      {source, 3, out.data(), true, nullptr, 1, 3},        // table
      {source, 2, out.data(), true, table.data(), 1, 3},   // source too short
      {source, 3, out.data(), true, table.data(), 2, 2},   // two-byte pixels, too short
      {source, 3, out.data(), true, table.data(), 1, 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    iSize = kUntouched;
    EXPECT_EQ(QVV3_INTERNAL_qvGrayToRGB24(c.src, c.iLength, c.dst, c.bSize ? &iSize : nullptr,
                                          c.tbl, c.iBytes, c.iCount),
              -1);
    EXPECT_EQ(iSize, kUntouched);
  }
}

}  // namespace

namespace {

TEST(Normalize, EffectiveBitsOutsideTheStoredWidthMeanTheStoredWidth) {
  LegacyRecord zero(2, 1, 8, 0, {{100, 50}});
  ASSERT_EQ(normalizeframes(zero.get()), 0);
  EXPECT_EQ(zero.frame(0), (Frame{254, 127}));
  LegacyRecord tooMany(2, 1, 8, 12, {{100, 50}});
  ASSERT_EQ(normalizeframes(tooMany.get()), 0);
  EXPECT_EQ(tooMany.frame(0), (Frame{254, 127}));
}

}  // namespace
