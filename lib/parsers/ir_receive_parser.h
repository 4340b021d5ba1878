// Received IR signals (report type 0x0A): N measured pulse lengths, in
// ticks of 4 microseconds, spread over as many reports as they need.
#pragma once

#include <functional>
#include <string>

#include "parsers/message_collector.h"
#include "parsers/parser.h"

namespace koblib {

class IRReceiveParser : public Parser {
  public:
    using Callback = std::function<void(const std::string& serial, const std::string& text,
                                        const unsigned int* words, unsigned int count)>;

    IRReceiveParser(std::string serial, Callback callback);

    // First report: type, N, words from offset 2; continuations: words from offset 0.
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
    MessageCollector<unsigned int> collector;
    // "%04X " per word for up to a full buffer of words, plus the terminator.
    char text[5 * MessageCollector<unsigned int>::kCapacity + 1];
};

}  // namespace koblib
