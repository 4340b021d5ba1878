// kobsim_bootloader on Linux: a virtual bootloader on a pseudo-terminal,
// started on first use and kept for the life of the process.
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "koblib_sim.h"
#include "virtual_bootloader.h"

extern "C" KOB_API unsigned int KOB_CALL kobsim_bootloader(char* path, unsigned int size) {
    static std::mutex lock;
    static koblib_sim::VirtualBootloader* bootloader = nullptr;
    try {
        std::lock_guard<std::mutex> guard(lock);
        // Never destroyed: its thread must not be joined while the
        // library is being unloaded.
        if (!bootloader) bootloader = new koblib_sim::VirtualBootloader;
        const std::string& name = bootloader->portPath();
        const auto needed = static_cast<unsigned int>(name.size() + 1);
        if (path && needed <= size) std::memcpy(path, name.c_str(), needed);
        return needed;
    } catch (...) {
        return 0;
    }
}
