// Known-good frames written out by hand from the protocols' timing
// definitions, the kernel's scancodes, names, and field errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "codes/codes_test_support.h"

namespace {

using codes_test::decode;
using codes_test::encode;
constexpr long N = KOBC_NONE;

// Halves (pulse?, us) merged into alternating durations; what comes before
// the first pulse and after the last is silence.
std::vector<int> merged(const std::vector<std::pair<bool, double>>& halves) {
    std::vector<int> out;
    bool mark = false;
    double run = 0;
    auto flush = [&] {
        if (run > 0 && (mark || !out.empty()))
            out.push_back(static_cast<int>(std::lround(mark ? run : -run)));
        run = 0;
    };
    for (const auto& h : halves) {
        if (h.first != mark) flush();
        mark = h.first;
        run += h.second;
    }
    if (mark) flush();
    return out;
}

// Pulse-distance bits ("0"/"1" as sent) after a header, then a trailer pulse.
std::vector<int> distance(int headerMark, int headerSpace, double unit, int zeroSpace, int oneSpace,
                          const std::string& bits, bool trailer = true) {
    std::vector<std::pair<bool, double>> h;
    if (headerMark) h = {{true, headerMark}, {false, headerSpace}};
    for (char b : bits) {
        if (b == ' ') continue;
        h.push_back({true, unit});
        h.push_back({false, (b == '1' ? oneSpace : zeroSpace) * unit});
    }
    if (trailer) h.push_back({true, unit});
    return merged(h);
}

// Bi-phase bits; 'D'/'d' a double-width 1/0. oneSpaceFirst: RC5's sense.
std::vector<int> biphase(int leaderMark, int leaderSpace, double unit, bool oneSpaceFirst,
                         const std::string& bits) {
    std::vector<std::pair<bool, double>> h;
    if (leaderMark) h = {{true, leaderMark}, {false, leaderSpace}};
    for (char b : bits) {
        if (b == ' ') continue;
        const bool one = b == '1' || b == 'D';
        const double w = (b == 'D' || b == 'd') ? 2 * unit : unit;
        const bool first = one != oneSpaceFirst;
        h.push_back({first, w});
        h.push_back({!first, w});
    }
    return merged(h);
}

struct Vector {
    const char* protocol;
    long device, subdevice, function, toggle;
    std::vector<int> frame;  // the first frame, without its lead-out
};

std::vector<Vector> vectors() {
    const double mm = 1e6 / 36000;
    std::vector<int> sony = {2400, -600, 1200, -600, 600,  -600, 1200, -600, 600,
                             -600, 1200, -600, 600,  -600, 600,  -600, 1200, -600,
                             600,  -600, 600,  -600, 600,  -600, 600};
    // RC-MM 12: D 0101, F 00111100 as 2-bit symbols 01 01 00 11 11 00.
    std::vector<int> rcmm = {417, -278};
    for (int s : {16, 16, 10, 28, 28, 10}) {
        rcmm.push_back(167);
        rcmm.push_back(-static_cast<int>(std::lround(s * mm)));
    }
    rcmm.push_back(167);
    return {
        {"NEC1", 4, N, 8, N,
         distance(9024, 4512, 564, 1, 3, "00100000 11011111 00010000 11101111")},
        {"Samsung32", 7, N, 2, N,
         distance(4512, 4512, 564, 1, 3, "11100000 11100000 01000000 10111111")},
        {"JVC", 3, N, 8, N, distance(8432, 4216, 527, 1, 3, "11000000 00010000")},
        {"Sharp", 1, N, 2, N, distance(0, 0, 264, 3, 7, "10000 01000000 10")},
        {"Panasonic", 1, 2, 3, N,
         distance(3456, 1728, 432, 1, 3, "01000000 00000100 10000000 01000000 11000000 00000000")},
        {"Sony12", 1, N, 21, N, sony},  // F 1010100, D 10000 as pulse widths
        {"RC5", 0, N, 12, 1, biphase(0, 0, 889, true, "1 1 1 00000 001100")},
        {"RC6", 4, N, 8, 0, biphase(2664, 888, 444, false, "1 000 d 00000100 00001000")},
        {"MCE", 4, 15, 8, 0,
         biphase(2664, 888, 444, false, "1 110 d 10000000 00001111 0 0000100 00001000")},
        {"RCMM-12", 5, N, 0x3C, N, rcmm},
    };
}

TEST(ProtocolVectors, EncodeWritesTheFrameAndDecodeReadsIt) {
    for (const Vector& v : vectors()) {
        SCOPED_TRACE(v.protocol);
        const codes_test::Encoded e =
            encode(v.protocol, v.device, v.subdevice, v.function, v.toggle);
        ASSERT_EQ(e.status, KOBC_OK) << e.message;
        ASSERT_GT(e.once.size(), v.frame.size());
        for (std::size_t i = 0; i < v.frame.size(); ++i)
            EXPECT_NEAR(e.once[i], v.frame[i], 1) << "duration " << i;
        EXPECT_LT(e.once[v.frame.size()], -4000) << "a lead-out follows the frame";
        const std::vector<codes_test::Reading> r = decode(v.frame);
        ASSERT_FALSE(r.empty());
        EXPECT_EQ(r[0].protocol, v.protocol);
        EXPECT_EQ(r[0].device, v.device);
        EXPECT_EQ(r[0].function, v.function);
        if (v.subdevice != N) {
            EXPECT_EQ(r[0].subdevice, v.subdevice);
        }
        EXPECT_EQ(r[0].toggle, v.toggle);
        EXPECT_EQ(r[0].repeat, 0);
    }
}

TEST(ProtocolVectors, KernelNamesAndScancodes) {
    struct Case {
        const char* protocol;
        long device, subdevice, function, toggle;
        const char* kernel;
        unsigned long scancode;
    } cases[] = {
        {"NEC1", 4, N, 8, N, "nec", 0x0408},
        {"NEC1", 4, 5, 8, N, "necx", 0x040508},
        {"NEC1-f16", 4, N, 0x1234, N, "nec32", 0xFB041234},
        {"RC5", 0, N, 12, 1, "rc-5", 0x000C},
        {"RC5x", 3, 70, 9, 0, "rc-5x-20", 0x034609},
        {"Sony12", 1, N, 21, N, "sony-12", 0x10015},
        {"Sony20", 1, 2, 3, N, "sony-20", 0x10203},
        {"RC6", 4, N, 8, 1, "rc-6-0", 0x0408},
        {"RC6-6-20", 1, 2, 3, 0, "rc-6-6a-20", 0x01203},
        {"MCE", 4, 15, 8, 1, "rc-6-mce", 0x800F0408},
        {"RC6-6-32", 4, 0x1234, 8, 0, "rc-6-6a-32", 0x12340408},
        {"JVC", 3, N, 8, N, "jvc", 0x0308},
        {"Sharp", 1, N, 2, N, "sharp", 0x0102},
        {"Sanyo", 0x123, N, 0x45, N, "sanyo", 0x12345},
        {"XMP", 1, 2, 0x0304, N, "xmp", 0x01020304},
        {"RCMM-32", 1, 2, 0x0304, 1, "rc-mm-32", 0x01020304},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.protocol);
        const codes_test::Encoded e =
            encode(c.protocol, c.device, c.subdevice, c.function, c.toggle);
        ASSERT_EQ(e.status, KOBC_OK) << e.message;
        kobc_match m[8];
        ASSERT_GE(kobc_decode(e.once.data(), e.once.size(), 0, m, 8), 1u);
        EXPECT_STREQ(m[0].protocol, c.protocol);
        ASSERT_NE(m[0].kernel_protocol, nullptr);
        EXPECT_STREQ(m[0].kernel_protocol, c.kernel);
        EXPECT_EQ(m[0].kernel_scancode, c.scancode) << std::hex << m[0].kernel_scancode;
    }
}

TEST(ProtocolNames, AliasesAndCaseFindTheProtocol) {
    const std::pair<const char*, const char*> cases[] = {
        {"nec", "NEC1"},
        {"NEC 1", "NEC1"},
        {"rc-5", "RC5"},
        {"sony_12", "Sony12"},
        {"samsung", "Samsung32"},
        {"mce", "MCE"},
        {"rc-6-6a-20", "RC6-6-20"},
        {"nokia32", "RCMM-32"},
        {"necx", "NECext"},
        {"panasonic", "Panasonic"},
        {"nec1x", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const kobc_protocol_info* p = kobc_protocol_find(c.first);
        if (c.second == nullptr) {
            EXPECT_EQ(p, nullptr) << c.first;
        } else {
            ASSERT_NE(p, nullptr) << c.first;
            EXPECT_STREQ(p->name, c.second);
        }
    }
    // No name or alias finds two protocols.
    for (std::size_t i = 0; i < kobc_protocol_count(); ++i) {
        const kobc_protocol_info* p = kobc_protocol_at(i);
        EXPECT_EQ(kobc_protocol_find(p->name), p) << p->name;
        std::string aliases = p->aliases;
        for (std::size_t at = 0; at <= aliases.size();) {
            const std::size_t comma = std::min(aliases.find(',', at), aliases.size());
            const std::string alias = aliases.substr(at, comma - at);
            EXPECT_EQ(kobc_protocol_find(alias.c_str()), p) << alias;
            at = comma + 1;
        }
    }
    EXPECT_EQ(kobc_protocol_at(kobc_protocol_count()), nullptr);
}

TEST(ProtocolErrors, OutOfRangeFieldsAreNamed) {
    struct Case {
        const char* protocol;
        long device, subdevice, function, toggle;
        int error;
        const char* says;
    } cases[] = {
        {"NEC1", 4, N, 300, N, KOBC_E_RANGE, "function 300 is outside 0..255 for NEC1"},
        {"rc5", 32, N, 1, N, KOBC_E_RANGE, "device 32 is outside 0..31 for RC5"},
        {"RC5", -5, N, 1, N, KOBC_E_RANGE, "device -5 is outside 0..31 for RC5"},
        {"RC5", 0, 5, 12, N, KOBC_E_RANGE, "RC5 has no subdevice (given 5)"},
        {"NEC1", 0, N, 12, 1, KOBC_E_RANGE, "NEC1 has no toggle"},
        {"RC6", 0, N, 12, 2, KOBC_E_RANGE, "toggle 2 is outside 0..1 for RC6"},
        {"Sony20", 0, 256, 12, N, KOBC_E_RANGE, "subdevice 256 is outside 0..255 for Sony20"},
        {"Sony12", 0, N, N, N, KOBC_E_RANGE, "Sony12 needs a function (0..127)"},
        {"bogus", 0, N, 1, N, KOBC_E_PROTOCOL, "unknown protocol \"bogus\""},
    };
    for (const Case& c : cases) {
        const codes_test::Encoded e =
            encode(c.protocol, c.device, c.subdevice, c.function, c.toggle);
        EXPECT_EQ(e.status, c.error) << c.says;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << e.message;
    }
}

}  // namespace
