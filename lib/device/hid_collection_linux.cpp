// Enumeration through libudev: hidraw nodes whose parent HID device has
// the transceiver's vendor and product ID. Only matching devices are
// opened; the identity comes from sysfs.
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "device/hid_collection.h"
#include "device/report_descriptor.h"

namespace koblib {

namespace {

// HID_ID is "bus:vendor:product" in hexadecimal, e.g. 0003:000020A0:0000413F.
bool parseHidId(const char* text, unsigned* vendor, unsigned* product) {
    unsigned bus = 0;
    return text && std::sscanf(text, "%x:%x:%x", &bus, vendor, product) == 3;
}

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

std::uint32_t usbVersion(udev_device* hid) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device");
    const char* bcd = usb ? udev_device_get_sysattr_value(usb, "bcdDevice") : nullptr;
    return bcd ? static_cast<std::uint32_t>(std::strtoul(bcd, nullptr, 16)) : 0;
}

class SystemHIDCollection : public HIDCollection {
  public:
    std::vector<std::shared_ptr<HIDDevice>> getDevices() override {
        std::vector<std::shared_ptr<HIDDevice>> result;
        udev* context = udev_new();
        if (!context) return result;
        udev_enumerate* enumerate = udev_enumerate_new(context);
        udev_enumerate_add_match_subsystem(enumerate, "hidraw");
        udev_enumerate_scan_devices(enumerate);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
            udev_device* raw =
                udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (!raw) continue;
            if (auto device = open(raw)) result.push_back(device);
            udev_device_unref(raw);
        }
        udev_enumerate_unref(enumerate);
        udev_unref(context);
        return result;
    }

  private:
    static std::shared_ptr<HIDDevice> open(udev_device* raw) {
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
        const char* node = udev_device_get_devnode(raw);
        unsigned vendor = 0, product = 0;
        if (!hid || !node ||
            !parseHidId(udev_device_get_property_value(hid, "HID_ID"), &vendor, &product))
            return nullptr;
        if (vendor != kKobVendorId || product != kKobProductId) return nullptr;

        HIDIdentity identity;
        identity.vendorId = vendor;
        identity.productId = product;
        identity.versionNumber = usbVersion(hid);
        const char* uniq = udev_device_get_property_value(hid, "HID_UNIQ");
        identity.serial = uniq ? uniq : "";
        identity.serialKnown = true;
        const auto descriptor =
            readFile(std::string(udev_device_get_syspath(hid)) + "/report_descriptor");
        const ReportLengths lengths =
            reportLengthsFromDescriptor(descriptor.data(), descriptor.size());
        identity.inputReportLength = lengths.input;
        identity.outputReportLength = lengths.output;

        const int readFd = ::open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int writeFd = readFd < 0 ? -1 : ::open(node, O_RDWR | O_CLOEXEC);
        // A node that cannot be opened for reading, or whose descriptor
        // declares no input report, is not usable.
        identity.valid = readFd >= 0 && lengths.input > 1;
        auto device = std::make_shared<HIDDevice>(readFd, writeFd, identity);
        return device->valid() ? device : nullptr;
    }
};

}  // namespace

std::shared_ptr<HIDCollection> makeSystemHIDCollection() {
    return std::make_shared<SystemHIDCollection>();
}

}  // namespace koblib
