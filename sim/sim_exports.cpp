// KOBLIB_SIM: the library over the virtual bus, and the kobsim_* controls.
#include <cstring>
#include <vector>

#include "api/library.h"
#include "koblib_sim.h"
#include "virtual_bus.h"

namespace koblib {

namespace {

VirtualBus& bus() {
    // Built on first use (the manager's construction at load), with the
    // one device a fresh library starts with. It lives as long as the
    // process: destroying it would join its devices' threads while the
    // library is being unloaded, which on Windows waits for ever under the
    // loader lock.
    static VirtualBus* const instance = [] {
        auto* created = new VirtualBus;
        created->attach("SIM-0001", 0x0100, 64);
        return created;
    }();
    return *instance;
}

// Attach and detach are the notices of device changes.
class VirtualBusNotifier : public DeviceNotifier {
  public:
    std::uintptr_t start(std::function<void()> onChange) override {
        bus().setChangeListener(std::move(onChange));
        return 1;
    }
    void stop(int) override { bus().setChangeListener(nullptr); }
};

std::shared_ptr<VirtualKOB> device(const char* serial) {
    return serial ? bus().find(serial) : nullptr;
}

}  // namespace

std::shared_ptr<HIDCollection> libraryDeviceSource() {
    // The manager shares the bus; the bus itself is never destroyed.
    return std::shared_ptr<HIDCollection>(&bus(), [](HIDCollection*) {});
}

std::unique_ptr<DeviceNotifier> libraryDeviceNotifier() {
    return std::make_unique<VirtualBusNotifier>();
}

}  // namespace koblib

using koblib::bus;
using koblib::device;

extern "C" {

KOB_API int KOB_CALL kobsim_attach(const char* serial, unsigned int version, unsigned int payload) {
    try {
        return serial && bus().attach(serial, version, payload) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

KOB_API int KOB_CALL kobsim_detach(const char* serial) {
    try {
        return serial && bus().detach(serial) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

KOB_API int KOB_CALL kobsim_receive(const char* serial, const unsigned int* words,
                                    unsigned int count, unsigned int frequency) {
    try {
        auto d = device(serial);
        if (!d || (!words && count) || count > 255) return -1;
        return d->receiveFrame(std::vector<std::uint32_t>(words, words + count), frequency) ? 0
                                                                                            : -1;
    } catch (...) {
        return -1;
    }
}

KOB_API int KOB_CALL kobsim_buttons(const char* serial, const unsigned char* pairs,
                                    unsigned int pairCount) {
    try {
        auto d = device(serial);
        if (!d || (!pairs && pairCount)) return -1;
        std::vector<std::pair<unsigned char, unsigned char>> list;
        for (unsigned int k = 0; k < pairCount; ++k)
            list.emplace_back(pairs[2 * k], pairs[2 * k + 1]);
        return d->pressButtons(list) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

KOB_API int KOB_CALL kobsim_input(const char* serial, const unsigned char* bytes,
                                  unsigned int length) {
    try {
        auto d = device(serial);
        if (!d || (!bytes && length) || length > d->payload()) return -1;
        return d->sendRaw(bytes, length) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

KOB_API unsigned int KOB_CALL kobsim_outputs(const char* serial, unsigned char* buffer,
                                             unsigned int size) {
    try {
        auto d = device(serial);
        if (!d || !buffer) return 0;
        unsigned int copied = 0;
        for (const auto& report : d->takeOutputs(size)) {
            std::memcpy(buffer + copied, report.data(), report.size());
            copied += static_cast<unsigned int>(report.size());
        }
        return copied;
    } catch (...) {
        return 0;
    }
}

KOB_API int KOB_CALL kobsim_configure(const char* serial, int loopback,
                                      unsigned int airTimePercent) {
    try {
        auto d = device(serial);
        if (!d) return -1;
        d->configure(loopback != 0, airTimePercent);
        return 0;
    } catch (...) {
        return -1;
    }
}

KOB_API unsigned int KOB_CALL kobsim_dropped(const char* serial) {
    try {
        auto d = device(serial);
        return d ? d->dropped() : 0;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
