// Entry point of KOBLIB.dll and KOBLIB_SIM.dll: it only remembers the
// DLL's instance handle for the notification window, and forgets it when
// the DLL is detached.
#include <windows.h>

#include "os/module_instance.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) koblib::setModuleInstance(instance);
    if (reason == DLL_PROCESS_DETACH) koblib::setModuleInstance(nullptr);
    return TRUE;
}
