// Enumeration through SetupAPI and HID.DLL: every present HID interface is
// opened twice (an overlapped read handle and a synchronous write handle),
// inspected, and kept only when it is a valid transceiver. Other HID
// devices (the system has plenty, Wine shows some of its own) are closed
// again at once.
#include <windows.h>

#include <setupapi.h>

// hidsdi.h brings hidusage.h and hidpi.h in the order they need; none of
// them declares C linkage by itself.
extern "C" {
#include <hidsdi.h>
}

#include <vector>

#include "device/hid_collection.h"

namespace koblib {

namespace {

Waitable toWaitable(HANDLE h) {
    return reinterpret_cast<Waitable>(h);
}

// Attributes and capabilities of a freshly opened device. A device whose
// attributes cannot be read (its read handle failed to open, for one) is
// invalid; so is one without capabilities, whose report lengths are unknown.
HIDIdentity readIdentity(HANDLE readHandle) {
    HIDIdentity identity;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(readHandle, &attributes)) return identity;
    identity.valid = true;
    identity.vendorId = attributes.VendorID;
    identity.productId = attributes.ProductID;
    identity.versionNumber = attributes.VersionNumber;

    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(readHandle, &preparsed)) {
        identity.valid = false;
        return identity;
    }
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        identity.inputReportLength = caps.InputReportByteLength;
        identity.outputReportLength = caps.OutputReportByteLength;
    } else {
        identity.valid = false;
    }
    HidD_FreePreparsedData(preparsed);
    identity.serialKnown = false;  // asked of the device on first use
    return identity;
}

class SystemHIDCollection : public HIDCollection {
  public:
    std::vector<std::shared_ptr<HIDDevice>> getDevices() override {
        std::vector<std::shared_ptr<HIDDevice>> result;
        for (DWORD index = 0;; ++index) {
            GUID hidGuid;
            HidD_GetHidGuid(&hidGuid);
            // A fresh set per index, destroyed before the device is inspected.
            HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr,
                                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
            if (set == INVALID_HANDLE_VALUE) break;

            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof interfaceData;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
                SetupDiDestroyDeviceInfoList(set);
                break;
            }

            DWORD required = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
            // At least the fixed part, so that cbSize can be written.
            std::vector<unsigned char> buffer(required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                                  ? required
                                                  : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
            // The size of the fixed part of the record (5 in a 32-bit process).
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail,
                                                  static_cast<DWORD>(buffer.size()), nullptr,
                                                  nullptr)) {
                SetupDiDestroyDeviceInfoList(set);
                break;
            }

            const HANDLE readHandle =
                CreateFileA(detail->DevicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            const HANDLE writeHandle =
                CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            SetupDiDestroyDeviceInfoList(set);

            // The HIDDevice owns both handles from here on, also when it is
            // dropped, which closes them.
            auto device = std::make_shared<HIDDevice>(
                toWaitable(readHandle), toWaitable(writeHandle), readIdentity(readHandle));
            if (device->valid() && device->vendorId() == kKobVendorId &&
                device->productId() == kKobProductId)
                result.push_back(device);
        }
        return result;
    }
};

}  // namespace

std::shared_ptr<HIDCollection> makeSystemHIDCollection() {
    return std::make_shared<SystemHIDCollection>();
}

}  // namespace koblib
