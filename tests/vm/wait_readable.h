// The wait of the device-side reader threads in the VM.
#pragma once

#include <poll.h>

#include <cerrno>

namespace koblib::vm {

// Waits until fd is ready for events (POLLIN or POLLOUT): true; false
// once stopFd is signalled or fd is in error or hung up.
inline bool waitReady(int stopFd, int fd, short events) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[0].revents) return false;
        if (fds[1].revents & events) return true;
        if (fds[1].revents) return false;
    }
}

inline bool waitReadable(int stopFd, int fd) {
    return waitReady(stopFd, fd, POLLIN);
}

}  // namespace koblib::vm
