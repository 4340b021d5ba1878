#include "pulse_code.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace koblirc {

std::vector<std::uint32_t> frameToDurations(const unsigned int* words, unsigned int count) {
    auto code = std::make_unique<kobc_code>();
    long gap = 0;
    if (kobc_frame_to_code(words, count, code.get(), &gap) != KOBC_OK) return {};
    std::vector<std::uint32_t> durations;
    durations.reserve(code->once_count + 1);
    const auto length = [](long us) {
        return static_cast<std::uint32_t>(std::min<long>(std::labs(us), kDurationMask));
    };
    durations.push_back(length(gap));
    for (std::size_t k = 0; k < code->once_count; ++k) {
        const int us = code->durations[k];
        durations.push_back(us > 0 ? (length(us) | kPulseFlag) : length(us));
    }
    return durations;
}

namespace {
// The carrier a code goes out on: hz, or 38 kHz for 0, brought into the
// range that has frequency words.
long carrierOf(unsigned hz) {
    if (!hz) return kDefaultCarrierHz;
    const long slowest = KOBC_CCF_CLOCK_HZ / 0xFFFF + 1;
    return std::clamp<long>(static_cast<long>(hz), slowest, KOBC_CCF_CLOCK_HZ);
}
}  // namespace

unsigned carrierWord(unsigned hz) {
    return kobc_frequency_word(carrierOf(hz));
}

std::string durationsToCCF(const std::vector<std::uint32_t>& durations, unsigned hz,
                           std::uint32_t gapMicroseconds) {
    if (durations.empty()) return {};
    std::vector<std::uint32_t> times(durations);
    if (times.size() % 2) times.push_back(gapMicroseconds);
    if (4 + times.size() > KOBC_MAX_CCF_WORDS) return {};
    auto code = std::make_unique<kobc_code>();
    code->carrier_hz = carrierOf(hz);
    const unsigned word = carrierWord(hz);
    // The longest time a burst word holds at this carrier; LIRC's longer
    // times are cut to it.
    const double longestUs = 0xFFFF * 1e6 / kobc_word_frequency(word);
    code->once_count = times.size();
    for (std::size_t k = 0; k < times.size(); ++k) {
        const double us = std::clamp<double>(times[k] & kDurationMask, 1.0, longestUs);
        const int magnitude = std::max(1, static_cast<int>(us));
        code->durations[k] = k % 2 ? -magnitude : magnitude;
    }
    std::string text(5 * KOBC_MAX_CCF_WORDS + 1, '\0');
    if (kobc_ccf_format(code.get(), &text[0], text.size()) != KOBC_OK) return {};
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

}  // namespace koblirc
