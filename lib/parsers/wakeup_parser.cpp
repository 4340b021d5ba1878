#include "parsers/wakeup_parser.h"

#include <utility>

namespace koblib {

namespace {
const MessageLayout wakeupLayout = {true, 1, 2, 3};
}  // namespace

WakeupParser::WakeupParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)), collector(wakeupLayout) {}

bool WakeupParser::parse(const unsigned char* payload, unsigned int length) {
    return collector.parse(payload, length, [this] {
        if (callback)
            callback(serial, collector.headerByte(), collector.entries(), collector.count());
    });
}

}  // namespace koblib
