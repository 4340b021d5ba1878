#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "upgrade/deadline.h"
#include "upgrade/serial_port.h"

namespace koblib {
namespace {

// Waits up to timeoutMs for events on fd. 1: ready (or in error, which
// the following read or write reports), 0: time-out, -1: poll failed.
int waitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int n = poll(&entry, 1, timeoutMs);
        if (n >= 0) return n > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

}  // namespace

bool SerialPort::open(const char* name) {
    close();
    if (name == nullptr) return false;
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;

    // No sharing: TIOCEXCL refuses further opens of the tty (except to a
    // privileged process), the lock refuses a second user of this library
    // whoever it runs as.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    ioctl(fd, TIOCEXCL);

    // Raw bytes both ways: no echo, no line editing, no CR/LF translation
    // (the bootloader answers with CR). The speed stays as it is. A port
    // that is not a terminal keeps going, like a port without time-out
    // settings; the time-outs below do not depend on the terminal.
    termios settings;
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &settings);
        // Input left over from an earlier user would be taken for answers.
        // (Only input: flushing output would drop what that user sent.)
        tcflush(fd, TCIFLUSH);
    }
    handle_ = fd;
    return true;
}

void SerialPort::close() {
    if (handle_ == kClosed) return;
    ::close(static_cast<int>(handle_));
    handle_ = kClosed;
}

bool SerialPort::write(const void* bytes, std::size_t count, std::size_t* moved) {
    *moved = 0;
    if (handle_ == kClosed) return false;
    const int fd = static_cast<int>(handle_);
    const auto* next = static_cast<const unsigned char*>(bytes);
    const Deadline total(static_cast<long long>(kSerialWriteMultiplierMs) * count +
                         kSerialWriteConstantMs);
    while (*moved < count) {
        const ssize_t n = ::write(fd, next + *moved, count - *moved);
        if (n > 0) {
            *moved += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const int waited = waitFor(fd, POLLOUT, total.remainingMs());
        if (waited < 0) return false;
        if (waited == 0 && total.expired()) break;
    }
    return true;
}

bool SerialPort::read(void* buffer, std::size_t count, std::size_t* moved) {
    *moved = 0;
    if (handle_ == kClosed) return false;
    const int fd = static_cast<int>(handle_);
    auto* next = static_cast<unsigned char*>(buffer);
    const Deadline total(static_cast<long long>(kSerialReadMultiplierMs) * count +
                         kSerialReadConstantMs);
    // Runs only once the first byte is in.
    Deadline interval(kSerialReadIntervalMs);
    while (*moved < count) {
        int waitMs = total.remainingMs();
        if (*moved > 0) waitMs = std::min(waitMs, interval.remainingMs());
        if (waitMs == 0) break;
        const int waited = waitFor(fd, POLLIN, waitMs);
        if (waited < 0) return false;
        if (waited == 0) continue;

        const ssize_t n = ::read(fd, next + *moved, count - *moved);
        if (n > 0) {
            *moved += static_cast<std::size_t>(n);
            interval.restart(kSerialReadIntervalMs);
        } else if (n == 0) {
            return false;  // hung up: the device is gone
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
    }
    return true;
}

}  // namespace koblib
