#include "pulse_code.h"

#include <algorithm>
#include <cstdio>

namespace koblirc {

std::vector<std::uint32_t> frameToDurations(const unsigned int* words, unsigned int count) {
    std::vector<std::uint32_t> durations;
    durations.reserve(count);
    for (unsigned int k = 0; k < count; ++k) {
        const std::uint64_t us = std::uint64_t{words[k]} * kTickMicroseconds;
        const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(us, kDurationMask));
        // Word 0 and every even word are off times.
        durations.push_back(k % 2 ? (length | kPulseFlag) : length);
    }
    return durations;
}

unsigned carrierWord(unsigned hz) {
    const unsigned word = 0x400000u / (hz ? hz : kDefaultCarrierHz);
    return std::clamp(word, 1u, 0xFFFFu);
}

std::string durationsToCCF(const std::vector<std::uint32_t>& durations, unsigned hz,
                           std::uint32_t gapMicroseconds) {
    if (durations.empty()) return {};
    std::vector<std::uint32_t> times(durations);
    if (times.size() % 2) times.push_back(gapMicroseconds);
    if (4 + times.size() > kMaxCodeWords) return {};
    // Periods of the carrier the word stands for, so that the device's
    // times come out as close as the word allows.
    const unsigned word = carrierWord(hz);
    const double periodsPerMicrosecond = double(0x400000u) / word / 1e6;
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", word);
    std::string text = std::string("0000 ") + buffer;
    std::snprintf(buffer, sizeof buffer, " %04X", unsigned(times.size() / 2));
    text += buffer;
    text += " 0000";
    for (const std::uint32_t us : times) {
        const double periods = (us & kDurationMask) * periodsPerMicrosecond + 0.5;
        const auto n = std::clamp<double>(periods, 1.0, 0xFFFF);
        std::snprintf(buffer, sizeof buffer, " %04X", unsigned(n));
        text += buffer;
    }
    return text;
}

}  // namespace koblirc
