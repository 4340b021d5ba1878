#include "pulse_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace koblirc {
namespace {

std::vector<unsigned> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<unsigned> out;
    for (std::string word; in >> word;)
        out.push_back(std::stoul(word, nullptr, 16));
    return out;
}

// A frame becomes the silence before it, then pulses and spaces in µs;
// words that hold no frame give nothing to LIRC.
TEST(LIRCFrame, AlternatesFromALeadingSpaceInMicroseconds) {
    const std::vector<std::vector<unsigned>> frames = {
        {0xFFFF, 2250, 1125, 140},
        {0xFFFF, 2242, 1108, 138, 118, 138, 407, 138},
        {1, 0xFFFF},
        {300, 1, 1, 1, 1}};
    for (const auto& ticks : frames) {
        const auto durations = frameToDurations(ticks.data(), ticks.size());
        ASSERT_EQ(durations.size(), ticks.size());
        for (std::size_t k = 0; k < ticks.size(); ++k) {
            EXPECT_EQ((durations[k] & kPulseFlag) != 0, k % 2 == 1) << k;
            EXPECT_EQ(durations[k] & kDurationMask, ticks[k] * KOBC_TICK_US) << k;
        }
    }
    const std::vector<std::vector<unsigned>> noFrames = {{}, {0xFFFF}, {0xFFFF, 20, 0, 20}};
    for (const auto& ticks : noFrames)
        EXPECT_TRUE(frameToDurations(ticks.data(), ticks.size()).empty()) << ticks.size();
}

// The word of the clock every client uses; carriers beyond the words'
// range count as the nearest one that has a word.
TEST(LIRCCarrier, WordOfTheOneClockWithinRange) {
    EXPECT_EQ(carrierWord(0), carrierWord(kDefaultCarrierHz));
    for (unsigned hz : {1u, 30000u, 36000u, 38000u, 56000u, 455000u, 0xFFFFFFFFu}) {
        const unsigned word = carrierWord(hz);
        EXPECT_GE(word, 1u) << hz;
        EXPECT_LE(word, 0xFFFFu) << hz;
        const double wanted =
            std::clamp<double>(hz, KOBC_CCF_CLOCK_HZ / 0xFFFF + 1, KOBC_CCF_CLOCK_HZ);
        EXPECT_EQ(word, static_cast<unsigned>(KOBC_CCF_CLOCK_HZ / wanted)) << hz;
    }
}

// Every time comes back within half a carrier period (at least one period,
// and a time longer than a burst word holds as the longest one), the pair
// counts fit, and a final gap ends an odd sequence.
TEST(LIRCToCCF, TimesRoundTripWithinHalfAPeriod) {
    const std::vector<std::vector<std::uint32_t>> codes = {
        {9000, 4500, 560, 1690, 560, 560, 560}, {100, 200}, {1, 3, 5}, {2000000}};
    for (unsigned hz : {0u, 36000u, 38000u, 56000u}) {
        for (const auto& code : codes) {
            const std::uint32_t gap = 40000;
            const auto w = words(durationsToCCF(code, hz, gap));
            std::vector<std::uint32_t> times(code);
            if (times.size() % 2) times.push_back(gap);
            ASSERT_EQ(w.size(), 4 + times.size());
            EXPECT_EQ(w[0], 0u);
            EXPECT_EQ(w[1], carrierWord(hz));
            EXPECT_EQ(w[2], times.size() / 2);
            EXPECT_EQ(w[3], 0u);
            const double periodUs = 1e6 * w[1] / KOBC_CCF_CLOCK_HZ;
            for (std::size_t k = 0; k < times.size(); ++k) {
                const double wanted = std::clamp(times[k] / periodUs, 1.0, 65535.0);
                EXPECT_GE(w[4 + k], 1u);
                EXPECT_LE(std::fabs(w[4 + k] - wanted), 0.5 + 1.0 / periodUs)
                    << "hz " << hz << " time " << k;
            }
        }
    }
}

TEST(LIRCToCCF, EmptyOrTooLongGivesNoCode) {
    EXPECT_EQ(durationsToCCF({}, 38000, 1000), "");
    const std::size_t fits = KOBC_MAX_CCF_WORDS - 4;
    EXPECT_FALSE(durationsToCCF(std::vector<std::uint32_t>(fits - 1, 500), 38000, 1000).empty());
    EXPECT_EQ(durationsToCCF(std::vector<std::uint32_t>(fits + 1, 500), 38000, 1000), "");
}

}  // namespace
}  // namespace koblirc
