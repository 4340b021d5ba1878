// The few console facts that differ between systems.
#pragma once

namespace kob {

bool stderrIsTerminal();

// While it lives, what the process writes to standard output goes to
// standard error (toStderr) or nowhere: the library's own diagnostic lines
// must not end up among the tool's results.
class DivertedStdout {
  public:
    explicit DivertedStdout(bool toStderr);
    ~DivertedStdout();
    DivertedStdout(const DivertedStdout&) = delete;
    DivertedStdout& operator=(const DivertedStdout&) = delete;

  private:
    int saved_ = -1;
};

}  // namespace kob
