// Digital I/O state (report type 0x20): two bytes passed on unchanged.
#pragma once

#include <functional>
#include <string>

#include "parsers/parser.h"

namespace koblib {

class DigitalIOParser : public Parser {
  public:
    using Callback =
        std::function<void(const std::string& serial, unsigned char first, unsigned char second)>;

    DigitalIOParser(std::string serial, Callback callback);

    // Type, first at offset 1, second at offset 2. A report too short to
    // hold both fires nothing.
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
};

}  // namespace koblib
