// Reading Intel HEX lines: result codes, fields and the line rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "test_files.h"
#include "upgrade/hex_record.h"

namespace koblib {
namespace {

using koblib_test::TempDir;

// Every result code readHexRecord gives for a file, up to and including
// the first -2 (or 12 codes, whichever comes first).
std::vector<int> readAll(const std::string& content) {
    TempDir dir;
    std::FILE* file = std::fopen(dir.write("in.hex", content).c_str(), "rb");
    EXPECT_NE(file, nullptr);
    std::vector<int> codes;
    if (file == nullptr) return codes;
    HexRecord record;
    while (codes.size() < 12) {
        codes.push_back(readHexRecord(&record, file));
        if (codes.back() == kHexRecordEndOfFile) break;
    }
    std::fclose(file);
    return codes;
}

struct LineCase {
    const char* name;
    std::string content;
    std::vector<int> codes;
};
void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

class HexRecordLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(HexRecordLines, GiveTheirResultCodes) {
    EXPECT_EQ(readAll(GetParam().content), GetParam().codes);
}

const std::string kLongRecord = ":FF000000" + std::string(510, '1') + "12";

INSTANTIATE_TEST_SUITE_P(
    Cases, HexRecordLines,
    ::testing::Values(
        LineCase{"EmptyFile", "", {-2}},
        LineCase{"DataThenEof", ":02123400ABCD40\r\n:00000001FF\r\n", {0, 0, -2}},
        LineCase{"LastLineWithoutLineEnd", ":00000001FF", {0, -2}},
        LineCase{"EmptyLineLf", "\n:00000001FF\n", {-5, 0, -2}},
        LineCase{"EmptyLineCrLf", "\r\n", {-5, -2}}, LineCase{"EmptyLineCrOnly", "\r", {-5, -2}},
        LineCase{"EightCharacters", ":0000000\n", {-3, -2}},
        LineCase{"NineCharactersNoChecksum", ":00000001\n", {-3, -2}},
        LineCase{"NoColon", "X00000001FF\n", {-3, -2}},
        LineCase{"ColonNotFirst", " :00000001FF\n", {-3, -2}},
        LineCase{"DataShorterThanLength", ":02123400AB40\n", {-3, -2}},
        LineCase{"ChecksumMismatch", ":02123400ABCD41\n", {-3, -2}},
        LineCase{"LowerCaseDigits", ":02123400abcd40\n", {0, -2}},
        LineCase{"TextAfterChecksumIgnored", ":02123400ABCD40 trailing text\n", {0, -2}},
        // Pairs that are not hex are malformed even where reading
        // them as 0 (or as their leading digit) would suit the checksum.
        LineCase{"NonHexPair", ":01000000ZZFF\n", {-3, -2}},
        LineCase{"NonHexSecondDigit", ":010000001GFE\n", {-3, -2}},
        LineCase{"NonHexInTheHeader", ":0Z123400ABCD40\n", {-3, -2}},
        LineCase{"LineOfBlanksIsEmpty", " \t \r\n:00000001FF\n", {-5, 0, -2}},
        LineCase{"CtrlZEndsTheText", ":00000001FF\r\n\x1A:00000001FF\n", {0, -2}},
        // A zero byte is a character of the line, not its end.
        LineCase{"ZeroByteStartingALine", std::string("\0:00000001FF\n", 13), {-3, -2}},
        LineCase{"CrOnlyLineEnds", ":02123400ABCD40\r:00000001FF\r", {0, 0, -2}},
        // 521 characters of record and 300 more: the first 767 characters
        // are one line (a good record), the remaining 54 another.
        LineCase{"LineLongerThanBufferIsReadInPieces",
                 kLongRecord + std::string(300, 'x') + "\n",
                 {0, -3, -2}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(HexRecord, FieldsOfADataRecord) {
    TempDir dir;
    std::FILE* file = std::fopen(
        dir.write("in.hex", ":10FFF000000102030405060708090A0B0C0D0E0F89\n").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    HexRecord record;
    ASSERT_EQ(readHexRecord(&record, file), kHexRecordOk);
    std::fclose(file);
    EXPECT_EQ(record.length, 16);
    EXPECT_EQ(record.address, 0xFFF0);
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.checksum, 0x89);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(record.data[i], i) << i;
}

TEST(HexRecord, NullRecordOrFile) {
    TempDir dir;
    std::FILE* file = std::fopen(dir.write("in.hex", ":00000001FF\n").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    HexRecord record;
    EXPECT_EQ(readHexRecord(nullptr, file), kHexRecordNoInput);
    EXPECT_EQ(readHexRecord(&record, nullptr), kHexRecordNoInput);
    // Nothing was consumed by the refused call.
    EXPECT_EQ(readHexRecord(&record, file), kHexRecordOk);
    std::fclose(file);
}

TEST(HexRecord, ReadErrorIsNotEndOfFile) {
    TempDir dir;
    // A stream opened for writing only cannot be read: the line reader
    // fails while the stream is not at its end.
    std::FILE* file = std::fopen(dir.path("out.hex").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    HexRecord record;
    EXPECT_EQ(readHexRecord(&record, file), kHexRecordReadError);
    std::fclose(file);
}

}  // namespace
}  // namespace koblib
