// What each build of the library plugs into the shared exports: where its
// devices come from and how it notices device changes. KOBLIB uses the
// system's HID devices; KOBLIB_SIM the virtual bus.
#pragma once

#include <memory>

#include "device/hid_collection.h"
#include "manager/device_notifier.h"
#include "manager/kob_manager.h"

namespace koblib {

std::shared_ptr<HIDCollection> libraryDeviceSource();
std::unique_ptr<DeviceNotifier> libraryDeviceNotifier();

// The process's one manager, built when the library is loaded.
KOBManager& libraryManager();

}  // namespace koblib
