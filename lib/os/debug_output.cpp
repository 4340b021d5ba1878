#include "os/debug_output.h"

#include <mutex>

namespace koblib {

void systemDebugOutput(const std::string& text);  // debug_output_<os>.cpp

namespace {
std::mutex hookLock;
std::function<void(const std::string&)> hook;
}  // namespace

void debugOutput(const std::string& text) {
    std::function<void(const std::string&)> current;
    {
        std::lock_guard<std::mutex> guard(hookLock);
        current = hook;
    }
    if (current) {
        current(text);
    } else {
        systemDebugOutput(text);
    }
}

void setDebugOutputHook(std::function<void(const std::string&)> newHook) {
    std::lock_guard<std::mutex> guard(hookLock);
    hook = std::move(newHook);
}

}  // namespace koblib
