#include "parsers/button_press_parser.h"

#include <utility>

#include "os/debug_output.h"

namespace koblib {

namespace {
const char hexDigits[] = "0123456789abcdef";
}  // namespace

ButtonPressParser::ButtonPressParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)) {}

bool ButtonPressParser::parse(const unsigned char* payload, unsigned int length) {
    if (payload == nullptr) length = 0;

    std::string trace;
    trace.reserve(3 * static_cast<std::size_t>(length));
    for (unsigned int i = 0; i < length; ++i) {
        trace += hexDigits[payload[i] >> 4];
        trace += hexDigits[payload[i] & 0xF];
        trace += ' ';
    }
    debugOutput(trace);

    if (length < 2 || payload[1] == 0) return true;
    unsigned int pairs = payload[1];
    int buttons[4] = {0, 0, 0, 0};
    // Pair k lies at offsets 2 + 2k and 3 + 2k; pairs cut off by the end of
    // the payload are not read.
    for (unsigned int k = 0; k < pairs && 3 + 2 * k < length; ++k) {
        unsigned int button = payload[2 + 2 * k];
        if (button >= 1 && button <= 4) buttons[button - 1] = payload[3 + 2 * k];
    }
    if (callback) callback(serial, buttons[0], buttons[1], buttons[2], buttons[3]);
    return true;
}

}  // namespace koblib
