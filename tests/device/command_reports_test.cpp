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

TEST(FillReport, PayloadFromByteTwoLaterBytesKeptAndOverflowRefused) {
    Bytes buffer(8, 0xEE);
    const unsigned char bytes[] = {0x2C, 0x05, 3, 4, 5, 6, 7};
    fillReport(buffer.data(), 8, command::kDigitalIO, bytes, 2);
    EXPECT_EQ(buffer, (Bytes{0x00, 0x20, 0x2C, 0x05, 0xEE, 0xEE, 0xEE, 0xEE}));
    fillReport(buffer.data(), 8, command::kBlink, bytes, 6);  // exactly L - 2
    fillReport(buffer.data(), 8, command::kStop, nullptr, 0);
    EXPECT_EQ(buffer, (Bytes{0x00, 0x10, 0x2C, 0x05, 3, 4, 5, 6}));

    Bytes fresh(8, 0xEE);
    try {
        fillReport(fresh.data(), 8, command::kBlink, bytes, 7);
        ADD_FAILURE() << "no exception";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "Too much data for buffer");
    }
    EXPECT_EQ(fresh, (Bytes{0x00, 0x27, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_THROW(fillReport(fresh.data(), 1, command::kBlink, nullptr, 0), std::length_error);
    EXPECT_THROW(fillReport(fresh.data(), 8, command::kBlink, bytes, std::size_t(-1)),
                 std::length_error);
}

// The reports of one code, or none when it was refused.
std::vector<Bytes> sendCode(std::size_t count, std::size_t L) {
    std::vector<unsigned int> words;
    for (std::size_t i = 0; i < count; ++i)
        words.push_back(0x10000u * i + 0x1234u + i);
    Bytes buffer(L + 1, 0xEE);
    std::vector<Bytes> reports;
    bool sent = forEachIRSendReport(words.data(), count, 0x5A, 0x03, buffer.data(), L,
                                    [&](const unsigned char* report, std::size_t length) {
                                        EXPECT_EQ(length, L);
                                        if (reports.size() > 600)
                                            throw std::runtime_error("no progress");
                                        reports.emplace_back(report, report + length);
                                    });
    EXPECT_EQ(sent, !reports.empty());
    EXPECT_EQ(buffer.back(), 0xEE) << "wrote past the report";
    // Read the words back by byte 3 of each report: only the low 16 bits go out.
    std::vector<unsigned int> back, low;
    for (std::size_t r = 0; r < reports.size(); ++r) {
        for (std::size_t at = r == 0 ? 6 : 4; at < 4u + reports[r][3]; at += 2) {
            back.push_back(reports[r][at] << 8 | reports[r][at + 1]);
        }
    }
    for (unsigned int word : words)
        low.push_back(word & 0xFFFF);
    if (sent) {
        EXPECT_EQ(back, low);
    }
    return reports;
}

TEST(IRSendSequence, SplitsByReportLength) {
    struct Case {
        std::size_t L, count;
        Bytes flags, byte3;
    };
    const Case cases[] = {
        {65, 100, {0x01, 0x00, 0x00, 0x02}, {60, 60, 60, 22}},
        {65, 29, {0x03}, {60}},
        {65, 30, {0x01, 0x02}, {60, 2}},
        {6, 2, {0x01, 0x00, 0x02}, {2, 2, 2}},          // the first report holds no word
        {600, 256, {0x01, 0x00, 0x02}, {254, 254, 6}},  // byte 3 stays within a byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("L=" + std::to_string(c.L) + " count=" + std::to_string(c.count));
        std::vector<Bytes> reports = sendCode(c.count, c.L);
        ASSERT_EQ(reports.size(), c.flags.size());
        for (std::size_t r = 0; r < reports.size(); ++r) {
            EXPECT_EQ(Bytes(reports[r].begin(), reports[r].begin() + 4),
                      (Bytes{0x00, 0x0E, c.flags[r], c.byte3[r]}));
        }
        EXPECT_EQ(reports[0][4], 0x03);  // repeat
        EXPECT_EQ(reports[0][5], 0x5A);  // bitmask
    }
}

TEST(IRSendSequence, RefusedWithoutWordsOrRoom) {
    for (std::size_t L : {0, 1, 4, 5})
        EXPECT_TRUE(sendCode(5, L).empty()) << "L=" << L;
    EXPECT_TRUE(sendCode(0, 65).empty());
}

class WakeChunkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setDebugOutputHook([this](const std::string& text) { debug.push_back(text); });
    }
    void TearDown() override { setDebugOutputHook(nullptr); }

    // Sends a block of `size` bytes of every value; returns the chunk lengths.
    std::vector<std::size_t> send(std::size_t size, int flag, std::size_t L) {
        std::string block, joined;
        for (std::size_t i = 0; i < size; ++i)
            block += static_cast<char>(i * 7);
        std::vector<std::size_t> lengths;
        bool sent = forEachWakeChunk(
            block, flag, L, [&](unsigned char code, const unsigned char* payload, std::size_t n) {
                EXPECT_EQ(code, flag ? 0x25 : 0x24);
                EXPECT_LE(n + 2, L);
                EXPECT_EQ(payload[0], joined.size());  // offset
                EXPECT_EQ(payload[1] + 2u, n);         // chunk length
                joined.append(payload + 2, payload + n);
                lengths.push_back(payload[1]);
            });
        EXPECT_EQ(sent, !lengths.empty());
        if (sent) {
            EXPECT_EQ(joined, block);
        }
        return lengths;
    }

    std::vector<std::string> debug;
};

TEST_F(WakeChunkTest, ChunkSizesFollowReportLength) {
    using Sizes = std::vector<std::size_t>;
    EXPECT_EQ(send(200, 1, 65), (Sizes{61, 61, 61, 17}));
    EXPECT_EQ(send(255, 0, 65), (Sizes{61, 61, 61, 61, 11}));
    EXPECT_EQ(send(255, 7, 300), (Sizes{128, 127}));
    EXPECT_EQ(send(3, 1, 5), (Sizes{1, 1, 1}));
    EXPECT_EQ(send(0, 0, 65), (Sizes{0}));  // an empty block still sends one chunk
    EXPECT_TRUE(debug.empty());
}

TEST_F(WakeChunkTest, LongBlockOrShortReportRefused) {
    EXPECT_TRUE(send(256, 1, 65).empty());
    EXPECT_EQ(debug, (std::vector<std::string>{"TOO LONG"}));
    EXPECT_TRUE(send(2, 0, 4).empty());
    EXPECT_EQ(debug.size(), 2u);
}

}  // namespace
}  // namespace koblib
