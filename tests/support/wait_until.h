// Waiting for a condition in tests: checked under a lock, woken by every
// change, with a generous deadline instead of fixed sleeps.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace koblib::testing {

class Signal {
  public:
    // Runs change under the lock and wakes every waiter.
    template <typename Change>
    void update(Change change) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            change();
        }
        changed_.notify_all();
    }
    // Waits until done() holds (checked under the lock) or the deadline
    // passes; returns done().
    bool waitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, deadline, done);
    }
    std::mutex& lock() { return lock_; }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
};

}  // namespace koblib::testing
