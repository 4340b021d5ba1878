// Loading Intel HEX files into blocks, and agreement with objcopy's output.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
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

TEST_F(FirmwareImageTest, BlankLineEndsTheReading) {
    ASSERT_TRUE(load(128, hexLine(0x0000, 0, byteRun(1, 4)) + "\r\n" +
                              hexLine(0x0100, 0, byteRun(1, 4)) + kEof));
    EXPECT_EQ(bases(), (std::vector<std::uint32_t>{0}));
}

TEST_F(FirmwareImageTest, ChecksumErrorOnLineFiveKeepsLinesOneToFour) {
    std::string content;
    for (unsigned line = 0; line < 4; ++line)
        content += hexLine(line * 0x80, 0, byteRun(1, 4));
    std::string damaged = hexLine(0x0200, 0, byteRun(1, 4));
    damaged[damaged.size() - 3] ^= 1;  // last checksum digit
    content += damaged + hexLine(0x0280, 0, byteRun(1, 4)) + kEof;
    ASSERT_TRUE(load(128, content));
    EXPECT_EQ(bases(), (std::vector<std::uint32_t>{0x000, 0x080, 0x100, 0x180}));
}

TEST_F(FirmwareImageTest, EndOfFileRecordDoesNotEndTheReading) {
    ASSERT_TRUE(
        load(128, hexLine(0x0000, 0, byteRun(1, 4)) + kEof + hexLine(0x0100, 0, byteRun(1, 4))));
    EXPECT_EQ(bases(), (std::vector<std::uint32_t>{0x000, 0x100}));
}

TEST_F(FirmwareImageTest, AddressRecordsAreIgnored) {
    // Extended linear (04), extended segment (02) and start (03, 05)
    // records: the data lands at its 16-bit address all the same.
    ASSERT_TRUE(load(128, hexLine(0, 4, {0x00, 0x01}) + hexLine(0, 2, {0x10, 0x00}) +
                              hexLine(0, 5, {0, 0, 0x12, 0x34}) +
                              hexLine(0x0010, 0, byteRun(7, 2)) + kEof));
    ASSERT_EQ(bases(), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(image.blockAt(0)->data()[0x10], 7);
    EXPECT_EQ(image.blockAt(0)->used(), 0x12u);
}

TEST_F(FirmwareImageTest, MissingFileFailsAndLeavesTheImageEmpty) {
    ASSERT_TRUE(load(128, hexLine(0, 0, byteRun(1, 4))));
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
}

// random.hex holds random_a.bin at 0x0000 and random_b.bin at 0x2345, as
// objcopy wrote them; every block must equal that memory, holes as 0.
class ObjcopyAgreement : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ObjcopyAgreement, BlocksEqualTheBinaries) {
    const std::uint32_t blockSize = GetParam();
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
    ASSERT_TRUE(image.load(blockSize, testDataPath("random.hex").c_str()));
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

INSTANTIATE_TEST_SUITE_P(BlockSizes, ObjcopyAgreement, ::testing::Values(128u, 256u, 100u, 1u));

}  // namespace
}  // namespace koblib
