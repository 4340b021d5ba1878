#include "port_collection.h"

#include <cstdio>
#include <utility>

namespace koblib {

PortCollection::PortCollection(int count, std::uint32_t reportLength) {
    for (int i = 0; i < count; ++i) {
        ports_.push_back(std::make_unique<VirtualPort>(reportLength, reportLength));
        HIDIdentity id;
        id.valid = true;
        id.vendorId = kKobVendorId;
        id.productId = kKobProductId;
        id.versionNumber = 1;
        id.inputReportLength = id.outputReportLength = reportLength;
        id.serialKnown = true;
        char serial[16];
        std::snprintf(serial, sizeof serial, "P%02d", i);
        id.serial = serial;
        const Waitable read = ports_.back()->takeHostReadHandle();
        const Waitable write = ports_.back()->takeHostWriteHandle();
        devices_.push_back(std::make_shared<HIDDevice>(read, write, id));
    }
}

std::vector<std::shared_ptr<HIDDevice>> PortCollection::getDevices() {
    return std::move(devices_);
}

}  // namespace koblib
