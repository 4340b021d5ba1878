// Measured carrier modulation (report type 0x0B): a 16-bit cycle count and
// a 32-bit total, both big-endian, in one report.
#pragma once

#include <functional>
#include <string>

#include "parsers/parser.h"

namespace koblib {

class IRModulationParser : public Parser {
  public:
    using Callback =
        std::function<void(const std::string& serial, unsigned int cycles, unsigned int total)>;

    IRModulationParser(std::string serial, Callback callback);

    // Type, an unused byte, cycles at offset 2, total at offset 4. A report
    // too short to hold both fires nothing.
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
};

}  // namespace koblib
