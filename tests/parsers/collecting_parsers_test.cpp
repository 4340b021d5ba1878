// Messages spread over several reports: received IR words, raw learned
// words and wake-up bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "parsers/ir_raw_learn_parser.h"
#include "parsers/ir_receive_parser.h"
#include "parsers/wakeup_parser.h"

namespace koblib {
namespace {

using Byte = unsigned char;
using Bytes = std::vector<Byte>;

struct WordsEvent {
    std::string serial;
    std::string text;
    unsigned int header = 0;
    std::vector<unsigned int> words;
};

class IRReceiveParserTest : public ::testing::Test {
  protected:
    bool parse(const Bytes& payload) {
        return parser.parse(payload.data(), static_cast<unsigned int>(payload.size()));
    }

    std::vector<WordsEvent> events;
    IRReceiveParser parser{"SER1", [this](const std::string& serial, const std::string& text,
                                          const unsigned int* words, unsigned int count) {
                               events.push_back({serial, text, 0, {words, words + count}});
                           }};
};

// Word i of a test message: its high byte is i, so word 32 starts with 0x20.
unsigned int testWord(unsigned int i) {
    return (i << 8) | 0x56;
}

TEST_F(IRReceiveParserTest, FortyWordsOverTwoReportsWithContinuationStartingLikeDigitalIO) {
    Bytes first = {0x0A, 40};
    for (unsigned int i = 1; i <= 31; ++i)
        first.insert(first.end(), {Byte(i), 0x56});
    ASSERT_EQ(first.size(), 64u);
    Bytes second;
    for (unsigned int i = 32; i <= 40; ++i)
        second.insert(second.end(), {Byte(i), 0x56});
    second.resize(64, 0xEE);  // bytes after the last word are ignored
    ASSERT_EQ(second[0], 0x20);

    EXPECT_FALSE(parse(first));
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(parse(second));

    ASSERT_EQ(events.size(), 1u);
    const WordsEvent& event = events[0];
    EXPECT_EQ(event.serial, "SER1");
    ASSERT_EQ(event.words.size(), 40u);
    std::string expectedText;
    for (unsigned int i = 1; i <= 40; ++i) {
        EXPECT_EQ(event.words[i - 1], testWord(i)) << "word " << i;
        char cell[8];
        std::snprintf(cell, sizeof cell, "%04X ", testWord(i));
        expectedText += cell;
    }
    EXPECT_EQ(event.text.size(), 200u);
    EXPECT_EQ(event.text.substr(0, 5), "0156 ");
    EXPECT_EQ(event.text, expectedText);

    // The next report starts a new message.
    EXPECT_TRUE(parse({0x0A, 1, 0xAB, 0xCD, 0x20}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].text, "ABCD ");
}

TEST_F(IRReceiveParserTest, EmptyMessageFiresAtOnce) {
    EXPECT_TRUE(parse({0x0A, 0, 0x12, 0x34}));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "");
    EXPECT_TRUE(events[0].words.empty());
}

TEST_F(IRReceiveParserTest, LongestMessageInTinyReports) {
    // 255 words through 3-byte payloads: one word per report, the odd byte dropped.
    ASSERT_FALSE(parse({0x0A, 255, 0xFF}));
    unsigned int reports = 1;
    bool done = false;
    for (unsigned int i = 0; !done && reports < 1000; ++i, ++reports) {
        done = parse({0xFF, Byte(i), 0x99});
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(reports, 256u);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].words.size(), 255u);
    EXPECT_EQ(events[0].words[254], 0xFFFEu);
    EXPECT_EQ(events[0].text.size(), 5u * 255u);
    EXPECT_EQ(events[0].text.substr(5 * 254), "FFFE ");
}

TEST_F(IRReceiveParserTest, FirstReportTooShortForCountCollectsNothing) {
    EXPECT_TRUE(parser.parse(nullptr, 0));
    EXPECT_TRUE(parse({}));
    EXPECT_TRUE(parse({0x0A}));
    EXPECT_TRUE(events.empty());
    // A message after them is read from its first report as usual.
    EXPECT_TRUE(parse({0x0A, 1, 0x00, 0x07}));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "0007 ");
}

TEST(IRRawLearnParser, HeaderPassedOnAndByteThreeIgnored) {
    std::vector<WordsEvent> events;
    IRRawLearnParser parser("R", [&](const std::string& serial, unsigned int header,
                                     const unsigned int* words, unsigned int count) {
        events.push_back({serial, "", header, {words, words + count}});
    });
    Bytes first = {0x0C, 0x9C, 3, 0x77, 0x12, 0x34, 0xAB, 0xCD};
    Bytes second = {0x00, 0x05, 0x0C, 0x0C};
    EXPECT_FALSE(parser.parse(first.data(), 8));
    EXPECT_TRUE(parser.parse(second.data(), 4));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].serial, "R");
    EXPECT_EQ(events[0].header, 0x9Cu);
    EXPECT_EQ(events[0].words, (std::vector<unsigned int>{0x1234, 0xABCD, 0x0005}));
}

TEST(WakeupParser, BytesCollectedOverReports) {
    std::vector<std::pair<unsigned int, Bytes>> events;
    WakeupParser parser("W", [&](const std::string& serial, unsigned int header,
                                 const unsigned char* bytes, unsigned int count) {
        EXPECT_EQ(serial, "W");
        events.push_back({header, Bytes(bytes, bytes + count)});
    });
    Bytes first = {0x26, 0x41, 5, 0x00, 0x26, 0xFF};
    Bytes second = {0x0A, 0x10, 0x99, 0x99};
    EXPECT_FALSE(parser.parse(first.data(), 6));
    EXPECT_TRUE(parser.parse(second.data(), 4));
    Bytes empty = {0x26, 0x02, 0};
    EXPECT_TRUE(parser.parse(empty.data(), 3));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, 0x41u);
    EXPECT_EQ(events[0].second, (Bytes{0x00, 0x26, 0xFF, 0x0A, 0x10}));
    EXPECT_EQ(events[1].first, 0x02u);
    EXPECT_TRUE(events[1].second.empty());
}

}  // namespace
}  // namespace koblib
