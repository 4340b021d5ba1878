#include <windows.h>
// windows.h first: the SetupAPI and Configuration Manager headers build on it.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <vector>

#include "upgrade/port_list.h"

namespace koblib {
namespace {

// CM_Open_DevNode_Key, looked up at run time in cfgmgr32.
using OpenDevNodeKey = CONFIGRET(WINAPI*)(DEVINST device, REGSAM access, ULONG profile,
                                          REGDISPOSITION disposition, PHKEY key, ULONG flags);

// "portname" values of up to 6 characters and their zero.
constexpr DWORD kPortNameBuffer = 7;

// Walks the devices of set from the first: each one's "portname" under its
// hardware key. A device without a readable name ends the walk, and so
// does a COM number out of range; names of other ports are skipped.
void walkPorts(HDEVINFO set, OpenDevNodeKey openKey, std::vector<std::string>& names) {
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = nullptr;
        if (openKey(device.DevInst, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key,
                    CM_REGISTRY_HARDWARE) != CR_SUCCESS) {
            return;
        }
        char name[kPortNameBuffer + 1] = {};
        DWORD size = kPortNameBuffer;
        const LONG read = RegQueryValueExA(key, "portname", nullptr, nullptr,
                                           reinterpret_cast<BYTE*>(name), &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS) return;
        // A value stored without its zero still ends within the buffer.
        name[size < kPortNameBuffer ? size : kPortNameBuffer] = '\0';

        switch (classifyPortName(name)) {
            case PortNameRule::kAdd:
                names.emplace_back(name);
                break;
            case PortNameRule::kSkip:
                break;
            case PortNameRule::kEndWalk:
                return;
        }
    }
}

}  // namespace

std::vector<std::string> serialPortNames() {
    std::vector<std::string> names;

    DWORD guidCount = 0;
    SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &guidCount);
    if (guidCount == 0) return names;
    std::vector<GUID> guids(guidCount);
    if (!SetupDiClassGuidsFromNameA("Ports", guids.data(), guidCount, &guidCount) ||
        guidCount == 0) {
        return names;
    }
    const HDEVINFO set = SetupDiGetClassDevsA(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;

    const HMODULE module = LoadLibraryA("cfgmgr32");
    if (module != nullptr) {
        // Through a generic function pointer: FARPROC has no parameters.
        const auto proc =
            reinterpret_cast<void (*)()>(GetProcAddress(module, "CM_Open_DevNode_Key"));
        if (proc != nullptr) walkPorts(set, reinterpret_cast<OpenDevNodeKey>(proc), names);
        FreeLibrary(module);
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

}  // namespace koblib
