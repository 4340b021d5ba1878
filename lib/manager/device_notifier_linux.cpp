// A thread on a libudev monitor of the hidraw subsystem: each add or
// remove event is one notice. It listens to the udev daemon's events when
// one runs (devices are then ready to open) and to the kernel's otherwise.
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "manager/device_notifier.h"
#include "os/signal_mask.h"

namespace koblib {

namespace {

bool udevDaemonRuns() {
    return access("/run/udev/control", F_OK) == 0;
}

class LinuxDeviceNotifier : public DeviceNotifier {
  public:
    ~LinuxDeviceNotifier() override { stop(5000); }

    std::uintptr_t start(std::function<void()> onChange) override {
        if (thread_.joinable()) return 1;
        stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd_ < 0) return 0;
        udev_ = udev_new();
        monitor_ = udev_
                       ? udev_monitor_new_from_netlink(udev_, udevDaemonRuns() ? "udev" : "kernel")
                       : nullptr;
        if (!monitor_ ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            release();
            return 0;
        }
        try {
            thread_ = startQuietThread<std::thread>(&LinuxDeviceNotifier::loop, this,
                                                    std::move(onChange));
        } catch (...) {
            release();
            return 0;
        }
        return reinterpret_cast<std::uintptr_t>(this);
    }

    void stop(int) override {
        if (!thread_.joinable()) return;
        const std::uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) < 0) {
            // The eventfd is ours and cannot be full; the thread still ends
            // at its next notice.
        }
        // The loop only polls and posts, so it sees the stop at once.
        thread_.join();
        release();
    }

  private:
    void loop(std::function<void()> onChange) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {udev_monitor_get_fd(monitor_), POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[0].revents) return;
            if (fds[1].revents & POLLIN) {
                udev_device* device = udev_monitor_receive_device(monitor_);
                if (!device) continue;
                const char* action = udev_device_get_action(device);
                const bool change =
                    action && (!std::strcmp(action, "add") || !std::strcmp(action, "remove"));
                udev_device_unref(device);
                if (change) onChange();
            }
        }
    }

    void release() {
        if (monitor_) udev_monitor_unref(monitor_);
        if (udev_) udev_unref(udev_);
        if (stopFd_ >= 0) close(stopFd_);
        monitor_ = nullptr;
        udev_ = nullptr;
        stopFd_ = -1;
    }

    std::thread thread_;
    int stopFd_ = -1;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

}  // namespace

std::unique_ptr<DeviceNotifier> makeSystemDeviceNotifier() {
    return std::make_unique<LinuxDeviceNotifier>();
}

}  // namespace koblib
