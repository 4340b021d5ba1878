// Broadlink IR packets in base64: one, or one "NAME: base64" a line. A
// packet is 0x26 (IR), a repeat count (0: sent once), the length of the
// durations (16 bits, low byte first) and the durations, pulse first, one
// byte each in ticks, or 0x00 and two bytes (high first) from 256 on.
// Bytes past the length (the padding of a capture) are not read.
//
// The tick is 8192/269 us (about 30.45 us: ticks = us * 269 / 8192), the
// device's own documented clock. A common host library converts with
// 32.84 us, which sends timings taken from another source about 7 % short;
// learned packets keep their ticks either way, so only the device's clock
// gives microseconds that other formats and devices agree with.
//
// The packet has no carrier: the device sends on 38 kHz. Codes are read
// with 38000 Hz, and written when their carrier is one a 38 kHz receiver
// takes (33..43 kHz). One sequence is sent: a code is written as its once
// sequence followed by one repeat sequence (what a press sends at the
// least); a packet's repeat count is read as that many more copies.
#include <cmath>
#include <string>

#include "code_file.h"

namespace kobc {

namespace {

const char kSingleName[] = "code";
constexpr int kTypeIr = 0x26;
constexpr long kCarrierHz = 38000;
constexpr long kMinWriteCarrier = 33000;
constexpr long kMaxWriteCarrier = 43000;
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || c == '-') return 62;
    if (c == '/' || c == '_') return 63;
    return -1;
}

bool decodeBase64(std::string_view text, std::vector<unsigned char>& out) {
    unsigned long buffer = 0;
    int bits = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != '='; ++i) {
        const int v = sextet(text[i]);
        if (v < 0) return false;
        buffer = (buffer << 6 | static_cast<unsigned long>(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(buffer >> bits));
        }
    }
    for (; i < text.size(); ++i)
        if (text[i] != '=') return false;
    return !out.empty();
}

std::string encodeBase64(const std::vector<unsigned char>& in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const unsigned long n = static_cast<unsigned long>(in[i]) << 16 |
                                (i + 1 < in.size() ? in[i + 1] << 8 : 0) |
                                (i + 2 < in.size() ? in[i + 2] : 0);
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += i + 1 < in.size() ? kAlphabet[n >> 6 & 63] : '=';
        out += i + 2 < in.size() ? kAlphabet[n & 63] : '=';
    }
    return out;
}

long ticksToMicros(unsigned long ticks) {
    return std::lround(static_cast<double>(ticks) * 8192.0 / 269.0);
}

unsigned long microsToTicks(long us) {
    const long t = std::lround(static_cast<double>(us) * 269.0 / 8192.0);
    return t < 1 ? 1 : static_cast<unsigned long>(t);
}

bool readPacket(std::string_view text, std::string name, std::size_t line, Remote& remote,
                FileError& error) {
    std::vector<unsigned char> p;
    if (!decodeBase64(trim(text), p)) return fileError(error, line, "the code is not base64");
    if (p.size() < 4) return fileError(error, line, "the packet is shorter than its 4-byte head");
    if (p[0] != kTypeIr)
        return fileError(error, line,
                         p[0] == 0xB2 || p[0] == 0xD7
                             ? "an RF packet, not an IR one"
                             : "packet type " + std::to_string(p[0]) + " is not IR (0x26)",
                         p[0] == 0xB2 || p[0] == 0xD7 ? KOBC_E_UNSUPPORTED : KOBC_E_FILE);
    const std::size_t length = p[2] | static_cast<std::size_t>(p[3]) << 8;
    if (length > p.size() - 4)
        return fileError(error, line,
                         "the packet says " + std::to_string(length) + " bytes of timings but " +
                             std::to_string(p.size() - 4) + " follow");
    std::vector<int> durations;
    for (std::size_t i = 4; i < 4 + length;) {
        unsigned long ticks = p[i++];
        if (ticks == 0) {
            if (i + 2 > 4 + length)
                return fileError(error, line, "the packet ends inside a long duration");
            ticks = static_cast<unsigned long>(p[i]) << 8 | p[i + 1];
            i += 2;
        }
        if (ticks == 0) return fileError(error, line, "a duration of 0 ticks");
        if (durations.size() == KOBC_MAX_DURATIONS)
            return fileError(error, line,
                             "more than " + std::to_string(KOBC_MAX_DURATIONS) + " durations");
        const int us = static_cast<int>(ticksToMicros(ticks));
        durations.push_back(durations.size() % 2 == 0 ? us : -us);
    }
    if (durations.empty()) return fileError(error, line, "the packet holds no timings");
    // The final space a capture may lack, in whole ticks (so that it is
    // written back as it is read).
    if (durations.size() % 2 == 1)
        durations.push_back(-static_cast<int>(ticksToMicros(microsToTicks(kFinalSpaceUs))));
    std::vector<int> once;
    for (unsigned copy = 0; copy <= p[1]; ++copy) {
        if (once.size() + durations.size() > KOBC_MAX_DURATIONS)
            return fileError(error, line,
                             "repeated " + std::to_string(p[1]) + " times the code is longer " +
                                 "than " + std::to_string(KOBC_MAX_DURATIONS) + " durations",
                             KOBC_E_UNSUPPORTED);
        once.insert(once.end(), durations.begin(), durations.end());
    }
    return addReadButton(remote, rawButton(std::move(name), kCarrierHz, 0, once), line, error);
}

}  // namespace

bool looksLikeBroadlink(std::string_view text) {
    std::string_view name, code;
    std::vector<unsigned char> p;
    return firstCodeLine(text, name, code) && code.size() >= 8 &&
           decodeBase64(code.substr(0, 8), p) && p[0] == kTypeIr;
}

bool readBroadlink(std::string_view text, const std::string& defaultName, std::vector<Remote>& out,
                   FileError& error) {
    if (!checkText(text, error)) return false;
    Remote remote;
    remote.name = defaultName;
    Lines lines(text);
    std::string_view line;
    std::size_t codes = 0;
    bool unnamed = false;
    while (lines.next(line)) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        std::string_view name, code;
        splitNamedLine(line, name, code);
        if (name.empty() && (codes > 0 || line.find(':') != std::string_view::npos))
            return fileError(error, lines.number(),
                             "a line that is not \"NAME: code\" (an unnamed code stands alone)");
        if (unnamed) return fileError(error, lines.number(), "a second code after the unnamed one");
        unnamed = name.empty();
        ++codes;
        if (!readPacket(code, unnamed ? kSingleName : std::string(name), lines.number(), remote,
                        error))
            return false;
    }
    out.push_back(std::move(remote));
    return true;
}

namespace {

// One code as its Broadlink text.
bool packetText(const Button& b, const kobc_code& code, std::string& text, FileError& error) {
    if (code.carrier_hz < kMinWriteCarrier || code.carrier_hz > kMaxWriteCarrier)
        return fileError(error, 0,
                         "button " + quoted(b.name) + ": a Broadlink device sends on 38 kHz, " +
                             "not " + std::to_string(code.carrier_hz) + " Hz",
                         KOBC_E_UNSUPPORTED);
    std::vector<unsigned char> p = {kTypeIr, 0, 0, 0};
    const std::size_t count = code.once_count + code.repeat_count;
    for (std::size_t i = 0; i < count; ++i) {
        const int d = code.durations[i];
        const unsigned long ticks = microsToTicks(d < 0 ? -d : d);
        if (ticks > 0xFFFF)
            return fileError(error, 0, "button " + quoted(b.name) + ": a duration too long",
                             KOBC_E_UNSUPPORTED);
        if (ticks < 256) {
            p.push_back(static_cast<unsigned char>(ticks));
        } else {
            p.push_back(0);
            p.push_back(static_cast<unsigned char>(ticks >> 8));
            p.push_back(static_cast<unsigned char>(ticks & 0xFF));
        }
    }
    const std::size_t length = p.size() - 4;
    if (length > 0xFFFF)
        return fileError(error, 0, "button " + quoted(b.name) + ": the packet is too long",
                         KOBC_E_UNSUPPORTED);
    p[2] = static_cast<unsigned char>(length & 0xFF);
    p[3] = static_cast<unsigned char>(length >> 8);
    text = encodeBase64(p);
    return true;
}

}  // namespace

bool writeBroadlink(const std::vector<const Remote*>& remotes, std::string& out, FileError& error) {
    return writeCodeLines(remotes, "Broadlink", packetText, out, error);
}

}  // namespace kobc
