#include "ir/ccf.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "ir/hex_words.h"

namespace koblib {

CCF::CCF(PulseLengths& table, const char* text) : table_(&table) {
    std::array<std::uint32_t, kFrameWords> words;
    const std::size_t n = readHexWords(words.data(), words.size(), text);
    // Taken even when no word is complete: then it holds the digits read.
    leadGap_ = words[0];
    for (std::size_t i = 1; i < n; ++i)
        append(table.add(words[i]));
}

void CCF::append(std::uint8_t bin) {
    if (count_ < kMaxPulses) indices_[count_++] = bin;
}

bool CCF::samePulses(const CCF& other) const {
    return count_ == other.count_ &&
           std::equal(indices_.begin(), indices_.begin() + count_, other.indices_.begin());
}

std::string CCF::formatPairs(std::int32_t frequency) const {
    std::string text;
    const std::size_t whole = count_ - count_ % 2;
    for (std::size_t i = 0; i < whole; ++i) {
        const double periods =
            static_cast<double>(table_->lengthAt(indices_[i])) * 64.0 * frequency / 16000000.0;
        // A carrier of 0 Hz or less has no periods.
        const auto value = periods > 0 ? static_cast<std::uint64_t>(periods) : std::uint64_t{0};
        char word[24];
        std::snprintf(word, sizeof word, text.empty() ? "%04" PRIX64 : " %04" PRIX64, value);
        text += word;
    }
    return text;
}

}  // namespace koblib
