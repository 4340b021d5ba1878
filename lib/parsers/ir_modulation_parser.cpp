#include "parsers/ir_modulation_parser.h"

#include <utility>

namespace koblib {

IRModulationParser::IRModulationParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)) {}

bool IRModulationParser::parse(const unsigned char* payload, unsigned int length) {
    if (payload == nullptr || length < 8) return true;
    unsigned int cycles = (static_cast<unsigned int>(payload[2]) << 8) | payload[3];
    unsigned int total = (static_cast<unsigned int>(payload[4]) << 24) |
                         (static_cast<unsigned int>(payload[5]) << 16) |
                         (static_cast<unsigned int>(payload[6]) << 8) | payload[7];
    if (callback) callback(serial, cycles, total);
    return true;
}

}  // namespace koblib
