#include "ir_code.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace kob {

std::string loadText(const std::string& argument) {
    if (argument.empty() || argument[0] != '@') return argument;
    const std::string path = argument.substr(1);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        // An empty file reads as no text, not as a failure.
        if (in && in.peek() == std::char_traits<char>::eof()) return {};
        throw UsageError("cannot read " + path);
    }
    return text.str();
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
