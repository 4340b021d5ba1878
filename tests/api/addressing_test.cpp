// Which devices a command reaches: "serial or all" commands take the empty
// serial for every device, "exact serial" commands only the device whose
// serial equals the given one. Checked on the bytes each device received.
#include "api_test.h"

namespace koblib {
namespace {

TEST_F(ApiTest, CommandsReachTheDevicesTheirSerialAddresses) {
    attach("ADDR-A");
    attach("ADDR-B");
    ASSERT_NE(openAll(), nullptr);
    for (const char* serial : {"ADDR-A", "ADDR-B", kSimSerial})
        ASSERT_TRUE(waitArrived(serial));

    const unsigned char block[] = {1, 2, 3};
    kob_blink("", 7);
    kob_blink("ADDR", 8);  // a prefix names no device
    kob_bootloader("");    // every device here has a serial
    kob_enable_wake_from_suspend("ADDR-A");
    kob_disable_wake_from_suspend("ADDR-A");
    kob_enable_wake_from_suspend("");
    kob_disable_wake_from_suspend("");
    kob_request_wakeup_info("", 0);
    kob_program_wake_from_suspend("", 0, block, sizeof block);
    kob_digitalIO("ADDR-B", 0x2C, 0x05);
    kob_stopCCF("ADDR-A");
    kob_modulation("", 1);
    kob_modulation("", 0);
    kob_raw_learn_start("ADDR-B");
    kob_raw_learn_stop("");
    for (const char* serial : {"ADDR-A", "ADDR-B", kSimSerial})
        ASSERT_TRUE(fence(serial));

    const struct {
        const char* serial;
        std::vector<Report> heads;
    } expected[] = {
        {"ADDR-A",
         {{0x00, 0x27, 0x07},
          {0x00, 0x23, 0x01},
          {0x00, 0x23, 0x00},
          {0x00, 0x10},
          {0x00, 0x0C},
          {0x00, 0x0D},
          {0x00, 0x22}}},
        {"ADDR-B",
         {{0x00, 0x27, 0x07},
          {0x00, 0x20, 0x2C, 0x05},
          {0x00, 0x0C},
          {0x00, 0x0D},
          {0x00, 0x21},
          {0x00, 0x22}}},
        {kSimSerial, {{0x00, 0x27, 0x07}, {0x00, 0x0C}, {0x00, 0x0D}, {0x00, 0x22}}},
    };
    for (const auto& device : expected) {
        const auto got = commands(device.serial);
        ASSERT_EQ(got.size(), device.heads.size()) << device.serial;
        for (std::size_t k = 0; k < got.size(); ++k) {
            EXPECT_EQ(head(got[k], device.heads[k].size()), device.heads[k])
                << device.serial << " report " << k;
            EXPECT_EQ(got[k].size(), 65u);  // always the whole report
        }
    }

    // The device answered the digital I/O command through the callback.
    std::vector<DigitalEvent> answers;
    for (const auto& d : recorder->snapshot().digital)
        if (d.first != kFenceCommand) answers.push_back(d);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].serial, "ADDR-B");
    EXPECT_EQ(answers[0].first, 0x2C);
    EXPECT_EQ(answers[0].second, 0x05);
}

TEST_F(ApiTest, BootloaderReachesOnlyTheDeviceWithExactlyThatSerial) {
    attach("BOOT-A");
    attach("BOOT-B");
    attach("");
    ASSERT_NE(openAll(), nullptr);
    for (const char* serial : {"BOOT-A", "BOOT-B", "", kSimSerial})
        ASSERT_TRUE(waitArrived(serial));

    // The device starts its bootloader and leaves the bus: its removal is
    // what the host sees.
    kob_bootloader("BOOT");
    kob_bootloader("");
    ASSERT_TRUE(waitRemoved("")) << "the device without a serial did not get the command";
    kob_bootloader("BOOT-A");
    ASSERT_TRUE(waitRemoved("BOOT-A"));
    ASSERT_TRUE(fence("BOOT-B"));
    ASSERT_TRUE(fence(kSimSerial));

    EXPECT_TRUE(commands("BOOT-B").empty());
    EXPECT_TRUE(commands(kSimSerial).empty());
    const RecordedEvents events = recorder->snapshot();
    EXPECT_EQ(events.countStatus("BOOT-B", 1, kRemoved), 0);
    EXPECT_EQ(events.countStatus(kSimSerial, 1, kRemoved), 0);
    char buffer[64];
    ASSERT_LE(kob_list(buffer, sizeof buffer), sizeof buffer);
    EXPECT_STREQ(buffer, "BOOT-B,SIM-0001");
}

}  // namespace
}  // namespace koblib
