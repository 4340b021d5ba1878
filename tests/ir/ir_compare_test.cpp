#include "ir/ir_compare.h"

#include <gtest/gtest.h>

#include <string>

namespace koblib {
namespace {

constexpr const char* kCode =
    "0000 006D 0000 0022 0157 00AC 0015 0016 0015 0041 0015 0016 0015 05F7";

// A code of n words: format word, then words value, the last word last.
std::string code(int n, const char* value, const char* last = "0100") {
    std::string text = "0000";
    for (int i = 1; i < n - 1; ++i)
        text += std::string(" ") + value;
    return text + " " + last;
}

TEST(IrCompare, IdenticalCodesMatch) {
    EXPECT_TRUE(irCompare(kCode, kCode));
}

TEST(IrCompare, DifferentWordCountsDoNotMatch) {
    EXPECT_FALSE(irCompare(kCode, "0000 006D 0000 0022 0157 00AC"));
    EXPECT_FALSE(irCompare(code(10, "0100").c_str(), code(11, "0100").c_str()));
}

TEST(IrCompare, FormatWordAndLastWordAreNotCompared) {
    EXPECT_TRUE(irCompare(code(6, "0100", "0010").c_str(), code(6, "0100", "FFFF").c_str()));
    EXPECT_TRUE(irCompare("0000 0100 0200 0300", "0100 0100 0200 0300"));
}

TEST(IrCompare, ToleranceIsAFifthOfTheFirstCodesWord) {
    // 100 = 0x64, 119 = 0x77, 121 = 0x79.
    EXPECT_TRUE(irCompare("0000 0064 0000", "0000 0077 0000"));   // (19 * 10) / 100 = 1
    EXPECT_FALSE(irCompare("0000 0064 0000", "0000 0079 0000"));  // (21 * 10) / 100 = 2
    EXPECT_TRUE(irCompare("0000 0079 0000", "0000 0064 0000"));   // (21 * 10) / 121 = 1
}

TEST(IrCompare, EveryComparedWordMustMatch) {
    EXPECT_TRUE(irCompare("0000 006D 0064 0064 0064 0000", "0000 006E 0066 005F 0070 0000"));
    EXPECT_FALSE(irCompare("0000 006D 0064 0064 0064 0000", "0000 006D 0064 0064 0090 0000"));
    EXPECT_FALSE(irCompare("0000 006D 0064 0064 0064 0000", "0000 00FF 0064 0064 0064 0000"));
}

TEST(IrCompare, ZeroMatchesOnlyZero) {
    EXPECT_TRUE(irCompare("0000 006D 0000 0022", "0000 006D 0000 0022"));
    EXPECT_FALSE(irCompare("0000 006D 0000 0022", "0000 006D 0001 0022"));
    EXPECT_FALSE(irCompare("0000 006D 0001 0022", "0000 006D 0000 0022"));
}

TEST(IrCompare, CodesAreReadUpTo256Words) {
    // 300 words each; they differ in word 255 (the last one read) and
    // beyond, so they match.
    const std::string a = code(256, "0100", "0100") + " " + code(44, "0100");
    const std::string b = code(256, "0100", "0900") + " " + code(44, "0900");
    EXPECT_TRUE(irCompare(a.c_str(), b.c_str()));
    // A difference at word 254 counts.
    const std::string c = code(255, "0100", "0900") + " " + code(45, "0100");
    EXPECT_FALSE(irCompare(a.c_str(), c.c_str()));
}

TEST(IrCompare, ShortCodesWithEqualCountsMatch) {
    EXPECT_TRUE(irCompare("", ""));
    EXPECT_TRUE(irCompare(nullptr, ""));
    EXPECT_TRUE(irCompare("0000 1234", "FFFF 0001"));
    EXPECT_FALSE(irCompare("0000", nullptr));
}

}  // namespace
}  // namespace koblib
