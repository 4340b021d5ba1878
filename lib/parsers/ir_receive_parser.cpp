#include "parsers/ir_receive_parser.h"

#include <utility>

namespace koblib {

namespace {
const MessageLayout receiveLayout = {false, 0, 1, 2};
const char hexDigits[] = "0123456789ABCDEF";
}  // namespace

IRReceiveParser::IRReceiveParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)), collector(receiveLayout) {
    text[0] = '\0';
}

bool IRReceiveParser::parse(const unsigned char* payload, unsigned int length) {
    return collector.parse(payload, length, [this] {
        // Each word is formatted as "%04X ": the words hold 16-bit values.
        const unsigned int* words = collector.entries();
        const unsigned int count = collector.count();
        char* out = text;
        for (unsigned int i = 0; i < count; ++i) {
            const unsigned int word = words[i];
            *out++ = hexDigits[(word >> 12) & 0xF];
            *out++ = hexDigits[(word >> 8) & 0xF];
            *out++ = hexDigits[(word >> 4) & 0xF];
            *out++ = hexDigits[word & 0xF];
            *out++ = ' ';
        }
        *out = '\0';
        if (callback) callback(serial, std::string(text, out), words, count);
    });
}

}  // namespace koblib
