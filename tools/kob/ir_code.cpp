#include "ir_code.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "code_library.h"

namespace kob {

namespace {

// At most this many words reach the host in one receive report.
constexpr std::size_t kMaxReceivedWords = 255;
// The silence a receiver reports before the first frame it hears.
constexpr long kFirstSilenceUs = 0xFFFFL * KOBC_TICK_US;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> splitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ':');)
        parts.push_back(part);
    if (!text.empty() && text.back() == ':') parts.emplace_back();
    return parts;
}

Timings fromCode(const kobc_code& code) {
    Timings t;
    t.carrierHz = code.carrier_hz;
    t.once.assign(code.durations, code.durations + code.once_count);
    t.repeat.assign(code.durations + code.once_count,
                    code.durations + code.once_count + code.repeat_count);
    return t;
}

}  // namespace

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
    std::string text = loadText(argument);
    std::string ccf;
    const bool typed = argument.empty() || argument[0] != '@';
    if ((typed && libraryButtonCode(text, &ccf)) || encodeProtocolCode(text, &ccf)) text = ccf;
    const auto words = strictWords(text, kMaxCodeWords, what);
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

Timings parseCCF(const std::vector<std::uint32_t>& words) {
    const std::vector<unsigned> copy(words.begin(), words.end());
    auto code = std::make_unique<kobc_code>();
    char message[160] = {};
    if (kobc_ccf_parse_words(copy.data(), copy.size(), code.get(), message, sizeof message) !=
        KOBC_OK)
        throw UsageError(std::string("not a CCF code: ") + message);
    return fromCode(*code);
}

long parseNumber(const std::string& text, const std::string& what) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    bool valid = !digits.empty() && digits.size() <= 9;
    for (const char c : digits)
        valid = valid && (hex ? std::isxdigit(static_cast<unsigned char>(c))
                              : std::isdigit(static_cast<unsigned char>(c)));
    if (!valid)
        throw UsageError(what + " \"" + text + "\" is no number (decimal or 0x hexadecimal)");
    return std::strtol(digits.c_str(), nullptr, hex ? 16 : 10);
}

Timings encodeProtocol(const std::string& protocol, long device, long subdevice, long function,
                       long toggle) {
    auto code = std::make_unique<kobc_code>();
    char message[160] = {};
    const int result = kobc_encode(protocol.c_str(), device, subdevice, function, toggle,
                                   code.get(), message, sizeof message);
    if (result == KOBC_E_PROTOCOL)
        throw UsageError("unknown protocol \"" + protocol + "\" (kob protocols lists them)");
    if (result != KOBC_OK) throw UsageError(message[0] ? message : kobc_error_text(result));
    return fromCode(*code);
}

std::string formatCCF(const Timings& timings) {
    if (timings.once.size() + timings.repeat.size() > KOBC_MAX_DURATIONS)
        throw UsageError(kobc_error_text(KOBC_E_TOO_LONG));
    auto code = std::make_unique<kobc_code>();
    code->carrier_hz = timings.carrierHz;
    code->once_count = timings.once.size();
    code->repeat_count = timings.repeat.size();
    std::copy(timings.once.begin(), timings.once.end(), code->durations);
    std::copy(timings.repeat.begin(), timings.repeat.end(), code->durations + code->once_count);
    std::string text(5 * KOBC_MAX_CCF_WORDS + 1, '\0');
    const int result = kobc_ccf_format(code.get(), &text[0], text.size());
    if (result != KOBC_OK) throw UsageError(kobc_error_text(result));
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

bool encodeProtocolCode(const std::string& text, std::string* ccf) {
    const std::string code = trimmed(text);
    // A protocol code is one short word of printable characters; anything
    // else (a file of noise that happens to hold a colon) is read as words.
    const bool oneWord =
        !code.empty() && code.size() <= 64 &&
        std::all_of(code.begin(), code.end(), [](char c) { return c > 0x20 && c < 0x7F; });
    if (!oneWord || code.find(':') == std::string::npos) return false;
    const auto parts = splitColons(code);
    // A protocol name starts with a letter; CCF words never hold a colon.
    if (!std::isalpha(static_cast<unsigned char>(parts[0][0]))) return false;
    if (parts.size() < 3 || parts.size() > 4)
        throw UsageError("\"" + code + "\" is not PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION");
    if (!kobc_protocol_find(parts[0].c_str()))
        throw UsageError("unknown protocol \"" + parts[0] + "\" (kob protocols lists them)");
    const long device = parseNumber(parts[1], "device");
    const long subdevice = parts.size() == 4 ? parseNumber(parts[2], "subdevice") : KOBC_NONE;
    const long function = parseNumber(parts.back(), "function");
    *ccf = formatCCF(encodeProtocol(parts[0], device, subdevice, function, KOBC_NONE));
    return true;
}

std::string loadCodeText(const std::string& argument) {
    return wordText(loadCode(argument));
}

Timings loadTimings(const std::string& argument) {
    return parseCCF(loadCode(argument));
}

std::vector<int> frameTimings(const std::vector<std::uint32_t>& words, long* gapUs) {
    const std::vector<unsigned> copy(words.begin(), words.end());
    auto code = std::make_unique<kobc_code>();
    long gap = 0;
    const int result = kobc_frame_to_code(copy.data(), copy.size(), code.get(), &gap);
    if (result != KOBC_OK)
        throw UsageError(std::string("not a received frame: ") + kobc_error_text(result));
    if (gapUs) *gapUs = gap;
    return fromCode(*code).once;
}

std::vector<std::vector<std::uint32_t>> receivedFrames(const Timings& code, std::size_t count) {
    std::vector<std::vector<std::uint32_t>> frames;
    long silence = kFirstSilenceUs;  // nothing heard before the first frame
    for (std::size_t n = 0; n < count; ++n) {
        const auto& pulses =
            (n == 0 && !code.once.empty()) || code.repeat.empty() ? code.once : code.repeat;
        std::vector<unsigned> words(pulses.size() + 1);
        std::size_t written = 0;
        const int result = kobc_frame_from_timings(pulses.data(), pulses.size(), silence,
                                                   words.data(), words.size(), &written);
        if (result != KOBC_OK)
            throw UsageError(std::string("cannot make received words: ") + kobc_error_text(result));
        words.resize(std::min(written, kMaxReceivedWords));
        frames.emplace_back(words.begin(), words.end());
        silence = pulses.empty() ? kFirstSilenceUs : std::labs(pulses.back());
    }
    return frames;
}

std::vector<kobc_match> decodeTimings(const std::vector<int>& durations, long carrierHz) {
    std::vector<kobc_match> matches(8);
    const std::size_t found =
        kobc_decode(durations.data(), durations.size(), carrierHz, matches.data(), matches.size());
    if (found > matches.size()) {
        matches.resize(found);
        kobc_decode(durations.data(), durations.size(), carrierHz, matches.data(), matches.size());
    }
    matches.resize(found);
    return matches;
}

std::string matchText(const kobc_match& m) {
    std::string text = m.protocol ? m.protocol : "?";
    const auto field = [&](const char* name, long value) {
        if (value != KOBC_NONE) text += std::string(" ") + name + "=" + std::to_string(value);
    };
    field("device", m.device);
    field("subdevice", m.subdevice);
    field("function", m.function);
    field("toggle", m.toggle);
    if (m.repeat) text += " repeat";
    if (m.kernel_protocol) {
        char scancode[32];
        std::snprintf(scancode, sizeof scancode, ":0x%lx", m.kernel_scancode);
        text += std::string(" kernel=") + m.kernel_protocol + scancode;
    }
    return text;
}

std::vector<double> magnitudes(const std::vector<int>& durations) {
    std::vector<double> out;
    out.reserve(durations.size());
    for (const int d : durations)
        out.push_back(std::abs(d));
    return out;
}

}  // namespace kob
