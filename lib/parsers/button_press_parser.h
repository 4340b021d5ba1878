// Button states (report type 0x10): P (button, value) pairs. Every report
// is traced to the debug output; the event carries buttons 1 to 4.
#pragma once

#include <functional>
#include <string>

#include "parsers/parser.h"

namespace koblib {

class ButtonPressParser : public Parser {
  public:
    using Callback = std::function<void(const std::string& serial, int button1, int button2,
                                        int button3, int button4)>;

    ButtonPressParser(std::string serial, Callback callback);

    // Traces the payload as "%02x " per byte; then, unless P is 0 or
    // missing, fires the values of buttons 1 to 4 (0 for a button not named).
    bool parse(const unsigned char* payload, unsigned int length) override;

  private:
    std::string serial;
    Callback callback;
};

}  // namespace koblib
