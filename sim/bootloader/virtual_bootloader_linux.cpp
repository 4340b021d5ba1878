#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include "os/signal_mask.h"
#include "virtual_bootloader.h"

namespace koblib_sim {
namespace {

void closeIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

VirtualBootloader::VirtualBootloader(BootloaderConfig config) : model_(std::move(config)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        closeIfOpen(master_);
        throw std::runtime_error("no pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        closeIfOpen(master_);
        throw std::runtime_error("no pseudo-terminal name");
    }
    portPath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (slave_ < 0 || stop_ < 0) {
        closeIfOpen(slave_);
        closeIfOpen(stop_);
        closeIfOpen(master_);
        throw std::runtime_error("cannot open the pseudo-terminal");
    }
    // A USB serial line passes bytes as they are; so must the terminal,
    // whoever opens it (a Windows program under Wine sets nothing).
    termios settings;
    if (tcgetattr(slave_, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(slave_, TCSANOW, &settings);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = koblib::startQuietThread<std::thread>([this] { run(); });
}

VirtualBootloader::~VirtualBootloader() {
    const std::uint64_t one = 1;
    while (write(stop_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
    closeIfOpen(stop_);
    closeIfOpen(slave_);
    closeIfOpen(master_);
}

void VirtualBootloader::reset(BootloaderConfig config) {
    std::lock_guard<std::mutex> lock(mutex_);
    model_ = BootloaderModel(std::move(config));
}

BootloaderModel VirtualBootloader::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_;
}

bool VirtualBootloader::hungUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hungUp_;
}

bool VirtualBootloader::waitUntil(const std::function<bool(const BootloaderModel&)>& condition,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return condition(model_); });
}

// Writes all bytes to the host, waiting while the line is full; false when
// asked to stop meanwhile or when the line fails.
bool VirtualBootloader::writeAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        pollfd fds[2] = {{master_, POLLOUT, 0}, {stop_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (fds[1].revents & POLLIN) return false;
    }
    return true;
}

void VirtualBootloader::run() {
    std::uint8_t input[4096];
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN) return;
        const ssize_t n = read(master_, input, sizeof input);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return;

        std::string answer;
        bool lineUp = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (ssize_t i = 0; i < n && lineUp; ++i)
                lineUp = model_.receive(input[i], answer);
        }
        const bool written = writeAll(answer);
        if (!lineUp) {
            // Both ends of the line go: the host's next read or write fails.
            std::lock_guard<std::mutex> lock(mutex_);
            closeIfOpen(slave_);
            closeIfOpen(master_);
            hungUp_ = true;
        }
        changed_.notify_all();
        if (!written || !lineUp) return;
    }
}

}  // namespace koblib_sim
