// Common interface of the input report parsers: the device object hands
// each input report's payload (the report-ID byte stripped) to one parser.
#pragma once

namespace koblib {

class Parser {
  public:
    virtual ~Parser();

    // Decodes one report payload of `length` bytes. Returns true when the
    // report ended a message, false when the parser needs the next report
    // of the device as a continuation of the message it is collecting.
    virtual bool parse(const unsigned char* payload, unsigned int length) = 0;
};

}  // namespace koblib
