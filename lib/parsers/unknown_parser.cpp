#include "parsers/unknown_parser.h"

#include <utility>

namespace koblib {

namespace {
const char hexDigits[] = "0123456789ABCDEF";
}  // namespace

UnknownParser::UnknownParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)) {}

bool UnknownParser::parse(const unsigned char* payload, unsigned int length) {
    if (payload == nullptr) length = 0;

    std::string text;
    text.reserve(3 * static_cast<std::size_t>(length) + 1);
    for (unsigned int i = 0; i < length; ++i) {
        text += hexDigits[payload[i] >> 4];
        text += hexDigits[payload[i] & 0xF];
        text += ' ';
    }
    text += '\n';
    if (callback) callback(serial, unclaimedCode, text);
    return true;
}

}  // namespace koblib
