// Progress on standard error: a bar redrawn in place while standard error
// is a terminal, one plain line per tenth otherwise (logs, pipes).
#pragma once

#include <string>

namespace kob {

class ProgressBar {
  public:
    explicit ProgressBar(std::string label);
    ~ProgressBar();

    // Shows percent (0 to 100) with a note after the bar (for example what
    // has been seen so far).
    void update(int percent, const std::string& note = {});
    // Ends the bar's line; later output starts on a line of its own.
    void finish();

  private:
    std::string label_;
    int percent_ = -1;
    std::string note_;
    bool open_ = false;
};

}  // namespace kob
