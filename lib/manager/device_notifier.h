// The notice that the set of devices may have changed, on a thread of its
// own: a hidden window receiving the device-change broadcast on Windows, a
// udev monitor on Linux, attach/detach of virtual devices in the simulator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace koblib {

class DeviceNotifier {
  public:
    virtual ~DeviceNotifier() = default;
    // Starts the notifier thread; it calls onChange on its own thread once
    // per notice. Returns a nonzero value naming the thread (its handle on
    // Windows), 0 when the thread could not be started.
    virtual std::uintptr_t start(std::function<void()> onChange) = 0;
    // Asks the thread to end, waits for it at most timeoutMs and releases
    // it either way. Does nothing when it does not run.
    virtual void stop(int timeoutMs) = 0;
};

// The system's notifier (device_notifier_<os>.cpp).
std::unique_ptr<DeviceNotifier> makeSystemDeviceNotifier();

}  // namespace koblib
