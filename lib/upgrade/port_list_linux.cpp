#include "upgrade/port_list_linux.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "upgrade/port_list.h"

namespace koblib {
namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Name order with runs of digits compared by value.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            // Leading zeros do not count; then the longer run is larger.
            while (i + 1 < endA && a[i] == '0')
                ++i;
            while (j + 1 < endB && b[j] == '0')
                ++j;
            if (endA - i != endB - j) return endA - i < endB - j;
            const int order = a.compare(i, endA - i, b, j, endB - j);
            if (order != 0) return order < 0;
            i = endA;
            j = endB;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;  // equal by value ("tty01" and "tty1"): any fixed order
}

// A serial-core UART slot reports its type; 0 means no hardware answers.
bool isEmptyUartSlot(const std::filesystem::path& entry) {
    std::ifstream type(entry / "type");
    int value = -1;
    return type >> value && value == 0;
}

}  // namespace

std::vector<std::string> listTtyPorts(const std::string& sysClassTty, const std::string& devDir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysClassTty, error)) {
        const std::string name = entry.path().filename().string();
        std::error_code ignored;
        if (!std::filesystem::exists(entry.path() / "device", ignored)) continue;
        if (isEmptyUartSlot(entry.path())) continue;
        struct stat node;
        if (stat((devDir + "/" + name).c_str(), &node) != 0) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    for (auto& name : names)
        name = devDir + "/" + name;
    return names;
}

std::vector<std::string> serialPortNames() {
    return listTtyPorts("/sys/class/tty", "/dev");
}

}  // namespace koblib
