// Calls a host may get wrong: kob_close from inside a callback, and null
// serials for every export.
#include <cstring>

#include "api_test.h"

namespace koblib {
namespace {

TEST_F(ApiTest, CloseFromInsideACallbackReturnsAtOnceAndChangesNothing) {
    DeviceOutputs& device = attach("MEND-CLOSE");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    auto returned = std::make_shared<bool>(false);
    recorder->setDigitalHook([returned](const DigitalEvent& d) {
        if (d.first != 0x42) return;
        kob_close();
        *returned = true;
    });
    kob_digitalIO(device.name(), 0x42, 0x01);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.digital.empty(); }))
        << "kob_close inside the callback did not return";
    EXPECT_TRUE(*returned);

    // Still running: commands go out and answers come back, the device is
    // still listed and was never reported removed.
    ASSERT_TRUE(fence(device.serial()));
    char buffer[64];
    ASSERT_LE(kob_list(buffer, sizeof buffer), sizeof buffer);
    EXPECT_NE(std::strstr(buffer, "MEND-CLOSE"), nullptr);
    EXPECT_EQ(recorder->snapshot().countStatus(device.serial(), 1, kRemoved), 0);
}

TEST_F(ApiTest, NullSerialMakesEveryExportDoNothing) {
    // The device without a serial would take anything that read a null
    // serial as the empty one, exact-serial commands included.
    attach("");
    attach("NULL-A");
    ASSERT_NE(openAll(), nullptr);
    for (const char* serial : {"", "NULL-A", kSimSerial})
        ASSERT_TRUE(waitArrived(serial));

    postEveryCommand(nullptr);
    kob_bootloader(nullptr);
    kob_learnCCF(nullptr, 1, 38000);
    EXPECT_EQ(kob_version(nullptr), 0u);

    // A frame heard by the device without a serial: a learning run started
    // for the empty serial would report it.
    const unsigned int frame[] = {0x1000, 0x0156, 0x00A9, 0x0015};
    ASSERT_EQ(kobsim_receive("", frame, 4, 38000), 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.received.empty(); }));
    for (const char* serial : {"", "NULL-A", kSimSerial}) {
        ASSERT_TRUE(fence(serial)) << "'" << serial << "'";
        EXPECT_TRUE(commands(serial).empty()) << "'" << serial << "'";
    }
    const RecordedEvents e = recorder->snapshot();
    EXPECT_TRUE(e.learn.empty());
    EXPECT_TRUE(e.sent.empty());
    EXPECT_EQ(e.countStatus("", 1, kRemoved), 0);
}

}  // namespace
}  // namespace koblib
