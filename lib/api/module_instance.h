// The module instance of the library on Windows: the DLL's own instance
// once the DLL entry point has stored it, the program's otherwise (the
// library linked statically into a test program). The notification window
// registers its class under it.
#pragma once

namespace koblib {

// Stores the instance (an HINSTANCE); null forgets it.
void setModuleInstance(void* instance);
// The stored instance, or the program's own when none is stored.
void* moduleInstance();

}  // namespace koblib
