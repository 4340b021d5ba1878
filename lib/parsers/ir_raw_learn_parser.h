// Raw learned pulses (report type 0x0C): a header byte and N words that go
// to the host as the device sent them, spread over as many reports as needed.
#pragma once

#include <functional>
#include <string>

#include "parsers/message_collector.h"
#include "parsers/parser.h"

namespace koblib {

class IRRawLearnParser : public Parser {
  public:
    using Callback = std::function<void(const std::string& serial, unsigned int header,
                                        const unsigned int* words, unsigned int count)>;

    IRRawLearnParser(std::string serial, Callback callback);

    // First report: type, header, N, an unused byte, words from offset 4;
    // continuations: words from offset 0.
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
    MessageCollector<unsigned int> collector;
};

}  // namespace koblib
