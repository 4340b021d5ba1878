// IR transmission finished (report type 0x0F): one status byte. Its event
// also tells the device object that the next queued code may go out.
#pragma once

#include <functional>
#include <string>

#include "parsers/parser.h"

namespace koblib {

class IRSendParser : public Parser {
  public:
    using Callback = std::function<void(const std::string& serial, unsigned char status)>;

    IRSendParser(std::string serial, Callback callback);

    // Type, status at offset 1. A report without a status byte fires nothing.
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
};

}  // namespace koblib
