// Manual-reset event and the wait-any over several waitables that the
// worker thread sleeps in.
#pragma once

#include <cstdint>

namespace koblib {

// Something the worker can wait on: a HANDLE on Windows, a file
// descriptor on Linux (readable or in error = signalled).
using Waitable = std::intptr_t;

constexpr int kMaxWaitables = 64;
constexpr int kWaitFailed = -1;
constexpr int kWaitTimedOut = -2;

// Manual-reset event, created non-signalled: once set it stays signalled
// until reset, whoever waits on it.
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
};

// Waits until any of the first count waitables (at most 64) is signalled
// and returns the lowest signalled index; kWaitFailed on failure (also for
// a count out of range), kWaitTimedOut when timeoutMs (>= 0) ran out.
int waitAny(const Waitable* waitables, int count, int timeoutMs = -1);

}  // namespace koblib
