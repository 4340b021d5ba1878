// Lock rules the compiler checks: clang's thread-safety attributes
// (-Wthread-safety), empty for other compilers, and a mutex and lock types
// that carry them. A member declared GUARDED_BY(m) is touched only with m
// held; a function declared REQUIRES(m) is called only with m held.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define KOBLIB_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define KOBLIB_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) KOBLIB_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY KOBLIB_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) KOBLIB_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) KOBLIB_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) KOBLIB_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) KOBLIB_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) KOBLIB_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) KOBLIB_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KOBLIB_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KOBLIB_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) KOBLIB_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) KOBLIB_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) KOBLIB_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KOBLIB_THREAD_ATTRIBUTE(no_thread_safety_analysis)

namespace koblib {

// std::mutex, known to the analysis as a capability.
class CAPABILITY("mutex") Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // The standard mutex, for a condition variable's wait.
    std::mutex& native() { return mutex_; }

  private:
    std::mutex mutex_;
};

// Holds a Mutex from construction to destruction; unlock and lock let it
// go and take it again in between (the lock is let go at the end only when
// held).
class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.native()) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void unlock() RELEASE() { lock_.unlock(); }
    void lock() ACQUIRE() { lock_.lock(); }

    // Waits on a condition variable: the mutex is let go during the wait
    // and held again when it returns, as the analysis assumes throughout.
    void wait(std::condition_variable& condition) { condition.wait(lock_); }
    template <class Predicate>
    void wait(std::condition_variable& condition, Predicate ready) {
        condition.wait(lock_, ready);
    }
    template <class Duration>
    std::cv_status waitFor(std::condition_variable& condition, const Duration& bound) {
        return condition.wait_for(lock_, bound);
    }
    template <class TimePoint>
    std::cv_status waitUntil(std::condition_variable& condition, const TimePoint& deadline) {
        return condition.wait_until(lock_, deadline);
    }
    template <class Duration, class Predicate>
    bool waitFor(std::condition_variable& condition, const Duration& bound, Predicate ready) {
        return condition.wait_for(lock_, bound, ready);
    }
    template <class TimePoint, class Predicate>
    bool waitUntil(std::condition_variable& condition, const TimePoint& deadline, Predicate ready) {
        return condition.wait_until(lock_, deadline, ready);
    }

  private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace koblib
