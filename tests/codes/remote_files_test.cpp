// Remotes and their code files: the C interface's edits, every format's
// round trip over the seed files in files/, what the Flipper names mean on
// the air, and bad files refused with the line named.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "koblib_codes.h"

namespace {

struct Remotes {
    kobc_remotes* r = kobc_remotes_new();
    ~Remotes() { kobc_remotes_free(r); }
};

std::string seed(const std::string& name) {
    std::ifstream in(std::string(KOBC_TEST_FILES) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int readText(kobc_remotes* r, int format, const std::string& text, const char* fileName,
             std::string* message = nullptr) {
    char m[256] = "x";
    const int status =
        kobc_remotes_read(r, format, text.data(), text.size(), fileName, m, sizeof m);
    if (message != nullptr) *message = m;
    return status;
}

std::string writeText(const kobc_remotes* r, long remote, int format, int& status,
                      std::string* message = nullptr) {
    std::size_t needed = 0;
    char m[256] = "";
    status = kobc_remotes_write(r, remote, format, nullptr, 0, &needed, m, sizeof m);
    if (message != nullptr) *message = m;
    if (status != KOBC_E_SPACE) return "";
    std::vector<char> text(needed);
    status = kobc_remotes_write(r, remote, format, text.data(), text.size(), &needed, m, sizeof m);
    if (message != nullptr) *message = m;
    return status == KOBC_OK ? std::string(text.data()) : "";
}

// A button as plain values, and the timings it sends.
struct View {
    std::string name, protocol;
    int kind;
    long d, s, f, t;
    long carrier;
    std::vector<int> once, repeat;
    int duty;
    bool operator==(const View& o) const {
        return name == o.name && protocol == o.protocol && kind == o.kind && d == o.d && s == o.s &&
               f == o.f && t == o.t && carrier == o.carrier && once == o.once &&
               repeat == o.repeat && duty == o.duty;
    }
};

std::ostream& operator<<(std::ostream& os, const View& v) {
    return os << v.name << " " << v.protocol << " " << v.d << "/" << v.s << "/" << v.f << "/" << v.t
              << " " << v.carrier << "Hz " << v.once.size() << "+" << v.repeat.size();
}

View view(const kobc_remotes* r, std::size_t remote, std::size_t button) {
    kobc_button b;
    EXPECT_EQ(kobc_remote_button(r, remote, button, &b), KOBC_OK);
    View v{b.name,
           b.protocol ? b.protocol : "",
           b.kind,
           b.device,
           b.subdevice,
           b.function,
           b.toggle,
           0,
           {},
           {},
           b.duty_percent};
    static kobc_code code;
    char m[160];
    EXPECT_EQ(kobc_button_code(&b, &code, m, sizeof m), KOBC_OK) << m;
    v.carrier = code.carrier_hz;
    v.once.assign(code.durations, code.durations + code.once_count);
    v.repeat.assign(code.durations + code.once_count,
                    code.durations + code.once_count + code.repeat_count);
    return v;
}

std::vector<View> views(const kobc_remotes* r) {
    std::vector<View> out;
    for (std::size_t i = 0; i < kobc_remotes_count(r); ++i)
        for (std::size_t k = 0; k < kobc_remote_button_count(r, i); ++k)
            out.push_back(view(r, i, k));
    return out;
}

// The bytes a pulse-distance frame (after its two-duration header) sends,
// least significant bit first; a space longer than threshold is a 1.
std::vector<unsigned> distanceBytes(const std::vector<int>& d, int threshold) {
    std::vector<unsigned> bytes;
    for (std::size_t i = 3, bit = 0; i + 1 < d.size() && -d[i + 1] < 3 * threshold; i += 2, ++bit) {
        if (bit % 8 == 0) bytes.push_back(0);
        if (-d[i] > threshold) bytes.back() |= 1u << (bit % 8);
    }
    return bytes;
}

TEST(RemoteFiles, EveryFormatReadsWritesAndReadsTheSameCodes) {
    struct Case {
        const char* file;
        int format;
        std::size_t buttons;
    } cases[] = {
        {"living_room_tv.ir", KOBC_FORMAT_FLIPPER, 8},
        {"soundbar.ir", KOBC_FORMAT_FLIPPER, 7},
        {"Sony_TV_1,-1.csv", KOBC_FORMAT_IRDB, 7},
        {"tv.pronto", KOBC_FORMAT_PRONTO, 3},
        {"fan.broadlink", KOBC_FORMAT_BROADLINK, 3},
        {"amp.sendir", KOBC_FORMAT_GC, 3},
        {"tv.json", KOBC_FORMAT_JSON, 5},
        {"ha_capture.json", KOBC_FORMAT_JSON, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string text = seed(c.file);
        ASSERT_FALSE(text.empty());
        Remotes first, second;
        std::string message;
        EXPECT_EQ(kobc_format_guess(c.file, nullptr, 0), c.format);
        EXPECT_EQ(kobc_format_guess(nullptr, text.data(), text.size()), c.format);
        ASSERT_EQ(readText(first.r, KOBC_FORMAT_GUESS, text, c.file, &message), KOBC_OK) << message;
        const std::vector<View> read = views(first.r);
        EXPECT_EQ(read.size(), c.buttons);
        int status = 0;
        const std::string written = writeText(first.r, -1, c.format, status, &message);
        ASSERT_EQ(status, KOBC_OK) << message;
        ASSERT_EQ(readText(second.r, c.format, written, c.file, &message), KOBC_OK)
            << message << "\n"
            << written;
        EXPECT_EQ(views(second.r), read) << written;
        EXPECT_EQ(writeText(second.r, -1, c.format, status), written);
        EXPECT_STREQ(kobc_remote_name(first.r, 0), kobc_remote_name(second.r, 0));
    }
}

TEST(RemoteFiles, FlipperNamesReadAsTheProtocolsTheySend) {
    Remotes tv, bar;
    ASSERT_EQ(readText(tv.r, KOBC_FORMAT_GUESS, seed("living_room_tv.ir"), "/x/living_room_tv.ir"),
              KOBC_OK);
    ASSERT_EQ(readText(bar.r, KOBC_FORMAT_GUESS, seed("soundbar.ir"), "soundbar.ir"), KOBC_OK);
    EXPECT_STREQ(kobc_remote_name(tv.r, 0), "living_room_tv");
    EXPECT_STREQ(kobc_remote_field(tv.r, 0, "brand"), "Samsung");
    EXPECT_STREQ(kobc_remote_field(tv.r, 0, "model"), "UE40");
    EXPECT_EQ(kobc_remote_field(tv.r, 0, "notes"), nullptr);
    const long N = KOBC_NONE;
    struct Case {
        const kobc_remotes* r;
        const char* button;
        const char* protocol;
        long d, s, f;
    } cases[] = {
        {tv.r, "Power", "Samsung32", 7, N, 2},
        {tv.r, "Vol_up", "NEC1", 4, N, 2},
        {tv.r, "Vol_dn", "NEC1-f16", 0xEE, 0x87, 0xA05D},
        {tv.r, "Input", "NECext", 0x7F00, N, 0x15},
        {tv.r, "Ch_next", "RC5", 0, N, 0x20},
        {tv.r, "Ch_prev", "RC5", 5, N, 67},
        {tv.r, "Menu", "RC6", 0, N, 0x54},
        {bar.r, "POWER", "Sony12", 16, N, 21},
        {bar.r, "VOL+", "Sony15", 0xA4, N, 0x12},
        {bar.r, "VOL-", "Sony20", 0x1A, 0x39, 0x13},
        {bar.r, "SOURCE", "Panasonic", 0x80, 0xD0, 3},
        {bar.r, "BASS", "Sanyo", 0x1C, N, 0x48},
        {bar.r, "EQ", "Pioneer", 0xA5, N, 0x1C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        const long at = kobc_remote_find_button(c.r, 0, c.button);
        ASSERT_GE(at, 0);
        const View v = view(c.r, 0, static_cast<std::size_t>(at));
        EXPECT_EQ(v.protocol, c.protocol);
        EXPECT_EQ(v.d, c.d);
        EXPECT_EQ(v.s, c.s);
        EXPECT_EQ(v.f, c.f);
    }
    // The bytes on the air are the file's, in its order.
    const View ext =
        view(tv.r, 0, static_cast<std::size_t>(kobc_remote_find_button(tv.r, 0, "Vol_dn")));
    EXPECT_EQ(distanceBytes(ext.once, 1100), (std::vector<unsigned>{0xEE, 0x87, 0x5D, 0xA0}));
    const View kaseikyo =
        view(bar.r, 0, static_cast<std::size_t>(kobc_remote_find_button(bar.r, 0, "SOURCE")));
    EXPECT_EQ(distanceBytes(kaseikyo.once, 860),
              (std::vector<unsigned>{0x02, 0x20, 0x80, 0xD0, 0x03, 0x80 ^ 0xD0 ^ 0x03}));
    // The raw signal, a capture ending on a pulse, gets its final space;
    // the second POWER its number.
    const View mute = view(tv.r, 0, 7);
    EXPECT_EQ(mute.kind, KOBC_BUTTON_RAW);
    EXPECT_EQ(mute.carrier, 38000);
    EXPECT_EQ(mute.duty, 33);
    ASSERT_EQ(mute.once.size(), 68u);
    EXPECT_EQ(mute.once.back(), -100000);
    EXPECT_GE(kobc_remote_find_button(bar.r, 0, "POWER 2"), 0);
}

// Codes a Flipper has no name for travel as raw data, and come back whole.
TEST(RemoteFiles, FlipperKeepsWhatItHasNoNameFor) {
    Remotes r;
    std::size_t at = 0;
    ASSERT_EQ(kobc_remotes_add(r.r, "amp", &at, nullptr, 0), KOBC_OK);
    kobc_button jvc{"JVC", KOBC_BUTTON_PROTOCOL, "jvc", 3, KOBC_NONE, 9, KOBC_NONE, nullptr, 0};
    kobc_button rc5t{"RC5 toggled", KOBC_BUTTON_PROTOCOL, "RC5", 3, KOBC_NONE, 9, 1, nullptr, 0};
    static kobc_code code;
    code = kobc_code{};
    code.carrier_hz = 40000;
    code.once_count = 2;
    code.repeat_count = 4;
    const int d[] = {2400, -600, 1200, -600, 600, -30000};
    std::memcpy(code.durations, d, sizeof d);
    kobc_button raw{"Held", KOBC_BUTTON_RAW, nullptr, 0, 0, 0, 0, &code, 50};
    for (const kobc_button* b : {&jvc, &rc5t, &raw})
        ASSERT_EQ(kobc_remote_put_button(r.r, at, b, 0, nullptr, 0), KOBC_OK) << b->name;
    int status = 0;
    const std::string text = writeText(r.r, 0, KOBC_FORMAT_FLIPPER, status);
    ASSERT_EQ(status, KOBC_OK);
    EXPECT_NE(text.find("# code: JVC 3 -1 9 -1\nname: JVC\ntype: raw"), std::string::npos) << text;
    EXPECT_NE(text.find("# repeat from: 2\nname: Held"), std::string::npos) << text;
    Remotes back;
    ASSERT_EQ(readText(back.r, KOBC_FORMAT_FLIPPER, text, "amp.ir"), KOBC_OK);
    EXPECT_EQ(views(back.r), views(r.r));
    // A stale comment (data edited) leaves the raw signal as it is.
    std::string edited = text;
    edited.replace(edited.find("data: 8"), 7, "data: 9");
    Remotes stale;
    ASSERT_EQ(readText(stale.r, KOBC_FORMAT_FLIPPER, edited, "amp.ir"), KOBC_OK);
    EXPECT_EQ(view(stale.r, 0, 0).kind, KOBC_BUTTON_RAW);
    // An unmodulated code has no Flipper form: refused, naming it.
    code.carrier_hz = 0;
    raw.name = "Wired";
    ASSERT_EQ(kobc_remote_put_button(r.r, at, &raw, 0, nullptr, 0), KOBC_OK);
    std::string message;
    writeText(r.r, 0, KOBC_FORMAT_FLIPPER, status, &message);
    EXPECT_EQ(status, KOBC_E_UNSUPPORTED);
    EXPECT_NE(message.find("\"Wired\""), std::string::npos) << message;
}

TEST(RemoteFiles, BadFilesAreRefusedNamingTheLine) {
    const std::string head = "Filetype: IR signals file\nVersion: 1\n";
    const std::string nec = head + "name: A\ntype: parsed\nprotocol: NEC\n";
    const std::string raw = head + "name: A\ntype: raw\nfrequency: 38000\nduty_cycle: 0.33\n";
    struct Case {
        int format;
        std::string text;
        int error;
        const char* says;
    } cases[] = {
        {KOBC_FORMAT_FLIPPER, "Filetype: IR signals file\n", KOBC_E_FILE, "bad:1: the file ends"},
        {KOBC_FORMAT_FLIPPER, "Filetype: IR signals\nVersion: 1\n", KOBC_E_FILE, "bad:1:"},
        {KOBC_FORMAT_FLIPPER, "Filetype: IR signals file\nVersion: 2\n", KOBC_E_UNSUPPORTED,
         "bad:2:"},
        {KOBC_FORMAT_FLIPPER, nec + "address: 04 00 00 00\n", KOBC_E_FILE,
         "bad:3: signal \"A\" has no \"command:\""},
        {KOBC_FORMAT_FLIPPER, nec + "address: 4\ncommand: 08 00 00 00\n", KOBC_E_FILE,
         "bad:6: the address is not"},
        {KOBC_FORMAT_FLIPPER, nec + "address: 04 01 00 00\ncommand: 08 00 00 00\n", KOBC_E_FILE,
         "bad:5: address 260"},
        {KOBC_FORMAT_FLIPPER, head + "name: A\ntype: pulse\n", KOBC_E_FILE, "bad:4: type"},
        {KOBC_FORMAT_FLIPPER,
         head + "name: A\ntype: parsed\nprotocol: Foo\naddress: 00 00 00 "
                "00\ncommand: 00 00 00 00\n",
         KOBC_E_FILE, "bad:5: unknown Flipper protocol"},
        {KOBC_FORMAT_FLIPPER, raw + "data: 9000 4294967296\n", KOBC_E_FILE, "bad:7: timing 2"},
        {KOBC_FORMAT_FLIPPER, raw + "data: 9000 -4500\n", KOBC_E_FILE, "bad:7: timing 2"},
        {KOBC_FORMAT_FLIPPER, raw + "data:\n", KOBC_E_FILE, "bad:7: the data holds 0"},
        {KOBC_FORMAT_FLIPPER,
         head + "name: A\ntype: raw\nfrequency: 99999999999999\nduty_cycle: 0.33\ndata: 1\n",
         KOBC_E_FILE, "bad:5: the frequency"},
        {KOBC_FORMAT_FLIPPER,
         head + "name: A\ntype: raw\nfrequency: 8000\nduty_cycle: 0.33\ndata: 1\n", KOBC_E_FILE,
         "bad:3: button \"A\": carrier 8000"},
        {KOBC_FORMAT_FLIPPER, raw.substr(0, raw.size() - 5) + "1.5\ndata: 1\n", KOBC_E_FILE,
         "bad:6: the duty"},
        {KOBC_FORMAT_FLIPPER, head + "\x01\x02\x03", KOBC_E_FILE, "bad:3: binary"},
        {KOBC_FORMAT_FLIPPER, head + "type: raw\n", KOBC_E_FILE, "bad:3: \"type:\" before"},
        {KOBC_FORMAT_FLIPPER, head + "name: A\ntype: raw\ntype: raw\n", KOBC_E_FILE,
         "bad:5: signal \"A\" has two"},
        {KOBC_FORMAT_FLIPPER,
         head + "name: \ntype: parsed\nprotocol: NEC\naddress: 00 00 00 "
                "00\ncommand: 00 00 00 00\n",
         KOBC_E_FILE, "bad:3: button \"\": a name may not be empty"},
        {KOBC_FORMAT_FLIPPER,
         head + "name: A\ntype: parsed\nprotocol: RCA\naddress: 00 00 00 "
                "00\ncommand: 00 00 00 00\n",
         KOBC_E_UNSUPPORTED, "bad:5: RCA"},
        {KOBC_FORMAT_IRDB, "functionname,protocol,device,subdevice,function\nPOWER,Sony12,1,-1\n",
         KOBC_E_FILE, "bad:2: a row has fewer than 5"},
        {KOBC_FORMAT_IRDB, "POWER,Sony12,x,-1,21\n", KOBC_E_FILE, "bad:1: device \"x\""},
        {KOBC_FORMAT_IRDB, "\nA,Sony12,1,-1,21\nB,Sony12,1,-1,99999999999999\n", KOBC_E_FILE,
         "bad:3: function"},
        {KOBC_FORMAT_IRDB, "A,Tivo unit=0,1,-1,21\n", KOBC_E_UNSUPPORTED, "bad:1: protocol"},
        {KOBC_FORMAT_IRDB, "A,Sony12,99,-1,21\n", KOBC_E_FILE, "bad:1: button \"A\": device 99"},
        {KOBC_FORMAT_IRDB, "A,Sony12,1,-1,21\n\x7F\x01\x02", KOBC_E_FILE, "bad:2: binary"},
        {KOBC_FORMAT_PRONTO, "POWER: 0000 006D 0001\n", KOBC_E_FILE, "bad:1: a code starts"},
        {KOBC_FORMAT_PRONTO, "A: 0000 006D 0001 0000 0010 0020\nB: 0000 006D 0022 0002 0156\n",
         KOBC_E_FILE, "bad:2: the header says 36 pairs"},
        {KOBC_FORMAT_PRONTO, "A: 0000 006D 0001 0000 0010 00200\n", KOBC_E_FILE,
         "bad:1: word \"00200\""},
        {KOBC_FORMAT_PRONTO, "900A 006C 0000 0001 0401 0C00\n", KOBC_E_FILE, "bad:1: the NEC1"},
        {KOBC_FORMAT_PRONTO, "5000 0073 0000 0002 0001 0002\n", KOBC_E_FILE, "bad:1: a RC5 short"},
        {KOBC_FORMAT_PRONTO, "A: 0000 006D 0001 0000 0010 0020\nB 0000\n", KOBC_E_FILE,
         "bad:2: a line that is not"},
        {KOBC_FORMAT_BROADLINK, "A: JgAEAA==\n", KOBC_E_FILE, "bad:1: the packet says 4 bytes"},
        {KOBC_FORMAT_BROADLINK, "A: JgAAAA==\nB: Jg!A\n", KOBC_E_FILE,
         "bad:1: the packet holds no"},
        {KOBC_FORMAT_BROADLINK, "A: Jg!A\n", KOBC_E_FILE, "bad:1: the code is not base64"},
        {KOBC_FORMAT_BROADLINK, "A: sgAAAA==\n", KOBC_E_UNSUPPORTED, "bad:1: an RF packet"},
        {KOBC_FORMAT_BROADLINK, "\nA: JgACAAAB\n", KOBC_E_FILE, "bad:2: the packet ends inside"},
        {KOBC_FORMAT_GC, "A: sendir,1:1,1,38000,1,2,10,10\n", KOBC_E_FILE, "bad:1: offset"},
        {KOBC_FORMAT_GC, "A: sendir,1:1,1,1000,1,1,10,10\n", KOBC_E_FILE, "bad:1: frequency"},
        {KOBC_FORMAT_GC, "A: sendir,1:1,1,38000,1,1,10,10,10\n", KOBC_E_FILE, "whole pairs"},
        {KOBC_FORMAT_GC, "A: sendir,1:1,1,38000,1,1,10,99999999\n", KOBC_E_FILE,
         "bad:1: on/off time 2"},
        {KOBC_FORMAT_GC, "A: sendir,1:1,1,38000,1,1,10,10,A,B\n", KOBC_E_FILE, "letter B"},
        {KOBC_FORMAT_GC, "A: sendir,1:1,1,38000,1,9,10,10\n", KOBC_E_FILE, "past the 2"},
        {KOBC_FORMAT_GC, "A: sendir,1:1\n", KOBC_E_FILE, "bad:1: not \"sendir"},
        {KOBC_FORMAT_JSON, "{\"timings\":\n [9000, -4500", KOBC_E_FILE, "bad:2: not JSON"},
        {KOBC_FORMAT_JSON, "{\"timings\": \"abc\"}", KOBC_E_FILE, "is not a list"},
        {KOBC_FORMAT_JSON, "{\"timings\": [9000, 4500]}", KOBC_E_FILE, "do not alternate"},
        {KOBC_FORMAT_JSON, "{\"timings\": [1e3]}", KOBC_E_FILE, "not a whole number"},
        {KOBC_FORMAT_JSON, "{\"timings\": [99999999999999999999]}", KOBC_E_FILE, "not a whole"},
        {KOBC_FORMAT_JSON, "{\"timings\": [18446744073709551615]}", KOBC_E_FILE, "not a whole"},
        {KOBC_FORMAT_JSON, "{\"timings\": [9000], \"modulation\": 18446744073709551615}",
         KOBC_E_FILE, "\"modulation\" is not a whole number"},
        {KOBC_FORMAT_JSON,
         "{\"name\": \"tv\",\n \"buttons\": {\n \"A\": {\"protocol\": \"NEC1\"}}}", KOBC_E_FILE,
         "bad:3: button \"A\" has no \"device\""},
        {KOBC_FORMAT_JSON, "{\"name\": \"tv\", \"buttons\": []}", KOBC_E_FILE, "no \"buttons\""},
        {KOBC_FORMAT_JSON, "[]", KOBC_E_FILE, "bad:1: the list holds no remote"},
        {KOBC_FORMAT_JSON, "{\"name\": \"a/b\", \"buttons\": {}}", KOBC_E_FILE, "bad: remote"},
        {KOBC_FORMAT_JSON,
         "[{\"name\": \"a\", \"buttons\": {}}, {\"name\": \"a\", \"buttons\": {}}]", KOBC_E_FILE,
         "two remotes named"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Remotes r;
        std::string message;
        EXPECT_EQ(readText(r.r, c.format, c.text, "bad", &message), c.error);
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(kobc_remotes_count(r.r), 0u);
    }
}

TEST(RemoteFiles, ReadersTakeEachFormatsOwnForms) {
    const long N = KOBC_NONE;
    struct Case {
        int format;
        const char* text;
        const char* button;
        const char* protocol;  // "" for raw
        long d, s, f;
        std::size_t once = 0, repeat = 0;  // raw: durations
        long carrier = 0;
    } cases[] = {
        // irdb as found: tabs, no header, "function" for "functionname".
        {KOBC_FORMAT_IRDB,
         "functionname\tprotocol\tdevice\tsubdevice\tfunction\nOK\tRC5\t0\t-1\t5\n", "OK", "RC5", 0,
         N, 5},
        {KOBC_FORMAT_IRDB, "function,protocol,device,subdevice,function\nOK,nec1,4,-1,5\n", "OK",
         "NEC1", 4, N, 5},
        {KOBC_FORMAT_IRDB, "\"SP-A, FRONT,Denon,2,-1,238\n", "SP-A, FRONT", "Denon", 2, N, 238},
        {KOBC_FORMAT_IRDB, "\"say \"\"hi\"\"\",NEC,4,251,67\r\n", "say \"hi\"", "NEC1", 4, 251, 67},
        // Pronto's short forms, and a code over several lines.
        {KOBC_FORMAT_PRONTO, "5000 0073 0000 0001 0003 004C", "code", "RC5", 3, N, 76},
        {KOBC_FORMAT_PRONTO, "X: 5001 0073 0000 0002 0003 0045 0021 0000", "X", "RC5x", 3, 69, 33},
        {KOBC_FORMAT_PRONTO, "X: 6000 0073 0000 0001 0004 0080", "X", "RC6", 4, N, 128},
        {KOBC_FORMAT_PRONTO, "X: 900A 006C 0000 0001 04FB 12ED", "X", "NEC1", 4, 251, 0x12},
        {KOBC_FORMAT_PRONTO, "0000 006D 0001 0001\n0156 00AB\n0015 0F00\n", "code", "", 0, 0, 0, 2,
         2, 38479},
        // A learned Broadlink packet: the capture's time-out is its last
        // space, the padding is not read; a repeat count gives copies.
        {KOBC_FORMAT_BROADLINK, "JgAGAE8UJwANBQAAAAA=", "code", "", 0, 0, 0, 4, 0, 38000},
        {KOBC_FORMAT_BROADLINK, "Jg: JgEEAE8UJxQ=", "Jg", "", 0, 0, 0, 8, 0, 38000},
        // sendir: the offset splits once from repeat; letters stand for pairs.
        {KOBC_FORMAT_GC, "sendir,1:1,1,40000,1,3,96,24,48,24\r", "code", "", 0, 0, 0, 2, 2, 40000},
        {KOBC_FORMAT_GC, "A: sendir,1:1,1,40000,1,1,96,24,48,24AB", "A", "", 0, 0, 0, 0, 8, 40000},
        // Home Assistant's payload: the capture ends on a pulse.
        {KOBC_FORMAT_JSON, "{\"timings\": [900, -450, 560], \"modulation\": 36000}", "code", "", 0,
         0, 0, 4, 0, 36000},
        {KOBC_FORMAT_JSON, "{\"timings\": [900, -450, 560]}", "code", "", 0, 0, 0, 4, 0, 38000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Remotes r;
        std::string message;
        ASSERT_EQ(readText(r.r, c.format, c.text, nullptr, &message), KOBC_OK) << message;
        EXPECT_STREQ(kobc_remote_name(r.r, 0), "remote");
        const long at = kobc_remote_find_button(r.r, 0, c.button);
        ASSERT_GE(at, 0);
        const View v = view(r.r, 0, static_cast<std::size_t>(at));
        EXPECT_EQ(v.protocol, c.protocol);
        if (*c.protocol != '\0') {
            EXPECT_EQ(v.d, c.d);
            EXPECT_EQ(v.s, c.s);
            EXPECT_EQ(v.f, c.f);
        } else {
            EXPECT_EQ(v.once.size(), c.once);
            EXPECT_EQ(v.repeat.size(), c.repeat);
            EXPECT_EQ(v.carrier, c.carrier);
        }
    }
    // The Broadlink tick is 8192/269 us: 0x4F ticks are 2406 us.
    Remotes b;
    ASSERT_EQ(readText(b.r, KOBC_FORMAT_BROADLINK, "JgAGAE8UJwANBQAAAAA=", nullptr), KOBC_OK);
    EXPECT_EQ(view(b.r, 0, 0).once, (std::vector<int>{2406, -609, 1188, -101502}));
    Remotes fan;
    ASSERT_EQ(readText(fan.r, KOBC_FORMAT_GUESS, seed("fan.broadlink"), "fan.broadlink"), KOBC_OK);
    const View power = view(fan.r, 0, 0);
    kobc_match m[4];
    ASSERT_GE(kobc_decode(power.once.data(), power.once.size(), 0, m, 4), 1u);
    EXPECT_STREQ(m[0].protocol, "NEC1");
    EXPECT_EQ(m[0].device, 0x10);
    EXPECT_EQ(m[0].function, 0x5A);
}

// A code written in another format and read back sends the same timings,
// within the resolution of the format.
TEST(RemoteFiles, EveryFormatCarriesTheFlipperCodes) {
    Remotes source;
    ASSERT_EQ(readText(source.r, KOBC_FORMAT_GUESS, seed("soundbar.ir"), "soundbar.ir"), KOBC_OK);
    const std::vector<View> original = views(source.r);
    struct Case {
        int format;
        int toleranceUs;
        bool keepsCarrier;
    } cases[] = {{KOBC_FORMAT_PRONTO, 30, true},
                 {KOBC_FORMAT_BROADLINK, 16, false},
                 {KOBC_FORMAT_GC, 30, true},
                 {KOBC_FORMAT_JSON, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(kobc_format_name(c.format));
        int status = 0;
        std::string message;
        const std::string text = writeText(source.r, 0, c.format, status, &message);
        ASSERT_EQ(status, KOBC_OK) << message;
        Remotes back;
        ASSERT_EQ(readText(back.r, c.format, text, "soundbar", &message), KOBC_OK) << message;
        const std::vector<View> got = views(back.r);
        ASSERT_EQ(got.size(), original.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(original[i].name);
            EXPECT_EQ(got[i].name, original[i].name);
            std::vector<int> want = original[i].once, have = got[i].once;
            want.insert(want.end(), original[i].repeat.begin(), original[i].repeat.end());
            have.insert(have.end(), got[i].repeat.begin(), got[i].repeat.end());
            ASSERT_EQ(have.size(), want.size());
            for (std::size_t k = 0; k < want.size(); ++k)
                EXPECT_NEAR(have[k], want[k], c.toleranceUs) << k;
            if (c.keepsCarrier) {
                EXPECT_NEAR(got[i].carrier, original[i].carrier, 400);
            }
        }
    }
}

TEST(RemoteFiles, WritesRefuseWhatTheFormatCannotHold) {
    static kobc_code code;
    code = kobc_code{};
    code.once_count = 2;
    code.durations[0] = 500;
    code.durations[1] = -500;
    struct Case {
        const char* name;
        const char* protocol;  // null: raw at carrier
        long toggle, carrier;
        int format;
    } cases[] = {
        {"Raw", nullptr, 0, 38000, KOBC_FORMAT_IRDB},
        {"Toggled", "RC5", 1, 0, KOBC_FORMAT_IRDB},
        {"Wired", nullptr, 0, 0, KOBC_FORMAT_BROADLINK},
        {"Fast", nullptr, 0, 56000, KOBC_FORMAT_BROADLINK},
        {"Wired", nullptr, 0, 0, KOBC_FORMAT_GC},
        {"Wired", nullptr, 0, 0, KOBC_FORMAT_FLIPPER},
        {"Bang & Olufsen", nullptr, 0, 455000, KOBC_FORMAT_FLIPPER},
        {"A:B", "NEC1", KOBC_NONE, 0, KOBC_FORMAT_PRONTO},
        {"A:B", "NEC1", KOBC_NONE, 0, KOBC_FORMAT_BROADLINK},
        {"A:B", "NEC1", KOBC_NONE, 0, KOBC_FORMAT_GC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Remotes r;
        ASSERT_EQ(kobc_remotes_add(r.r, "r", nullptr, nullptr, 0), KOBC_OK);
        code.carrier_hz = c.carrier;
        kobc_button b{c.name,     c.protocol ? KOBC_BUTTON_PROTOCOL : KOBC_BUTTON_RAW,
                      c.protocol, 1,
                      KOBC_NONE,  2,
                      c.toggle,   &code,
                      0};
        ASSERT_EQ(kobc_remote_put_button(r.r, 0, &b, 0, nullptr, 0), KOBC_OK);
        int status = 0;
        std::string message;
        writeText(r.r, 0, c.format, status, &message);
        EXPECT_EQ(status, KOBC_E_UNSUPPORTED) << kobc_format_name(c.format);
        EXPECT_NE(message.find(std::string("\"") + c.name + "\""), std::string::npos) << message;
    }
    // One remote a file, but for lircd.conf and JSON.
    Remotes two;
    ASSERT_EQ(kobc_remotes_add(two.r, "a", nullptr, nullptr, 0), KOBC_OK);
    ASSERT_EQ(kobc_remotes_add(two.r, "b", nullptr, nullptr, 0), KOBC_OK);
    int status = 0;
    writeText(two.r, -1, KOBC_FORMAT_FLIPPER, status);
    EXPECT_EQ(status, KOBC_E_UNSUPPORTED);
    const std::string json = writeText(two.r, -1, KOBC_FORMAT_JSON, status);
    ASSERT_EQ(status, KOBC_OK);
    Remotes back;
    ASSERT_EQ(readText(back.r, KOBC_FORMAT_JSON, json, nullptr), KOBC_OK);
    EXPECT_EQ(kobc_remotes_count(back.r), 2u);
    EXPECT_EQ(kobc_remotes_write(two.r, 2, KOBC_FORMAT_JSON, nullptr, 0, nullptr, nullptr, 0),
              KOBC_E_NOT_FOUND);
}

TEST(RemoteFiles, EditsCheckNamesAndCodes) {
    Remotes r;
    std::size_t tv = 9;
    ASSERT_EQ(kobc_remotes_add(r.r, "tv", &tv, nullptr, 0), KOBC_OK);
    EXPECT_EQ(tv, 0u);
    struct NameCase {
        const char* name;
        int remote, button;  // the error as a remote's name, as a button's
    } names[] = {
        {"", KOBC_E_NAME, KOBC_E_NAME},
        {"tv", KOBC_E_EXISTS, KOBC_OK},
        {"a/b", KOBC_E_NAME, KOBC_OK},
        {"a:b", KOBC_E_NAME, KOBC_OK},
        {".hidden", KOBC_E_NAME, KOBC_OK},
        {" lead", KOBC_E_NAME, KOBC_E_NAME},
        {"tab\there", KOBC_E_NAME, KOBC_E_NAME},
        {"bad \xC3(", KOBC_E_NAME, KOBC_E_NAME},
        {"Lautst\xC3\xA4rke", KOBC_OK, KOBC_OK},
        {"0123456789012345678901234567890123456789012345678901234567890123", KOBC_OK, KOBC_OK},
        {"01234567890123456789012345678901234567890123456789012345678901234", KOBC_E_NAME,
         KOBC_E_NAME},
    };
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.name);
        char message[128] = "";
        EXPECT_EQ(kobc_remotes_add(r.r, c.name, nullptr, message, sizeof message), c.remote);
        EXPECT_EQ(c.remote == KOBC_OK, message[0] == '\0') << message;
        kobc_button b{c.name, KOBC_BUTTON_PROTOCOL, "NEC1", 1, KOBC_NONE, 2, KOBC_NONE, nullptr, 0};
        EXPECT_EQ(kobc_remote_put_button(r.r, tv, &b, 1, nullptr, 0), c.button);
    }
    struct CodeCase {
        kobc_button button;
        int error;
    } codes[] = {
        {{"x", KOBC_BUTTON_PROTOCOL, "NEC9", 1, KOBC_NONE, 2, KOBC_NONE, nullptr, 0},
         KOBC_E_PROTOCOL},
        {{"x", KOBC_BUTTON_PROTOCOL, "NEC1", 256, KOBC_NONE, 2, KOBC_NONE, nullptr, 0},
         KOBC_E_RANGE},
        {{"x", KOBC_BUTTON_PROTOCOL, "RC5", 1, 4, 2, KOBC_NONE, nullptr, 0}, KOBC_E_RANGE},
        {{"x", KOBC_BUTTON_RAW, nullptr, 0, 0, 0, 0, nullptr, 0}, KOBC_E_ARGUMENT},
        {{"x", 7, nullptr, 0, 0, 0, 0, nullptr, 0}, KOBC_E_ARGUMENT},
    };
    for (const CodeCase& c : codes)
        EXPECT_EQ(kobc_remote_put_button(r.r, tv, &c.button, 1, nullptr, 0), c.error)
            << c.button.protocol;
    static kobc_code raw;
    struct RawCase {
        std::vector<int> d;
        std::size_t once;
        long carrier;
        int duty, error;
    } raws[] = {
        {{900, -450}, 2, 38000, 33, KOBC_OK},
        {{900, -450, 500}, 3, 38000, 0, KOBC_E_DURATION},
        {{900, 450}, 2, 38000, 0, KOBC_E_DURATION},
        {{900, -450}, 1, 38000, 0, KOBC_E_DURATION},
        {{900, 0}, 2, 38000, 0, KOBC_E_DURATION},
        {{900, -450}, 2, 9000, 0, KOBC_E_FREQUENCY},
        {{900, -450}, 2, 0, 0, KOBC_OK},
        {{900, -450}, 2, 38000, 101, KOBC_E_RANGE},
        {{}, 0, 38000, 0, KOBC_E_DURATION},
    };
    for (const RawCase& c : raws) {
        raw.carrier_hz = c.carrier;
        raw.once_count = c.once;
        raw.repeat_count = c.d.size() - c.once;
        std::copy(c.d.begin(), c.d.end(), raw.durations);
        kobc_button b{"raw", KOBC_BUTTON_RAW, nullptr, 0, 0, 0, 0, &raw, c.duty};
        EXPECT_EQ(kobc_remote_put_button(r.r, tv, &b, 1, nullptr, 0), c.error) << c.d.size();
    }
    // Put, replace, rename and remove; the lent code stays until a change.
    const long at = kobc_remote_find_button(r.r, tv, "raw");
    ASSERT_GE(at, 0);
    kobc_button lent;
    ASSERT_EQ(kobc_remote_button(r.r, tv, static_cast<std::size_t>(at), &lent), KOBC_OK);
    ASSERT_NE(lent.raw, nullptr);
    EXPECT_EQ(lent.raw->durations[0], 900);
    EXPECT_EQ(lent.raw->carrier_hz, 0);
    kobc_button power{"Power", KOBC_BUTTON_PROTOCOL, "sony", 1, KOBC_NONE, 21, KOBC_NONE, nullptr,
                      0};
    EXPECT_EQ(kobc_remote_put_button(r.r, tv, &power, 0, nullptr, 0), KOBC_OK);
    EXPECT_EQ(kobc_remote_put_button(r.r, tv, &power, 0, nullptr, 0), KOBC_E_EXISTS);
    power.function = 22;
    EXPECT_EQ(kobc_remote_put_button(r.r, tv, &power, 1, nullptr, 0), KOBC_OK);
    const std::size_t count = kobc_remote_button_count(r.r, tv);
    kobc_button got;
    const long p = kobc_remote_find_button(r.r, tv, "Power");
    ASSERT_EQ(kobc_remote_button(r.r, tv, static_cast<std::size_t>(p), &got), KOBC_OK);
    EXPECT_STREQ(got.protocol, "Sony12");
    EXPECT_EQ(got.function, 22);
    EXPECT_EQ(kobc_remote_rename(r.r, tv, "Power", "raw", nullptr, 0), KOBC_E_EXISTS);
    EXPECT_EQ(kobc_remote_rename(r.r, tv, "Nope", "x", nullptr, 0), KOBC_E_NOT_FOUND);
    EXPECT_EQ(kobc_remote_rename(r.r, tv, "Power", "On/Off", nullptr, 0), KOBC_OK);
    EXPECT_EQ(kobc_remote_find_button(r.r, tv, "On/Off"), p);
    EXPECT_EQ(kobc_remote_rename(r.r, tv, nullptr, "On/Off", nullptr, 0), KOBC_E_NAME);
    EXPECT_EQ(kobc_remote_rename(r.r, tv, nullptr, "Lautst\xC3\xA4rke", nullptr, 0), KOBC_E_EXISTS);
    EXPECT_EQ(kobc_remote_rename(r.r, tv, nullptr, "telly", nullptr, 0), KOBC_OK);
    EXPECT_EQ(kobc_remotes_find(r.r, "telly"), 0);
    EXPECT_EQ(kobc_remote_set_field(r.r, tv, "brand", "Acme"), KOBC_OK);
    EXPECT_EQ(kobc_remote_set_field(r.r, tv, "colour", "red"), KOBC_E_ARGUMENT);
    EXPECT_EQ(kobc_remote_set_field(r.r, tv, "notes", "two\nlines"), KOBC_E_ARGUMENT);
    EXPECT_STREQ(kobc_remote_field(r.r, tv, "brand"), "Acme");
    EXPECT_EQ(kobc_remote_set_field(r.r, tv, "brand", ""), KOBC_OK);
    EXPECT_EQ(kobc_remote_field(r.r, tv, "brand"), nullptr);
    EXPECT_EQ(kobc_remote_remove(r.r, tv, "On/Off"), KOBC_OK);
    EXPECT_EQ(kobc_remote_remove(r.r, tv, "On/Off"), KOBC_E_NOT_FOUND);
    EXPECT_EQ(kobc_remote_button_count(r.r, tv), count - 1);
    const std::size_t remotes = kobc_remotes_count(r.r);
    EXPECT_EQ(kobc_remote_remove(r.r, tv, nullptr), KOBC_OK);
    EXPECT_EQ(kobc_remotes_count(r.r), remotes - 1);
    EXPECT_EQ(kobc_remote_remove(r.r, 99, nullptr), KOBC_E_NOT_FOUND);
    // A file read again into the same remotes: its remote is there already.
    Remotes twice;
    const std::string text = seed("soundbar.ir");
    ASSERT_EQ(readText(twice.r, KOBC_FORMAT_GUESS, text, "soundbar.ir"), KOBC_OK);
    EXPECT_EQ(readText(twice.r, KOBC_FORMAT_GUESS, text, "soundbar.ir"), KOBC_E_EXISTS);
    EXPECT_EQ(kobc_remotes_count(twice.r), 1u);
}

TEST(RemoteFiles, FormatsByNameAndGuess) {
    struct Case {
        const char* name;
        int format;
    } cases[] = {{"flipper", KOBC_FORMAT_FLIPPER},     {"IRDB", KOBC_FORMAT_IRDB},
                 {"lirc", KOBC_FORMAT_LIRC},           {"pronto", KOBC_FORMAT_PRONTO},
                 {"broadlink", KOBC_FORMAT_BROADLINK}, {"gc", KOBC_FORMAT_GC},
                 {"json", KOBC_FORMAT_JSON},           {"csv", KOBC_FORMAT_GUESS}};
    for (const Case& c : cases) {
        EXPECT_EQ(kobc_format_find(c.name), c.format) << c.name;
        if (c.format != KOBC_FORMAT_GUESS) {
            EXPECT_TRUE(kobc_format_name(c.format) != nullptr);
        }
    }
    EXPECT_EQ(kobc_format_name(KOBC_FORMAT_GUESS), nullptr);
    struct Guess {
        const char* file;
        const char* text;
        int format;
    } guesses[] = {
        {"a/tv.IR", "", KOBC_FORMAT_FLIPPER},
        {"tv.lircd.conf", "", KOBC_FORMAT_LIRC},
        {"x.csv", "", KOBC_FORMAT_IRDB},
        {"x.json", "", KOBC_FORMAT_JSON},
        {nullptr, "  # c\nFiletype: IR signals file\n", KOBC_FORMAT_FLIPPER},
        {"notes.txt", "begin remote\n", KOBC_FORMAT_LIRC},
        {nullptr, "hello", KOBC_FORMAT_GUESS},
        {nullptr, "", KOBC_FORMAT_GUESS},
    };
    for (const Guess& g : guesses)
        EXPECT_EQ(kobc_format_guess(g.file, g.text, std::strlen(g.text)), g.format) << g.text;
}

}  // namespace
