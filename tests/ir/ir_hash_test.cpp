#include "ir/ir_hash.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ir/md5.h"

namespace koblib {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kEmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

std::string hex(const Md5Digest& digest) {
    std::string text;
    char byte[3];
    for (std::uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

std::string digestOf(const std::vector<std::uint32_t>& words) {
    char out[33];
    EXPECT_EQ(irHash(words.data(), static_cast<std::uint32_t>(words.size()), out, sizeof out), 0u);
    return out;
}

TEST(Md5, KnownDigests) {
    EXPECT_EQ(hex(md5(nullptr, 0)), kEmptyDigest);
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(hex(md5(abc, sizeof abc)), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(CodeShape, ClassesInOrderOfFirstAppearance) {
    const std::vector<std::uint32_t> words{9000, 21, 64, 21, 21, 64, 500};
    EXPECT_THAT(codeShape(words.data(), 7), ElementsAre(0, 1, 0, 0, 1));
}

TEST(CodeShape, ToleranceIsTwoFifthsOfTheRepresentative) {
    const std::vector<std::uint32_t> within{0, 100, 139, 0};
    EXPECT_THAT(codeShape(within.data(), 4), ElementsAre(0, 0));  // (39 * 5) / 100 = 1
    const std::vector<std::uint32_t> beyond{0, 100, 141, 0};
    EXPECT_THAT(codeShape(beyond.data(), 4), ElementsAre(0, 1));  // (41 * 5) / 100 = 2
}

TEST(CodeShape, RepresentativeIsTheWordThatOpenedTheClass) {
    // 139 joins 100's class without moving it, so 190 opens a new one.
    const std::vector<std::uint32_t> words{0, 100, 139, 190, 0};
    EXPECT_THAT(codeShape(words.data(), 5), ElementsAre(0, 0, 1));
}

TEST(CodeShape, ZeroJoinsOnlyAClassOfZero) {
    const std::vector<std::uint32_t> words{0, 0, 1, 0, 0};
    EXPECT_THAT(codeShape(words.data(), 5), ElementsAre(0, 1, 0));
}

TEST(CodeShape, FewerThanThreeWordsGiveAnEmptyShape) {
    const std::vector<std::uint32_t> words{100, 200};
    EXPECT_THAT(codeShape(words.data(), 2), IsEmpty());
    EXPECT_THAT(codeShape(words.data(), 1), IsEmpty());
    EXPECT_THAT(codeShape(words.data(), 0), IsEmpty());
    EXPECT_THAT(codeShape(nullptr, 5), IsEmpty());
}

TEST(CodeShape, HoldsAtMost256Entries) {
    const std::vector<std::uint32_t> words(300, 100);
    EXPECT_EQ(codeShape(words.data(), 258).size(), 256u);
    EXPECT_EQ(codeShape(words.data(), 300).size(), 256u);
}

TEST(IrHash, DigestOfTheShape) {
    EXPECT_EQ(digestOf({9000, 21, 64, 21, 21, 64, 500}), "97bf9d00240e0d7b7c528a1e9b637a34");
}

TEST(IrHash, CodesOfOneOrTwoWordsGiveTheDigestOfNothing) {
    EXPECT_EQ(digestOf({9000}), kEmptyDigest);
    EXPECT_EQ(digestOf({9000, 500}), kEmptyDigest);
    char out[33];
    EXPECT_EQ(irHash(nullptr, 0, out, sizeof out), 0u);
    EXPECT_STREQ(out, kEmptyDigest);
}

TEST(IrHash, LengthsALittleOffGiveTheSameDigest) {
    EXPECT_EQ(digestOf({9000, 21, 64, 21, 21, 64, 500}),
              digestOf({4000, 23, 60, 20, 22, 70, 9999}));
}

TEST(IrHash, DifferentPatternsGiveDifferentDigests) {
    EXPECT_NE(digestOf({9000, 21, 64, 21, 21, 64, 500}), digestOf({9000, 21, 64, 21, 64, 64, 500}));
    EXPECT_NE(digestOf({9000, 21, 64, 21, 21, 64, 500}), digestOf({9000, 21, 64, 21, 21, 500}));
}

TEST(IrHash, WordsPastTheShapeDoNotCount) {
    std::vector<std::uint32_t> a(300, 100);
    std::vector<std::uint32_t> b = a;
    for (std::size_t i = 257; i < b.size(); ++i)
        b[i] = 5000;
    EXPECT_EQ(digestOf(a), digestOf(b));
    b[256] = 5000;
    EXPECT_NE(digestOf(a), digestOf(b));
}

TEST(IrHash, SmallBufferIsLeftUntouchedAndItsSizeReturned) {
    const std::uint32_t words[] = {9000, 21, 64, 21, 21, 64, 500};
    char out[40];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(irHash(words, 7, out, 32), 32u);
    EXPECT_EQ(irHash(words, 7, out, 0), 0u);
    EXPECT_EQ(irHash(nullptr, 7, out, sizeof out), static_cast<std::uint32_t>(sizeof out));
    EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '#'));
    EXPECT_EQ(irHash(words, 7, nullptr, 33), 33u);

    EXPECT_EQ(irHash(words, 7, out, 33), 0u);
    EXPECT_EQ(std::string(out, 33), std::string("97bf9d00240e0d7b7c528a1e9b637a34") + '\0');
    EXPECT_EQ(out[33], '#');
}

}  // namespace
}  // namespace koblib
