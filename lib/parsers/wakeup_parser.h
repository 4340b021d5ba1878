// Wake-up information (report type 0x26): a header byte and N data bytes,
// spread over as many reports as needed.
#pragma once

#include <functional>
#include <string>

#include "parsers/message_collector.h"
#include "parsers/parser.h"

namespace koblib {

class WakeupParser : public Parser {
  public:
    using Callback = std::function<void(const std::string& serial, unsigned int header,
                                        const unsigned char* bytes, unsigned int count)>;

    WakeupParser(std::string serial, Callback callback);

    // First report: type, header, N, data from offset 3; continuations:
    // data from offset 0.
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
    MessageCollector<unsigned char> collector;
};

}  // namespace koblib
