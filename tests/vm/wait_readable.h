// The wait of the device-side reader threads in the VM.
#pragma once

#include <poll.h>

#include <cerrno>

namespace koblib::vm {

// Waits until fd is readable: true; false once stopFd is signalled or fd
// is in error or hung up.
inline bool waitReadable(int stopFd, int fd) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[0].revents) return false;
        if (fds[1].revents & POLLIN) return true;
        if (fds[1].revents) return false;
    }
}

}  // namespace koblib::vm
