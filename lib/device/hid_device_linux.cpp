// hidraw: a non-blocking read fd (its readability is the read event) and
// a blocking write fd. A read returns one report without the report-ID
// byte, so it goes to inputBuffer + 1 and byte 0 stays the report ID 0; a
// write starts with the report-ID byte 0, which the driver strips. A write
// to hidraw waits as long as the kernel's HID driver lets it (the USB one
// gives an output report 5 s); the 50 ms bound of writeOnce holds only for
// the virtual KOB-1's socket channel.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "device/hid_device.h"

namespace koblib {

struct HIDDevice::ReadState {};

HIDDevice::HIDDevice(Waitable readHandle, Waitable writeHandle, const HIDIdentity& identity)
    : readHandle_(readHandle),
      writeHandle_(writeHandle),
      identity_(identity),
      serialRead_(identity.serialKnown) {
    if (!identity_.valid) return;
    inputBuffer_.assign(identity_.inputReportLength, 0);
    outputBuffer_.assign(identity_.outputReportLength, 0);
}

HIDDevice::~HIDDevice() {
    if (readHandle_ >= 0) close(static_cast<int>(readHandle_));
    if (writeHandle_ >= 0 && writeHandle_ != readHandle_) close(static_cast<int>(writeHandle_));
}

Waitable HIDDevice::readEvent() const {
    return readHandle_;
}

bool HIDDevice::querySerial(std::string&) {
    // The serial comes with the identity (HID_UNIQ); there is nothing to ask.
    return false;
}

bool HIDDevice::startRead() {
    // A non-blocking fd needs no request; a closed or missing one fails.
    if (readHandle_ < 0 || inputBuffer_.empty()) {
        reportError("startRead", EBADF);
        return false;
    }
    return true;
}

int HIDDevice::finishRead() {
    for (;;) {
        const ssize_t n =
            read(static_cast<int>(readHandle_), inputBuffer_.data() + 1, inputBuffer_.size() - 1);
        if (n > 0) {
            inputBuffer_[0] = 0;
            return static_cast<int>(n) + 1;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Nothing to read is "not yet" only while the fd is not hung up
            // or in error: the wait keeps reporting such an fd, and
            // taking it as "not yet" would spin the worker.
            pollfd fd = {static_cast<int>(readHandle_), POLLIN, 0};
            if (poll(&fd, 1, 0) < 0 || !(fd.revents & (POLLERR | POLLHUP | POLLNVAL))) return 0;
            reportError("finishRead", ENODEV);
            return -1;
        }
        // An unplugged hidraw device fails with EIO; a closed channel reads
        // end of file.
        reportError("finishRead", n == 0 ? ENODEV : errno);
        return -1;
    }
}

namespace {
// How long one write attempt on a socket channel (the virtual KOB-1)
// waits for room: a device that takes no report for this long has stopped
// reading. A hidraw write is not bounded here but by the kernel driver.
constexpr int kWriteDeadlineMs = 50;
}  // namespace

bool HIDDevice::writeOnce(const unsigned char* data, std::uint32_t length) {
    const int fd = static_cast<int>(writeHandle_);
    if (fd < 0) return false;
    // On a socket channel the attempt is bounded: write without waiting,
    // and while there is no room wait for it until the deadline, so that a
    // virtual device that stops taking reports cannot hold the worker (and
    // kob_close) for ever. On hidraw the fd is blocking and the write waits
    // until the kernel driver has sent the report or given up on it (its
    // own time-out, 5 s for a USB device); a device that never takes
    // reports holds the worker that long per attempt.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteDeadlineMs);
    for (;;) {
        // send() keeps a vanished peer of a socket channel from raising
        // SIGPIPE; a hidraw node is no socket and takes a blocking write(),
        // which only the kernel driver's time-out bounds.
        ssize_t n = send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK) n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return n == static_cast<ssize_t>(length);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd writable{fd, POLLOUT, 0};
        if (poll(&writable, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    }
}

}  // namespace koblib
