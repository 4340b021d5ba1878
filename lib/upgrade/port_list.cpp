#include "upgrade/port_list.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace koblib {

unsigned int storePortList(const std::vector<std::string>& names, char* out, unsigned int outSize) {
    std::string text;
    for (const auto& name : names) {
        if (!text.empty()) text += ',';
        text += name;
    }
    const auto length = static_cast<unsigned int>(text.size());
    if (out != nullptr && outSize > length) std::memcpy(out, text.c_str(), text.size() + 1);
    return length;
}

unsigned int listComports(char* out, unsigned int outSize) {
    return storePortList(serialPortNames(), out, outSize);
}

PortNameRule classifyPortName(const char* name) {
    static const char kPrefix[] = "com";
    for (int i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != kPrefix[i]) {
            return PortNameRule::kSkip;
        }
    }
    // The number reads as a leading decimal, 0 when there is none.
    const long number = std::strtol(name + 3, nullptr, 10);
    return number >= 1 && number <= 256 ? PortNameRule::kAdd : PortNameRule::kEndWalk;
}

}  // namespace koblib
