#include "virtual_bus.h"

#include <algorithm>

namespace koblib {

VirtualBus::~VirtualBus() {
    std::vector<std::shared_ptr<VirtualKOB>> devices;
    {
        MutexLock guard(lock_);
        devices.swap(devices_);
    }
    for (auto& device : devices)
        device->detach();
}

bool VirtualBus::attach(const std::string& serial, std::uint32_t version, std::uint32_t payload) {
    if (payload < kMinPayload || payload > kMaxPayload) return false;
    {
        MutexLock guard(lock_);
        for (const auto& device : devices_)
            if (device->serial() == serial && !device->detached()) return false;
        auto device = std::make_shared<VirtualKOB>(serial, version, payload);
        // The bootloader command makes the device leave the bus by itself.
        device->setSelfDetachListener([this] { notify(); });
        devices_.push_back(device);
    }
    notify();
    return true;
}

bool VirtualBus::detach(const std::string& serial) {
    std::shared_ptr<VirtualKOB> gone;
    {
        MutexLock guard(lock_);
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& device) {
            return device->serial() == serial && !device->detached();
        });
        if (it == devices_.end()) return false;
        gone = *it;
        devices_.erase(it);
    }
    gone->detach();
    notify();
    return true;
}

std::shared_ptr<VirtualKOB> VirtualBus::find(const std::string& serial) {
    MutexLock guard(lock_);
    for (const auto& device : devices_)
        if (device->serial() == serial && !device->detached()) return device;
    return nullptr;
}

std::vector<std::shared_ptr<HIDDevice>> VirtualBus::getDevices() {
    std::vector<std::shared_ptr<VirtualKOB>> present;
    std::vector<std::shared_ptr<VirtualKOB>> left;
    {
        MutexLock guard(lock_);
        for (const auto& device : devices_)
            (device->detached() ? left : present).push_back(device);
        devices_ = present;
    }
    left.clear();  // devices that went into their bootloader are gone now
    std::vector<std::shared_ptr<HIDDevice>> result;
    for (const auto& device : present)
        if (auto opened = device->open()) result.push_back(opened);
    return result;
}

void VirtualBus::setChangeListener(std::function<void()> listener) {
    MutexLock guard(listenerLock_);
    listener_ = std::move(listener);
}

void VirtualBus::notify() {
    MutexLock guard(listenerLock_);
    if (listener_) listener_();
}

}  // namespace koblib
