// Every parser fed with reports as the device sends them; events are
// logged as text lines so that each case reads as input and expected log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "os/debug_output.h"
#include "parsers/button_press_parser.h"
#include "parsers/digital_io_parser.h"
#include "parsers/ir_modulation_parser.h"
#include "parsers/ir_raw_learn_parser.h"
#include "parsers/ir_receive_parser.h"
#include "parsers/ir_send_parser.h"
#include "parsers/unknown_parser.h"
#include "parsers/wakeup_parser.h"

namespace koblib {
namespace {

using Bytes = std::vector<unsigned char>;

template <typename... Values>
std::string line(const std::string& serial, Values... values) {
    std::string text = serial;
    for (unsigned long value : {static_cast<unsigned long>(values)...}) {
        text += ' ' + std::to_string(value);
    }
    return text;
}

template <typename Entry>
std::string entries(const Entry* data, unsigned int count) {
    std::string text;
    for (unsigned int i = 0; i < count; ++i)
        text += ' ' + std::to_string(data[i]);
    return text;
}

class ParsersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setDebugOutputHook([this](const std::string& text) { log.push_back("trace:" + text); });
    }
    void TearDown() override { setDebugOutputHook(nullptr); }

    // Feeds the reports in order; returns what each parse call returned.
    std::vector<bool> feed(Parser& parser, const std::vector<Bytes>& reports) {
        std::vector<bool> results;
        for (const Bytes& r : reports) {
            results.push_back(parser.parse(r.data(), static_cast<unsigned int>(r.size())));
        }
        return results;
    }

    std::vector<std::string> log;
    std::vector<std::vector<unsigned int>> words;
    IRReceiveParser receive{"S1", [this](const std::string& s, const std::string& text,
                                         const unsigned int* w, unsigned int n) {
                                log.push_back(s + " [" + text + "]");
                                words.emplace_back(w, w + n);
                            }};
    IRRawLearnParser rawLearn{
        "S2", [this](const std::string& s, unsigned int header, const unsigned int* w,
                     unsigned int n) { log.push_back(line(s, header) + entries(w, n)); }};
    WakeupParser wakeup{"S3",
                        [this](const std::string& s, unsigned int header, const unsigned char* b,
                               unsigned int n) { log.push_back(line(s, header) + entries(b, n)); }};
    IRModulationParser modulation{
        "S4", [this](const std::string& s, unsigned int cycles, unsigned int total) {
            log.push_back(line(s, cycles, total));
        }};
    IRSendParser send{
        "S5", [this](const std::string& s, unsigned char st) { log.push_back(line(s, st)); }};
    ButtonPressParser button{"S6", [this](const std::string& s, int b1, int b2, int b3, int b4) {
                                 log.push_back(line(s, b1, b2, b3, b4));
                             }};
    DigitalIOParser digital{"S7", [this](const std::string& s, unsigned char a, unsigned char b) {
                                log.push_back(line(s, a, b));
                            }};
    UnknownParser unknown{
        "S8", [this](const std::string& s, unsigned char code, const std::string& text) {
            log.push_back(line(s, code) + " [" + text + "]");
        }};
};

TEST_F(ParsersTest, ReceivedSignalOverTwoReportsContinuationStartingLikeDigitalIO) {
    // Word i is (i << 8) | 0x56, so word 1 is 0x0156 and word 32 begins with 0x20.
    Bytes first = {0x0A, 40}, second;
    std::string text;
    for (unsigned int i = 1; i <= 40; ++i) {
        Bytes& report = i <= 31 ? first : second;
        report.insert(report.end(), {static_cast<unsigned char>(i), 0x56});
        char cell[16];
        std::snprintf(cell, sizeof cell, "%04X ", (i << 8) | 0x56);
        text += cell;
    }
    ASSERT_EQ(first.size(), 64u);
    second.resize(64, 0xEE);  // bytes after the last word are ignored
    EXPECT_EQ(feed(receive, {first, second, {0x0A, 1, 0xAB, 0xCD}}),
              (std::vector<bool>{false, true, true}));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(text.size(), 200u);
    EXPECT_EQ(text.substr(0, 5), "0156 ");
    EXPECT_EQ(log[0], "S1 [" + text + "]");
    EXPECT_EQ(words[0].size(), 40u);
    EXPECT_EQ(words[0][31], 0x2056u);
    EXPECT_EQ(log[1], "S1 [ABCD ]");  // the next report began a new message
}

TEST_F(ParsersTest, ReceivedSignalEmptyOrFirstReportTooShort) {
    EXPECT_EQ(feed(receive, {{}, {0x0A}, {0x0A, 0, 0x12, 0x34}, {0x0A, 1, 0x00, 0x07}}),
              (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(log, (std::vector<std::string>{"S1 []", "S1 [0007 ]"}));
}

TEST_F(ParsersTest, LongestReceivedSignalInTinyReports) {
    // 255 words through 3-byte reports: one word each, the odd byte dropped.
    std::vector<Bytes> reports = {{0x0A, 255, 0xFF}};
    for (unsigned int i = 0; i < 255; ++i)
        reports.push_back({0xFF, static_cast<unsigned char>(i), 0x99});
    std::vector<bool> results = feed(receive, reports);
    EXPECT_EQ(std::count(results.begin(), results.end(), true), 1);
    EXPECT_TRUE(results.back());
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].size(), 255u);
    EXPECT_EQ(log[0].size(), 4 + 5 * 255 + 1u);
    EXPECT_EQ(log[0].substr(log[0].size() - 6), "FFFE ]");
}

TEST_F(ParsersTest, RawLearnAndWakeupCollectWithHeader) {
    // Raw learn ignores byte 3 and reads its first word from offsets 4 and 5.
    EXPECT_EQ(feed(rawLearn, {{0x0C, 0x9C, 3, 0x77, 0x12, 0x34, 0xAB, 0xCD}, {0x00, 0x05, 0x0C}}),
              (std::vector<bool>{false, true}));
    EXPECT_EQ(feed(wakeup, {{0x26, 0x41, 5, 0x00, 0x26, 0xFF}, {0x0A, 0x10, 0x99}, {0x26, 2, 0}}),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ(log,
              (std::vector<std::string>{"S2 156 4660 43981 5", "S3 65 0 38 255 10 16", "S3 2"}));
}

TEST_F(ParsersTest, SingleReportKinds) {
    feed(modulation, {{0x0B, 0x00, 0x01, 0x2C, 0x00, 0x00, 0x75, 0x30, 0xEE},
                      {0x0B, 0xFF, 0x00, 0x00, 0xFE, 0xDC, 0xBA, 0x98},
                      {0x0B, 0x00, 0x01, 0x2C, 0x00, 0x00, 0x75}});  // total cut off
    feed(send, {{0x0F, 0x81, 0x00}, {0x0F}});
    feed(digital, {{0x20, 0x2C, 0x05, 0x00}, {0x20, 0x2C}});
    feed(unknown, {{0x21, 0x00, 0xFF, 0x5a}, {}});
    EXPECT_EQ(log, (std::vector<std::string>{"S4 300 30000", "S4 0 4275878552", "S5 129", "S7 44 5",
                                             "S8 2 [21 00 FF 5A \n]", "S8 2 [\n]"}));
}

TEST_F(ParsersTest, ButtonPairsAndTrace) {
    std::vector<bool> results =
        feed(button, {{0x10, 3, 2, 1, 7, 9, 2, 0},  // button 7 skipped, later pair for 2 wins
                      {0x10, 4, 4, 0xFF, 1, 0x80, 3, 5, 2, 6},
                      {0x10, 200, 1, 9, 3, 8, 4},  // pairs beyond the payload are not read
                      {0x10, 0x00, 0xAB, 0x0C},    // P = 0: trace only
                      {0x10}});
    EXPECT_EQ(results, std::vector<bool>(5, true));
    EXPECT_EQ(log, (std::vector<std::string>{"trace:10 03 02 01 07 09 02 00 ", "S6 0 0 0 0",
                                             "trace:10 04 04 ff 01 80 03 05 02 06 ",
                                             "S6 128 6 5 255", "trace:10 c8 01 09 03 08 04 ",
                                             "S6 9 0 8 0", "trace:10 00 ab 0c ", "trace:10 "}));
}

}  // namespace
}  // namespace koblib
