#include "parsers/ir_send_parser.h"

#include <utility>

namespace koblib {

IRSendParser::IRSendParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)) {}

bool IRSendParser::parse(const unsigned char* payload, unsigned int length) {
    if (payload == nullptr || length < 2) return true;
    if (callback) callback(serial, payload[1]);
    return true;
}

}  // namespace koblib
