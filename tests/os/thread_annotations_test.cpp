// The annotated mutex and lock: they exclude as std::mutex does, let go
// and take the lock again where they say so, and wake a waiter.
#include "os/thread_annotations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <vector>

namespace koblib {
namespace {

// Whether another thread can take the mutex now (try_lock on the owner's
// own thread would be undefined).
bool freeForOthers(Mutex& mutex) {
    bool taken = false;
    std::thread other([&] {
        taken = mutex.try_lock();
        if (taken) mutex.unlock();
    });
    other.join();
    return taken;
}

struct HoldCase {
    const char* name;
    std::function<void(Mutex&, MutexLock&)> step;  // run with the lock taken
    bool heldAfterStep;
};

TEST(MutexLockTest, HoldsExactlyWhileItSays) {
    const HoldCase cases[] = {
        {"taken", [](Mutex&, MutexLock&) {}, true},
        {"let go", [](Mutex&, MutexLock& lock) { lock.unlock(); }, false},
        {"let go and taken again",
         [](Mutex&, MutexLock& lock) {
             lock.unlock();
             lock.lock();
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Mutex mutex;
        EXPECT_TRUE(freeForOthers(mutex));
        {
            MutexLock lock(mutex);
            EXPECT_FALSE(freeForOthers(mutex));
            c.step(mutex, lock);
            EXPECT_EQ(!freeForOthers(mutex), c.heldAfterStep);
        }
        // The end of the scope lets go only what was held, once.
        EXPECT_TRUE(freeForOthers(mutex));
    }
}

TEST(MutexLockTest, ExcludesConcurrentChanges) {
    Mutex mutex;
    long counter = 0;
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                MutexLock lock(mutex);
                const long seen = counter;
                std::this_thread::yield();  // widens the window a lost update needs
                counter = seen + 1;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
}

TEST(MutexLockTest, WaitsLetGoOfTheLockAndWakeOnTheCondition) {
    // Each way of waiting, woken by another thread that needs the lock to
    // set the flag: a wait that kept the lock would never return.
    using Clock = std::chrono::steady_clock;
    const std::function<bool(MutexLock&, std::condition_variable&, bool&)> waits[] = {
        [](MutexLock& lock, std::condition_variable& cv, bool& ready) {
            lock.wait(cv, [&] { return ready; });
            return ready;
        },
        [](MutexLock& lock, std::condition_variable& cv, bool& ready) {
            return lock.waitFor(cv, std::chrono::seconds(60), [&] { return ready; });
        },
        [](MutexLock& lock, std::condition_variable& cv, bool& ready) {
            return lock.waitUntil(cv, Clock::now() + std::chrono::seconds(60),
                                  [&] { return ready; });
        },
        [](MutexLock& lock, std::condition_variable& cv, bool& ready) {
            while (!ready)
                lock.wait(cv);
            return true;
        },
    };
    int index = 0;
    for (const auto& wait : waits) {
        SCOPED_TRACE(index++);
        Mutex mutex;
        std::condition_variable cv;
        bool ready = false;
        std::thread setter([&] {
            {
                MutexLock lock(mutex);
                ready = true;
            }
            cv.notify_all();
        });
        bool woke = false;
        {
            MutexLock lock(mutex);
            woke = wait(lock, cv, ready);
            // Held again when the wait returns.
            EXPECT_FALSE(freeForOthers(mutex));
        }
        setter.join();
        EXPECT_TRUE(woke);
    }
}

TEST(MutexLockTest, BoundedWaitReportsAConditionNeverMet) {
    Mutex mutex;
    std::condition_variable cv;
    MutexLock lock(mutex);
    EXPECT_FALSE(lock.waitFor(cv, std::chrono::milliseconds(1), [] { return false; }));
    EXPECT_FALSE(lock.waitUntil(cv, std::chrono::steady_clock::now(), [] { return false; }));
    EXPECT_FALSE(freeForOthers(mutex));
}

}  // namespace
}  // namespace koblib
