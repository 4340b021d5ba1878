// The virtual bus: the attached virtual KOB-1s, listed to the manager like
// the system's HID devices. Attaching or detaching one raises a
// device-change notice, as plugging a real device does.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_collection.h"
#include "os/thread_annotations.h"
#include "virtual_kob.h"

namespace koblib {

class VirtualBus : public HIDCollection {
  public:
    static constexpr std::uint32_t kMinPayload = 8;
    static constexpr std::uint32_t kMaxPayload = 1024;

    ~VirtualBus() override;

    // Plugs in a device; false for a serial already attached or a payload
    // out of range.
    bool attach(const std::string& serial, std::uint32_t version, std::uint32_t payload = 64);
    // Unplugs the device; false when none has that serial.
    bool detach(const std::string& serial);
    // The attached device with that serial, or null.
    std::shared_ptr<VirtualKOB> find(const std::string& serial);

    // A new connection to every attached device, in the order of attaching.
    std::vector<std::shared_ptr<HIDDevice>> getDevices() override;

    // Called after every attach and detach; empty to stop the notices.
    void setChangeListener(std::function<void()> listener);

  private:
    void notify() EXCLUDES(listenerLock_);

    Mutex lock_;
    std::vector<std::shared_ptr<VirtualKOB>> devices_ GUARDED_BY(lock_);
    // Held while a notice runs, so that a cleared listener is never called
    // afterwards.
    Mutex listenerLock_;
    std::function<void()> listener_ GUARDED_BY(listenerLock_);
};

}  // namespace koblib
