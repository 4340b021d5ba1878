// KOBLIB: the system's HID devices and device-change notices.
#include "api/library.h"

namespace koblib {

std::shared_ptr<HIDCollection> libraryDeviceSource() {
    return makeSystemHIDCollection();
}

std::unique_ptr<DeviceNotifier> libraryDeviceNotifier() {
    return makeSystemDeviceNotifier();
}

}  // namespace koblib
