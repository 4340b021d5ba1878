// Reports decoded one at a time: modulation, transmission finished, button
// states, digital I/O and unclaimed reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/debug_output.h"
#include "parsers/button_press_parser.h"
#include "parsers/digital_io_parser.h"
#include "parsers/ir_modulation_parser.h"
#include "parsers/ir_send_parser.h"
#include "parsers/unknown_parser.h"

namespace koblib {
namespace {

using Bytes = std::vector<unsigned char>;

bool parse(Parser& parser, const Bytes& payload) {
    return parser.parse(payload.data(), static_cast<unsigned int>(payload.size()));
}

TEST(IRModulationParser, BigEndianFieldsAndZeroCycles) {
    std::vector<std::pair<unsigned int, unsigned int>> events;
    IRModulationParser parser(
        "M", [&](const std::string& serial, unsigned int cycles, unsigned int total) {
            EXPECT_EQ(serial, "M");
            events.push_back({cycles, total});
        });
    EXPECT_TRUE(parse(parser, {0x0B, 0x00, 0x01, 0x2C, 0x00, 0x00, 0x75, 0x30, 0xEE}));
    EXPECT_TRUE(parse(parser, {0x0B, 0xFF, 0x00, 0x00, 0xFE, 0xDC, 0xBA, 0x98}));
    EXPECT_TRUE(parse(parser, {0x0B, 0x00, 0x01, 0x2C, 0x00, 0x00, 0x75}));  // total cut off
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], std::make_pair(300u, 30000u));
    EXPECT_EQ(events[1], std::make_pair(0u, 0xFEDCBA98u));
}

TEST(IRSendParserAndDigitalIOParser, PassBytesOn) {
    std::vector<unsigned int> seen;
    IRSendParser send("S",
                      [&](const std::string&, unsigned char status) { seen.push_back(status); });
    DigitalIOParser io("S", [&](const std::string&, unsigned char first, unsigned char second) {
        seen.push_back(first << 8 | second);
    });
    EXPECT_TRUE(parse(send, {0x0F, 0x81, 0x00}));
    EXPECT_TRUE(parse(send, {0x0F}));  // no status byte: no event
    EXPECT_TRUE(parse(io, {0x20, 0x2C, 0x05, 0x00}));
    EXPECT_TRUE(parse(io, {0x20, 0x2C}));  // no second byte: no event
    EXPECT_EQ(seen, (std::vector<unsigned int>{0x81, 0x2C05}));
}

class ButtonPressParserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setDebugOutputHook([this](const std::string& text) { traces.push_back(text); });
    }
    void TearDown() override { setDebugOutputHook(nullptr); }

    std::vector<std::string> traces;
    std::vector<std::vector<int>> events;
    ButtonPressParser parser{"B",
                             [this](const std::string& serial, int b1, int b2, int b3, int b4) {
                                 EXPECT_EQ(serial, "B");
                                 events.push_back({b1, b2, b3, b4});
                             }};
};

TEST_F(ButtonPressParserTest, PairsSetButtonsInOrder) {
    struct Case {
        Bytes payload;
        std::vector<int> buttons;
    };
    const Case cases[] = {
        {{0x10, 3, 2, 1, 7, 9, 2, 0}, {0, 0, 0, 0}},  // button 7 skipped, later pair wins
        {{0x10, 4, 4, 0xFF, 1, 0x80, 3, 5, 2, 6}, {0x80, 6, 5, 0xFF}},
        {{0x10, 200, 1, 9, 3, 8, 4}, {9, 0, 8, 0}},  // pairs beyond the payload not read
    };
    for (const Case& c : cases) {
        events.clear();
        EXPECT_TRUE(parse(parser, c.payload));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0], c.buttons);
    }
}

TEST_F(ButtonPressParserTest, TraceForEveryReportAndNoEventWithoutPairs) {
    EXPECT_TRUE(parse(parser, {0x10, 0x00, 0xAB, 0x0C}));
    EXPECT_TRUE(parse(parser, {0x10}));
    EXPECT_TRUE(parser.parse(nullptr, 0));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(traces, (std::vector<std::string>{"10 00 ab 0c ", "10 ", ""}));
}

TEST(UnknownParser, HexDumpWithCodeTwo) {
    std::vector<std::string> texts;
    UnknownParser parser(
        "U", [&](const std::string& serial, unsigned char code, const std::string& text) {
            EXPECT_EQ(serial, "U");
            EXPECT_EQ(code, 2);
            texts.push_back(text);
        });
    EXPECT_TRUE(parse(parser, {0x21, 0x00, 0xFF, 0x5a}));
    EXPECT_TRUE(parse(parser, {}));
    EXPECT_EQ(texts, (std::vector<std::string>{"21 00 FF 5A \n", "\n"}));
}

}  // namespace
}  // namespace koblib
