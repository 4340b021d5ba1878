// An epoll set, level-triggered, each fd registered with its index. One
// epoll_wait returns every ready fd; they are handed out one per wait()
// before the kernel is asked again, which also serves them in turn: the
// kernel queues an fd that is still ready behind the others.
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "os/wait_set.h"

namespace koblib {

struct WaitSet::Impl {
    int epoll = -1;
    Waitable registered[kMaxWaitables];
    int count = 0;
    epoll_event ready[kMaxWaitables];
    int readyCount = 0;
    int readyNext = 0;
};

WaitSet::WaitSet() : impl_(new Impl) {
    impl_->epoll = epoll_create1(EPOLL_CLOEXEC);
    if (impl_->epoll < 0) throw std::runtime_error("epoll_create1 failed");
}

WaitSet::~WaitSet() {
    close(impl_->epoll);
}

void WaitSet::assign(const Waitable* waitables, int count) {
    if (count < 0 || count > kMaxWaitables) throw std::length_error("too many waitables");
    Impl& s = *impl_;
    // A closed fd has left the set by itself; deleting it again fails
    // harmlessly.
    for (int i = 0; i < s.count; ++i)
        epoll_ctl(s.epoll, EPOLL_CTL_DEL, static_cast<int>(s.registered[i]), nullptr);
    s.count = 0;
    for (int i = 0; i < count; ++i) {
        epoll_event event{};
        // Readable, in error or hung up: all signalled.
        event.events = EPOLLIN;
        event.data.u32 = static_cast<std::uint32_t>(i);
        const int fd = static_cast<int>(waitables[i]);
        epoll_ctl(s.epoll, EPOLL_CTL_ADD, fd, &event);
        s.registered[s.count++] = waitables[i];
    }
    s.readyCount = s.readyNext = 0;  // indices of the old set mean nothing now
}

int WaitSet::wait(int timeoutMs) {
    Impl& s = *impl_;
    if (s.count == 0) return kWaitFailed;
    if (s.readyNext == s.readyCount) {
        int n;
        do {
            n = epoll_wait(s.epoll, s.ready, kMaxWaitables, timeoutMs < 0 ? -1 : timeoutMs);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return kWaitFailed;
        if (n == 0) return kWaitTimedOut;
        s.readyCount = n;
        s.readyNext = 0;
    }
    return static_cast<int>(s.ready[s.readyNext++].data.u32);
}

}  // namespace koblib
