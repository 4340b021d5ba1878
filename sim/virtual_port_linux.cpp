// Two SOCK_SEQPACKET socketpairs with hidraw's semantics: one for input
// reports (the device writes them without the report-ID byte), one for
// output reports (the host writes them with it). Separate pairs give the
// host a non-blocking read fd and a blocking write fd of their own.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "virtual_port.h"

namespace koblib {

struct VirtualPort::Impl {
    int hostRead = -1;     // host end of the input pair
    int deviceWrite = -1;  // device end of the input pair
    int hostWrite = -1;    // host end of the output pair
    int deviceRead = -1;   // device end of the output pair
    int stopFd = -1;       // wakes receiveOutput on shutdown
    std::atomic<bool> down{false};
};

namespace {
void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}
}  // namespace

VirtualPort::VirtualPort(std::uint32_t, std::uint32_t) : impl_(new Impl) {
    int input[2], output[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, input) != 0)
        throw std::runtime_error("socketpair failed");
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, output) != 0) {
        close(input[0]);
        close(input[1]);
        throw std::runtime_error("socketpair failed");
    }
    impl_->hostRead = input[0];
    impl_->deviceWrite = input[1];
    impl_->hostWrite = output[0];
    impl_->deviceRead = output[1];
    fcntl(impl_->hostRead, F_SETFL, fcntl(impl_->hostRead, F_GETFL) | O_NONBLOCK);
    impl_->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

VirtualPort::~VirtualPort() {
    shutdown();
    closeFd(impl_->hostRead);
    closeFd(impl_->hostWrite);
    closeFd(impl_->deviceWrite);
    closeFd(impl_->deviceRead);
    closeFd(impl_->stopFd);
}

Waitable VirtualPort::takeHostReadHandle() {
    const int fd = impl_->hostRead;
    impl_->hostRead = -1;
    return fd;
}

Waitable VirtualPort::takeHostWriteHandle() {
    const int fd = impl_->hostWrite;
    impl_->hostWrite = -1;
    return fd;
}

VirtualPort::Delivery VirtualPort::sendInput(const unsigned char* payload, std::size_t length) {
    if (impl_->down || impl_->deviceWrite < 0) return Delivery::kGone;
    for (;;) {
        // Never waits: a full channel drops the report, as hidraw drops the
        // reports a reader does not take.
        const ssize_t n = send(impl_->deviceWrite, payload, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS))
            return Delivery::kDropped;
        return n == static_cast<ssize_t>(length) ? Delivery::kSent : Delivery::kGone;
    }
}

int VirtualPort::receiveOutput(unsigned char* report, std::size_t capacity) {
    pollfd fds[2] = {{impl_->deviceRead, POLLIN, 0}, {impl_->stopFd, POLLIN, 0}};
    for (;;) {
        if (impl_->down) return -1;
        const int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (fds[1].revents & POLLIN)) return -1;
        const ssize_t got = recv(impl_->deviceRead, report, capacity, MSG_DONTWAIT);
        if (got > 0) return static_cast<int>(got);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        return -1;  // the host closed its end
    }
}

void VirtualPort::shutdown() {
    if (impl_->down.exchange(true)) return;
    // Closing the device's input end makes the host's reads see the end of
    // the channel, as an unplugged device fails its reads.
    // The descriptors stay open until the destructor, so that a concurrent
    // sendInput never writes to a reused descriptor.
    ::shutdown(impl_->deviceWrite, SHUT_RDWR);
    ::shutdown(impl_->deviceRead, SHUT_RDWR);
    const std::uint64_t one = 1;
    if (write(impl_->stopFd, &one, sizeof one) < 0) {
        // The descriptor is ours and non-blocking; nothing else to do.
    }
}

}  // namespace koblib
