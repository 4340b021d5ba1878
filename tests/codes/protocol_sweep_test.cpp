// Every protocol over its field ranges: encode, decode, and the same
// fields back; under jitter, on every carrier of 30-60 kHz; and the
// frames that read more than one way, or not at all.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codes/codes_test_support.h"

namespace {

using codes_test::decode;
using codes_test::encode;
using codes_test::Encoded;
using codes_test::Reading;
constexpr long N = KOBC_NONE;

std::vector<long> sample(long max) {
    if (max == N) return {N};
    std::vector<long> v;
    for (long x : {0L, 1L, max / 3, max / 2 + 1, max - 1, max})
        if (x >= 0 && (v.empty() || v.back() < x)) v.push_back(x);
    return v;
}

// The same frame: equal after every duration's rounding.
bool sameFrame(const std::vector<int>& a, const std::vector<int>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::abs(a[i] - b[i]) > 2) return false;
    return true;
}

// The reading of `e` (encoded from p with these fields) is right: p read
// with the fields, or else the first reading is a protocol that writes
// the very same frame (NEC2 reads as NEC1, Pioneer away from 40 kHz, ...).
::testing::AssertionResult readsBack(const kobc_protocol_info& p, long d, long s, long f, long t,
                                     const Encoded& e, const std::vector<Reading>& r,
                                     int* equivalent = nullptr) {
    if (r.empty()) return ::testing::AssertionFailure() << "no reading";
    for (const Reading& x : r) {
        if (x.protocol != p.name) continue;
        if (x.device == d && x.function == f && (s == N || x.subdevice == s) &&
            (t == N ? x.toggle == (p.toggle_max == N ? N : 0) : x.toggle == t) && x.repeat == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "read " << x.device << "/" << x.subdevice << "/"
                                             << x.function << " t" << x.toggle;
    }
    const Encoded again =
        encode(r[0].protocol.c_str(), r[0].device, r[0].subdevice, r[0].function, r[0].toggle);
    if (again.status == KOBC_OK && sameFrame(again.once, e.once)) {
        if (equivalent) ++*equivalent;
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "read as " << r[0].protocol << " " << r[0].device << "/"
                                         << r[0].subdevice << "/" << r[0].function;
}

TEST(ProtocolSweep, RoundTripOverTheFieldRanges) {
    long cases = 0;
    int equivalent = 0;
    for (std::size_t i = 0; i < kobc_protocol_count(); ++i) {
        const kobc_protocol_info& p = *kobc_protocol_at(i);
        std::vector<long> subdevices = sample(p.subdevice_max), toggles = sample(p.toggle_max);
        if (p.subdevice_max != N) subdevices.push_back(N);  // the default
        for (long d : sample(p.device_max))
            for (long s : subdevices)
                for (long f : sample(p.function_max))
                    for (long t : toggles) {
                        const Encoded e = encode(p.name, d, s, f, t);
                        ASSERT_EQ(e.status, KOBC_OK) << p.name << ": " << e.message;
                        ASSERT_TRUE(
                            readsBack(p, d, s, f, t, e, decode(e.once, e.carrierHz), &equivalent))
                            << p.name << " " << d << "/" << s << "/" << f << " t" << t;
                        // What is sent while held reads as the same button.
                        const std::vector<Reading> held = decode(e.held, e.carrierHz);
                        ASSERT_FALSE(held.empty()) << p.name << " held";
                        if (!held[0].repeat) {
                            EXPECT_EQ(held[0].function, decode(e.once)[0].function);
                        }
                        ++cases;
                    }
    }
    std::printf("round trips: %ld cases over %zu protocols (%d read as an equivalent protocol)\n",
                cases, kobc_protocol_count(), equivalent);
    EXPECT_GT(cases, 5000);
}

// Protocols whose symbols lie closer together than the jitter: the
// largest share of error each survives on every duration.
double jitterBound(const std::string& name) {
    if (name == "XMP") return 0.02;
    if (name.rfind("RCMM", 0) == 0) return 0.08;
    return 0.15;
}

TEST(ProtocolSweep, SurvivesJitterOnEveryDuration) {
    std::uint32_t seed = 12345;
    auto random = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;  // 0..1
    };
    int frames = 0;
    for (std::size_t i = 0; i < kobc_protocol_count(); ++i) {
        const kobc_protocol_info& p = *kobc_protocol_at(i);
        const double bound = jitterBound(p.name);
        const long d = p.device_max / 2, f = p.function_max / 3;
        const long s = p.subdevice_max == N ? N : p.subdevice_max / 4;
        const long t = p.toggle_max == N ? N : 1;
        const Encoded e = encode(p.name, d, s, f, t);
        ASSERT_EQ(e.status, KOBC_OK);
        for (int trial = 0; trial < 44; ++trial) {
            // 4 uniform stretches (-bound, -2/3 bound, +2/3, +bound), then
            // each duration on its own anywhere within the bound.
            std::vector<int> heard = e.once;
            for (int& x : heard) {
                const double share = trial < 4
                                         ? bound * (trial < 2 ? -1 : 1) * (trial % 2 ? 1 : 0.66)
                                         : bound * (2 * random() - 1);
                x = static_cast<int>(std::lround(x * (1 + share)));
            }
            EXPECT_TRUE(readsBack(p, d, s, f, t, e, decode(heard)))
                << p.name << " trial " << trial << " within " << bound;
            ++frames;
        }
    }
    std::printf("jitter: %d frames decoded within their bound\n", frames);
}

TEST(ProtocolSweep, EveryCarrierFrom30To60Kilohertz) {
    int frames = 0;
    for (std::size_t i = 0; i < kobc_protocol_count(); ++i) {
        const kobc_protocol_info& p = *kobc_protocol_at(i);
        const long d = p.device_max, f = p.function_max / 2;
        const long s = p.subdevice_max == N ? N : 1;
        const long t = p.toggle_max == N ? N : 0;
        const Encoded e = encode(p.name, d, s, f, t);
        for (long hz = 30000; hz <= 60000; hz += 1000) {
            // Through CCF on that carrier and back: durations in its periods.
            kobc_code code{};
            code.carrier_hz = hz;
            code.once_count = e.once.size();
            std::copy(e.once.begin(), e.once.end(), code.durations);
            char text[1400];
            ASSERT_EQ(kobc_ccf_format(&code, text, sizeof text), KOBC_OK) << p.name;
            kobc_code back;
            ASSERT_EQ(kobc_ccf_parse(text, &back, nullptr, 0), KOBC_OK);
            const std::vector<int> heard(back.durations, back.durations + back.once_count);
            for (long carrier : {hz, 0L}) {
                EXPECT_TRUE(readsBack(p, d, s, f, t, e, decode(heard, carrier)))
                    << p.name << " at " << hz << " Hz, told " << carrier;
                ++frames;
            }
        }
    }
    std::printf("carrier sweep: %d frames decoded\n", frames);
}

std::vector<std::string> names(const std::vector<Reading>& r) {
    std::vector<std::string> out;
    for (const Reading& x : r)
        out.push_back(x.protocol + (x.repeat ? "*" : ""));
    return out;
}

TEST(ProtocolSweep, FramesReadEveryWayTheyMatchBestFirst) {
    struct Case {
        const char* protocol;
        long device, subdevice, function;
        bool held;  // the frames sent while held
        long carrier;
        std::vector<std::string> readings;  // '*': a repeat
    } cases[] = {
        {"NEC1", 4, N, 8, false, 0, {"NEC1"}},
        {"NEC1", 4, 5, 8, false, 0, {"NEC1", "NECext"}},
        {"NEC1-f16", 4, N, 0x1234, false, 0, {"NEC1-f16"}},
        {"NEC1", 4, N, 8, true, 0, {"NEC1*", "NECext*", "NEC1-f16*"}},
        {"Samsung32", 7, N, 2, false, 0, {"Samsung32", "NECx2"}},
        {"Pioneer", 165, N, 3, false, 40000, {"Pioneer", "NEC1"}},
        {"Pioneer", 165, N, 3, false, 0, {"NEC1", "Pioneer"}},
        {"Pioneer", 165, N, 3, false, 38000, {"NEC1"}},
        {"MCE", 4, 15, 8, false, 0, {"MCE", "RC6-6-32"}},
        {"Sony15", 4, N, 8, false, 0, {"Sony15"}},
        {"Sony20", 4, 9, 8, false, 0, {"Sony20"}},
        {"RC5x", 4, 9, 8, false, 0, {"RC5x"}},
        {"JVC", 4, N, 8, true, 0, {"JVC*"}},
        {"Sharp", 4, N, 8, true, 0, {"Sharp*"}},
        {"Denon", 4, N, 8, true, 0, {"Denon*"}},
        {"XMP", 4, 9, 8, true, 0, {"XMP*"}},
        {"Sanyo", 4, N, 8, true, 0, {"Sanyo*"}},
    };
    for (const Case& c : cases) {
        const Encoded e = encode(c.protocol, c.device, c.subdevice, c.function, N);
        const std::vector<int>& frame = c.held ? e.held : e.once;
        EXPECT_EQ(names(decode(frame, c.carrier)), c.readings) << c.protocol << " at " << c.carrier;
    }
    // The inverted second half still reads as the button pressed.
    const std::vector<Reading> sharp = decode(encode("Sharp", 4, N, 8, N).held);
    ASSERT_EQ(sharp.size(), 1u);
    EXPECT_EQ(sharp[0].function, 8);
}

TEST(ProtocolSweep, BrokenFramesReadAsNothing) {
    std::vector<int> nec = encode("NEC1", 4, N, 8, N).once;
    nec.pop_back();  // a received frame has no final space
    ASSERT_EQ(names(decode(nec)), std::vector<std::string>{"NEC1"});
    std::vector<std::vector<int>> broken;
    auto change = [&](std::size_t i, int to) {
        std::vector<int> b = nec;
        b[i] = to;
        broken.push_back(b);
    };
    change(3, -1128);                                                // a bit space between 0 and 1
    change(0, 6000);                                                 // a header too short
    change(2, 1500);                                                 // a bit pulse too long
    broken.push_back(std::vector<int>(nec.begin(), nec.end() - 2));  // a bit short
    broken.push_back({9024});
    broken.push_back({9024, 4512});  // pulse first, signs alternating...
    broken.push_back({-9024, 4512, 564});
    broken.push_back({9024, 4512, 564});  // ...or nothing is read
    for (const auto& b : broken)
        EXPECT_TRUE(decode(b).empty()) << b.size();
    EXPECT_EQ(kobc_decode(nullptr, 4, 0, nullptr, 0), 0u);
    // The count is every match even past the capacity given.
    const std::vector<int> samsung = encode("Samsung32", 7, N, 2, N).once;
    kobc_match one[1];
    EXPECT_EQ(kobc_decode(samsung.data(), samsung.size(), 0, one, 1), 2u);
    EXPECT_STREQ(one[0].protocol, "Samsung32");
}

}  // namespace
