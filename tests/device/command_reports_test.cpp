// Output report building: single command reports, IR-send sequences and
// wake-code chunks, checked byte for byte without any device.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "device/command_reports.h"
#include "os/debug_output.h"

namespace koblib {
namespace {

using Bytes = std::vector<unsigned char>;

TEST(FillReport, PayloadFromByteTwoAndLaterBytesKept) {
    Bytes buffer(8, 0xEE);
    const unsigned char digital[] = {0x2C, 0x05};
    fillReport(buffer.data(), buffer.size(), command::digitalIO, digital, 2);
    EXPECT_EQ(buffer, (Bytes{0x00, 0x20, 0x2C, 0x05, 0xEE, 0xEE, 0xEE, 0xEE}));

    const unsigned char full[] = {1, 2, 3, 4, 5, 6};
    fillReport(buffer.data(), buffer.size(), command::blink, full, 6);  // exactly L - 2
    const unsigned char shorter[] = {9};
    fillReport(buffer.data(), buffer.size(), command::wakeEnable, shorter, 1);
    EXPECT_EQ(buffer, (Bytes{0x00, 0x23, 9, 2, 3, 4, 5, 6}));
    fillReport(buffer.data(), buffer.size(), command::stop, nullptr, 0);
    EXPECT_EQ(buffer, (Bytes{0x00, 0x10, 9, 2, 3, 4, 5, 6}));
}

TEST(FillReport, TooMuchDataWritesOnlyTheFirstTwoBytes) {
    Bytes buffer(8, 0xEE);
    const unsigned char payload[7] = {1, 2, 3, 4, 5, 6, 7};
    try {
        fillReport(buffer.data(), buffer.size(), command::blink, payload, 7);
        FAIL() << "no exception";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "Too much data for buffer");
    }
    EXPECT_EQ(buffer, (Bytes{0x00, 0x27, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_THROW(fillReport(buffer.data(), 1, command::blink, nullptr, 0), std::length_error);
    EXPECT_THROW(fillReport(buffer.data(), 8, command::blink, payload, std::size_t(-1)),
                 std::length_error);
}

struct Sequence {
    std::vector<Bytes> reports;
    bool sent = false;
};

Sequence sendCode(const std::vector<unsigned int>& words, std::size_t L, Bytes& buffer) {
    Sequence result;
    result.sent = forEachIRSendReport(words.data(), words.size(), 0x5A, 0x03, buffer.data(), L,
                                      [&](const unsigned char* report, std::size_t length) {
                                          EXPECT_EQ(length, L);
                                          // A sequence that makes no progress ends here.
                                          if (result.reports.size() > 600) {
                                              throw std::runtime_error("endless sequence");
                                          }
                                          result.reports.emplace_back(report, report + length);
                                      });
    return result;
}

// The words carried by a sequence, read back from the reports' byte 3.
std::vector<unsigned int> wordsOf(const Sequence& sequence) {
    std::vector<unsigned int> words;
    for (std::size_t r = 0; r < sequence.reports.size(); ++r) {
        const Bytes& report = sequence.reports[r];
        std::size_t start = r == 0 ? 6 : 4;
        for (std::size_t at = start; at < 4u + report[3]; at += 2) {
            words.push_back(report[at] << 8 | report[at + 1]);
        }
    }
    return words;
}

TEST(IRSendSequence, SplitsByReportLength) {
    struct Case {
        std::size_t L;
        std::size_t count;
        Bytes flags;
        Bytes byte3;
    };
    const Case cases[] = {
        {65, 100, {0x01, 0x00, 0x00, 0x02}, {60, 60, 60, 22}},
        {65, 29, {0x03}, {60}},
        {65, 30, {0x01, 0x02}, {60, 2}},
        {65, 1, {0x03}, {4}},
        {6, 2, {0x01, 0x00, 0x02}, {2, 2, 2}},          // the first report holds no word
        {600, 256, {0x01, 0x00, 0x02}, {254, 254, 6}},  // byte 3 stays within a byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("L=" + std::to_string(c.L) + " count=" + std::to_string(c.count));
        std::vector<unsigned int> words;
        for (std::size_t i = 0; i < c.count; ++i)
            words.push_back(0x10000u * i + 0x1234u + i);
        Bytes buffer(c.L, 0xEE);
        Sequence sequence = sendCode(words, c.L, buffer);
        ASSERT_TRUE(sequence.sent);
        ASSERT_EQ(sequence.reports.size(), c.flags.size());
        for (std::size_t r = 0; r < sequence.reports.size(); ++r) {
            EXPECT_EQ(sequence.reports[r][0], 0x00);
            EXPECT_EQ(sequence.reports[r][1], 0x0E);
            EXPECT_EQ(sequence.reports[r][2], c.flags[r]) << "report " << r;
            EXPECT_EQ(sequence.reports[r][3], c.byte3[r]) << "report " << r;
        }
        EXPECT_EQ(sequence.reports[0][4], 0x03);  // repeat
        EXPECT_EQ(sequence.reports[0][5], 0x5A);  // bitmask
        std::vector<unsigned int> low;
        for (unsigned int word : words)
            low.push_back(word & 0xFFFF);
        EXPECT_EQ(wordsOf(sequence), low);
    }
}

TEST(IRSendSequence, LastReportKeepsEarlierBytesAfterItsWords) {
    std::vector<unsigned int> words(30, 0x0102);
    Bytes buffer(65, 0xEE);
    Sequence sequence = sendCode(words, 65, buffer);
    ASSERT_EQ(sequence.reports.size(), 2u);
    // The second report holds one word at 4-5; bytes 6.. are the first report's words.
    EXPECT_EQ(Bytes(sequence.reports[1].begin() + 6, sequence.reports[1].end()),
              Bytes(sequence.reports[0].begin() + 6, sequence.reports[0].end()));
}

TEST(IRSendSequence, RefusedWithoutWordsOrRoom) {
    std::vector<unsigned int> words(5, 1);
    for (std::size_t L : {0, 1, 4, 5}) {
        Bytes buffer(8, 0xEE);
        Sequence sequence = sendCode(words, L, buffer);
        EXPECT_FALSE(sequence.sent);
        EXPECT_TRUE(sequence.reports.empty());
        EXPECT_EQ(buffer, Bytes(8, 0xEE));
    }
    Bytes buffer(65, 0xEE);
    Sequence empty = sendCode({}, 65, buffer);
    EXPECT_FALSE(empty.sent);
    EXPECT_TRUE(empty.reports.empty());
}

class WakeChunkTest : public ::testing::Test {
  protected:
    struct Chunk {
        unsigned char command;
        Bytes payload;
    };

    void SetUp() override {
        setDebugOutputHook([this](const std::string& text) { debug.push_back(text); });
    }
    void TearDown() override { setDebugOutputHook(nullptr); }

    bool send(const std::string& block, int flag, std::size_t L) {
        return forEachWakeChunk(
            block, flag, L,
            [&](unsigned char command, const unsigned char* payload, std::size_t length) {
                EXPECT_LE(length + 2, L);
                chunks.push_back({command, Bytes(payload, payload + length)});
            });
    }

    std::vector<std::string> debug;
    std::vector<Chunk> chunks;
};

std::string testBlock(std::size_t size) {
    std::string block;
    for (std::size_t i = 0; i < size; ++i)
        block += static_cast<char>(i * 7);
    return block;
}

TEST_F(WakeChunkTest, ChunkSizesFollowReportLength) {
    struct Case {
        std::size_t L;
        std::size_t size;
        std::vector<std::size_t> lengths;
    };
    const Case cases[] = {
        {65, 200, {61, 61, 61, 17}}, {65, 255, {61, 61, 61, 61, 11}},
        {300, 255, {128, 127}},      {132, 128, {128}},
        {5, 3, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("L=" + std::to_string(c.L) + " size=" + std::to_string(c.size));
        chunks.clear();
        std::string block = testBlock(c.size);
        ASSERT_TRUE(send(block, 1, c.L));
        ASSERT_EQ(chunks.size(), c.lengths.size());
        std::string joined;
        std::size_t offset = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].command, 0x25);
            EXPECT_EQ(chunks[i].payload[0], offset);
            EXPECT_EQ(chunks[i].payload[1], c.lengths[i]);
            EXPECT_EQ(chunks[i].payload.size(), 2 + c.lengths[i]);
            joined.append(chunks[i].payload.begin() + 2, chunks[i].payload.end());
            offset += c.lengths[i];
        }
        EXPECT_EQ(joined, block);
    }
    EXPECT_TRUE(debug.empty());
}

TEST_F(WakeChunkTest, EmptyBlockSendsOneChunkWithFlagZeroCommand) {
    ASSERT_TRUE(send("", 0, 65));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].command, 0x24);
    EXPECT_EQ(chunks[0].payload, (Bytes{0x00, 0x00}));
}

TEST_F(WakeChunkTest, LongBlockOrShortReportRefused) {
    EXPECT_FALSE(send(testBlock(256), 1, 65));
    EXPECT_EQ(debug, (std::vector<std::string>{"TOO LONG"}));
    debug.clear();
    EXPECT_FALSE(send("ab", 0, 4));
    EXPECT_EQ(debug.size(), 1u);
    EXPECT_TRUE(chunks.empty());
}

}  // namespace
}  // namespace koblib
