#include "parsers/digital_io_parser.h"

#include <utility>

namespace koblib {

DigitalIOParser::DigitalIOParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)) {}

bool DigitalIOParser::parse(const unsigned char* payload, unsigned int length) {
    if (payload == nullptr || length < 3) return true;
    if (callback) callback(serial, payload[1], payload[2]);
    return true;
}

}  // namespace koblib
