// The three upgrade exports of the library, against the virtual
// bootloader: null arguments, the progress callback, the port list.
#include <gtest/gtest.h>

#include <cstring>
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

TEST(UpgradeExportsList, LengthAndStoredTextAgree) {
    const unsigned int length = kob_upgrade_list_comports(nullptr, 0);
    std::vector<char> text(length + 1, '#');
    EXPECT_EQ(kob_upgrade_list_comports(text.data(), length), length);
    EXPECT_EQ(text[0], '#');  // one byte short: nothing stored
    EXPECT_EQ(kob_upgrade_list_comports(text.data(), length + 1), length);
    EXPECT_EQ(std::strlen(text.data()), length);
}

}  // namespace
