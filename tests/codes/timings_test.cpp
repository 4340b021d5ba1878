// The CCF conversion and the receiver's frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "koblib_codes.h"

namespace {

TEST(Timings, FrequencyWordIsTheClockOverTheCarrier) {
    struct Case {
        long hz;
        unsigned word;
    } cases[] = {{38000, 110}, {36000, 116}, {40000, 104}, {4194304, 1}, {65, 64527},
                 {64, 0},      {0, 0},       {-5, 0},      {4194305, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(kobc_frequency_word(c.hz), c.word) << c.hz;
    EXPECT_DOUBLE_EQ(kobc_word_frequency(0x6D), 4194304.0 / 0x6D);
    EXPECT_EQ(kobc_word_frequency(0), 0.0);
}

TEST(Timings, ParsesPeriodsIntoMicroseconds) {
    kobc_code code;
    char message[128];
    // Word 0x006D: a period of 109 / 4194304 s = 25.99 us.
    ASSERT_EQ(
        kobc_ccf_parse("0000 006D 0001 0001 0156 00AB 0015 0F00", &code, message, sizeof message),
        KOBC_OK)
        << message;
    EXPECT_EQ(code.carrier_hz, 38479);  // rounded down: its word is 006D again
    ASSERT_EQ(code.once_count, 2u);
    ASSERT_EQ(code.repeat_count, 2u);
    const int expected[] = {8888, -4444, 546, -99792};  // periods * 109e6 / 4194304
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(code.durations[i], expected[i]) << i;
    ASSERT_EQ(kobc_ccf_parse("0100 006D 0001 0000 0010 0020", &code, message, sizeof message),
              KOBC_OK);
    EXPECT_EQ(code.carrier_hz, 0);
}

TEST(Timings, StrictReaderNamesEachFault) {
    struct Case {
        const char* text;
        int error;
        const char* says;
    } cases[] = {
        {"", KOBC_E_LENGTH, "no words"},
        {"0000 006D 0001", KOBC_E_LENGTH, "this one has 3"},
        {"0000 006D 0001 0000 0010 002", KOBC_E_SYNTAX, "word 6 \"002\""},
        {"0000 006D 0001 0000 0010 00200", KOBC_E_SYNTAX, "word 6"},
        {"0000 006D 0001 0000 0010 0g20", KOBC_E_SYNTAX, "not 4 hexadecimal digits"},
        {"0200 006D 0001 0000 0010 0020", KOBC_E_FORMAT, "format word 0200"},
        {"0000 0000 0001 0000 0010 0020", KOBC_E_FREQUENCY, "frequency word is 0"},
        {"0000 006D 0022 0022 0010 0020", KOBC_E_LENGTH,
         "the header says 68 pairs (34 once, 34 repeat) but the code holds 1"},
        {"0000 006D 0001 0000 0010 0020 0030", KOBC_E_LENGTH, "holds 1 and a half"},
        {"0000 006D 0000 0000", KOBC_E_LENGTH, "no burst"},
        {"0000 006D 0001 0000 0000 0020", KOBC_E_DURATION, "burst word 1 (word 5"},
    };
    for (const Case& c : cases) {
        kobc_code code;
        char message[160];
        EXPECT_EQ(kobc_ccf_parse(c.text, &code, message, sizeof message), c.error) << c.text;
        EXPECT_NE(std::strstr(message, c.says), nullptr) << c.text << ": " << message;
    }
    std::string longCode = "0000 006D 007E 0000";
    for (int i = 0; i < 253; ++i)
        longCode += " 0010";
    kobc_code code;
    char message[160];
    EXPECT_EQ(kobc_ccf_parse(longCode.c_str(), &code, message, sizeof message), KOBC_E_TOO_LONG);
    EXPECT_NE(std::strstr(message, "more than 256 words"), nullptr) << message;
    // A message buffer of one byte gets an empty sentence, none gets nothing.
    char tiny[1] = {'x'};
    EXPECT_EQ(kobc_ccf_parse("0200 006D 0001 0000 0010 0020", &code, tiny, 1), KOBC_E_FORMAT);
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_EQ(kobc_ccf_parse("0200 006D 0001 0000 0010 0020", &code, nullptr, 0), KOBC_E_FORMAT);
}

TEST(Timings, FormatThenParseIsStable) {
    const char* texts[] = {"0000 006D 0002 0001 0156 00AB 0015 0040 0015 0F00",
                           "0000 0073 0000 0001 0020 0020", "0100 006D 0001 0000 0010 0020"};
    for (const char* text : texts) {
        kobc_code code, again;
        ASSERT_EQ(kobc_ccf_parse(text, &code, nullptr, 0), KOBC_OK) << text;
        char written[1300];
        ASSERT_EQ(kobc_ccf_format(&code, written, sizeof written), KOBC_OK);
        EXPECT_STREQ(written, text);
        ASSERT_EQ(kobc_ccf_parse(written, &again, nullptr, 0), KOBC_OK);
        EXPECT_EQ(std::memcmp(code.durations, again.durations,
                              (code.once_count + code.repeat_count) * sizeof(int)),
                  0);
    }
}

TEST(Timings, FormatRefusesWhatNoCodeHolds) {
    kobc_code code{};
    code.carrier_hz = 38000;
    code.once_count = 3;  // ends on a pulse: a space of one period is added
    code.durations[0] = 9000;
    code.durations[1] = -4500;
    code.durations[2] = 560;
    char text[64];
    ASSERT_EQ(kobc_ccf_format(&code, text, sizeof text), KOBC_OK);
    EXPECT_STREQ(text, "0000 006E 0002 0000 0157 00AC 0015 0001");
    EXPECT_EQ(kobc_ccf_format(&code, text, 39), KOBC_E_SPACE);
    code.carrier_hz = 10;
    EXPECT_EQ(kobc_ccf_format(&code, text, sizeof text), KOBC_E_FREQUENCY);
    code.carrier_hz = 38000;
    code.durations[1] = 4500;  // wrong sign
    EXPECT_EQ(kobc_ccf_format(&code, text, sizeof text), KOBC_E_DURATION);
    code.durations[1] = -2000000;  // past 0xFFFF periods
    EXPECT_EQ(kobc_ccf_format(&code, text, sizeof text), KOBC_E_DURATION);
    code.once_count = 300;
    for (int i = 0; i < 300; ++i)
        code.durations[i] = i % 2 ? -500 : 500;
    EXPECT_EQ(kobc_ccf_format(&code, text, sizeof text), KOBC_E_TOO_LONG);
}

TEST(Timings, ReceivedFramesAreTicksWithTheGapFirst) {
    const unsigned words[] = {0x1000, 2256, 1128, 141, 141};
    kobc_code code;
    long gap = 0;
    ASSERT_EQ(kobc_frame_to_code(words, 5, &code, &gap), KOBC_OK);
    EXPECT_EQ(gap, 0x1000 * 4);
    EXPECT_EQ(code.carrier_hz, 0);
    ASSERT_EQ(code.once_count, 4u);
    const int expected[] = {9024, -4512, 564, -564};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(code.durations[i], expected[i]);
    // Back: the final space is not a word; each duration rounds to ticks.
    unsigned back[8];
    std::size_t n = 0;
    ASSERT_EQ(kobc_frame_from_timings(code.durations, 4, gap, back, 8, &n), KOBC_OK);
    ASSERT_EQ(n, 4u);
    EXPECT_EQ(std::vector<unsigned>(back, back + 4), std::vector<unsigned>(words, words + 4));
    const int odd[] = {3, -1, 300000};
    ASSERT_EQ(kobc_frame_from_timings(odd, 3, 1, back, 8, &n), KOBC_OK);
    EXPECT_EQ(std::vector<unsigned>(back, back + 4), (std::vector<unsigned>{1, 1, 1, 0xFFFF}));
    EXPECT_EQ(kobc_frame_from_timings(odd, 3, 1, back, 3, &n), KOBC_E_SPACE);
    const unsigned zeroTick[] = {10, 5, 0, 5};
    EXPECT_EQ(kobc_frame_to_code(zeroTick, 4, &code, nullptr), KOBC_E_DURATION);
    EXPECT_EQ(kobc_frame_to_code(words, 1, &code, nullptr), KOBC_E_LENGTH);
    EXPECT_STREQ(kobc_error_text(KOBC_E_SPACE), "the output buffer is too small");
    EXPECT_STREQ(kobc_error_text(42), "unknown error");
}

}  // namespace
