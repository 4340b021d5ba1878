// The lists KOBLIB gives as comma-joined text (the attached devices'
// serials, the serial ports), for every tool: the text is asked for again
// while it grows between asking for its size and filling it. And the one
// rule by which every tool waits for devices.
#pragma once

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "koblib.h"

namespace kob {

// Devices count as found once one is there and none has arrived for this
// long; a tool waits for that, at most for its own bound, and then takes
// the devices listed (the first by serial where it uses one).
constexpr std::chrono::milliseconds kDevicesSettle(150);

// The non-empty items of a comma-separated list.
inline std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        if (end > at) items.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return items;
}

// fill(buffer, size) stores the text and its zero when they fit in size
// bytes, and returns the bytes they take.
template <typename Fill>
std::vector<std::string> listed(Fill fill) {
    std::string text;
    for (;;) {
        const unsigned int size = fill(nullptr, 0u);
        text.assign(size > 0 ? size : 1, '\0');
        if (fill(&text[0], static_cast<unsigned int>(text.size())) <= text.size()) break;
    }
    text.resize(std::strlen(text.c_str()));  // a shorter list leaves zeros behind
    return splitList(text);
}

// The serials of the devices the library has open, in its order.
inline std::vector<std::string> listedSerials() {
    return listed([](char* buffer, unsigned int size) { return kob_list(buffer, size); });
}

// The serial ports present.
inline std::vector<std::string> listedPorts() {
    // kob_upgrade_list_comports counts the text without its zero.
    return listed([](char* buffer, unsigned int size) {
        return kob_upgrade_list_comports(buffer, size) + 1;
    });
}

}  // namespace kob
