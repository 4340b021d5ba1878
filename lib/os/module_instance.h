// The module instance the notification window's class is registered
// under on Windows: each DLL's entry point (dll_main_win32.cpp) stores its
// own instance; a program that links the core statically (the tests) has
// none stored and gets the program's. Kept beside the window, in
// device_notifier_win32.cpp.
#pragma once

namespace koblib {

// Stores the instance (an HINSTANCE); null forgets it.
void setModuleInstance(void* instance);
// The stored instance, or the program's own when none is stored.
void* moduleInstance();

}  // namespace koblib
