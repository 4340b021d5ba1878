// lircd.conf: the seed files read as the timings lircd sends (compared with
// the protocol encoder's), written remotes read back, and bad files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "code_file.h"
#include "codes/codes_test_support.h"

namespace {

using codes_test::encode;
constexpr long N = KOBC_NONE;

std::string seed(const std::string& file) {
    std::ifstream in(std::string(KOBC_TEST_FILES) + "/" + file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<kobc::Remote> readOk(const std::string& text) {
    std::vector<kobc::Remote> out;
    kobc::FileError error;
    EXPECT_TRUE(kobc::readLirc(text, "remote", out, error)) << error.line << ": " << error.what;
    return out;
}

const kobc::Button* button(const std::vector<kobc::Remote>& remotes, const std::string& remote,
                           const std::string& name) {
    for (const kobc::Remote& r : remotes)
        if (r.name == remote) return r.find(name);
    return nullptr;
}

// Within what a file's rounding of the protocol's durations gives.
bool nearly(const std::vector<int>& got, const std::vector<int>& want) {
    if (got.size() != want.size()) return false;
    for (std::size_t i = 0; i < got.size(); ++i)
        if ((got[i] > 0) != (want[i] > 0) ||
            std::abs(got[i] - want[i]) > 30 + std::abs(want[i]) / 100)
            return false;
    return true;
}

// The once sequence of a code written as raw_codes: the remote's one gap
// is the longest of its buttons', so a gap may only grow.
bool sameFrame(const kobc_code& got, const kobc_code& want) {
    const std::vector<int> g(got.durations, got.durations + got.once_count);
    const std::vector<int> w(want.durations, want.durations + want.once_count);
    if (g.empty() || w.empty()) return false;
    return nearly({g.begin(), g.end() - 1}, {w.begin(), w.end() - 1}) &&
           g.back() <= w.back() + 30 - w.back() / 100;
}

std::vector<int> once(const kobc::Button& b) {
    return {b.durations.begin(), b.durations.begin() + static_cast<long>(b.onceCount)};
}
std::vector<int> held(const kobc::Button& b) {
    return {b.durations.begin() + static_cast<long>(b.onceCount), b.durations.end()};
}

// Buttons a seed file gives as protocol codes: their timings decode as the
// protocol and encode back to the file's own.
struct ProtocolRow {
    const char *file, *remote, *button, *protocol;
    long device, subdevice, function, toggle;
};

TEST(LircRead, SeedButtonsAreTheirProtocolCodes) {
    const ProtocolRow rows[] = {
        {"lirc_nec.conf", "tv_nec", "KEY_POWER", "NEC1", 4, 251, 8, N},
        {"lirc_nec.conf", "tv_nec", "KEY_VOLUMEUP", "NEC1", 4, 251, 2, N},
        {"lirc_rc5.conf", "rc5_tv", "KEY_1", "RC5", 5, N, 12, 0},
        {"lirc_rc5.conf", "rc5_tv", "KEY_1T", "RC5", 5, N, 12, 1},
        {"lirc_rc6.conf", "rc6_box", "KEY_OK", "RC6", 4, N, 12, 0},
        {"lirc_shift.conf", "old_rc5", "KEY_PLAY", "RC5", 20, N, 33, 1},
        {"lirc_sony.conf", "sony_amp", "KEY_VOLUMEUP", "Sony12", 1, N, 21, N},
    };
    for (const ProtocolRow& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.button);
        const auto remotes = readOk(seed(row.file));
        const kobc::Button* b = button(remotes, row.remote, row.button);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->kind, KOBC_BUTTON_PROTOCOL);
        EXPECT_EQ(b->protocol, row.protocol);
        EXPECT_EQ(b->device, row.device);
        EXPECT_EQ(b->subdevice, row.subdevice);
        EXPECT_EQ(b->function, row.function);
        EXPECT_EQ(b->toggle, row.toggle);
    }
}

// Buttons kept raw (their repeats are not the protocol's): the first frame
// is the encoder's, the repeat what the file says.
struct RawRow {
    const char *file, *remote, *button, *protocol;
    long device, function;
    bool repeatIsFrame;  // held: the whole frame again (else NEC's repeat pair)
    int gap;             // the file's gap after a repeat pair
};

TEST(LircRead, RawButtonsAreTheEncodersFrames) {
    const RawRow rows[] = {
        {"lirc_reverse.conf", "nec_reversed", "KEY_MENU", "NEC1", 4, 16, true, 0},
        {"lirc_two.conf", "first", "KEY_A", "NEC1", 4, 8, false, 40000},
    };
    for (const RawRow& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.button);
        const auto remotes = readOk(seed(row.file));
        const kobc::Button* b = button(remotes, row.remote, row.button);
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->kind, KOBC_BUTTON_RAW);
        const auto e = encode(row.protocol, row.device, N, row.function, N);
        EXPECT_TRUE(nearly(once(*b), e.once));
        const std::vector<int> repeat =
            row.repeatIsFrame ? e.once : std::vector<int>{9000, -2250, 560, -row.gap};
        EXPECT_TRUE(nearly(held(*b), repeat));
        EXPECT_EQ(b->carrierHz, 38000);
    }
}

TEST(LircRead, RawCodesAreSentAsWrittenWithTheGap) {
    const auto remotes = readOk(seed("lirc_raw.conf"));
    ASSERT_EQ(remotes.size(), 1u);
    const kobc::Button* power = button(remotes, "learned", "KEY_POWER");
    const kobc::Button* mute = button(remotes, "learned", "KEY_MUTE");
    ASSERT_TRUE(power && mute);
    const std::vector<int> frame{2400, -600, 1200, -600, 600,  -600, 1200,
                                 -600, 600,  -600, 1200, -600, 600,  -40000};
    EXPECT_EQ(once(*power), frame);
    EXPECT_EQ(held(*power), frame);
    EXPECT_EQ(once(*mute), (std::vector<int>{3000, -1000, 500, -1000, 500, -42000}));
    EXPECT_EQ(power->carrierHz, 36000);
    EXPECT_EQ(power->dutyPercent, 33);
    const auto two = readOk(seed("lirc_two.conf"));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].name, "second");
    EXPECT_EQ(once(*two[1].find("KEY_B")), (std::vector<int>{1000, -500, 1000, -30000}));
}

// Remotes written and read back: the text lircd gets, and the same
// timings once read again.
struct WriteRow {
    const char* what;
    std::vector<kobc::Button> buttons;
    const char* written;  // a line the text holds
    bool backAsWritten;   // read back as the same protocol codes
};

kobc::Button code(const char* name, const char* protocol, long d, long s, long f, long t = N) {
    kobc::Button b;
    b.name = name;
    b.kind = KOBC_BUTTON_PROTOCOL;
    b.protocol = protocol;
    b.device = d;
    b.subdevice = s;
    b.function = f;
    b.toggle = t;
    return b;
}

kobc::Button raw(const char* name, std::vector<int> durations, long carrier) {
    kobc::Button b;
    b.name = name;
    b.carrierHz = carrier;
    b.onceCount = durations.size();
    b.durations = durations;
    return b;
}

TEST(LircWrite, RemotesReadBackWithTheirTimings) {
    const WriteRow rows[] = {
        {"NEC1, one device",
         {code("KEY_1", "NEC1", 4, N, 8), code("KEY_2", "NEC1", 4, N, 2)},
         "pre_data 0x20DF",
         true},
        {"NECext, two devices",
         {code("A", "NECext", 0x1234, N, 1), code("B", "NECext", 0x4321, N, 2)},
         "repeat 9024 2256",
         false},  // read back as NEC1 with the subdevice: the same frames
        {"RC5 with its toggle", {code("K", "RC5", 5, N, 12, 1)}, "toggle_bit_mask 0x800", true},
        {"RC6", {code("K", "RC6", 4, N, 12, 0)}, "flags RC6|CONST_LENGTH", true},
        {"Sony12 three times", {code("K", "Sony12", 1, N, 21)}, "min_repeat 2", true},
        {"JVC: repeats without header", {code("K", "JVC", 3, N, 9)}, "flags RAW_CODES", false},
        {"protocol and raw",
         {code("K", "NEC1", 1, N, 2), raw("R", {900, -450, 900, -9000}, 38000)},
         "flags RAW_CODES",
         false},
        {"learned, no carrier",
         {raw("R", {900, -450, 900, -450, 900, -20000}, 0)},
         "gap 20000",
         false},
    };
    for (const WriteRow& row : rows) {
        SCOPED_TRACE(row.what);
        kobc::Remote remote;
        remote.name = "r";
        remote.buttons = row.buttons;
        std::string text;
        kobc::FileError error;
        ASSERT_TRUE(kobc::writeLirc({&remote}, text, error)) << error.what;
        EXPECT_NE(text.find(row.written), std::string::npos) << text;
        EXPECT_TRUE(kobc::looksLikeLirc(text));
        const auto back = readOk(text);
        ASSERT_EQ(back.size(), 1u);
        ASSERT_EQ(back[0].buttons.size(), row.buttons.size());
        for (std::size_t i = 0; i < row.buttons.size(); ++i) {
            const kobc::Button& want = row.buttons[i];
            const kobc::Button& got = back[0].buttons[i];
            EXPECT_EQ(got.name, want.name);
            kobc_code a, b;
            ASSERT_EQ(kobc::buttonCode(want, a, nullptr, 0), KOBC_OK);
            ASSERT_EQ(kobc::buttonCode(got, b, nullptr, 0), KOBC_OK);
            EXPECT_TRUE(sameFrame(b, a)) << text;
            if (row.backAsWritten) {
                EXPECT_EQ(got.protocol, want.protocol);
                EXPECT_EQ(got.function, want.function);
                EXPECT_EQ(got.toggle, want.toggle == N ? got.toggle : want.toggle);
            }
        }
    }
}

// Every protocol, written alone: lircd sends its first frame as the encoder does.
TEST(LircWrite, EveryProtocolsFirstFrameSurvives) {
    for (std::size_t i = 0; i < kobc_protocol_count(); ++i) {
        const kobc_protocol_info* p = kobc_protocol_at(i);
        SCOPED_TRACE(p->name);
        kobc::Remote remote;
        remote.name = "all";
        remote.buttons = {code("K", p->name, p->device_max / 3, N, p->function_max / 5,
                               p->toggle_max == N ? N : 1)};
        std::string text;
        kobc::FileError error;
        ASSERT_TRUE(kobc::writeLirc({&remote}, text, error)) << error.what;
        const auto back = readOk(text);
        ASSERT_EQ(back.size(), 1u);
        kobc_code a, b;
        ASSERT_EQ(kobc::buttonCode(remote.buttons[0], a, nullptr, 0), KOBC_OK);
        ASSERT_EQ(kobc::buttonCode(back[0].buttons.at(0), b, nullptr, 0), KOBC_OK);
        EXPECT_TRUE(sameFrame(b, a)) << text;
    }
}

TEST(LircWrite, SeveralRemotesAndNamesLircCannotHold) {
    kobc::Remote a, b, spaced;
    a.name = "a";
    a.buttons = {code("K", "NEC1", 1, N, 1)};
    b.name = "b";
    b.buttons = {code("K", "RC5", 1, N, 1)};
    spaced.name = "c";
    spaced.buttons = {code("Vol Up", "NEC1", 1, N, 1)};
    std::string text;
    kobc::FileError error;
    ASSERT_TRUE(kobc::writeLirc({&a, &b}, text, error));
    const auto back = readOk(text);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].name, "b");
    EXPECT_FALSE(kobc::writeLirc({&spaced}, text, error));
    EXPECT_EQ(error.error, KOBC_E_UNSUPPORTED);
    EXPECT_NE(error.what.find("Vol Up"), std::string::npos);
}

struct BadRow {
    std::string text;
    int error;
    std::size_t line;
    const char* says;
};

TEST(LircRead, BadFilesSayWhereAndWhat) {
    const std::string head = "begin remote\nname r\nflags SPACE_ENC\none 500 1500\nzero 500 500\n";
    const std::string gap = "gap 40000\n";
    const std::string codes = "begin codes\nK 0x1\nend codes\nend remote\n";
    std::string many;
    for (int i = 0; i < 1100; ++i)
        many += "100 ";
    const BadRow rows[] = {
        {"", KOBC_E_FILE, 0, "no remote"},
        {"name r\n", KOBC_E_FILE, 1, "expected begin remote"},
        {"include \"other.conf\"\n", KOBC_E_UNSUPPORTED, 1, "include"},
        {"begin remote\nname r\n", KOBC_E_FILE, 2, "ends inside a remote"},
        {"begin remote\nflags SPACE_ENC|XMP\n", KOBC_E_UNSUPPORTED, 2, "flag xmp"},
        {"begin remote\nflags SPACE_ENC|WOBBLE\n", KOBC_E_FILE, 2, "unknown flag"},
        {"begin remote\ncolour red\n", KOBC_E_FILE, 2, "unknown parameter"},
        {"begin remote\nrepeat_mask 0x1\n", KOBC_E_UNSUPPORTED, 2, "repeat_mask"},
        {"begin remote\nbits 65\n", KOBC_E_FILE, 2, "above 64"},
        {"begin remote\ngap 0x1G\n", KOBC_E_FILE, 2, "not a number"},
        {"begin remote\npre_data 99999999999999999999999\n", KOBC_E_FILE, 2, "not a number"},
        {"begin remote\nheader 9000\n", KOBC_E_FILE, 2, "needs a value"},
        {"begin remote\nheader 9000 2000001\n", KOBC_E_FILE, 2, "above 2000000"},
        {head + "bits 40\npre_data_bits 32\n" + gap + codes, KOBC_E_FILE, 1, "more than 64"},
        {head + "bits 4\n" + gap + "begin codes\nK 0x10\nend codes\nend remote\n", KOBC_E_FILE, 9,
         "does not fit 4 bits"},
        {head + "bits 4\n" + codes, KOBC_E_FILE, 1, "no gap"},
        {head + "bits 4\n" + gap + "begin codes\nK 0x1 0x2\n", KOBC_E_UNSUPPORTED, 9,
         "several codes"},
        {head + "bits 4\n" + gap + "begin codes\nK 0x1\nend remote\n", KOBC_E_FILE, 10,
         "expected end codes"},
        {"begin remote\nname r\ngap 1000\nbegin raw_codes\n100 200\n", KOBC_E_FILE, 5,
         "before the first name"},
        {"begin remote\nname r\ngap 1000\nbegin raw_codes\nname K\n100 0 100\n", KOBC_E_FILE, 6,
         "duration of 0"},
        {"begin remote\nname r\ngap 1000\nbegin raw_codes\nname K\n" + many, KOBC_E_FILE, 6,
         "more than 1024 durations"},
        // 8 frames of 130 durations sent once.
        {"begin remote\nname r\nbits 64\none 500 500\nzero 500 900\nptrail 500\ngap 9000\n"
         "min_repeat 7\nbegin codes\nK 0x1\nend codes\nend remote\n",
         KOBC_E_UNSUPPORTED, 10, "longer than 1024 durations"},
        {"begin remote\nname r\nend remote\nbegin remote\nname r\nend remote\n", KOBC_E_FILE, 0,
         "two remotes named"},
        {"begin remote\nname r\x01\nend remote\n", KOBC_E_FILE, 2, "binary data"},
    };
    for (const BadRow& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 80));
        std::vector<kobc::Remote> out;
        kobc::FileError error;
        EXPECT_FALSE(kobc::readLirc(row.text, "remote", out, error));
        EXPECT_EQ(error.error, row.error);
        EXPECT_EQ(error.line, row.line);
        EXPECT_NE(error.what.find(row.says), std::string::npos) << error.what;
        EXPECT_TRUE(out.empty());
    }
}

TEST(LircRead, ALongButtonIsKeptAsSentOnce) {
    // 7 frames of 130 durations once: no room for the held frame as well.
    const auto remotes = readOk(
        "begin remote\nname r\nbits 64\none 500 500\nzero 500 900\nptrail 500\ngap 9000\n"
        "min_repeat 6\nbegin codes\nK 0x1\nend codes\nend remote\n");
    ASSERT_EQ(remotes.size(), 1u);
    EXPECT_EQ(remotes[0].buttons.at(0).onceCount, 7u * 130);
    EXPECT_EQ(remotes[0].buttons.at(0).durations.size(), 7u * 130);
}

TEST(LircRead, LooksLikeLirc) {
    EXPECT_TRUE(kobc::looksLikeLirc(seed("lirc_sony.conf")));
    EXPECT_TRUE(kobc::looksLikeLirc("# x\n  begin   remote\n"));
    EXPECT_FALSE(kobc::looksLikeLirc("# begin remote\nFiletype: IR signals file\n"));
    EXPECT_FALSE(kobc::looksLikeLirc(std::string_view("begin rem", 9)));
}

}  // namespace
