#include "parsers/ir_raw_learn_parser.h"

#include <utility>

namespace koblib {

namespace {
const MessageLayout rawLearnLayout = {true, 1, 2, 4};
}  // namespace

IRRawLearnParser::IRRawLearnParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)), collector(rawLearnLayout) {}

bool IRRawLearnParser::parse(const unsigned char* payload, unsigned int length) {
    return collector.parse(payload, length, [this] {
        if (callback)
            callback(serial, collector.headerByte(), collector.entries(), collector.count());
    });
}

}  // namespace koblib
