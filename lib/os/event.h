// Manual-reset event and the wait-any over several waitables that the
// worker thread sleeps in.
#pragma once

#include <atomic>
#include <cstdint>

namespace koblib {

// Something the worker can wait on: a HANDLE on Windows, a file
// descriptor on Linux (readable or in error = signalled).
using Waitable = std::intptr_t;

constexpr int kMaxWaitables = 64;
constexpr int kWaitFailed = -1;
constexpr int kWaitTimedOut = -2;

// Manual-reset event, created non-signalled: once set it stays signalled
// until reset, whoever waits on it. A reset of an event that was not set
// since the last reset costs no system call: the worker resets once per
// pass, and most passes serve a device, not a post.
class Event {
  public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    Waitable waitable() const { return handle_; }

  private:
    Waitable handle_;
    // Set after the system's event is signalled, cleared before it is
    // reset: the system's event is never signalled with this false for
    // longer than a set() takes.
    std::atomic<bool> signalled_{false};
};

// Waits until any of the first count waitables (at most 64) is signalled
// and returns the lowest signalled index; kWaitFailed on failure (also for
// a count out of range), kWaitTimedOut when timeoutMs (>= 0) ran out.
int waitAny(const Waitable* waitables, int count, int timeoutMs = -1);

}  // namespace koblib
