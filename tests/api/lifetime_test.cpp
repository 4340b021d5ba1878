// Opening and closing the library, and devices that come and go.
#include <cstring>

#include "api_test.h"

namespace koblib {
namespace {

std::string listText() {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    const unsigned int needed = kob_list(buffer, sizeof buffer);
    EXPECT_LE(needed, sizeof buffer);
    EXPECT_EQ(std::strlen(buffer) + 1, needed);
    return buffer;
}

TEST_F(ApiTest, CloseReportsRemovedForEveryDeviceBeforeItReturns) {
    attach("CLOSE-A");
    attach("CLOSE-B");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived("CLOSE-A"));
    ASSERT_TRUE(waitArrived("CLOSE-B"));
    ASSERT_TRUE(waitArrived(kSimSerial));

    kob_close();
    // No waiting: the removals are reported before kob_close returns.
    RecordedEvents events = recorder->snapshot();
    for (const char* serial : {"CLOSE-A", "CLOSE-B", kSimSerial})
        EXPECT_EQ(events.countStatus(serial, 1, kRemoved), 1) << serial;

    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(kob_list(buffer, sizeof buffer), 1u);
    EXPECT_STREQ(buffer, "");

    // A second close finds nothing running and reports nothing.
    const std::size_t before = events.status.size();
    kob_close();
    events = recorder->snapshot();
    EXPECT_EQ(events.status.size(), before);
}

TEST_F(ApiTest, ReopenedLibraryNoticesDevicesPluggedInAndOutWhileOpen) {
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(kSimSerial));
    kob_close();
    ASSERT_EQ(recorder->snapshot().countStatus(kSimSerial, 1, kRemoved), 1);
    recorder->clear();

    // The second open starts everything anew, the device-change notices
    // included.
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(kSimSerial));
    attach("HOT-1");
    ASSERT_TRUE(waitArrived("HOT-1")) << "a device plugged in while open was not noticed";
    EXPECT_NE(listText().find("HOT-1"), std::string::npos);
    ASSERT_TRUE(fence("HOT-1"));  // it takes commands and its answers arrive

    // A second device: the scans it causes find HOT-1 in the table and do
    // not report it again.
    attach("HOT-2");
    ASSERT_TRUE(waitArrived("HOT-2"));
    ASSERT_TRUE(fence("HOT-2"));
    ASSERT_TRUE(fence("HOT-1"));
    EXPECT_EQ(recorder->snapshot().countStatus("HOT-1", 0, kArrived), 1);

    // Unplugged while open: its read fails and it is reported removed.
    ASSERT_EQ(kobsim_detach("HOT-1"), 0);
    ASSERT_TRUE(waitRemoved("HOT-1"));
    EXPECT_EQ(listText(), std::string("HOT-2,") + kSimSerial);
    const RecordedEvents events = recorder->snapshot();
    EXPECT_EQ(events.countStatus("HOT-1", 1, kRemoved), 1);
    EXPECT_EQ(events.countStatus("HOT-2", 1, kRemoved), 0);
    EXPECT_EQ(events.countStatus(kSimSerial, 1, kRemoved), 0);
}

TEST_F(ApiTest, OpenWhileOpenKeepsRunningAndTakesTheNewCallbacks) {
    DeviceOutputs& device = attach("REOPEN-1");
    ASSERT_NE(kob_open_no_cb(), nullptr);
    // Nothing is recorded while the status slot is empty; wait for the
    // device through the table instead.
    ASSERT_TRUE(waitListed(device.serial()));
    EXPECT_NE(openAll(), nullptr);
    ASSERT_TRUE(fence(device.serial()));
    const RecordedEvents events = recorder->snapshot();
    // The running worker went on: no second arrival, no removal.
    EXPECT_EQ(events.countStatus(device.serial(), 0, kArrived), 0);
    EXPECT_EQ(events.countStatus(device.serial(), 1, kRemoved), 0);
    kob_close();
    EXPECT_EQ(recorder->snapshot().countStatus(device.serial(), 1, kRemoved), 1);
}

}  // namespace
}  // namespace koblib
