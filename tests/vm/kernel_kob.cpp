#include "kernel_kob.h"

#include <dirent.h>
#include <poll.h>

#include <fstream>

namespace koblib::vm {

const std::vector<unsigned char>& kobReportDescriptor() {
    static const std::vector<unsigned char> descriptor = {
        0x06, 0xA0, 0xFF,  // Usage Page (vendor 0xFFA0)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x09, 0x02,        //   Usage (2)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x40,        //   Report Count (64)
        0x81, 0x02,        //   Input (Data, Variable, Absolute)
        0x09, 0x03,        //   Usage (3)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0xC0,              // End Collection
    };
    return descriptor;
}

KernelKOB::KernelKOB(std::string serial, std::uint32_t version)
    : serial_(std::move(serial)),
      firmware_(std::make_unique<VirtualKOB>(serial_, version,
                                             static_cast<std::uint32_t>(kReportBytes))) {
    firmware_->setInputSink([this](const unsigned char* payload, std::size_t length) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_) return;
            inputs_.emplace_back(payload, payload + length);
        }
        queued_.notify_all();
    });
}

KernelKOB::~KernelKOB() {
    // No sink call is running once this returns; then the firmware's
    // threads end before the queue they feed goes.
    firmware_->setInputSink(nullptr);
    stopTransport();
    firmware_.reset();
}

void KernelKOB::startTransport() {
    writer_ = std::thread(&KernelKOB::writerLoop, this);
}

void KernelKOB::stopTransport() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    queued_.notify_all();
    if (writer_.joinable()) writer_.join();
}

// One report at a time, in order, off the firmware's thread: a transport
// whose write blocks until the host polls never stalls the firmware.
void KernelKOB::writerLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        queued_.wait(guard, [this] { return stopping_ || !inputs_.empty(); });
        if (stopping_) return;
        std::vector<unsigned char> report = std::move(inputs_.front());
        inputs_.pop_front();
        auto observer = observer_;
        guard.unlock();
        if (observer) observer(report.data(), report.size());
        writeInput(report.data(), report.size());
        guard.lock();
    }
}

void KernelKOB::receivedOutput(const unsigned char* data, std::size_t length) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        outputLengths_.push_back(length);
    }
    std::vector<unsigned char> report(length + 1, 0);
    std::copy(data, data + length, report.begin() + 1);
    firmware_->deliverOutput(report.data(), report.size());
}

std::vector<std::size_t> KernelKOB::outputLengths() {
    std::lock_guard<std::mutex> guard(lock_);
    return outputLengths_;
}

void KernelKOB::setInputObserver(std::function<void(const unsigned char*, std::size_t)> observer) {
    std::lock_guard<std::mutex> guard(lock_);
    observer_ = std::move(observer);
}

namespace {

// The hidraw node whose parent HID device has this HID_UNIQ, or "".
std::string findHidraw(const std::string& serial) {
    DIR* dir = opendir("/sys/class/hidraw");
    if (!dir) return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("hidraw", 0) != 0) continue;
        std::ifstream uevent("/sys/class/hidraw/" + name + "/device/uevent");
        std::string line;
        while (std::getline(uevent, line)) {
            if (line == "HID_UNIQ=" + serial) found = "/dev/" + name;
        }
        if (!found.empty()) break;
    }
    closedir(dir);
    return found;
}

}  // namespace

std::string KernelKOB::waitForHidraw(std::chrono::milliseconds deadline) const {
    // sysfs offers no wake-up for a new node here; look again every 10 ms
    // until the deadline.
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        std::string node = findHidraw(serial_);
        if (!node.empty()) return node;
        if (std::chrono::steady_clock::now() >= end) return "";
        poll(nullptr, 0, 10);
    }
}

}  // namespace koblib::vm
