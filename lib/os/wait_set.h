// The worker's one wait over the job event and the devices' read events.
// The set is kept between waits and changed only when the device table
// changes, so that a wait does not cost more with more devices.
#pragma once

#include <memory>

#include "os/event.h"

namespace koblib {

class WaitSet {
  public:
    WaitSet();
    ~WaitSet();
    WaitSet(const WaitSet&) = delete;
    WaitSet& operator=(const WaitSet&) = delete;

    // Waits on the first count waitables from now on (at most 64); their
    // order gives the indices that wait() reports. Throws std::length_error
    // for a count out of range.
    void assign(const Waitable* waitables, int count);
    // Waits until one of them is signalled and returns its index;
    // kWaitFailed on failure or for an empty set, kWaitTimedOut when
    // timeoutMs (>= 0) ran out. When several are signalled, each is
    // reported once in turn before any is reported again, so that a
    // waitable that stays signalled cannot hide the others (on Windows:
    // the lowest signalled index, as the system's wait reports it).
    int wait(int timeoutMs = -1);

  private:
    struct Impl;  // per system (wait_set_<os>.cpp)
    std::unique_ptr<Impl> impl_;
};

}  // namespace koblib
