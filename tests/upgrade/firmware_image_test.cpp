// Loading Intel HEX files into blocks, and agreement with objcopy's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_files.h"
#include "upgrade/firmware_image.h"

namespace koblib {
namespace {

using koblib_test::byteRun;
using koblib_test::hexLine;
using koblib_test::readBinaryFile;
using koblib_test::TempDir;
using koblib_test::testDataPath;

const std::string kEof = ":00000001FF\r\n";

class FirmwareImageTest : public ::testing::Test {
  protected:
    bool load(std::uint32_t blockSize, const std::string& content) {
        return image.load(blockSize, dir.write("fw.hex", content).c_str());
    }
    std::vector<std::uint32_t> bases() const {
        std::vector<std::uint32_t> result;
        for (std::size_t i = 0; i < image.blockCount(); ++i)
            result.push_back(image.blockAt(i)->base());
        return result;
    }

    TempDir dir;
    FirmwareImage image;
};

TEST_F(FirmwareImageTest, RecordInsideOneBlock) {
    ASSERT_TRUE(load(128, hexLine(0x0000, 0, byteRun(1, 16)) + kEof));
    ASSERT_EQ(image.blockCount(), 1u);
    const auto block = image.blockAt(0);
    EXPECT_EQ(block->base(), 0u);
    EXPECT_EQ(block->size(), 128u);
    EXPECT_EQ(block->used(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(block->data()[i], i + 1);
    for (int i = 16; i < 128; ++i)
        EXPECT_EQ(block->data()[i], 0) << i;
}

TEST_F(FirmwareImageTest, RecordAcrossABlockBoundary) {
    ASSERT_TRUE(load(128, hexLine(0x0078, 0, byteRun(1, 16)) + kEof));
    ASSERT_EQ(bases(), (std::vector<std::uint32_t>{0x00, 0x80}));
    EXPECT_EQ(image.blockAt(0)->used(), 128u);
    EXPECT_EQ(image.blockAt(0)->data()[0x78], 1);
    EXPECT_EQ(image.blockAt(0)->data()[0x7F], 8);
    EXPECT_EQ(image.blockAt(1)->used(), 8u);
    EXPECT_EQ(image.blockAt(1)->data()[0], 9);
    EXPECT_EQ(image.blockAt(1)->data()[7], 16);
}

TEST_F(FirmwareImageTest, BlocksKeepTheOrderOfFirstWrite) {
    ASSERT_TRUE(load(128, hexLine(0x0200, 0, byteRun(1, 4)) + hexLine(0x0100, 0, byteRun(1, 4)) +
                              hexLine(0x0000, 0, byteRun(1, 4)) +
                              hexLine(0x0204, 0, byteRun(1, 4)) + kEof));
    EXPECT_EQ(bases(), (std::vector<std::uint32_t>{0x200, 0x100, 0x000}));
    EXPECT_EQ(image.blockAt(0)->used(), 8u);
}

TEST_F(FirmwareImageTest, LaterBytesWinAndUsedOnlyGrows) {
    ASSERT_TRUE(load(
        128, hexLine(0x0000, 0, byteRun(0x10, 16)) + hexLine(0x0002, 0, byteRun(0xA0, 2)) + kEof));
    ASSERT_EQ(image.blockCount(), 1u);
    const auto block = image.blockAt(0);
    EXPECT_EQ(block->used(), 16u);
    EXPECT_EQ(block->data()[1], 0x11);
    EXPECT_EQ(block->data()[2], 0xA0);
    EXPECT_EQ(block->data()[3], 0xA1);
    EXPECT_EQ(block->data()[4], 0x14);
}

TEST_F(FirmwareImageTest, ExtendedAddressRecordsOfZeroChangeNothing) {
    // Extended linear (04) and segment (02) records of 0 and the start
    // records (03, 05): the data lands at its 16-bit address.
    ASSERT_TRUE(load(128, hexLine(0, 4, {0x00, 0x00}) + hexLine(0, 2, {0x00, 0x00}) +
                              hexLine(0, 5, {0, 0, 0x12, 0x34}) +
                              hexLine(0x0010, 0, byteRun(7, 2)) + kEof));
    ASSERT_EQ(bases(), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(image.blockAt(0)->data()[0x10], 7);
    EXPECT_EQ(image.blockAt(0)->used(), 0x12u);
}

TEST_F(FirmwareImageTest, SegmentAddressBelow64KiBMovesTheData) {
    ASSERT_TRUE(load(128, hexLine(0, 2, {0x01, 0x00}) + hexLine(0x0010, 0, byteRun(7, 2)) + kEof));
    EXPECT_EQ(bases(), (std::vector<std::uint32_t>{0x1000}));
}

// A file that cannot be read whole leaves nothing to flash.
class MalformedFile : public FirmwareImageTest,
                      public ::testing::WithParamInterface<koblib_test::HexText> {};

TEST_P(MalformedFile, FailsToLoadAndLeavesTheImageEmpty) {
    EXPECT_FALSE(load(16, GetParam().content));
    EXPECT_EQ(image.blockCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MalformedFile,
                         ::testing::ValuesIn(koblib_test::malformedHexFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

// What real tools write, in every line style they use, loads exactly as
// the plain CR LF file of the same records.
TEST_F(FirmwareImageTest, LineStylesOfRealToolsLoadAlike) {
    const std::string plain = koblib_test::hexFile(0x0F0, byteRun(3, 300));
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = plain;
        for (std::size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    };
    std::string lower = plain;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string starts = hexLine(0, 3, {0, 0, 0x12, 0x34}) + hexLine(0, 5, {0, 0, 0, 0x10});
    std::vector<std::pair<const char*, std::string>> styles = {
        {"LF", replaced("\r\n", "\n")},
        {"CR", replaced("\r\n", "\r")},
        {"lower case", lower},
        {"no final line end", plain.substr(0, plain.size() - 2)},
        {"zero address records", hexLine(0, 4, {0, 0}) + hexLine(0, 2, {0, 0}) + plain},
        {"start records", replaced(kEof, starts + kEof)},
        {"blank lines", replaced(kEof, "\r\n" + kEof + "\r\n\n")},
    };
    for (const auto& file : koblib_test::toolWrittenHexFiles(plain))
        styles.emplace_back(file.name, file.content);
    ASSERT_TRUE(load(128, plain));
    const FirmwareImage expected = image;
    for (const auto& style : styles) {
        ASSERT_TRUE(load(128, style.second)) << style.first;
        ASSERT_EQ(image.blockCount(), expected.blockCount()) << style.first;
        for (std::size_t i = 0; i < image.blockCount(); ++i) {
            const auto got = image.blockAt(i);
            const auto want = expected.blockAt(i);
            EXPECT_EQ(got->base(), want->base()) << style.first;
            EXPECT_EQ(got->used(), want->used()) << style.first;
            EXPECT_TRUE(std::equal(got->data(), got->data() + got->size(), want->data()))
                << style.first;
        }
    }
}

// An application and its bootloader joined with cat: both parts, each
// from the base 0 whatever address record the first one ended with.
TEST_F(FirmwareImageTest, JoinedFilesAreReadOn) {
    const std::string application = hexLine(0, 4, {0, 0}) + hexLine(0x0100, 0, byteRun(1, 8)) +
                                    hexLine(0, 2, {0x01, 0x00}) +
                                    hexLine(0x0010, 0, byteRun(9, 8)) + kEof;
    const std::string bootloader = hexLine(0x7000, 0, byteRun(0x80, 8)) + kEof;
    ASSERT_TRUE(load(128, application + bootloader));
    EXPECT_EQ(bases(), (std::vector<std::uint32_t>{0x0100, 0x1000, 0x7000}));
    const auto boot = image.blockAt(2);
    EXPECT_EQ(boot->used(), 8u);
    EXPECT_TRUE(std::equal(boot->data(), boot->data() + 8, byteRun(0x80, 8).begin()));
}

TEST_F(FirmwareImageTest, MissingFileFailsAndLeavesTheImageEmpty) {
    ASSERT_TRUE(load(128, hexLine(0, 0, byteRun(1, 4)) + kEof));
    ASSERT_EQ(image.blockCount(), 1u);
    EXPECT_FALSE(image.load(128, dir.path("missing.hex").c_str()));
    EXPECT_EQ(image.blockCount(), 0u);
}

TEST_F(FirmwareImageTest, BlockSizeZeroIsRefused) {
    EXPECT_FALSE(load(0, hexLine(0, 0, byteRun(1, 4)) + kEof));
    EXPECT_EQ(image.blockCount(), 0u);
    const auto bytes = byteRun(1, 4);
    image.write(0, bytes.data(), 4);
    EXPECT_EQ(image.blockCount(), 0u);
}

TEST_F(FirmwareImageTest, FileWithoutDataRecordsGivesAnEmptyImage) {
    EXPECT_TRUE(load(128, kEof));
    EXPECT_EQ(image.blockCount(), 0u);
    // A data record without bytes makes no block (one would be flashed
    // as zeros).
    EXPECT_TRUE(load(128, hexLine(0x0010, 0, {}) + kEof));
    EXPECT_EQ(image.blockCount(), 0u);
}

// random.hex holds random_a.bin at 0x0000 and random_b.bin at 0x2345, as
// objcopy wrote them, random_srec.hex the same as srec_cat wrote them;
// every block must equal that memory, holes as 0.
class ToolAgreement : public ::testing::TestWithParam<std::tuple<const char*, std::uint32_t>> {};

TEST_P(ToolAgreement, BlocksEqualTheBinaries) {
    const std::string file = testDataPath(std::get<0>(GetParam()));
    if (!std::ifstream(file).good()) GTEST_SKIP() << file << " was not made (no srec_cat)";
    const std::uint32_t blockSize = std::get<1>(GetParam());
    const auto first = readBinaryFile(testDataPath("random_a.bin"));
    const auto second = readBinaryFile(testDataPath("random_b.bin"));
    ASSERT_EQ(first.size(), 3000u);
    ASSERT_EQ(second.size(), 1000u);

    std::vector<std::uint8_t> memory(0x10000, 0);
    std::vector<bool> written(0x10000, false);
    auto place = [&](std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            memory[address + i] = bytes[i];
            written[address + i] = true;
        }
    };
    place(0x0000, first);
    place(0x2345, second);

    // Expected blocks, in ascending order (objcopy writes ascending), with
    // the offset after the highest written byte of each.
    std::map<std::uint32_t, std::uint32_t> expectedUsed;
    for (std::uint32_t address = 0; address < memory.size(); ++address) {
        if (written[address]) {
            const std::uint32_t base = address / blockSize * blockSize;
            expectedUsed[base] = address - base + 1;
        }
    }

    FirmwareImage image;
    ASSERT_TRUE(image.load(blockSize, file.c_str()));
    ASSERT_EQ(image.blockCount(), expectedUsed.size());
    auto expected = expectedUsed.begin();
    for (std::size_t i = 0; i < image.blockCount(); ++i, ++expected) {
        const auto block = image.blockAt(i);
        ASSERT_EQ(block->base(), expected->first) << "block " << i;
        EXPECT_EQ(block->used(), expected->second) << "block " << i;
        ASSERT_EQ(block->size(), blockSize);
        for (std::uint32_t offset = 0; offset < blockSize; ++offset) {
            ASSERT_EQ(block->data()[offset], memory[block->base() + offset])
                << "address " << block->base() + offset;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, ToolAgreement,
                         ::testing::Combine(::testing::Values("random.hex", "random_srec.hex"),
                                            ::testing::Values(128u, 256u, 100u, 1u)),
                         [](const auto& info) {
                             std::string file = std::get<0>(info.param);
                             return file.substr(0, file.find('.')) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace koblib
