// The IR text readers on random text: readHexWords against a reading of
// its own, CCF frames and their pulse-length bins, kob_ir_compare's rule
// and kob_hash's output bounds.
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "ir/ccf.h"
#include "ir/hex_words.h"
#include "ir/ir_compare.h"
#include "ir/ir_hash.h"
#include "ir/pulse_lengths.h"

using koblib::fuzz::FuzzInput;

namespace {

// Every hex digit is a nibble, everything else is skipped.
std::vector<std::uint32_t> hexWords(const std::string& text, std::size_t capacity) {
    std::vector<std::uint32_t> words;
    std::uint32_t word = 0;
    int nibbles = 0;
    for (unsigned char c : text) {
        if (c == '\0') break;
        if (!std::isxdigit(c) || words.size() == capacity) continue;
        word = word * 16 +
               static_cast<std::uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        if (++nibbles == 4) {
            words.push_back(word);
            word = 0;
            nibbles = 0;
        }
    }
    return words;
}

void checkReadHexWords(const std::string& text, std::size_t capacity) {
    std::vector<std::uint32_t> words(capacity + 1, 0xDEADBEEF);
    const std::size_t n = koblib::readHexWords(words.data(), capacity, text.c_str());
    const std::vector<std::uint32_t> expected = hexWords(text, capacity);
    FUZZ_CHECK(n == expected.size());
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), words.begin()));
    FUZZ_CHECK(words[capacity] == 0xDEADBEEF);  // nothing past capacity
}

bool wordsMatch(std::uint32_t x, std::uint32_t y) {
    if (x == 0) return y == 0;
    return ((x > y ? x - y : y - x) * 10) / x <= 1;
}

void checkCompare(const std::string& a, const std::string& b) {
    const auto x = hexWords(a, koblib::kCodeWords);
    const auto y = hexWords(b, koblib::kCodeWords);
    bool expected = x.size() == y.size();
    for (std::size_t i = 1; expected && i + 1 < x.size(); ++i)
        expected = wordsMatch(x[i], y[i]);
    FUZZ_CHECK(koblib::irCompare(a.c_str(), b.c_str()) == expected);
    FUZZ_CHECK(koblib::irCompare(a.c_str(), a.c_str()));
    // Codes whose compared words are equal match both ways.
    bool same = x.size() == y.size();
    for (std::size_t i = 1; same && i + 1 < x.size(); ++i)
        same = x[i] == y[i];
    if (same) FUZZ_CHECK(koblib::irCompare(b.c_str(), a.c_str()));
}

void checkHash(const std::vector<std::uint32_t>& words, std::uint32_t outSize) {
    char out[64];
    std::memset(out, 'Z', sizeof out);
    const std::uint32_t result =
        koblib::irHash(words.empty() ? nullptr : words.data(),
                       static_cast<std::uint32_t>(words.size()), out, outSize);
    if (outSize < 33) {
        FUZZ_CHECK(result == outSize);
        for (char c : out)
            FUZZ_CHECK(c == 'Z');
        return;
    }
    FUZZ_CHECK(result == 0);
    for (int i = 0; i < 32; ++i)
        FUZZ_CHECK(std::isxdigit(out[i]) && !std::isupper(out[i]));
    FUZZ_CHECK(out[32] == '\0');
    for (std::size_t i = 33; i < sizeof out; ++i)
        FUZZ_CHECK(out[i] == 'Z');
    // Only the shape counts: the first and the last word leave the digest
    // alone.
    std::vector<std::uint32_t> other = words;
    if (!other.empty()) other.front() ^= 0x55;
    if (other.size() > 1) other.back() += 1000;
    char again[33];
    koblib::irHash(other.empty() ? nullptr : other.data(), static_cast<std::uint32_t>(other.size()),
                   again, sizeof again);
    FUZZ_CHECK(std::memcmp(out, again, 33) == 0);
}

void checkFrame(const std::string& text, std::int32_t frequency) {
    koblib::PulseLengths table;
    koblib::CCF frame(table, text.c_str());
    const auto words = hexWords(text, koblib::kFrameWords);
    const std::size_t pulses = words.empty() ? 0 : words.size() - 1;
    FUZZ_CHECK(frame.count() == std::min(pulses, koblib::CCF::kMaxPulses));
    if (!words.empty()) FUZZ_CHECK(frame.leadGap() == words[0]);
    FUZZ_CHECK(table.binCount() <= koblib::PulseLengths::kMaxBins);
    for (std::size_t i = 0; i < frame.count(); ++i) {
        const std::uint8_t bin = frame.binAt(i);
        FUZZ_CHECK(bin < table.binCount());
    }
    const std::string pairs = frame.formatPairs(frequency);
    const std::size_t whole = frame.count() - frame.count() % 2;
    // One word per whole pulse, single blanks between them.
    std::size_t tokens = pairs.empty() ? 0 : 1;
    for (char c : pairs)
        tokens += c == ' ';
    FUZZ_CHECK(tokens == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::size_t capacity = in.byte() % 8 == 0 ? in.word() % 600 : koblib::kCodeWords;
    const std::int32_t frequency = static_cast<std::int32_t>(in.word() * 16) - 100000;
    const std::uint32_t outSize = in.byte() % 48;
    const std::string first = in.text(1 << 16);
    const std::vector<std::uint32_t> words = in.values(in.word() % 300);
    const std::string second = in.rest();
    checkReadHexWords(first, capacity);
    checkReadHexWords(second, capacity);
    checkCompare(first, second);
    checkCompare(second, first);
    checkFrame(second, frequency);
    checkHash(words, outSize);
    return 0;
}
