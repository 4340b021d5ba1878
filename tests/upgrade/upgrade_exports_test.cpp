// The three upgrade exports of the library, against the virtual
// bootloader: null arguments, the progress callback, the port list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "koblib.h"
#include "test_files.h"
#include "virtual_bootloader.h"

namespace {

std::vector<std::pair<int, int>> reports;

void KOB_CALL onProgress(int phase, int percent) {
    reports.emplace_back(phase, percent);
}

class UpgradeExports : public ::testing::Test {
  protected:
    koblib_sim::VirtualBootloader sim;
    koblib_test::TempDir dir;
    std::string hex =
        dir.write("fw.hex", koblib_test::hexFile(0x100, koblib_test::byteRun(3, 200)));
};

TEST_F(UpgradeExports, NullPortIsRefused) {
    EXPECT_EQ(kob_upgrade(nullptr, hex.c_str(), onProgress), -1);
    EXPECT_EQ(kob_upgrade_is_kob(nullptr), -1);
    EXPECT_TRUE(sim.snapshot().received().empty());
}

TEST_F(UpgradeExports, UpgradeReportsProgressThroughTheCallback) {
    reports.clear();
    ASSERT_EQ(kob_upgrade(sim.portPath().c_str(), hex.c_str(), onProgress), 0);
    // 200 bytes from 0x100 in blocks of 128: two blocks.
    EXPECT_EQ(reports, (std::vector<std::pair<int, int>>{
                           {0, 0}, {0, 0}, {0, 50}, {0, 100}, {1, 0}, {1, 0}, {1, 50}, {1, 100}}));
    EXPECT_EQ(kob_upgrade_is_kob(sim.portPath().c_str()), 0);
    EXPECT_TRUE(sim.snapshot().left());
}

TEST_F(UpgradeExports, NullProgressIsNotCalled) {
    ASSERT_EQ(kob_upgrade(sim.portPath().c_str(), hex.c_str(), nullptr), 0);
    EXPECT_EQ(kob_upgrade_is_kob(sim.portPath().c_str()), 0);
    const auto state = sim.snapshot();
    EXPECT_TRUE(state.left());
    EXPECT_EQ(state.flash()[0x100], 3);
    EXPECT_EQ(state.flash()[0x100 + 199], static_cast<std::uint8_t>(3 + 199));
}

TEST_F(UpgradeExports, NullHexPathFailsAsAMissingFile) {
    EXPECT_EQ(kob_upgrade(sim.portPath().c_str(), nullptr, nullptr), -5);
}

// A file that cannot be read whole is refused before anything is written:
// the bootloader saw the block-size query and then only the probe that
// follows, so never "E".
class DamagedFirmware : public UpgradeExports,
                        public ::testing::WithParamInterface<koblib_test::HexText> {};

TEST_P(DamagedFirmware, IsRefusedAndNothingIsSent) {
    const std::string path = GetParam().content.empty() ? dir.path("")  // the directory itself
                                                        : dir.write("bad.hex", GetParam().content);
    reports.clear();
    EXPECT_EQ(kob_upgrade(sim.portPath().c_str(), path.c_str(), onProgress),
              KOB_UPGRADE_FILE_FAILED);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(kob_upgrade_is_kob(sim.portPath().c_str()), KOB_UPGRADE_OK);
    EXPECT_EQ(sim.snapshot().received(), "bS");
}

std::vector<koblib_test::HexText> damagedFiles() {
    auto files = koblib_test::malformedHexFiles();
    files.push_back({"Directory", ""});
    return files;
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedFirmware, ::testing::ValuesIn(damagedFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

// Files as editors and older tools write them upgrade like the plain file.
class ToolWrittenFirmware : public UpgradeExports,
                            public ::testing::WithParamInterface<koblib_test::HexText> {};

TEST_P(ToolWrittenFirmware, Upgrades) {
    const auto bytes = koblib_test::byteRun(0x21, 300);
    const std::string path = dir.write("tool.hex", GetParam().content);
    ASSERT_EQ(kob_upgrade(sim.portPath().c_str(), path.c_str(), nullptr), KOB_UPGRADE_OK);
    ASSERT_EQ(kob_upgrade_is_kob(sim.portPath().c_str()), KOB_UPGRADE_OK);
    const auto state = sim.snapshot();
    EXPECT_TRUE(state.left());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), state.flash().begin() + 0x40));
}

INSTANTIATE_TEST_SUITE_P(Styles, ToolWrittenFirmware,
                         ::testing::ValuesIn(koblib_test::toolWrittenHexFiles(
                             koblib_test::hexFile(0x40, koblib_test::byteRun(0x21, 300)))),
                         [](const auto& info) { return std::string(info.param.name); });

// An application and a bootloader joined with cat: the boot area is never
// written, only compared; a bootloader other than the one the device holds
// fails the verify, and the device is not told to leave.
struct MergedFile {
    const char* name;
    std::uint8_t bootloaderChange;  // XORed into one byte of the held bootloader
    int result;
};
void PrintTo(const MergedFile& file, std::ostream* out) {
    *out << file.name;
}

class MergedFirmware : public UpgradeExports, public ::testing::WithParamInterface<MergedFile> {};

TEST_P(MergedFirmware, VerifiesTheBootloaderPart) {
    const auto application = koblib_test::byteRun(0x55, 0x180);
    std::vector<std::uint8_t> bootloader;
    for (std::uint32_t a = koblib_sim::kBootloaderRegion; a < koblib_sim::kFlashSize; ++a)
        bootloader.push_back(koblib_sim::bootloaderPattern(a));
    bootloader[0x345] ^= GetParam().bootloaderChange;
    const std::string path = dir.write(
        "merged.hex", koblib_test::hexFile(0, application) +
                          koblib_test::hexFile(koblib_sim::kBootloaderRegion, bootloader));
    EXPECT_EQ(kob_upgrade(sim.portPath().c_str(), path.c_str(), nullptr), GetParam().result);
    ASSERT_EQ(kob_upgrade_is_kob(sim.portPath().c_str()), KOB_UPGRADE_OK);
    const auto state = sim.snapshot();
    EXPECT_EQ(state.left(), GetParam().result == KOB_UPGRADE_OK);
    EXPECT_EQ(state.bootloaderWrites(), 0u);
    for (std::uint32_t a : state.writeAddresses())
        EXPECT_LT(a, koblib_sim::kBootloaderRegion);
    EXPECT_TRUE(std::equal(application.begin(), application.end(), state.flash().begin()));
    for (std::uint32_t a = koblib_sim::kBootloaderRegion; a < koblib_sim::kFlashSize; ++a)
        ASSERT_EQ(state.flash()[a], koblib_sim::bootloaderPattern(a)) << a;
}

INSTANTIATE_TEST_SUITE_P(Parts, MergedFirmware,
                         ::testing::Values(MergedFile{"BootloaderAsHeld", 0, KOB_UPGRADE_OK},
                                           MergedFile{"OtherBootloader", 0x10,
                                                      KOB_UPGRADE_VERIFY_FAILED}),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever the block size, no byte at or above 0x7000 is written and the
// firmware below it arrives whole.
class BlockSizes : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(BlockSizes, NeverWriteIntoTheBootloader) {
    koblib_sim::BootloaderConfig config;
    config.blockSize = GetParam();
    koblib_sim::VirtualBootloader sim(config);
    const auto firmware = koblib_test::readBinaryFile(koblib_test::testDataPath("firmware28k.bin"));
    ASSERT_EQ(kob_upgrade(sim.portPath().c_str(),
                          koblib_test::testDataPath("firmware28k.hex").c_str(), nullptr),
              KOB_UPGRADE_OK);
    ASSERT_EQ(kob_upgrade_is_kob(sim.portPath().c_str()), 0);
    const auto state = sim.snapshot();
    EXPECT_TRUE(state.left());
    EXPECT_EQ(state.bootloaderWrites(), 0u);
    ASSERT_EQ(firmware.size(), koblib_sim::kBootloaderRegion);
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), state.flash().begin()));
    for (std::uint32_t a = koblib_sim::kBootloaderRegion; a < koblib_sim::kFlashSize; a += 0x100)
        ASSERT_EQ(state.flash()[a], koblib_sim::bootloaderPattern(a)) << a;
}

// 0x1000 and 0x7000 end at the bootloader; 0x3000 and 0xFFFE run into it.
INSTANTIATE_TEST_SUITE_P(Sizes, BlockSizes, ::testing::Values(0x1000, 0x7000, 0x3000, 0xFFFE));

TEST(UpgradeExportsList, LengthAndStoredTextAgree) {
    const unsigned int length = kob_upgrade_list_comports(nullptr, 0);
    std::vector<char> text(length + 1, '#');
    EXPECT_EQ(kob_upgrade_list_comports(text.data(), length), length);
    EXPECT_EQ(text[0], '#');  // one byte short: nothing stored
    EXPECT_EQ(kob_upgrade_list_comports(text.data(), length + 1), length);
    EXPECT_EQ(std::strlen(text.data()), length);
}

}  // namespace
