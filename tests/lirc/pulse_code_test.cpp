#include "pulse_code.h"

#include <gtest/gtest.h>

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

TEST(LIRCFrame, AlternatesFromALeadingSpaceInMicroseconds) {
    const std::vector<unsigned> ticks = {0xFFFF, 2250, 1125, 140, 0, 0x7FFFFFFF};
    const auto durations = frameToDurations(ticks.data(), ticks.size());
    ASSERT_EQ(durations.size(), ticks.size());
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        EXPECT_EQ((durations[k] & kPulseFlag) != 0, k % 2 == 1) << k;
        const std::uint64_t us = std::uint64_t{ticks[k]} * kTickMicroseconds;
        EXPECT_EQ(durations[k] & kDurationMask, std::min<std::uint64_t>(us, kDurationMask)) << k;
    }
}

TEST(LIRCCarrier, WordOfTheLibraryConventionWithinRange) {
    EXPECT_EQ(carrierWord(0), carrierWord(kDefaultCarrierHz));
    for (unsigned hz : {1u, 30000u, 36000u, 38000u, 56000u, 455000u, 0xFFFFFFFFu}) {
        const unsigned word = carrierWord(hz);
        EXPECT_GE(word, 1u);
        EXPECT_LE(word, 0xFFFFu);
        if (word > 1 && word < 0xFFFF) {
            EXPECT_EQ(word, 0x400000u / hz);
        }
    }
}

// Every time comes back within half a carrier period (one period at the
// edges of the word's range), the pair counts fit, and a final gap ends an
// odd sequence.
TEST(LIRCToCCF, TimesRoundTripWithinOnePeriod) {
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
            const double periodUs = 1e6 * w[1] / 0x400000;
            for (std::size_t k = 0; k < times.size(); ++k) {
                EXPECT_GE(w[4 + k], 1u);
                if (w[4 + k] > 1 && w[4 + k] < 0xFFFF) {
                    EXPECT_LE(std::fabs(w[4 + k] * periodUs - times[k]), periodUs / 2 + 1e-6)
                        << "hz " << hz << " time " << k;
                }
            }
        }
    }
}

TEST(LIRCToCCF, EmptyOrTooLongGivesNoCode) {
    EXPECT_EQ(durationsToCCF({}, 38000, 1000), "");
    const std::size_t fits = kMaxCodeWords - 4;
    EXPECT_FALSE(durationsToCCF(std::vector<std::uint32_t>(fits - 1, 500), 38000, 1000).empty());
    EXPECT_EQ(durationsToCCF(std::vector<std::uint32_t>(fits + 1, 500), 38000, 1000), "");
}

}  // namespace
}  // namespace koblirc
