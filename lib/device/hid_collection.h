// The source of devices for the manager's scans: the system's HID devices,
// or the virtual bus in tests and in the simulator build.
#pragma once

#include <memory>
#include <vector>

#include "device/hid_device.h"

namespace koblib {

class HIDCollection {
  public:
    virtual ~HIDCollection() = default;
    // The present, valid devices with the transceiver's vendor and product
    // ID, opened, in enumeration order.
    virtual std::vector<std::shared_ptr<HIDDevice>> getDevices() = 0;
};

// The system's HID devices (hid_collection_<os>.cpp).
std::shared_ptr<HIDCollection> makeSystemHIDCollection();

}  // namespace koblib
