#include "ir/pulse_lengths.h"

#include <gtest/gtest.h>

namespace koblib {
namespace {

TEST(PulseLengths, NearbyLengthsShareABinWhoseLengthIsTheirMean) {
    PulseLengths table;
    EXPECT_EQ(table.add(100), 0);
    EXPECT_EQ(table.lengthAt(0), 100u);
    EXPECT_EQ(table.add(119), 0);
    EXPECT_EQ(table.lengthAt(0), 109u);
    EXPECT_EQ(table.add(125), 0);
    EXPECT_EQ(table.lengthAt(0), 114u);
    // (34 * 10) / 80 = 4: too far.
    EXPECT_EQ(table.add(80), 1);
    EXPECT_EQ(table.lengthAt(1), 80u);
    EXPECT_EQ(table.binCount(), 2u);
}

TEST(PulseLengths, ToleranceIsMeasuredAgainstTheNewLength) {
    PulseLengths joins;
    joins.add(100);
    EXPECT_EQ(joins.add(120), 0);  // (20 * 10) / 120 = 1

    PulseLengths opens;
    opens.add(120);
    EXPECT_EQ(opens.add(100), 1);  // (20 * 10) / 100 = 2
}

TEST(PulseLengths, FirstFittingBinWinsOverACloserOne) {
    PulseLengths table;
    table.add(100);
    table.add(130);  // (30 * 10) / 130 = 2: bin 1
    // 118 fits both; bin 1 is closer, bin 0 comes first.
    EXPECT_EQ(table.add(118), 0);
}

TEST(PulseLengths, MeanCoversTheNewLengthBeforeTheOldestOfTwentyOneIsDropped) {
    PulseLengths table;
    table.add(100);
    for (int i = 0; i < 19; ++i)
        table.add(110);                  // 20 kept
    EXPECT_EQ(table.lengthAt(0), 109u);  // 2190 / 20 = 109.5
    table.add(110);                      // 21st: 2300 / 21 = 109.5
    EXPECT_EQ(table.lengthAt(0), 109u);
    // The 100 is gone now: 21 times 110.
    table.add(110);
    EXPECT_EQ(table.lengthAt(0), 110u);
}

TEST(PulseLengths, LengthOfAnUnusedBinIsZero) {
    PulseLengths table;
    EXPECT_EQ(table.lengthAt(0), 0u);
    table.add(500);
    EXPECT_EQ(table.lengthAt(1), 0u);
    EXPECT_EQ(table.lengthAt(PulseLengths::kMaxBins), 0u);
}

TEST(PulseLengths, ClearForgetsEveryBin) {
    PulseLengths table;
    table.add(100);
    table.add(1000);
    table.clear();
    EXPECT_EQ(table.binCount(), 0u);
    EXPECT_EQ(table.lengthAt(0), 0u);
    // Samples are gone too: the new bin 0 is 300 alone.
    EXPECT_EQ(table.add(300), 0);
    EXPECT_EQ(table.lengthAt(0), 300u);
}

TEST(PulseLengths, ZeroJoinsOnlyABinOfZero) {
    PulseLengths table;
    EXPECT_EQ(table.add(0), 0);
    EXPECT_EQ(table.add(1), 1);  // (1 * 10) / 1 = 10
    EXPECT_EQ(table.add(0), 0);
    EXPECT_EQ(table.lengthAt(0), 0u);
    PulseLengths other;
    other.add(1);
    EXPECT_EQ(other.add(0), 1);
}

TEST(PulseLengths, FullTableCountsALengthThatFitsNoneAsBinZeroAndStoresNothing) {
    static_assert(PulseLengths::kMaxBins == 250, "bins of one run");
    PulseLengths table(3);
    EXPECT_EQ(table.add(100), 0);
    EXPECT_EQ(table.add(1000), 1);
    EXPECT_EQ(table.add(10000), 2);
    EXPECT_EQ(table.add(50), 0);
    EXPECT_EQ(table.binCount(), 3u);
    EXPECT_EQ(table.lengthAt(0), 100u);
    // A length that fits still joins its bin.
    EXPECT_EQ(table.add(1010), 1);
    EXPECT_EQ(table.lengthAt(1), 1005u);
}

}  // namespace
}  // namespace koblib
