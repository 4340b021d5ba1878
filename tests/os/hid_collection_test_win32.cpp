// Enumeration of the system's HID devices: whatever the system has (Wine
// shows devices of its own), only valid transceivers come back, opened.
#include <gtest/gtest.h>

#include "device/hid_collection.h"

namespace koblib {
namespace {

TEST(SystemHIDCollection, ReturnsOnlyValidTransceivers) {
    const auto collection = makeSystemHIDCollection();
    ASSERT_TRUE(collection);
    // Twice: each scan opens and closes the devices it does not keep.
    for (int scan = 0; scan < 2; ++scan) {
        for (const auto& device : collection->getDevices()) {
            ASSERT_TRUE(device);
            EXPECT_TRUE(device->valid());
            EXPECT_EQ(device->vendorId(), kKobVendorId);
            EXPECT_EQ(device->productId(), kKobProductId);
            EXPECT_GT(device->inputReportLength(), 1u);
            EXPECT_GT(device->outputReportLength(), 1u);
        }
    }
}

}  // namespace
}  // namespace koblib
