// Timings: the one conversion between CCF words and microseconds, the
// strict CCF reader and writer, and the receiver's frames.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "koblib_codes.h"
#include "message.h"

namespace {

constexpr unsigned kFormatModulated = 0x0000;
constexpr unsigned kFormatUnmodulated = 0x0100;
// The time base written for an unmodulated code (carrier 0): the word of
// about 38 kHz, a period of 26 us.
constexpr unsigned kUnmodulatedWord = 0x006D;
constexpr long kMaxTicks = 0xFFFF;

// Periods of a frequency word as microseconds, rounded to the nearest.
long periodsToMicros(unsigned long periods, unsigned word) {
    return std::lround(static_cast<double>(periods) * word * 1e6 / KOBC_CCF_CLOCK_HZ);
}

// Microseconds as whole periods of a frequency word, rounded, at least 1.
unsigned long microsToPeriods(long micros, unsigned word) {
    const double periods = static_cast<double>(micros) * KOBC_CCF_CLOCK_HZ / (1e6 * word);
    const long rounded = std::lround(periods);
    return rounded < 1 ? 1 : static_cast<unsigned long>(rounded);
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Whole pulse/space pairs: a sequence of odd length needs a final space.
std::size_t pairsOf(std::size_t count) {
    return (count + 1) / 2;
}

// Checks the signs and sizes of a sequence: pulse first, alternating, none 0.
bool alternates(const int* durations, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const bool pulse = i % 2 == 0;
        if (durations[i] == 0 || (durations[i] > 0) != pulse || durations[i] == INT_MIN)
            return false;
    }
    return true;
}

}  // namespace

extern "C" {

KOBC_API unsigned kobc_frequency_word(long hz) {
    if (hz <= 0) return 0;
    const long word = KOBC_CCF_CLOCK_HZ / hz;
    return word >= 1 && word <= 0xFFFF ? static_cast<unsigned>(word) : 0;
}

KOBC_API double kobc_word_frequency(unsigned word) {
    return word == 0 ? 0.0 : static_cast<double>(KOBC_CCF_CLOCK_HZ) / word;
}

KOBC_API int kobc_ccf_parse_words(const unsigned* words, std::size_t count, kobc_code* out,
                                  char* message, std::size_t message_size) {
    using kobc::fail;
    kobc::clearMessage(message, message_size);
    if (out == nullptr || (words == nullptr && count > 0))
        return fail(KOBC_E_ARGUMENT, message, message_size, "no words or no code to read into");
    if (count > KOBC_MAX_CCF_WORDS)
        return fail(KOBC_E_TOO_LONG, message, message_size, "the code has %zu words, more than %d",
                    count, KOBC_MAX_CCF_WORDS);
    if (count < 4)
        return fail(KOBC_E_LENGTH, message, message_size,
                    "a CCF code starts with 4 words (format, frequency, once and repeat pair "
                    "counts); this one has %zu",
                    count);
    for (std::size_t i = 0; i < count; ++i)
        if (words[i] > 0xFFFF)
            return fail(KOBC_E_SYNTAX, message, message_size, "word %zu (%X) has more than 16 bits",
                        i + 1, words[i]);
    const unsigned format = words[0];
    const unsigned word = words[1];
    if (format != kFormatModulated && format != kFormatUnmodulated)
        return fail(KOBC_E_FORMAT, message, message_size,
                    "format word %04X is neither 0000 (modulated) nor 0100 (unmodulated)", format);
    if (word == 0) return fail(KOBC_E_FREQUENCY, message, message_size, "frequency word is 0");
    const std::size_t once = words[2];
    const std::size_t repeat = words[3];
    const std::size_t held = count - 4;
    if (once + repeat == 0)
        return fail(KOBC_E_LENGTH, message, message_size,
                    "the header says 0 pairs: the code holds no burst");
    if (2 * (once + repeat) != held)
        return fail(KOBC_E_LENGTH, message, message_size,
                    "the header says %zu pairs (%zu once, %zu repeat) but the code holds %zu%s",
                    once + repeat, once, repeat, held / 2, held % 2 ? " and a half" : "");
    for (std::size_t i = 0; i < held; ++i)
        if (words[4 + i] == 0)
            return fail(KOBC_E_DURATION, message, message_size,
                        "burst word %zu (word %zu of the code) is 0 periods", i + 1, i + 5);
    // Rounded down, so that the carrier gives its word back (for every word
    // of a carrier above 2 kHz).
    out->carrier_hz = format == kFormatModulated ? KOBC_CCF_CLOCK_HZ / static_cast<long>(word) : 0;
    out->once_count = 2 * once;
    out->repeat_count = 2 * repeat;
    for (std::size_t i = 0; i < held; ++i) {
        const long micros = periodsToMicros(words[4 + i], word);
        out->durations[i] = static_cast<int>(i % 2 == 0 ? micros : -micros);
    }
    return KOBC_OK;
}

KOBC_API int kobc_ccf_parse(const char* text, kobc_code* out, char* message,
                            std::size_t message_size) {
    using kobc::fail;
    kobc::clearMessage(message, message_size);
    if (text == nullptr || out == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no text or no code to read into");
    unsigned words[KOBC_MAX_CCF_WORDS];
    std::size_t count = 0;
    const char* p = text;
    for (;;) {
        while (isSpace(*p))
            ++p;
        if (*p == '\0') break;
        const char* start = p;
        while (*p != '\0' && !isSpace(*p))
            ++p;
        const std::size_t length = static_cast<std::size_t>(p - start);
        bool hex = length == 4;
        for (std::size_t i = 0; hex && i < length; ++i)
            hex = isHex(start[i]);
        if (!hex)
            return fail(KOBC_E_SYNTAX, message, message_size,
                        "word %zu \"%.*s\" is not 4 hexadecimal digits", count + 1,
                        static_cast<int>(length > 16 ? 16 : length), start);
        if (count == KOBC_MAX_CCF_WORDS)
            return fail(KOBC_E_TOO_LONG, message, message_size, "the code has more than %d words",
                        KOBC_MAX_CCF_WORDS);
        char digits[5] = {start[0], start[1], start[2], start[3], '\0'};
        words[count++] = static_cast<unsigned>(std::strtoul(digits, nullptr, 16));
    }
    if (count == 0) return fail(KOBC_E_LENGTH, message, message_size, "the text holds no words");
    return kobc_ccf_parse_words(words, count, out, message, message_size);
}

KOBC_API int kobc_ccf_format_words(const kobc_code* code, unsigned* words, std::size_t capacity,
                                   std::size_t* written) {
    if (written != nullptr) *written = 0;
    if (code == nullptr || (words == nullptr && capacity > 0)) return KOBC_E_ARGUMENT;
    if (code->once_count > KOBC_MAX_DURATIONS ||
        code->repeat_count > KOBC_MAX_DURATIONS - code->once_count)
        return KOBC_E_ARGUMENT;
    if (code->once_count + code->repeat_count == 0) return KOBC_E_LENGTH;
    unsigned word = kUnmodulatedWord;
    unsigned format = kFormatUnmodulated;
    if (code->carrier_hz != 0) {
        word = kobc_frequency_word(code->carrier_hz);
        format = kFormatModulated;
        if (word == 0) return KOBC_E_FREQUENCY;
    }
    const int* once = code->durations;
    const int* repeat = code->durations + code->once_count;
    if (!alternates(once, code->once_count) || !alternates(repeat, code->repeat_count))
        return KOBC_E_DURATION;
    const std::size_t oncePairs = pairsOf(code->once_count);
    const std::size_t repeatPairs = pairsOf(code->repeat_count);
    const std::size_t total = 4 + 2 * (oncePairs + repeatPairs);
    if (total > KOBC_MAX_CCF_WORDS) return KOBC_E_TOO_LONG;
    if (total > capacity) return KOBC_E_SPACE;
    std::size_t n = 0;
    words[n++] = format;
    words[n++] = word;
    words[n++] = static_cast<unsigned>(oncePairs);
    words[n++] = static_cast<unsigned>(repeatPairs);
    const int* sequences[2] = {once, repeat};
    const std::size_t counts[2] = {code->once_count, code->repeat_count};
    for (int s = 0; s < 2; ++s) {
        for (std::size_t i = 0; i < counts[s]; ++i) {
            const long micros = std::labs(static_cast<long>(sequences[s][i]));
            const unsigned long periods = microsToPeriods(micros, word);
            if (periods > 0xFFFF) return KOBC_E_DURATION;
            words[n++] = static_cast<unsigned>(periods);
        }
        if (counts[s] % 2 == 1) words[n++] = 1;  // the space a final pulse needs
    }
    if (written != nullptr) *written = n;
    return KOBC_OK;
}

KOBC_API int kobc_ccf_format(const kobc_code* code, char* text, std::size_t text_size) {
    if (code == nullptr || (text == nullptr && text_size > 0)) return KOBC_E_ARGUMENT;
    unsigned words[KOBC_MAX_CCF_WORDS];
    std::size_t count = 0;
    const int status = kobc_ccf_format_words(code, words, KOBC_MAX_CCF_WORDS, &count);
    if (status != KOBC_OK) return status;
    if (text_size < 5 * count) return KOBC_E_SPACE;
    char* p = text;
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(p, 6, i + 1 < count ? "%04X " : "%04X", words[i]);
        p += 5;
    }
    text[5 * count - 1] = '\0';
    return KOBC_OK;
}

KOBC_API int kobc_frame_to_code(const unsigned* words, std::size_t count, kobc_code* out,
                                long* gap_before_us) {
    if (out == nullptr || (words == nullptr && count > 0)) return KOBC_E_ARGUMENT;
    if (count < 2) return KOBC_E_LENGTH;
    if (count - 1 > KOBC_MAX_DURATIONS) return KOBC_E_TOO_LONG;
    for (std::size_t i = 0; i < count; ++i)
        if (words[i] > kMaxTicks || (i > 0 && words[i] == 0)) return KOBC_E_DURATION;
    out->carrier_hz = 0;
    out->once_count = count - 1;
    out->repeat_count = 0;
    for (std::size_t i = 1; i < count; ++i) {
        const int micros = static_cast<int>(words[i]) * KOBC_TICK_US;
        out->durations[i - 1] = i % 2 == 1 ? micros : -micros;
    }
    if (gap_before_us != nullptr) *gap_before_us = static_cast<long>(words[0]) * KOBC_TICK_US;
    return KOBC_OK;
}

KOBC_API int kobc_frame_from_timings(const int* durations, std::size_t count, long gap_before_us,
                                     unsigned* words, std::size_t capacity, std::size_t* written) {
    if (written != nullptr) *written = 0;
    if ((durations == nullptr && count > 0) || (words == nullptr && capacity > 0) ||
        gap_before_us < 0)
        return KOBC_E_ARGUMENT;
    if (count == 0) return KOBC_E_LENGTH;
    if (!alternates(durations, count)) return KOBC_E_DURATION;
    const std::size_t kept = count % 2 == 0 ? count - 1 : count;  // no final space
    if (kept + 1 > capacity) return KOBC_E_SPACE;
    auto ticks = [](long micros) -> unsigned {
        long t = (micros + KOBC_TICK_US / 2) / KOBC_TICK_US;
        if (t < 1) t = 1;
        if (t > kMaxTicks) t = kMaxTicks;
        return static_cast<unsigned>(t);
    };
    words[0] = ticks(gap_before_us);
    for (std::size_t i = 0; i < kept; ++i)
        words[i + 1] = ticks(std::labs(durations[i]));
    if (written != nullptr) *written = kept + 1;
    return KOBC_OK;
}

}  // extern "C"
