#include "gadget_kob.h"
#include "wait_readable.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace koblib::vm {

namespace {

const char kGadgetRoot[] = "/sys/kernel/config/usb_gadget";
const char kGadgetName[] = "kob";

bool writeAttribute(const std::string& path, const std::string& value) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = write(fd, value.data(), value.size());
    close(fd);
    return n == static_cast<ssize_t>(value.size());
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// The first entry of a sysfs class directory, or "".
std::string firstEntry(const char* directory) {
    DIR* dir = opendir(directory);
    if (!dir) return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Waits for the gadget's character device to appear (sysfs offers no
// wake-up here): looks again every 10 ms until the deadline.
std::string waitForHidg(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const std::string name = firstEntry("/sys/class/hidg");
        if (!name.empty() && access(("/dev/" + name).c_str(), F_OK) == 0) return "/dev/" + name;
        if (std::chrono::steady_clock::now() >= end) return "";
        poll(nullptr, 0, 10);
    }
}

}  // namespace

GadgetKOB::GadgetKOB(const std::string& serial, std::uint32_t bcdDevice)
    : KernelKOB(serial, bcdDevice), gadgetDir_(std::string(kGadgetRoot) + "/" + kGadgetName) {
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0 || !configure(bcdDevice)) return;
    const std::string node = waitForHidg(std::chrono::seconds(30));
    if (node.empty()) {
        setError("the gadget's hidg device did not appear");
        return;
    }
    fd_ = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        setError("cannot open " + node + ": " + std::strerror(errno));
        return;
    }
    reader_ = std::thread(&GadgetKOB::readerLoop, this);
    startTransport();
}

bool GadgetKOB::configure(std::uint32_t bcdDevice) {
    const std::string udc = firstEntry("/sys/class/udc");
    if (udc.empty()) {
        setError("no USB device controller (dummy_hcd not loaded?)");
        return false;
    }
    const std::string g = gadgetDir_;
    const std::string function = g + "/functions/hid.usb0";
    const std::string config = g + "/configs/c.1";
    bool fine = mkdir(g.c_str(), 0755) == 0 && writeAttribute(g + "/idVendor", hex(kKobVendorId)) &&
                writeAttribute(g + "/idProduct", hex(kKobProductId)) &&
                writeAttribute(g + "/bcdDevice", hex(bcdDevice)) &&
                writeAttribute(g + "/bcdUSB", "0x0200") &&
                mkdir((g + "/strings/0x409").c_str(), 0755) == 0 &&
                writeAttribute(g + "/strings/0x409/manufacturer", "koblib-vm") &&
                writeAttribute(g + "/strings/0x409/product", "KOB-1 (gadget)");
    if (fine && !serial().empty())
        fine = writeAttribute(g + "/strings/0x409/serialnumber", serial());
    const auto& descriptor = kobReportDescriptor();
    fine = fine && mkdir(config.c_str(), 0755) == 0 &&
           mkdir((config + "/strings/0x409").c_str(), 0755) == 0 &&
           writeAttribute(config + "/strings/0x409/configuration", "KOB-1") &&
           writeAttribute(config + "/MaxPower", "100") && mkdir(function.c_str(), 0755) == 0 &&
           writeAttribute(function + "/protocol", "0") &&
           writeAttribute(function + "/subclass", "0") &&
           writeAttribute(function + "/report_length", std::to_string(kReportBytes)) &&
           writeAttribute(function + "/report_desc",
                          std::string(descriptor.begin(), descriptor.end())) &&
           symlink(function.c_str(), (config + "/hid.usb0").c_str()) == 0;
    if (!fine) {
        setError("configfs gadget setup failed: " + std::string(std::strerror(errno)));
        return false;
    }
    if (!writeAttribute(g + "/UDC", udc)) {
        setError("binding the gadget to " + udc + " failed: " + std::strerror(errno));
        return false;
    }
    bound_ = true;
    return true;
}

GadgetKOB::~GadgetKOB() {
    unplug();
    removeConfiguration();
    if (stopFd_ >= 0) close(stopFd_);
}

void GadgetKOB::unplug() {
    // The device end closes first, then the controller lets go of the
    // gadget: the host sees a disconnect.
    if (stopFd_ >= 0) {
        const std::uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) < 0) {
            // An eventfd of our own cannot be full.
        }
    }
    stopTransport();
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (bound_) {
        writeAttribute(gadgetDir_ + "/UDC", "\n");
        bound_ = false;
    }
}

void GadgetKOB::removeConfiguration() {
    const std::string g = gadgetDir_;
    unlink((g + "/configs/c.1/hid.usb0").c_str());
    rmdir((g + "/configs/c.1/strings/0x409").c_str());
    rmdir((g + "/configs/c.1").c_str());
    rmdir((g + "/functions/hid.usb0").c_str());
    rmdir((g + "/strings/0x409").c_str());
    rmdir(g.c_str());
}

// Waits until the IN endpoint takes a report (the previous one has gone
// to the host); false once the device is unplugged.
bool GadgetKOB::waitWritable() {
    return waitReady(stopFd_, fd_, POLLOUT);
}

bool GadgetKOB::writeInput(const unsigned char* report, std::size_t length) {
    for (;;) {
        if (!waitWritable()) return false;
        const ssize_t n = write(fd_, report, length);
        if (n == static_cast<ssize_t>(length)) return true;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        return false;
    }
}

void GadgetKOB::readerLoop() {
    unsigned char data[kReportBytes * 2];
    while (waitReadable(stopFd_, fd_)) {
        // One read is one output report as the wire carried it: the USB
        // HID driver has dropped the report-ID byte already.
        const ssize_t n = read(fd_, data, sizeof data);
        if (n > 0) {
            receivedOutput(data, static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
    }
}

}  // namespace koblib::vm
