// A virtual bootloader on a pseudo-terminal for tests in other languages:
// prints "port PATH", then answers one request per line on standard input
// until it ends:
//   reset [FAULT COMMAND OCCURRENCE]  a fresh flash, with an optional fault
//                                     (no-answer, short-answer, wrong-first,
//                                     wrong-last, hang-up) -> "ok" / "error"
//   flash PATH                        waits (10 s at most) until the host has
//                                     left the bootloader, writes the flash
//                                     to PATH -> "left 1" / "left 0"
// Exit 77 when the system has no pseudo-terminals.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "virtual_bootloader.h"

namespace {

using koblib_sim::BootloaderConfig;
using koblib_sim::FaultKind;

bool parseReset(std::istringstream& in, BootloaderConfig& config) {
    static const std::map<std::string, FaultKind> kinds = {
        {"no-answer", FaultKind::kNoAnswer},
        {"short-answer", FaultKind::kShortAnswer},
        {"wrong-first", FaultKind::kWrongFirstByte},
        {"wrong-last", FaultKind::kWrongLastByte},
        {"hang-up", FaultKind::kHangUp}};
    std::string kind;
    if (!(in >> kind)) return true;
    char command = 0;
    int occurrence = 0;
    const auto found = kinds.find(kind);
    if (found == kinds.end() || !(in >> command >> occurrence)) return false;
    config.faults.push_back({found->second, command, occurrence});
    return true;
}

}  // namespace

int main() {
    std::unique_ptr<koblib_sim::VirtualBootloader> bootloader;
    try {
        bootloader = std::make_unique<koblib_sim::VirtualBootloader>();
    } catch (const std::runtime_error& error) {
        std::cout << "skip " << error.what() << std::endl;
        return 77;
    }
    std::cout << "port " << bootloader->portPath() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string request;
        in >> request;
        if (request == "reset") {
            BootloaderConfig config;
            const bool ok = parseReset(in, config);
            if (ok) bootloader->reset(config);
            std::cout << (ok ? "ok" : "error") << std::endl;
        } else if (request == "flash") {
            std::string path;
            in >> path;
            const bool left =
                bootloader->waitUntil([](const koblib_sim::BootloaderModel& m) { return m.left(); },
                                      std::chrono::seconds(10));
            const auto flash = bootloader->snapshot().flash();
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(flash.data()),
                       static_cast<std::streamsize>(flash.size()));
            std::cout << "left " << (left ? 1 : 0) << std::endl;
        } else {
            std::cout << "error" << std::endl;
        }
    }
    return 0;
}
