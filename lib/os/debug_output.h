// The debugger output of the library: HID errors, "TOO LONG", the button
// trace. Tests install a hook to capture it.
#pragma once

#include <functional>
#include <string>

namespace koblib {

// Writes text to the system's debug output (OutputDebugStringA on
// Windows, syslog at LOG_DEBUG elsewhere), or to the hook when one is set.
void debugOutput(const std::string& text);

// Replaces the system output by hook; an empty hook restores it.
void setDebugOutputHook(std::function<void(const std::string&)> hook);

}  // namespace koblib
