#include "parsers/ir_raw_learn_parser.h"

#include <utility>

namespace koblib {

namespace {
const MessageLayout rawLearnLayout = {true, 1, 2, 4};
}  // namespace

IRRawLearnParser::IRRawLearnParser(std::string serial, Callback callback)
    : serial(std::move(serial)), callback(std::move(callback)), collector(rawLearnLayout) {}

bool IRRawLearnParser::parse(const unsigned char* payload, unsigned int length) {
    CollectResult result = collector.collect(payload, length);
    if (result == CollectResult::needMore) return false;
    if (result == CollectResult::complete && callback) {
        callback(serial, collector.headerByte(), collector.entries(), collector.count());
    }
    return true;
}

}  // namespace koblib
