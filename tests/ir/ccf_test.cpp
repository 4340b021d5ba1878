#include "ir/ccf.h"

#include <gtest/gtest.h>

#include <string>

namespace koblib {
namespace {

TEST(CCF, FirstWordIsTheLeadGapAndTheRestArePulsesInTheSharedTable) {
    PulseLengths table;
    CCF frame(table, "2000 008C 0230 008C ");
    EXPECT_EQ(frame.leadGap(), 0x2000u);
    ASSERT_EQ(frame.count(), 3u);
    EXPECT_EQ(frame.binAt(0), 0);
    EXPECT_EQ(frame.binAt(1), 1);
    EXPECT_EQ(frame.binAt(2), 0);
    EXPECT_EQ(table.lengthAt(0), 0x8Cu);
    EXPECT_EQ(table.lengthAt(1), 0x230u);

    // A second frame of the run finds the same bins, even a little off.
    CCF again(table, "1F00 008A 0238 008E ");
    EXPECT_TRUE(again.samePulses(frame));
    EXPECT_EQ(table.binCount(), 2u);
}

TEST(CCF, LeadGapIsTakenFromAnIncompleteWord) {
    PulseLengths table;
    CCF frame(table, "12");
    EXPECT_EQ(frame.leadGap(), 0x1200u);
    EXPECT_EQ(frame.count(), 0u);
    EXPECT_EQ(table.binCount(), 0u);
}

TEST(CCF, SamePulsesNeedsEqualCountAndBins) {
    PulseLengths table;
    CCF a(table, "1000 0100 0200 0100");
    CCF shorter(table, "1000 0100 0200");
    CCF other(table, "1000 0100 0100 0200");
    CCF differentGap(table, "3000 0100 0200 0100");
    EXPECT_FALSE(a.samePulses(shorter));
    EXPECT_FALSE(shorter.samePulses(a));
    EXPECT_FALSE(a.samePulses(other));
    EXPECT_TRUE(a.samePulses(differentGap));
}

TEST(CCF, HoldsAtMost512Pulses) {
    PulseLengths table;
    std::string text = "1000";
    for (int i = 0; i < 600; ++i)
        text += " 0100";
    CCF frame(table, text.c_str());
    EXPECT_EQ(frame.count(), 511u);  // 512 words read, the first is the gap
    frame.append(0);
    EXPECT_EQ(frame.count(), 512u);
    frame.append(1);
    EXPECT_EQ(frame.count(), 512u);
    EXPECT_EQ(frame.binAt(511), 0);
}

TEST(CCF, FormatPairsWritesCarrierPeriods) {
    PulseLengths table;
    // 140 and 2250 ticks: 560 us * 0.038 MHz = 21.28, 9000 us -> 342.
    CCF frame(table, "1000 008C 08CA");
    EXPECT_EQ(frame.formatPairs(38000), "0015 0156");
}

TEST(CCF, FormatPairsLeavesOutAnOddLastPulse) {
    PulseLengths table;
    CCF frame(table, "1000 008C 08CA 008C");
    EXPECT_EQ(frame.formatPairs(38000), "0015 0156");
    CCF one(table, "1000 008C");
    EXPECT_EQ(one.formatPairs(38000), "");
    CCF none(table, "1000");
    EXPECT_EQ(none.formatPairs(38000), "");
}

TEST(CCF, FormatPairsUsesTheBinLengthsAsTheyAreNow) {
    PulseLengths table;
    CCF frame(table, "1000 0064 00C8");  // 100, 200 ticks
    table.add(110);                      // bin 0 now stands for 105
    // 105 * 64 * 40000 / 16e6 = 16.8, 200 -> 32.
    EXPECT_EQ(frame.formatPairs(40000), "0010 0020");
}

TEST(CCF, FormatPairsWritesLargeValuesWithAllTheirDigits) {
    PulseLengths table;
    // 65535 ticks at 1 MHz: 262140 periods.
    CCF frame(table, "0000 FFFF FFFF");
    EXPECT_EQ(frame.formatPairs(1000000), "3FFFC 3FFFC");
    EXPECT_EQ(frame.formatPairs(0), "0000 0000");
    EXPECT_EQ(frame.formatPairs(-38000), "0000 0000");
}

}  // namespace
}  // namespace koblib
