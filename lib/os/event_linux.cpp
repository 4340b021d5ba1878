#include "os/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace koblib {

// An eventfd whose counter stays non-zero while set: readable = signalled.
Event::Event() : handle_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (handle_ < 0) throw std::runtime_error("eventfd failed");
}

Event::~Event() {
    close(static_cast<int>(handle_));
}

void Event::set() {
    const std::uint64_t one = 1;
    // A full counter (impossible in practice) still leaves the fd readable.
    while (write(static_cast<int>(handle_), &one, sizeof one) < 0 && errno == EINTR) {
    }
    signalled_.store(true);
}

void Event::reset() {
    if (!signalled_.exchange(false)) return;
    std::uint64_t value;
    while (read(static_cast<int>(handle_), &value, sizeof value) < 0 && errno == EINTR) {
    }
}

int waitAny(const Waitable* waitables, int count, int timeoutMs) {
    if (count < 1 || count > kMaxWaitables) return kWaitFailed;
    pollfd fds[kMaxWaitables];
    for (int i = 0; i < count; ++i) {
        fds[i].fd = static_cast<int>(waitables[i]);
        fds[i].events = POLLIN;
        fds[i].revents = 0;
    }
    for (;;) {
        const int n = poll(fds, static_cast<nfds_t>(count), timeoutMs < 0 ? -1 : timeoutMs);
        if (n < 0) {
            if (errno == EINTR) continue;
            return kWaitFailed;
        }
        if (n == 0) return kWaitTimedOut;
        for (int i = 0; i < count; ++i) {
            // An fd in error or hung up is signalled too: its read fails,
            // which is how a vanished device is noticed.
            if (fds[i].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) return i;
        }
    }
}

}  // namespace koblib
