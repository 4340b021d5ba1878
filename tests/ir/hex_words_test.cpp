#include "ir/hex_words.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace koblib {
namespace {

std::vector<std::uint32_t> read(const char* text, std::size_t capacity = kCodeWords) {
    std::vector<std::uint32_t> words(capacity, 0xDEADBEEF);
    words.resize(readHexWords(words.data(), capacity, text));
    return words;
}

// n words "0000 0001 0002 ...", single blanks between them.
std::string numberedWords(int n) {
    std::string text;
    char word[8];
    for (int i = 0; i < n; ++i) {
        std::snprintf(word, sizeof word, i == 0 ? "%04X" : " %04X", i);
        text += word;
    }
    return text;
}

TEST(ReadHexWords, BlankSeparatedWords) {
    EXPECT_EQ(read("0000 006D 0000 0022 0002 0001 0040 0010"),
              (std::vector<std::uint32_t>{0x0000, 0x006D, 0x0000, 0x0022, 0x0002, 0x0001, 0x0040,
                                          0x0010}));
}

TEST(ReadHexWords, DigitsWithoutBlanksReadTheSame) {
    EXPECT_EQ(read("0000006D0000002200020001004000100"),
              read("0000 006D 0000 0022 0002 0001 0040 0010"));
}

TEST(ReadHexWords, OtherCharactersAreSkippedNotSeparators) {
    EXPECT_EQ(read("abcd,EF01;2345"), (std::vector<std::uint32_t>{0xABCD, 0xEF01, 0x2345}));
    // Blanks between every two digits do not end a word.
    EXPECT_EQ(read("00 00 00 6D"), (std::vector<std::uint32_t>{0x0000, 0x006D}));
    // Letters past f are skipped too.
    EXPECT_EQ(read("0x1g2h3z4\r\n"), (std::vector<std::uint32_t>{0x0123}));
}

TEST(ReadHexWords, IncompleteLastGroupStaysLeftAlignedButIsNotCounted) {
    std::array<std::uint32_t, 4> words;
    EXPECT_EQ(readHexWords(words.data(), words.size(), "00006D"), 1u);
    EXPECT_EQ(words[0], 0x0000u);
    EXPECT_EQ(words[1], 0x6D00u);
    EXPECT_EQ(words[2], 0u);
}

TEST(ReadHexWords, EmptyAndNullTextReadNoWordsAndClearTheArray) {
    std::array<std::uint32_t, 3> words{7, 7, 7};
    EXPECT_EQ(readHexWords(words.data(), words.size(), ""), 0u);
    EXPECT_EQ(words, (std::array<std::uint32_t, 3>{0, 0, 0}));
    words = {7, 7, 7};
    EXPECT_EQ(readHexWords(words.data(), words.size(), nullptr), 0u);
    EXPECT_EQ(words, (std::array<std::uint32_t, 3>{0, 0, 0}));
    EXPECT_EQ(readHexWords(words.data(), words.size(), "no digits here? ;-)"), 0u);
}

TEST(ReadHexWords, StopsAtCapacity) {
    const std::string text = numberedWords(300);
    const std::vector<std::uint32_t> words = read(text.c_str(), 256);
    ASSERT_EQ(words.size(), 256u);
    EXPECT_EQ(words[255], 255u);
}

TEST(ReadHexWords, WordsPastTheTextAreZero) {
    const std::string text = numberedWords(300);
    std::vector<std::uint32_t> words(kFrameWords, 0xDEADBEEF);
    ASSERT_EQ(readHexWords(words.data(), words.size(), text.c_str()), 300u);
    EXPECT_EQ(words[299], 299u);
    for (std::size_t i = 300; i < kFrameWords; ++i)
        ASSERT_EQ(words[i], 0u) << i;
}

TEST(ReadHexWords, ReceivedTextWithTrailingBlank) {
    // The receive event writes "%04X " per word.
    EXPECT_EQ(read("2000 008C 0230 "), (std::vector<std::uint32_t>{0x2000, 0x008C, 0x0230}));
}

}  // namespace
}  // namespace koblib
