#include "ir_code.h"

#include <koblib_codes.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace kob {

std::string loadText(const std::string& argument) {
    if (argument.empty() || argument[0] != '@') return argument;
    const std::string path = argument.substr(1);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UsageError("cannot read " + path);
    // No more than a code can take is read: a large file is refused, not
    // held in memory.
    std::string text(kMaxCodeText + 1, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw UsageError("cannot read " + path);
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxCodeText)
        throw UsageError(path + " is larger than any code (over " + std::to_string(kMaxCodeText) +
                         " bytes; a code has at most " + std::to_string(kMaxCodeWords) + " words)");
    return text;
}

std::vector<std::uint32_t> strictWords(const std::string& text, std::size_t limit,
                                       const std::string& what) {
    std::vector<std::uint32_t> words;
    std::istringstream in(text);
    for (std::string token; in >> token;) {
        if (token.size() != 4 ||
            token.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            const std::string shown = token.size() > 12 ? token.substr(0, 12) + "..." : token;
            std::string printable;
            for (const char c : shown)
                printable += (c >= 0x20 && c < 0x7F) ? c : '?';
            throw UsageError(what + ": word " + std::to_string(words.size() + 1) + " (\"" +
                             printable + "\") is not 4 hexadecimal digits");
        }
        if (words.size() == limit)
            throw UsageError(what + " has more than " + std::to_string(limit) +
                             " words, more than a device takes");
        words.push_back(static_cast<std::uint32_t>(std::stoul(token, nullptr, 16)));
    }
    if (words.empty()) throw UsageError("no words in " + what);
    return words;
}

namespace {

// How messages name a code: its file, or its first words.
std::string named(const std::string& argument, const char* noun) {
    if (!argument.empty() && argument[0] == '@') return argument.substr(1);
    return std::string(noun) + " \"" +
           (argument.size() > 24 ? argument.substr(0, 24) + "..." : argument) + "\"";
}

std::string hex4(std::uint32_t word) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(word & 0xFFFF));
    return text;
}

}  // namespace

std::vector<std::uint32_t> loadCode(const std::string& argument) {
    const std::string what = named(argument, "the code");
    const auto words = strictWords(loadText(argument), kMaxCodeWords, what);
    // What a code is, as every client of the codes library reads it.
    const std::vector<unsigned> copy(words.begin(), words.end());
    auto code = std::make_unique<kobc_code>();
    char message[200] = {};
    if (kobc_ccf_parse_words(copy.data(), copy.size(), code.get(), message, sizeof message) !=
        KOBC_OK)
        throw UsageError(what + ": " + message);
    return words;
}

std::vector<std::uint32_t> loadReceived(const std::string& argument) {
    const std::string what = named(argument, "the words");
    const auto words = strictWords(loadText(argument), kMaxFrameWords, what);
    if (words.size() < 2)
        throw UsageError(what +
                         ": received words are the silence before a frame and at least "
                         "one pulse");
    return words;
}

std::string wordText(const std::vector<std::uint32_t>& words) {
    std::string text;
    for (const auto word : words)
        text += (text.empty() ? "" : " ") + hex4(word);
    return text;
}

std::vector<std::uint32_t> readWords(const std::string& text) {
    std::vector<std::uint32_t> words;
    std::uint32_t word = 0;
    int digits = 0;
    for (const char c : text) {
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            continue;
        word = (word << 4) | static_cast<std::uint32_t>(value);
        if (++digits == 4) {
            words.push_back(word);
            word = 0;
            digits = 0;
        }
    }
    return words;
}

std::vector<std::uint32_t> loadWords(const std::string& argument) {
    auto words = readWords(loadText(argument));
    if (words.empty()) throw UsageError("no words in " + argument.substr(0, 40));
    return words;
}

CCFCode parseCCF(const std::vector<std::uint32_t>& words) {
    if (words.size() < 6 || words[1] == 0)
        throw UsageError("not a CCF code: it needs a frequency word and burst pairs");
    CCFCode code;
    code.frequencyHz = 0x400000 / static_cast<double>(words[1]);
    const double periodUs = 1e6 / code.frequencyHz;
    const std::size_t pairs = (words.size() - 4) / 2;
    const std::size_t once = std::min<std::size_t>(words[2], pairs);
    std::size_t repeat = std::min<std::size_t>(words[3], pairs - once);
    if (once + repeat == 0) throw UsageError("not a CCF code: its pair counts are 0");
    for (std::size_t k = 0; k < 2 * (once + repeat); ++k)
        (k < 2 * once ? code.once : code.repeat).push_back(words[4 + k] * periodUs);
    return code;
}

std::vector<std::vector<std::uint32_t>> receivedFrames(const CCFCode& code, std::size_t count) {
    const auto ticks = [](double us) {
        return static_cast<std::uint32_t>(
            std::min(65535.0, std::floor(us / kTickMicroseconds + 0.5)));
    };
    std::vector<std::vector<std::uint32_t>> frames;
    std::uint32_t silence = 0xFFFF;  // nothing heard before the first frame
    for (std::size_t n = 0; n < count; ++n) {
        const auto& pulses =
            (n == 0 && !code.once.empty()) || code.repeat.empty() ? code.once : code.repeat;
        std::vector<std::uint32_t> frame{silence};
        // At most 255 words reach the host in one receive report.
        for (std::size_t k = 0; k + 1 < pulses.size() && frame.size() < 255; ++k)
            frame.push_back(ticks(pulses[k]));
        silence = ticks(pulses.back());
        frames.push_back(std::move(frame));
    }
    return frames;
}

}  // namespace kob
