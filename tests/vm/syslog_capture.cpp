#include "syslog_capture.h"
#include "wait_readable.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace koblib::vm {

namespace {
const char kLogPath[] = "/dev/log";
}

SyslogCapture::SyslogCapture() {
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || stopFd_ < 0) return;
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kLogPath, sizeof address.sun_path - 1);
    unlink(kLogPath);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        close(fd);
        return;
    }
    fd_ = fd;
    reader_ = std::thread(&SyslogCapture::readLoop, this);
}

SyslogCapture::~SyslogCapture() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) < 0) {
            // An eventfd of our own cannot be full.
        }
        reader_.join();
    }
    if (fd_ >= 0) {
        close(fd_);
        unlink(kLogPath);
    }
    if (stopFd_ >= 0) close(stopFd_);
}

void SyslogCapture::readLoop() {
    char buffer[2048];
    while (waitReadable(stopFd_, fd_)) {
        const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) continue;
        {
            std::lock_guard<std::mutex> guard(lock_);
            messages_.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        changed_.notify_all();
    }
}

bool SyslogCapture::waitFor(const std::string& text, std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, deadline, [&] {
        for (const auto& message : messages_)
            if (message.find(text) != std::string::npos) return true;
        return false;
    });
}

std::vector<std::string> SyslogCapture::messages() {
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
}

void SyslogCapture::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    messages_.clear();
}

}  // namespace koblib::vm
