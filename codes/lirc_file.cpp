// lircd.conf: the remotes LIRC users have, read and written.
//
// Reading turns every button into the timings lircd sends for it: the once
// sequence is the first frame and its gap (and the min_repeat repeats lircd
// adds to one send), the repeat sequence the repeat frame (the `repeat`
// pair, or the frame again). A button whose timings decode as a protocol
// and encode back to the same timings is kept as that protocol code; every
// other button stays raw.
//
// Writing gives an encoded remote (SPACE_ENC, RC5 or RC6 with pre_data and
// the protocol's own timings) when every button is a code of one protocol
// whose frames lircd can describe, checked by reading the text back; else
// a raw_codes remote.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "code_file.h"
#include "protocol_def.h"

namespace kobc {
namespace {

using u64 = std::uint64_t;

constexpr long kMaxUs = 2000000;        // the longest duration a file may give
constexpr long kMaxFrequency = 500000;  // the highest carrier
constexpr int kMaxBits = 64;            // pre_data, code and post_data together
constexpr long kMaxMinRepeat = 20;
constexpr long kDefaultFrequency = 38000;

enum Flag : unsigned {
    kRawCodes = 1u << 0,
    kSpaceEnc = 1u << 1,
    kSpaceFirst = 1u << 2,
    kRc5 = 1u << 3,
    kRc6 = 1u << 4,
    kReverse = 1u << 5,
    kConstLength = 1u << 6,
    kNoHeadRep = 1u << 7,
    kNoFootRep = 1u << 8,
    kRepeatHeader = 1u << 9,
};

struct FlagName {
    const char* name;
    unsigned flag;  // 0: a flag lircd knows that is not read here
};

const FlagName kFlags[] = {
    {"raw_codes", kRawCodes},
    {"space_enc", kSpaceEnc},
    {"space_first", kSpaceFirst},
    {"rc5", kRc5},
    {"shift_enc", kRc5},
    {"rc6", kRc6},
    {"reverse", kReverse},
    {"const_length", kConstLength},
    {"no_head_rep", kNoHeadRep},
    {"no_foot_rep", kNoFootRep},
    {"repeat_header", kRepeatHeader},
    {"rcmm", 0},
    {"xmp", 0},
    {"grundig", 0},
    {"bo", 0},
    {"serial", 0},
};

// Parameters that only matter to receiving or to lircd's housekeeping.
const char* const kIgnored[] = {
    "eps",         "aeps",        "min_code_repeat", "suppress_repeat", "manual_sort", "driver",
    "ignore_mask", "toggle_mask", "toggle_bit_mask", "repeat_bit",      "two",         "three",
    "serial_mode", "baud"};

struct Pair {
    long mark = 0;
    long space = 0;
    bool given() const { return mark != 0 || space != 0; }
};

struct CodeLine {
    std::string name;
    std::size_t line;
    u64 code;
};

struct RawLine {
    std::string name;
    std::size_t line;
    std::vector<long> durations;
};

struct LircRemote {
    std::string name;
    std::size_t line = 0;
    unsigned flags = 0;
    int bits = 0, preBits = 0, postBits = 0;
    u64 preData = 0, postData = 0, rc6Mask = 0;
    long toggleBit = 0;
    bool rc6MaskGiven = false;
    Pair header, one, zero, pre, post, foot, repeat;
    long plead = 0, ptrail = 0, gap = 0, repeatGap = 0, minRepeat = 0;
    long frequency = kDefaultFrequency;
    long duty = 0;
    std::vector<CodeLine> codes;
    std::vector<RawLine> raw;
};

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The words of a line; a word starting with '#' starts a comment.
std::vector<std::string> lircWords(std::string_view line) {
    std::vector<std::string> out;
    for (std::string_view w : words(line)) {
        if (w.front() == '#') break;
        out.emplace_back(w);
    }
    return out;
}

// A decimal or 0x hexadecimal number of at most 64 bits.
bool parseCode(const std::string& word, u64& out) {
    std::size_t i = 0;
    unsigned base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == word.size()) return false;
    u64 value = 0;
    for (; i < word.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(word[i])));
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return false;
        if (value > (~u64{0} - digit) / base) return false;
        value = value * base + digit;
    }
    out = value;
    return true;
}

bool fits(u64 value, int bits) {
    return bits >= 64 || value >> bits == 0;
}

u64 reversed(u64 value, int bits) {
    u64 out = 0;
    for (int i = 0; i < bits; ++i)
        out |= ((value >> i) & 1u) << (bits - 1 - i);
    return out;
}

class Reader {
  public:
    Reader(std::string_view text, FileError& error) : text_(text), error_(error) {}

    bool read(std::vector<LircRemote>& out);

  private:
    bool fail(std::size_t line, int code, std::string what) {
        return fileError(error_, line, std::move(what), code);
    }
    bool number(const std::vector<std::string>& w, std::size_t index, u64 max, u64& out);
    bool duration(const std::vector<std::string>& w, std::size_t index, long& out) {
        u64 v;
        if (!number(w, index, kMaxUs, v)) return false;
        out = static_cast<long>(v);
        return true;
    }
    bool pair(const std::vector<std::string>& w, Pair& out) {
        return duration(w, 1, out.mark) && duration(w, 2, out.space);
    }
    bool parameter(const std::vector<std::string>& w, LircRemote& r);
    bool flags(const std::vector<std::string>& w, LircRemote& r);
    bool codeLine(const std::vector<std::string>& w, LircRemote& r);
    bool rawLine(const std::vector<std::string>& w, LircRemote& r);
    bool finish(LircRemote& r);

    std::string_view text_;
    FileError& error_;
    std::size_t line_ = 0;
};

bool Reader::number(const std::vector<std::string>& w, std::size_t index, u64 max, u64& out) {
    if (index >= w.size()) return fail(line_, KOBC_E_FILE, lower(w[0]) + " needs a value");
    if (!parseCode(w[index], out))
        return fail(line_, KOBC_E_FILE, "'" + w[index] + "' is not a number");
    if (out > max)
        return fail(line_, KOBC_E_FILE,
                    lower(w[0]) + " " + w[index] + " is above " + std::to_string(max));
    return true;
}

bool Reader::flags(const std::vector<std::string>& w, LircRemote& r) {
    if (w.size() < 2) return fail(line_, KOBC_E_FILE, "flags needs a value");
    std::string all;
    for (std::size_t i = 1; i < w.size(); ++i)
        all += w[i];
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t bar = all.find('|', start);
        if (bar == std::string::npos) bar = all.size();
        const std::string name = lower(all.substr(start, bar - start));
        start = bar + 1;
        if (name.empty()) continue;
        const FlagName* found = nullptr;
        for (const FlagName& f : kFlags)
            if (name == f.name) found = &f;
        if (!found) return fail(line_, KOBC_E_FILE, "unknown flag '" + name + "'");
        if (found->flag == 0)
            return fail(line_, KOBC_E_UNSUPPORTED, "flag " + lower(name) + " is not read");
        r.flags |= found->flag;
    }
    return true;
}

bool Reader::parameter(const std::vector<std::string>& w, LircRemote& r) {
    const std::string key = lower(w[0]);
    u64 v = 0;
    if (key == "name") {
        if (w.size() < 2) return fail(line_, KOBC_E_FILE, "name needs a value");
        r.name = w[1];
        return true;
    }
    if (key == "flags") return flags(w, r);
    if (key == "bits" || key == "pre_data_bits" || key == "post_data_bits") {
        if (!number(w, 1, kMaxBits, v)) return false;
        (key == "bits"            ? r.bits
         : key == "pre_data_bits" ? r.preBits
                                  : r.postBits) = static_cast<int>(v);
        return true;
    }
    if (key == "pre_data") return number(w, 1, ~u64{0}, r.preData);
    if (key == "post_data") return number(w, 1, ~u64{0}, r.postData);
    if (key == "rc6_mask") {
        r.rc6MaskGiven = true;
        return number(w, 1, ~u64{0}, r.rc6Mask);
    }
    if (key == "toggle_bit") {
        if (!number(w, 1, kMaxBits, v)) return false;
        r.toggleBit = static_cast<long>(v);
        return true;
    }
    if (key == "header") return pair(w, r.header);
    if (key == "one") return pair(w, r.one);
    if (key == "zero") return pair(w, r.zero);
    if (key == "pre") return pair(w, r.pre);
    if (key == "post") return pair(w, r.post);
    if (key == "foot") return pair(w, r.foot);
    if (key == "repeat") return pair(w, r.repeat);
    if (key == "plead") return duration(w, 1, r.plead);
    if (key == "ptrail") return duration(w, 1, r.ptrail);
    if (key == "gap") {
        long second = 0;  // the alternative gap of a receiver; one is sent
        return duration(w, 1, r.gap) && (w.size() < 3 || duration(w, 2, second));
    }
    if (key == "repeat_gap") return duration(w, 1, r.repeatGap);
    if (key == "min_repeat") {
        if (!number(w, 1, kMaxMinRepeat, v)) return false;
        r.minRepeat = static_cast<long>(v);
        return true;
    }
    if (key == "frequency") {
        if (!number(w, 1, kMaxFrequency, v)) return false;
        r.frequency = static_cast<long>(v);
        return true;
    }
    if (key == "duty_cycle") {
        if (!number(w, 1, 100, v)) return false;
        if (v == 0) return fail(line_, KOBC_E_FILE, "duty_cycle 0 is below 1");
        r.duty = static_cast<long>(v);
        return true;
    }
    if (key == "repeat_mask") return fail(line_, KOBC_E_UNSUPPORTED, "repeat_mask is not read");
    for (const char* ignored : kIgnored)
        if (key == ignored) return true;
    return fail(line_, KOBC_E_FILE, "unknown parameter '" + w[0] + "'");
}

bool Reader::codeLine(const std::vector<std::string>& w, LircRemote& r) {
    if (w.size() < 2) return fail(line_, KOBC_E_FILE, "button " + w[0] + " has no code");
    if (w.size() > 2)
        return fail(line_, KOBC_E_UNSUPPORTED,
                    "button " + w[0] + ": a sequence of several codes is not read");
    u64 code;
    if (!parseCode(w[1], code)) return fail(line_, KOBC_E_FILE, "'" + w[1] + "' is not a number");
    r.codes.push_back({w[0], line_, code});
    return true;
}

bool Reader::rawLine(const std::vector<std::string>& w, LircRemote& r) {
    std::size_t i = 0;
    if (lower(w[0]) == "name") {
        if (w.size() < 2) return fail(line_, KOBC_E_FILE, "name needs a value");
        r.raw.push_back({w[1], line_, {}});
        i = 2;
    }
    for (; i < w.size(); ++i) {
        if (r.raw.empty()) return fail(line_, KOBC_E_FILE, "durations before the first name");
        long us;
        if (!duration(w, i, us)) return false;
        if (us == 0) return fail(line_, KOBC_E_FILE, "a duration of 0");
        if (r.raw.back().durations.size() >= KOBC_MAX_DURATIONS)
            return fail(line_, KOBC_E_FILE,
                        "button " + r.raw.back().name + " has more than " +
                            std::to_string(KOBC_MAX_DURATIONS) + " durations");
        r.raw.back().durations.push_back(us);
    }
    return true;
}

bool Reader::finish(LircRemote& r) {
    const int all = r.preBits + r.bits + r.postBits;
    if (all > kMaxBits)
        return fail(r.line, KOBC_E_FILE,
                    "pre_data_bits, bits and post_data_bits add up to " + std::to_string(all) +
                        ", more than 64");
    if ((r.flags & kRc5) && (r.flags & kRc6))
        return fail(r.line, KOBC_E_FILE, "flags RC5 and RC6 together");
    if (!fits(r.preData, r.preBits))
        return fail(r.line, KOBC_E_FILE, "pre_data does not fit pre_data_bits");
    if (!fits(r.postData, r.postBits))
        return fail(r.line, KOBC_E_FILE, "post_data does not fit post_data_bits");
    if (!r.codes.empty() && r.bits == 0)
        return fail(r.line, KOBC_E_FILE, "a remote with codes needs bits");
    for (const CodeLine& c : r.codes)
        if (!fits(c.code, r.bits))
            return fail(
                c.line, KOBC_E_FILE,
                "the code of " + c.name + " does not fit " + std::to_string(r.bits) + " bits");
    if (!r.codes.empty() && !r.one.given() && !r.zero.given())
        return fail(r.line, KOBC_E_FILE, "a remote with codes needs one and zero");
    if (r.gap == 0 && (!r.codes.empty() || !r.raw.empty()))
        return fail(r.line, KOBC_E_FILE, "the remote has no gap");
    if ((r.flags & kRc6) && !r.rc6MaskGiven && r.toggleBit > 0 && r.toggleBit <= all)
        r.rc6Mask = u64{1} << (all - r.toggleBit);
    if (r.flags & kReverse) {
        r.preData = reversed(r.preData, r.preBits);
        r.postData = reversed(r.postData, r.postBits);
        for (CodeLine& c : r.codes)
            c.code = reversed(c.code, r.bits);
    }
    return true;
}

bool Reader::read(std::vector<LircRemote>& out) {
    enum { kTop, kRemote, kCodes, kRaw } state = kTop;
    LircRemote current;
    Lines lines(text_);
    for (std::string_view text; lines.next(text);) {
        line_ = lines.number();
        const std::vector<std::string> w = lircWords(text);
        if (w.empty()) continue;
        const std::string key = lower(w[0]);
        const std::string what = w.size() > 1 ? lower(w[1]) : std::string();
        const bool begin = key == "begin" && w.size() == 2;
        const bool endOf = key == "end" && w.size() == 2;
        switch (state) {
            case kTop:
                if (key == "include") return fail(line_, KOBC_E_UNSUPPORTED, "include is not read");
                if (!begin || what != "remote")
                    return fail(line_, KOBC_E_FILE, "expected begin remote, not '" + w[0] + "'");
                current = LircRemote();
                current.line = line_;
                state = kRemote;
                break;
            case kRemote:
                if (begin && what == "codes") {
                    state = kCodes;
                } else if (begin && what == "raw_codes") {
                    state = kRaw;
                } else if (endOf && what == "remote") {
                    if (!finish(current)) return false;
                    out.push_back(std::move(current));
                    state = kTop;
                } else if (key == "begin" || key == "end") {
                    return fail(line_, KOBC_E_FILE, "unexpected '" + w[0] + " " + what + "'");
                } else if (!parameter(w, current)) {
                    return false;
                }
                break;
            case kCodes:
                if (endOf && what == "codes")
                    state = kRemote;
                else if (key == "begin" || (endOf && (what == "remote" || what == "raw_codes")))
                    return fail(line_, KOBC_E_FILE, "expected end codes");
                else if (!codeLine(w, current))
                    return false;
                break;
            case kRaw:
                if (endOf && what == "raw_codes")
                    state = kRemote;
                else if (key == "begin" || (endOf && (what == "remote" || what == "codes")))
                    return fail(line_, KOBC_E_FILE, "expected end raw_codes");
                else if (!rawLine(w, current))
                    return false;
                break;
        }
    }
    if (state != kTop)
        return fail(lines.number(), KOBC_E_FILE,
                    state == kRemote ? "the file ends inside a remote"
                                     : "the file ends inside a list of codes");
    if (out.empty()) return fail(0, KOBC_E_FILE, "no remote in the file");
    return true;
}

// Durations with pulses and spaces that follow one of their kind merged,
// nothing before the first pulse (it is silence), and the length of the
// current frame counted for CONST_LENGTH.
class Timeline {
  public:
    void mark(long long us) { add(true, us); }
    void space(long long us) { add(false, us); }
    void startFrame() { frame_ = 0; }
    long long frameLength() const { return frame_; }
    bool tooLong() const { return tooLong_; }
    std::vector<int>& durations() { return out_; }

  private:
    void add(bool pulse, long long us) {
        if (us <= 0) return;
        frame_ += us;
        if (!pulse && out_.empty()) return;
        if (!out_.empty() && (out_.back() > 0) == pulse) {
            const long long merged = std::llabs(out_.back()) + us;
            if (merged > kMaxUs * 4) {
                tooLong_ = true;
                return;
            }
            out_.back() = static_cast<int>(pulse ? merged : -merged);
            return;
        }
        if (out_.size() >= KOBC_MAX_DURATIONS) {
            tooLong_ = true;
            return;
        }
        out_.push_back(static_cast<int>(pulse ? us : -us));
    }

    std::vector<int> out_;
    long long frame_ = 0;
    bool tooLong_ = false;
};

class FrameBuilder {
  public:
    explicit FrameBuilder(const LircRemote& r) : r_(r) {}

    // The durations of a code button (once and repeat sequences).
    void code(u64 code, Timeline& once, Timeline& held) const {
        frame(code, false, once);
        for (long i = 0; i < r_.minRepeat; ++i)
            repeatFrame(code, once);
        repeatFrame(code, held);
    }
    void raw(const std::vector<long>& durations, Timeline& once, Timeline& held) const {
        for (long i = 0; i <= r_.minRepeat; ++i)
            rawFrame(durations, once);
        rawFrame(durations, held);
    }

  private:
    void rawFrame(const std::vector<long>& durations, Timeline& t) const {
        t.startFrame();
        for (std::size_t i = 0; i < durations.size(); ++i)
            i % 2 == 0 ? t.mark(durations[i]) : t.space(durations[i]);
        gap(t, r_.gap);
    }

    void gap(Timeline& t, long gap) const {
        if (!(r_.flags & kConstLength)) {
            t.space(gap);
            return;
        }
        // The gap is the whole frame's length; a frame longer than it gets a
        // tenth of it.
        const long long rest = r_.gap - t.frameLength();
        t.space(std::max<long long>(rest, r_.gap / 10));
    }

    bool biphase() const { return (r_.flags & (kRc5 | kRc6)) != 0; }

    // Bits [from, from + count) of the concatenated pre_data, code and
    // post_data (the first sent the highest), most significant first.
    void bits(u64 all, int allBits, int from, int count, Timeline& t) const {
        for (int i = from; i < from + count; ++i) {
            const int position = allBits - 1 - i;
            const bool one = ((all >> position) & 1u) != 0;
            const Pair& p = one ? r_.one : r_.zero;
            if (!biphase()) {
                if (r_.flags & kSpaceFirst) {
                    t.space(p.space);
                    t.mark(p.mark);
                } else {
                    t.mark(p.mark);
                    t.space(p.space);
                }
                continue;
            }
            const long factor = (r_.flags & kRc6) && ((r_.rc6Mask >> position) & 1u) ? 2 : 1;
            if (one) {
                t.space(p.space * factor);
                t.mark(p.mark * factor);
            } else {
                t.mark(p.mark * factor);
                t.space(p.space * factor);
            }
        }
    }

    void frame(u64 code, bool repeating, Timeline& t) const {
        const int allBits = r_.preBits + r_.bits + r_.postBits;
        const u64 all =
            (allBits > r_.bits + r_.postBits ? r_.preData << (r_.bits + r_.postBits) : 0) |
            (r_.bits + r_.postBits < 64 ? code << r_.postBits : 0) | r_.postData;
        t.startFrame();
        if (!(repeating && (r_.flags & kNoHeadRep))) {
            t.mark(r_.header.mark);
            t.space(r_.header.space);
        }
        t.mark(r_.plead);
        bits(all, allBits, 0, r_.preBits, t);
        if (r_.preBits > 0) {
            t.mark(r_.pre.mark);
            t.space(r_.pre.space);
        }
        bits(all, allBits, r_.preBits, r_.bits, t);
        if (r_.postBits > 0) {
            t.mark(r_.post.mark);
            t.space(r_.post.space);
        }
        bits(all, allBits, r_.preBits + r_.bits, r_.postBits, t);
        t.mark(r_.ptrail);
        if (!(repeating && (r_.flags & kNoFootRep))) {
            t.space(r_.foot.space);
            t.mark(r_.foot.mark);
        }
        gap(t, repeating && r_.repeatGap ? r_.repeatGap : r_.gap);
    }

    void repeatFrame(u64 code, Timeline& t) const {
        if (!r_.repeat.given()) {
            frame(code, true, t);
            return;
        }
        t.startFrame();
        if (r_.flags & kRepeatHeader) {
            t.mark(r_.header.mark);
            t.space(r_.header.space);
        }
        t.mark(r_.plead);
        t.mark(r_.repeat.mark);
        t.space(r_.repeat.space);
        t.mark(r_.ptrail);
        gap(t, r_.repeatGap ? r_.repeatGap : r_.gap);
    }

    const LircRemote& r_;
};

// Whether two durations are the same within what a file's rounding and a
// receiver's tolerance allow; a sequence's final space (the gap) may differ
// more.
bool near(int a, int b, bool final) {
    if ((a > 0) != (b > 0)) return false;
    const long d = std::labs(static_cast<long>(a) - b);
    const long size = std::max(std::labs(a), std::labs(b));
    return final ? d * 100 <= size * 15 : d <= std::max(60L, size * 4 / 100);
}

bool sameSequence(const int* a, std::size_t na, const int* b, std::size_t nb) {
    if (na != nb) return false;
    for (std::size_t i = 0; i < na; ++i)
        if (!near(a[i], b[i], i + 1 == na)) return false;
    return true;
}

bool sameCode(const kobc_code& a, const kobc_code& b) {
    return sameSequence(a.durations, a.once_count, b.durations, b.once_count) &&
           sameSequence(a.durations + a.once_count, a.repeat_count, b.durations + b.once_count,
                        b.repeat_count) &&
           std::labs(a.carrier_hz - b.carrier_hz) * 10 <= std::max(a.carrier_hz, b.carrier_hz);
}

// The button as a protocol code when its first frame decodes as one that
// encodes back to the same timings.
void asProtocol(Button& b, std::size_t firstFrame) {
    kobc_match matches[8];
    const std::size_t n = kobc_decode(b.durations.data(), firstFrame, b.carrierHz, matches, 8);
    kobc_code raw;
    raw.carrier_hz = b.carrierHz;
    raw.once_count = b.onceCount;
    raw.repeat_count = b.durations.size() - b.onceCount;
    std::copy(b.durations.begin(), b.durations.end(), raw.durations);
    for (std::size_t i = 0; i < n && i < 8; ++i) {
        const kobc_match& m = matches[i];
        if (m.repeat) continue;
        kobc_code encoded;
        if (kobc_encode(m.protocol, m.device, m.subdevice, m.function, m.toggle, &encoded, nullptr,
                        0) != KOBC_OK ||
            !sameCode(raw, encoded))
            continue;
        b.kind = KOBC_BUTTON_PROTOCOL;
        b.protocol = m.protocol;
        b.device = m.device;
        b.subdevice = m.subdevice;
        b.function = m.function;
        b.toggle = m.toggle;
        b.carrierHz = 0;
        b.onceCount = 0;
        b.durations.clear();
        return;
    }
}

bool makeButton(const LircRemote& r, const std::string& name, std::size_t line, Timeline& once,
                Timeline& held, std::size_t firstFrame, Remote& out, FileError& error) {
    // A code holds both sequences: a long button is kept as sent once.
    if (!once.tooLong() &&
        (held.tooLong() || once.durations().size() + held.durations().size() > KOBC_MAX_DURATIONS))
        held = Timeline();
    if (once.tooLong())
        return fileError(error, line,
                         "button " + name + " is longer than " +
                             std::to_string(KOBC_MAX_DURATIONS) + " durations",
                         KOBC_E_UNSUPPORTED);
    if (once.durations().empty())
        return fileError(error, line, "button " + name + " sends no pulse");
    Button b;
    b.name = name;
    b.kind = KOBC_BUTTON_RAW;
    b.carrierHz = r.frequency;
    b.dutyPercent = static_cast<int>(r.duty);
    b.onceCount = once.durations().size();
    b.durations = once.durations();
    b.durations.insert(b.durations.end(), held.durations().begin(), held.durations().end());
    asProtocol(b, firstFrame);
    return addReadButton(out, std::move(b), line, error);
}

// The durations of the first frame of a once sequence.
std::size_t firstFrameLength(const LircRemote& r, u64 code, const std::vector<long>* raw) {
    LircRemote single = r;
    single.minRepeat = 0;
    Timeline once, held;
    if (raw)
        FrameBuilder(single).raw(*raw, once, held);
    else
        FrameBuilder(single).code(code, once, held);
    return once.durations().size();
}

bool toRemote(const LircRemote& r, const std::string& name, Remote& out, FileError& error) {
    out.name = name;
    const FrameBuilder builder(r);
    for (const CodeLine& c : r.codes) {
        Timeline once, held;
        builder.code(c.code, once, held);
        if (!makeButton(r, c.name, c.line, once, held, firstFrameLength(r, c.code, nullptr), out,
                        error))
            return false;
    }
    for (const RawLine& raw : r.raw) {
        Timeline once, held;
        builder.raw(raw.durations, once, held);
        if (!makeButton(r, raw.name, raw.line, once, held, firstFrameLength(r, 0, &raw.durations),
                        out, error))
            return false;
    }
    return true;
}

// ---- Writing

bool lircName(const std::string& name, const char* what, FileError& error) {
    bool ok = !name.empty() && name[0] != '#';
    for (char c : name)
        if (std::isspace(static_cast<unsigned char>(c)) ||
            std::iscntrl(static_cast<unsigned char>(c)))
            ok = false;
    return ok || fileError(error, 0,
                           std::string(what) + " " + quoted(name) +
                               ": a lircd.conf name holds no white space and does not start with #",
                           KOBC_E_UNSUPPORTED);
}

std::string hex(u64 value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), digits[value & 15u]);
        value >>= 4;
    } while (value);
    return "0x" + out;
}

std::string pairText(const char* key, long mark, long space) {
    return std::string("  ") + key + " " + std::to_string(mark) + " " + std::to_string(space) +
           "\n";
}

bool codesOf(const Remote& r, std::vector<kobc_code>& codes, FileError& error) {
    codes.resize(r.buttons.size());
    for (std::size_t i = 0; i < r.buttons.size(); ++i) {
        const Button& b = r.buttons[i];
        if (!lircName(b.name, "button", error) || !buttonTimings(b, codes[i], error)) return false;
        if (codes[i].once_count == 0)
            return fileError(error, 0, "button " + quoted(b.name) + " sends nothing once",
                             KOBC_E_UNSUPPORTED);
    }
    return true;
}

// The duty cycle every button shares, or 0.
int commonDuty(const Remote& r) {
    int duty = r.buttons.empty() ? 0 : r.buttons[0].dutyPercent;
    for (const Button& b : r.buttons)
        if (b.dutyPercent != duty) duty = 0;
    return duty;
}

bool writeRaw(const Remote& r, const std::vector<kobc_code>& codes, std::string& out,
              FileError& error) {
    long carrier = 0;
    long gap = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const kobc_code& c = codes[i];
        if (c.carrier_hz != 0 && carrier == 0) carrier = c.carrier_hz;
        if (c.carrier_hz != 0 && std::labs(c.carrier_hz - carrier) * 10 > carrier)
            return fileError(error, 0,
                             "button " + quoted(r.buttons[i].name) + " has a carrier of " +
                                 std::to_string(c.carrier_hz) + " Hz, the remote's others " +
                                 std::to_string(carrier) +
                                 " Hz: a lircd.conf remote has one carrier",
                             KOBC_E_UNSUPPORTED);
        const int last = c.durations[c.once_count - 1];
        if (last < 0) gap = std::max(gap, -static_cast<long>(last));
    }
    out += "begin remote\n  name " + r.name + "\n  flags RAW_CODES\n  eps 30\n  aeps 100\n";
    if (carrier) out += "  frequency " + std::to_string(carrier) + "\n";
    if (const int duty = commonDuty(r)) out += "  duty_cycle " + std::to_string(duty) + "\n";
    out += "  gap " + std::to_string(gap ? gap : kFinalSpaceUs) + "\n  begin raw_codes\n";
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const kobc_code& c = codes[i];
        std::size_t count = c.once_count;
        if (c.durations[count - 1] < 0) --count;  // the gap
        out += "    name " + r.buttons[i].name + "\n";
        for (std::size_t k = 0; k < count; ++k)
            out += (k % 8 == 0 ? "      " : " ") + std::to_string(std::abs(c.durations[k])) +
                   (k % 8 == 7 || k + 1 == count ? "\n" : "");
    }
    out += "  end raw_codes\nend remote\n";
    return true;
}

// What of a protocol's frames a lircd.conf remote describes: one frame
// (sent once or a few times), optionally a header, bits of one coding, a
// trailing pulse and a gap; held, the frame again or a repeat pair.
struct Shape {
    int frame = -1;
    int onceFrames = 0;
    bool rc5 = false, rc6 = false;
    Pair header, one, zero, repeat;
    long plead = 0, ptrail = 0, gap = 0;
    bool constLength = false;
    std::vector<int> widths;  // per bit sent
};

const ProtocolDef* protocolNamed(const std::string& name) {
    for (std::size_t i = 0; i < protocolCount(); ++i)
        if (name == protocolTable()[i].info.name) return &protocolTable()[i];
    return nullptr;
}

bool shapeOf(const ProtocolDef& p, Shape& s) {
    if (p.coding == Coding::kPairs && p.symbolBits != 1) return false;
    s.frame = p.once[0];
    if (s.frame < 0 || p.held[0] < 0 || (kMaxSequence > 1 && p.held[1] >= 0)) return false;
    for (; s.onceFrames < kMaxSequence && p.once[s.onceFrames] >= 0; ++s.onceFrames)
        if (p.once[s.onceFrames] != s.frame) return false;
    const Step* st = p.frames[s.frame].steps;
    int i = 0;
    auto op = [&](int at) { return at < kMaxSteps ? st[at].op : Op::kEnd; };
    if (op(0) == Op::kMark && op(1) == Op::kSpace) {
        s.header = {st[0].value, st[1].value};
        i = 2;
    }
    for (; op(i) == Op::kBits; ++i)
        for (int n = 0; n < st[i].value; ++n)
            s.widths.push_back(p.coding == Coding::kPairs ? 1 : st[i].width);
    if (s.widths.empty() || s.widths.size() > kMaxBits) return false;
    if (op(i) == Op::kMark) s.ptrail = st[i++].value;
    if (op(i) != Op::kPad && op(i) != Op::kGap) return false;
    s.constLength = op(i) == Op::kPad;
    s.gap = st[i].value;
    const Op last = op(i++);
    if (op(i) != Op::kEnd) return false;
    if (p.held[0] != s.frame) {
        const Step* d = p.frames[p.held[0]].steps;
        if (d[0].op != Op::kMark || d[1].op != Op::kSpace || d[2].op != Op::kMark ||
            d[2].value != s.ptrail || d[3].op != last || d[3].value != s.gap ||
            (kMaxSteps > 4 && d[4].op != Op::kEnd))
            return false;
        s.repeat = {d[0].value, d[1].value};
    }
    const double u = p.unitUs;
    if (p.coding == Coding::kPairs) {
        s.one = {std::lround(p.symbolMark[1] * u), std::lround(p.symbolSpace[1] * u)};
        s.zero = {std::lround(p.symbolMark[0] * u), std::lround(p.symbolSpace[0] * u)};
    } else {
        s.rc5 = p.coding == Coding::kBiphaseSpaceFirst;
        s.rc6 = !s.rc5;
        for (int w : s.widths)
            if (w != 1 && !(s.rc6 && w == 2)) return false;
        s.one = s.zero = {std::lround(u), std::lround(u)};
    }
    return true;
}

// A frame's bits as lircd.conf writes them: the first sent highest (RC6's
// ones are lircd's zeros).
u64 lircBits(const Shape& s, Bits bits) {
    u64 v = 0;
    for (std::size_t i = 0; i < s.widths.size(); ++i)
        v = v << 1 | (((bits >> i) & 1u) ^ (s.rc6 ? 1u : 0u));
    return v;
}

bool writeEncoded(const Remote& r, std::string& out) {
    if (r.buttons.empty()) return false;
    for (const Button& b : r.buttons)
        if (b.kind != KOBC_BUTTON_PROTOCOL || b.protocol != r.buttons[0].protocol) return false;
    const ProtocolDef* p = protocolNamed(r.buttons[0].protocol);
    Shape s;
    if (!p || !shapeOf(*p, s)) return false;
    const FrameDef& frame = p->frames[s.frame];
    int n = static_cast<int>(s.widths.size());
    std::vector<u64> values;
    for (const Button& b : r.buttons)
        values.push_back(
            lircBits(s, frame.pack({b.device, b.subdevice, b.function, b.toggle, false})));
    u64 toggle = 0;
    if (p->info.toggle_max != KOBC_NONE) {
        const Button& b = r.buttons[0];
        toggle = lircBits(s, frame.pack({b.device, b.subdevice, b.function, 0, false})) ^
                 lircBits(s, frame.pack({b.device, b.subdevice, b.function, 1, false}));
    }
    // RC5's first start bit (a one: space, then pulse) shows only its pulse.
    if (s.rc5 && !s.header.given()) {
        for (u64 v : values)
            if (!((v >> (n - 1)) & 1u)) return false;
        s.plead = s.one.mark;
        s.widths.erase(s.widths.begin());
        --n;
        const u64 mask = n >= 64 ? ~u64{0} : (u64{1} << n) - 1;
        for (u64& v : values)
            v &= mask;
        toggle &= mask;
    }
    u64 rc6Mask = 0;
    for (int i = 0; i < n; ++i)
        if (s.widths[i] == 2) rc6Mask |= u64{1} << (n - 1 - i);
    // pre_data: whole bytes of the first half that every button shares.
    int common = n;
    for (u64 v : values)
        for (int i = 0; i < common; ++i)
            if (((v ^ values[0]) >> (n - 1 - i)) & 1u) common = i;
    const int preBits = std::min(common, n / 2) / 8 * 8;
    const int bits = n - preBits;

    std::string t = "begin remote\n  name " + r.name + "\n  bits " + std::to_string(bits) +
                    "\n  flags " +
                    (s.rc5   ? "RC5"
                     : s.rc6 ? "RC6"
                             : "SPACE_ENC") +
                    (s.constLength ? "|CONST_LENGTH" : "") + "\n  eps 30\n  aeps 100\n";
    if (s.header.given()) t += pairText("header", s.header.mark, s.header.space);
    t += pairText("one", s.one.mark, s.one.space) + pairText("zero", s.zero.mark, s.zero.space);
    if (s.plead) t += "  plead " + std::to_string(s.plead) + "\n";
    if (s.ptrail) t += "  ptrail " + std::to_string(s.ptrail) + "\n";
    if (s.repeat.given()) t += pairText("repeat", s.repeat.mark, s.repeat.space);
    if (preBits)
        t += "  pre_data_bits " + std::to_string(preBits) + "\n  pre_data " +
             hex(values[0] >> bits) + "\n";
    t += "  gap " + std::to_string(s.gap) + "\n";
    if (s.onceFrames > 1) t += "  min_repeat " + std::to_string(s.onceFrames - 1) + "\n";
    if (toggle) t += "  toggle_bit_mask " + hex(toggle) + "\n";
    if (rc6Mask) t += "  rc6_mask " + hex(rc6Mask) + "\n";
    t += "  frequency " + std::to_string(p->info.carrier_hz) + "\n";
    if (const int duty = commonDuty(r)) t += "  duty_cycle " + std::to_string(duty) + "\n";
    t += "  begin codes\n";
    const u64 codeMask = bits >= 64 ? ~u64{0} : (u64{1} << bits) - 1;
    for (std::size_t i = 0; i < values.size(); ++i)
        t += "    " + r.buttons[i].name + " " + hex(values[i] & codeMask) + "\n";
    t += "  end codes\nend remote\n";
    out = t;
    return true;
}

// Whether the text reads back as the remote's buttons with their timings.
bool readsBack(const std::string& text, const Remote& r, const std::vector<kobc_code>& codes) {
    std::vector<Remote> back;
    FileError error;
    if (!readLirc(text, r.name, back, error) || back.size() != 1 ||
        back[0].buttons.size() != r.buttons.size())
        return false;
    kobc_code code;
    for (std::size_t i = 0; i < codes.size(); ++i)
        if (back[0].buttons[i].name != r.buttons[i].name ||
            buttonCode(back[0].buttons[i], code, nullptr, 0) != KOBC_OK ||
            !sameCode(codes[i], code))
            return false;
    return true;
}

bool writeRemote(const Remote& r, std::string& out, FileError& error) {
    if (!lircName(r.name, "remote", error)) return false;
    std::vector<kobc_code> codes;
    if (!codesOf(r, codes, error)) return false;
    std::string encoded;
    if (writeEncoded(r, encoded) && readsBack(encoded, r, codes)) {
        out += encoded;
        return true;
    }
    return writeRaw(r, codes, out, error);
}

}  // namespace

bool looksLikeLirc(std::string_view text) {
    Lines lines(text);
    for (std::string_view line; lines.next(line);) {
        const std::vector<std::string> w = lircWords(line);
        if (w.size() == 2 && lower(w[0]) == "begin" && lower(w[1]) == "remote") return true;
    }
    return false;
}

bool readLirc(std::string_view text, const std::string& defaultName, std::vector<Remote>& out,
              FileError& error) {
    if (!checkText(text, error)) return false;
    std::vector<LircRemote> parsed;
    if (!Reader(text, error).read(parsed)) return false;
    std::vector<Remote> remotes;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        std::string name = parsed[i].name;
        if (name.empty()) name = i == 0 ? defaultName : defaultName + "-" + std::to_string(i + 1);
        Remote remote;
        if (!toRemote(parsed[i], name, remote, error)) return false;
        remotes.push_back(std::move(remote));
    }
    if (!checkReadRemotes(remotes, error)) return false;
    out.insert(out.end(), remotes.begin(), remotes.end());
    return true;
}

bool writeLirc(const std::vector<const Remote*>& remotes, std::string& out, FileError& error) {
    std::string text = "# lircd.conf written by KOBLIB_CODES\n";
    for (const Remote* r : remotes) {
        text += "\n";
        if (!writeRemote(*r, text, error)) return false;
    }
    out = std::move(text);
    return true;
}

}  // namespace kobc
