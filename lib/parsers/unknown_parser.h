// Any report type no other parser claims: reported to the host as status
// code 2 with a hexadecimal dump of the payload.
#pragma once

#include <functional>
#include <string>

#include "parsers/parser.h"

namespace koblib {

class UnknownParser : public Parser {
  public:
    // Code 2 marks a report that no parser claims.
    static constexpr unsigned char unclaimedCode = 2;

    using Callback =
        std::function<void(const std::string& serial, unsigned char code, const std::string& text)>;

    UnknownParser(std::string serial, Callback callback);

    // Fires (serial, 2, "%02X " per payload byte followed by "\n").
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
};

}  // namespace koblib
