#include "transport_suite.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "koblib.h"
#include "support/example_code.h"

namespace koblib::vm {

namespace {

using testing::kExampleCode;
    EXPECT_EQ(listText(), "");
    EXPECT_EQ(kob_version("VM-GONE-1"), 0u);
    kob_close();
    EXPECT_EQ(recorder->snapshot().countStatus("VM-GONE-1", 1, "KOB removed"), 1);
}

// Replugged under the same serial (and likely the same hidraw name), the
// device is a new one: it arrives again and is served.
TEST_P(TransportTest, ReplugWithTheSameSerialIsServedAgain) {
    openLibrary();
    plugAndWait("VM-AGAIN-1");
    device->unplug();
    ASSERT_TRUE(waitStatus("VM-AGAIN-1", 1, "KOB removed"));
    device.reset();
    plugAndWait("VM-AGAIN-1", 2);
    EXPECT_EQ(listText(), "VM-AGAIN-1");
    kob_digitalIO("VM-AGAIN-1", 0x12, 0x34);
    ASSERT_TRUE(
        recorder->waitFor([](const RecordedEvents& e) { return !e.digital.empty(); }, kDeadline));
    EXPECT_EQ(recorder->snapshot().digital[0].first, 0x12);
    EXPECT_EQ(recorder->snapshot().digital[0].second, 0x34);
}

}  // namespace koblib::vm
