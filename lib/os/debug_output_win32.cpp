#include <windows.h>

#include <string>

namespace koblib {

void systemDebugOutput(const std::string& text) {
    OutputDebugStringA(text.c_str());
}

}  // namespace koblib
