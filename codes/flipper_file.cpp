// Flipper Zero .ir files: a header, then signals of "key: value" lines,
// each parsed (a Flipper protocol name, little-endian address and command
// bytes) or raw (carrier, duty cycle, microseconds).
//
// What the format has no key for travels in comment lines, which a Flipper
// skips: "# brand: ...", "# model: ...", "# notes: ..." in the header;
// before a raw signal "# code: PROTOCOL DEVICE SUBDEVICE FUNCTION TOGGLE"
// (a protocol code without a Flipper name, written as its first frame)
// and "# repeat from: N" (data[N..] is the repeat sequence). The library
// folder's files also hold unmodulated codes, which a Flipper cannot send:
// "# carrier: none" before a raw signal, whose frequency line is then a
// placeholder.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "code_file.h"

namespace kobc {

namespace {

constexpr long kFlipperMinCarrier = 10000;
constexpr long kFlipperMaxCarrier = 56000;
constexpr std::size_t kFlipperMaxTimings = 1024;
// The frequency line of an unmodulated code in the library's files.
constexpr long kPlaceholderCarrier = 38000;
constexpr int kDefaultDuty = 33;

unsigned long fold(unsigned long byte) {
    return ((byte >> 4) ^ byte) & 0xF;
}

// Pulse-distance frames of the NEC family, from their bits (least
// significant first): for the Flipper codes no protocol here reads.
struct DistanceTiming {
    int headerMark, headerSpace, unit;
    int frameUs;  // the frame pads to this from its start; 0: gapUs after it
    int gapUs;
    long carrierHz;
};

const DistanceTiming kSanyoTiming = {9008, 4504, 563, 108000, 0, 38000};
const DistanceTiming kKaseikyoTiming = {3456, 1728, 432, 0, 74736, 37000};

std::vector<int> distanceFrame(const DistanceTiming& t, std::uint64_t bits, int count) {
    std::vector<int> d = {t.headerMark, -t.headerSpace};
    long elapsed = t.headerMark + t.headerSpace;
    for (int i = 0; i < count; ++i) {
        const int space = ((bits >> i) & 1) ? 3 * t.unit : t.unit;
        d.push_back(t.unit);
        d.push_back(-space);
        elapsed += t.unit + space;
    }
    d.push_back(t.unit);
    elapsed += t.unit;
    d.push_back(-(t.frameUs > 0 ? static_cast<int>(t.frameUs - elapsed) : t.gapUs));
    return d;
}

// What a parsed Flipper signal is here: a protocol button, or (for the
// codes no protocol of the table holds) raw timings.
struct Parsed {
    const char* flipper;
    unsigned long addressMax, commandMax;
};

const Parsed kParsed[] = {
    {"NEC", 0xFF, 0xFF},       {"NECext", 0xFFFF, 0xFFFF},
    {"NEC42", 0x1FFF, 0xFF},   {"NEC42ext", 0x3FFFFFF, 0xFFFF},
    {"Samsung32", 0xFF, 0xFF}, {"RC5", 31, 63},
    {"RC5X", 31, 127},         {"RC6", 0xFF, 0xFF},
    {"SIRC", 31, 127},         {"SIRC15", 0xFF, 127},
    {"SIRC20", 0x1FFF, 127},   {"Kaseikyo", 0x3FFFFFF, 0x3FF},
    {"Pioneer", 0xFF, 0xFF},   {"RCA", 15, 0xFF},
};

void setProtocol(Button& b, const char* protocol, long device, long subdevice, long function,
                 long toggle = KOBC_NONE) {
    b.kind = KOBC_BUTTON_PROTOCOL;
    b.protocol = protocol;
    b.device = device;
    b.subdevice = subdevice;
    b.function = function;
    b.toggle = toggle;
}

void setRaw(Button& b, const DistanceTiming& t, std::uint64_t bits, int count) {
    b = rawButton(b.name, t.carrierHz, kDefaultDuty, distanceFrame(t, bits, count));
}

// The six Kaseikyo bytes of a Flipper address and command.
void kaseikyoBytes(unsigned long address, unsigned long command, unsigned long b[6]) {
    const unsigned long vendor = (address >> 8) & 0xFFFF;
    b[0] = vendor & 0xFF;
    b[1] = vendor >> 8;
    b[2] = fold(b[0] ^ b[1]) | ((address >> 4) & 0xF) << 4;
    b[3] = (address & 0xF) | (command & 0xF) << 4;
    b[4] = ((command >> 4) & 0x3F) | ((address >> 24) & 3) << 6;
    b[5] = b[2] ^ b[3] ^ b[4];
}

std::uint64_t bytesToBits(const unsigned long* b, int n) {
    std::uint64_t bits = 0;
    for (int i = 0; i < n; ++i)
        bits |= static_cast<std::uint64_t>(b[i] & 0xFF) << (8 * i);
    return bits;
}

bool fromFlipper(const std::string& protocol, unsigned long a, unsigned long c, Button& b,
                 std::size_t line, FileError& error) {
    const Parsed* p = nullptr;
    for (const Parsed& q : kParsed)
        if (protocol == q.flipper) p = &q;
    if (p == nullptr) return fileError(error, line, "unknown Flipper protocol " + quoted(protocol));
    if (a > p->addressMax || c > p->commandMax)
        return fileError(error, line,
                         "address " + std::to_string(a) + " or command " + std::to_string(c) +
                             " does not fit " + protocol);
    const long al = static_cast<long>(a), cl = static_cast<long>(c);
    if (protocol == "NEC") {
        setProtocol(b, "NEC1", al, KOBC_NONE, cl);
    } else if (protocol == "NECext") {
        if ((c >> 8) == (~c & 0xFF))
            setProtocol(b, "NECext", al, KOBC_NONE, cl & 0xFF);
        else
            setProtocol(b, "NEC1-f16", al & 0xFF, al >> 8, cl);
    } else if (protocol == "NEC42") {
        setProtocol(b, "Sanyo", al, KOBC_NONE, cl);
    } else if (protocol == "NEC42ext") {
        if ((a >> 13) == (~a & 0x1FFF) && (c >> 8) == (~c & 0xFF))
            setProtocol(b, "Sanyo", al & 0x1FFF, KOBC_NONE, cl & 0xFF);
        else
            setRaw(b, kSanyoTiming, static_cast<std::uint64_t>(a) | std::uint64_t{c} << 26, 42);
    } else if (protocol == "Samsung32") {
        setProtocol(b, "Samsung32", al, KOBC_NONE, cl);
    } else if (protocol == "RC5") {
        setProtocol(b, "RC5", al, KOBC_NONE, cl);
    } else if (protocol == "RC5X") {
        setProtocol(b, "RC5", al, KOBC_NONE, (cl & 63) + 64);
    } else if (protocol == "RC6") {
        setProtocol(b, "RC6", al, KOBC_NONE, cl);
    } else if (protocol == "SIRC") {
        setProtocol(b, "Sony12", al, KOBC_NONE, cl);
    } else if (protocol == "SIRC15") {
        setProtocol(b, "Sony15", al, KOBC_NONE, cl);
    } else if (protocol == "SIRC20") {
        setProtocol(b, "Sony20", al & 31, al >> 5, cl);
    } else if (protocol == "Kaseikyo") {
        unsigned long k[6];
        kaseikyoBytes(a, c, k);
        const unsigned long d = k[2] >> 4, e = k[5] & 0xF;
        if (k[0] == 0x02 && k[1] == 0x20)
            setProtocol(b, "Panasonic", static_cast<long>(k[2]), static_cast<long>(k[3]),
                        static_cast<long>(k[4]));
        else if (k[5] >> 4 == fold(d ^ k[3] ^ k[4] ^ (e << 4)))
            setProtocol(b, "Kaseikyo", static_cast<long>((k[0] | k[1] << 8) << 4 | d),
                        static_cast<long>(k[3]), static_cast<long>(k[4] | e << 8));
        else
            setRaw(b, kKaseikyoTiming, bytesToBits(k, 6), 48);
    } else if (protocol == "Pioneer") {
        setProtocol(b, "Pioneer", al, KOBC_NONE, cl);
    } else {
        return fileError(error, line, protocol + " codes are not read: no protocol here sends them",
                         KOBC_E_UNSUPPORTED);
    }
    return true;
}

// A protocol button as a Flipper parsed signal; false when Flipper has no
// name for exactly this code.
bool toFlipper(const Button& b, std::string& protocol, unsigned long& a, unsigned long& c) {
    const std::string& p = b.protocol;
    const unsigned long d = static_cast<unsigned long>(b.device);
    const unsigned long f = static_cast<unsigned long>(b.function);
    const bool noToggle = b.toggle == KOBC_NONE || b.toggle == 0;
    const bool necDefault = b.subdevice == KOBC_NONE || b.subdevice == 255 - b.device;
    const unsigned long s = static_cast<unsigned long>(b.subdevice);
    if (p == "NEC1" || p == "NEC1-f16") {
        const unsigned long sub = necDefault ? 255 - d : s;
        if (p == "NEC1" && necDefault) {
            protocol = "NEC", a = d, c = f;
        } else {
            protocol = "NECext", a = d | sub << 8;
            c = p == "NEC1" ? f | (255 - f) << 8 : f;
        }
        return true;
    }
    if (p == "NECext") return protocol = "NECext", a = d, c = f | (255 - f) << 8, true;
    if (p == "Sanyo") return protocol = "NEC42", a = d, c = f, true;
    if (p == "Samsung32" && (b.subdevice == KOBC_NONE || b.subdevice == b.device))
        return protocol = "Samsung32", a = d, c = f, true;
    if (p == "RC5" && noToggle) {
        if (f < 64) return protocol = "RC5", a = d, c = f, true;
        return protocol = "RC5X", a = d, c = f - 64, true;
    }
    if (p == "RC6" && noToggle) return protocol = "RC6", a = d, c = f, true;
    if (p == "Sony12") return protocol = "SIRC", a = d, c = f, true;
    if (p == "Sony15") return protocol = "SIRC15", a = d, c = f, true;
    if (p == "Sony20") {
        const unsigned long sub = b.subdevice == KOBC_NONE ? 0 : s;
        return protocol = "SIRC20", a = d | sub << 5, c = f, true;
    }
    if (p == "Pioneer" && necDefault) return protocol = "Pioneer", a = d, c = f, true;
    if (p == "Kaseikyo" || p == "Panasonic") {
        unsigned long k[6];
        const unsigned long sub = b.subdevice == KOBC_NONE ? 0 : s;
        if (p == "Panasonic") {
            k[0] = 0x02, k[1] = 0x20, k[2] = d, k[3] = sub, k[4] = f, k[5] = d ^ sub ^ f;
        } else {
            const unsigned long vendor = d >> 4, e = f >> 8, fn = f & 0xFF;
            k[0] = vendor & 0xFF, k[1] = vendor >> 8;
            k[2] = fold(k[0] ^ k[1]) | (d & 0xF) << 4;
            k[3] = sub, k[4] = fn;
            k[5] = e | fold((d & 0xF) ^ sub ^ fn ^ (e << 4)) << 4;
        }
        if ((k[2] & 0xF) != fold(k[0] ^ k[1]) || k[5] != (k[2] ^ k[3] ^ k[4])) return false;
        protocol = "Kaseikyo";
        a = (k[4] >> 6) << 24 | (k[0] | k[1] << 8) << 8 | (k[2] >> 4) << 4 | (k[3] & 0xF);
        c = (k[3] >> 4) | (k[4] & 0x3F) << 4;
        return true;
    }
    return false;
}

// "EE 87 00 00": four hexadecimal bytes, the first the lowest.
bool parseBytes(std::string_view value, unsigned long& out) {
    const std::vector<std::string_view> parts = words(value);
    if (parts.size() != 4) return false;
    out = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        long byte = 0;
        if (parts[i].size() != 2 || !parseNumber(parts[i], 0, 255, byte, 16)) return false;
        out |= static_cast<unsigned long>(byte) << (8 * i);
    }
    return true;
}

std::string bytesText(unsigned long v) {
    char text[16];
    std::snprintf(text, sizeof text, "%02lX %02lX %02lX %02lX", v & 0xFF, (v >> 8) & 0xFF,
                  (v >> 16) & 0xFF, (v >> 24) & 0xFF);
    return text;
}

// "0.330000" as a percentage (0 < duty <= 1), without the C locale's help.
bool parseDuty(std::string_view value, int& percent) {
    const std::size_t dot = value.find('.');
    std::string_view whole = value.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? "" : value.substr(dot + 1);
    long w = 0;
    if (!parseNumber(whole, 0, 1, w) || fraction.size() > 9) return false;
    long millionths = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const char ch = i < fraction.size() ? fraction[i] : '0';
        if (ch < '0' || ch > '9') return false;
        millionths = millionths * 10 + (ch - '0');
    }
    for (std::size_t i = 6; i < fraction.size(); ++i)
        if (fraction[i] < '0' || fraction[i] > '9') return false;
    const long total = w * 1000000 + millionths;
    if (total <= 0 || total > 1000000) return false;
    percent = static_cast<int>((total + 5000) / 10000);
    if (percent == 0) percent = 1;
    return true;
}

struct Pending {
    std::size_t line = 0;  // of "name:"; 0: no signal open
    std::string name;
    std::string type, protocol, address, command, frequency, duty, data;
    std::size_t typeLine = 0, protocolLine = 0, addressLine = 0, commandLine = 0, frequencyLine = 0,
                dutyLine = 0, dataLine = 0;
    // From the comments before it.
    std::string code;
    std::size_t codeLine = 0;
    long repeatFrom = -1;
    bool unmodulated = false;
};

bool need(std::size_t line, const char* key, const Pending& p, FileError& error) {
    if (line != 0) return true;
    return fileError(error, p.line, "signal " + quoted(p.name) + " has no \"" + key + ":\" line");
}

// The protocol button a "# code:" comment names, when its first frame is
// exactly the raw data (else the comment is stale and the raw stays).
void restoreCode(const Pending& p, Button& b) {
    const std::vector<std::string_view> w = words(p.code);
    if (w.size() != 5) return;
    long v[4];
    for (int i = 0; i < 4; ++i)
        if (!parseNumber(w[i + 1], -1, 0xFFFFFFF, v[i])) return;
    Button candidate;
    candidate.name = b.name;
    setProtocol(candidate, std::string(w[0]).c_str(), v[0], v[1], v[2], v[3]);
    const kobc_protocol_info* info = kobc_protocol_find(candidate.protocol.c_str());
    if (info == nullptr) return;
    candidate.protocol = info->name;
    static thread_local kobc_code code;
    if (buttonCode(candidate, code, nullptr, 0) != KOBC_OK) return;
    std::vector<int> first(code.durations, code.durations + code.once_count);
    if (first.empty()) first.assign(code.durations, code.durations + code.repeat_count);
    if (code.carrier_hz == b.carrierHz && first == b.durations) b = candidate;
}

bool finish(Pending& p, Remote& remote, FileError& error) {
    if (p.line == 0) return true;
    Button b;
    b.name = p.name;
    if (!need(p.typeLine, "type", p, error)) return false;
    if (p.type == "parsed") {
        if (!need(p.protocolLine, "protocol", p, error) ||
            !need(p.addressLine, "address", p, error) || !need(p.commandLine, "command", p, error))
            return false;
        unsigned long a = 0, c = 0;
        if (!parseBytes(p.address, a))
            return fileError(error, p.addressLine, "the address is not 4 hexadecimal bytes");
        if (!parseBytes(p.command, c))
            return fileError(error, p.commandLine, "the command is not 4 hexadecimal bytes");
        if (!fromFlipper(p.protocol, a, c, b, p.protocolLine, error)) return false;
    } else if (p.type == "raw") {
        if (!need(p.frequencyLine, "frequency", p, error) ||
            !need(p.dutyLine, "duty_cycle", p, error) || !need(p.dataLine, "data", p, error))
            return false;
        long carrier = 0;
        if (!parseNumber(p.frequency, 0, LONG_MAX, carrier))
            return fileError(error, p.frequencyLine, "the frequency is not a number of Hz");
        int duty = 0;
        if (!parseDuty(p.duty, duty))
            return fileError(error, p.dutyLine, "the duty cycle is not a number in 0..1");
        const std::vector<std::string_view> values = words(p.data);
        if (values.empty() || values.size() > kFlipperMaxTimings)
            return fileError(
                error, p.dataLine,
                "the data holds " + std::to_string(values.size()) + " timings, not 1..1024");
        std::vector<int> durations;
        for (std::size_t i = 0; i < values.size(); ++i) {
            long us = 0;
            if (!parseNumber(values[i], 1, kMaxDurationSeconds * 1000000L, us))
                return fileError(error, p.dataLine,
                                 "timing " + std::to_string(i + 1) + " " + quoted(values[i]) +
                                     " is not 1.." + std::to_string(kMaxDurationSeconds) +
                                     " s in us");
            durations.push_back(static_cast<int>(i % 2 == 0 ? us : -us));
        }
        std::vector<int> repeat;
        if (p.repeatFrom >= 0 && static_cast<std::size_t>(p.repeatFrom) <= durations.size() &&
            p.repeatFrom % 2 == 0) {
            repeat.assign(durations.begin() + p.repeatFrom, durations.end());
            durations.resize(static_cast<std::size_t>(p.repeatFrom));
        }
        b = rawButton(b.name, p.unmodulated ? 0 : carrier, duty, durations, repeat);
        if (!p.code.empty()) restoreCode(p, b);
    } else {
        return fileError(error, p.typeLine,
                         "type " + quoted(p.type) + " is neither parsed nor raw");
    }
    if (!addReadButton(remote, b, p.line, error)) return false;
    p = Pending();
    return true;
}

// unmodulated: whether a code without a carrier may be written (the
// library's files), else it is refused.
bool writeButton(const Button& b, bool unmodulated, std::string& out, FileError& error) {
    std::string protocol;
    unsigned long a = 0, c = 0;
    if (b.kind == KOBC_BUTTON_PROTOCOL && toFlipper(b, protocol, a, c)) {
        out += "#\nname: " + b.name + "\ntype: parsed\nprotocol: " + protocol +
               "\naddress: " + bytesText(a) + "\ncommand: " + bytesText(c) + "\n";
        return true;
    }
    kobc_code code;
    if (!buttonTimings(b, code, error)) return false;
    std::size_t count = code.once_count + code.repeat_count;
    std::string comment;
    if (b.kind == KOBC_BUTTON_PROTOCOL) {
        // Its first frame; a Flipper sends the data again while held.
        if (code.once_count > 0) count = code.once_count;
        char text[120];
        std::snprintf(text, sizeof text, "# code: %s %ld %ld %ld %ld\n", b.protocol.c_str(),
                      b.device, b.subdevice, b.function, b.toggle);
        comment = text;
    } else if (code.repeat_count > 0 && code.once_count > 0) {
        comment = "# repeat from: " + std::to_string(code.once_count) + "\n";
    }
    if (code.carrier_hz == 0 && unmodulated) {
        comment = "# carrier: none\n" + comment;
        code.carrier_hz = kPlaceholderCarrier;
    }
    if (code.carrier_hz < kFlipperMinCarrier || code.carrier_hz > kFlipperMaxCarrier)
        return fileError(error, 0,
                         "button " + quoted(b.name) + ": a Flipper file holds carriers of " +
                             "10000..56000 Hz, not " + std::to_string(code.carrier_hz),
                         KOBC_E_UNSUPPORTED);
    if (count > kFlipperMaxTimings)
        return fileError(error, 0,
                         "button " + quoted(b.name) + ": a Flipper file holds 1024 timings, not " +
                             std::to_string(count),
                         KOBC_E_UNSUPPORTED);
    out += "#\n" + comment + "name: " + b.name + "\n";
    const int duty = b.dutyPercent > 0 ? b.dutyPercent : kDefaultDuty;
    char head[80];
    std::snprintf(head, sizeof head,
                  "type: raw\nfrequency: %ld\nduty_cycle: %d.%02d0000\ndata:", code.carrier_hz,
                  duty / 100, duty % 100);
    out += head;
    for (std::size_t i = 0; i < count; ++i)
        out += " " + std::to_string(code.durations[i] < 0 ? -code.durations[i] : code.durations[i]);
    out += "\n";
    return true;
}

}  // namespace

bool looksLikeFlipper(std::string_view text) {
    Lines lines(text);
    std::string_view line;
    while (lines.next(line)) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        return startsWithIgnoringCase(line, "Filetype: IR ");
    }
    return false;
}

bool readFlipper(std::string_view text, const std::string& defaultName, std::vector<Remote>& out,
                 FileError& error) {
    if (!checkText(text, error)) return false;
    Remote remote;
    remote.name = defaultName;
    Lines lines(text);
    std::string_view line;
    int header = 0;  // lines of the header read
    Pending p;
    while (lines.next(line)) {
        const std::size_t n = lines.number();
        line = trim(line);
        if (line.empty()) continue;
        if (line.front() == '#') {
            const std::string_view comment = trim(line.substr(1));
            const std::size_t colon = comment.find(':');
            if (colon == std::string_view::npos) continue;
            const std::string_view key = trim(comment.substr(0, colon));
            const std::string value(trim(comment.substr(colon + 1)));
            std::string why;
            if (p.line == 0 && remote.buttons.empty() && header == 2 &&
                (key == "brand" || key == "model" || key == "notes") && validField(value, why)) {
                (key == "brand"   ? remote.brand
                 : key == "model" ? remote.model
                                  : remote.notes) = value;
            } else if (key == "code" || key == "repeat from" ||
                       (key == "carrier" && value == "none")) {
                if (!finish(p, remote, error)) return false;
                if (key == "carrier") {
                    p.unmodulated = true;
                } else if (key == "code") {
                    p.code = value, p.codeLine = n;
                } else {
                    long from = -1;
                    if (parseNumber(value, 0, KOBC_MAX_DURATIONS, from)) p.repeatFrom = from;
                }
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return fileError(error, n, "a line that is neither \"key: value\" nor a comment");
        const std::string key(trim(line.substr(0, colon)));
        const std::string value(trim(line.substr(colon + 1)));
        if (header == 0) {
            if (key != "Filetype" || (value != "IR signals file" && value != "IR library file"))
                return fileError(error, n,
                                 "the file does not start with \"Filetype: IR signals "
                                 "file\"");
            ++header;
            continue;
        }
        if (header == 1) {
            if (key != "Version") return fileError(error, n, "the second line is not \"Version:\"");
            if (value != "1")
                return fileError(error, n, "version " + quoted(value) + " is not read (only 1)",
                                 KOBC_E_UNSUPPORTED);
            ++header;
            continue;
        }
        if (key == "name") {
            if (p.line != 0 && !finish(p, remote, error)) return false;
            p.line = n;
            p.name = value;
            continue;
        }
        if (p.line == 0) return fileError(error, n, "\"" + key + ":\" before a \"name:\" line");
        struct Key {
            const char* key;
            std::string* value;
            std::size_t* line;
        } keys[] = {{"type", &p.type, &p.typeLine},
                    {"protocol", &p.protocol, &p.protocolLine},
                    {"address", &p.address, &p.addressLine},
                    {"command", &p.command, &p.commandLine},
                    {"frequency", &p.frequency, &p.frequencyLine},
                    {"duty_cycle", &p.duty, &p.dutyLine},
                    {"data", &p.data, &p.dataLine}};
        bool known = false;
        for (const Key& k : keys) {
            if (key != k.key) continue;
            if (*k.line != 0)
                return fileError(error, n,
                                 "signal " + quoted(p.name) + " has two \"" + key + ":\" lines");
            *k.value = value;
            *k.line = n;
            known = true;
        }
        if (!known) return fileError(error, n, "unknown key " + quoted(key));
    }
    if (header < 2)
        return fileError(error, lines.number(),
                         "the file ends before its \"Filetype:\" and "
                         "\"Version:\" lines");
    if (!finish(p, remote, error)) return false;
    out.push_back(std::move(remote));
    return true;
}

namespace {

bool writeRemote(const Remote* r, bool unmodulated, std::string& out, FileError& error) {
    out = "Filetype: IR signals file\nVersion: 1\n";
    if (r == nullptr) return true;
    if (!r->brand.empty()) out += "# brand: " + r->brand + "\n";
    if (!r->model.empty()) out += "# model: " + r->model + "\n";
    if (!r->notes.empty()) out += "# notes: " + r->notes + "\n";
    for (const Button& b : r->buttons)
        if (!writeButton(b, unmodulated, out, error)) return false;
    return true;
}

}  // namespace

bool writeFlipper(const std::vector<const Remote*>& remotes, std::string& out, FileError& error) {
    return writeRemote(remotes.empty() ? nullptr : remotes.front(), false, out, error);
}

bool writeLibraryFile(const Remote& remote, std::string& out, FileError& error) {
    return writeRemote(&remote, true, out, error);
}

}  // namespace kobc
