// The one clock helper behind every serial time-out: a point in time on
// the monotonic clock and how much of the wait until it is left.
#pragma once

#include <chrono>

namespace koblib {

class Deadline {
  public:
    // A deadline spanMs milliseconds from now.
    explicit Deadline(long long spanMs);

    // Moves the deadline to spanMs milliseconds from now.
    void restart(long long spanMs);

    // Whole milliseconds left, rounded up so that a wait of that length
    // reaches the deadline; 0 once it has passed.
    int remainingMs() const;
    bool expired() const { return remainingMs() == 0; }

  private:
    std::chrono::steady_clock::time_point end_;
};

}  // namespace koblib
