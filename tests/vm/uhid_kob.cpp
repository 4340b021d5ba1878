#include "uhid_kob.h"
#include "wait_readable.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace koblib::vm {

namespace {

bool writeEvent(int fd, const uhid_event& event, std::size_t length) {
    for (;;) {
        const ssize_t n = write(fd, &event, length);
        if (n < 0 && errno == EINTR) continue;
        return n == static_cast<ssize_t>(length);
    }
}

void copyText(unsigned char* to, std::size_t capacity, const std::string& text) {
    std::memcpy(to, text.data(), std::min(text.size(), capacity - 1));
}

}  // namespace

UhidKOB::UhidKOB(const std::string& serial, std::uint32_t vendor, std::uint32_t product,
                 std::uint32_t version)
    : KernelKOB(serial, version) {
    fd_ = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (fd_ < 0 || stopFd_ < 0) {
        setError(std::string("cannot open /dev/uhid: ") + std::strerror(errno));
        return;
    }
    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof *event);
    event->type = UHID_CREATE2;
    uhid_create2_req& create = event->u.create2;
    copyText(create.name, sizeof create.name, "KOB-1 (uhid)");
    copyText(create.phys, sizeof create.phys, "koblib-vm/" + serial);
    copyText(create.uniq, sizeof create.uniq, serial);
    const auto& descriptor = kobReportDescriptor();
    create.rd_size = static_cast<__u16>(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), create.rd_data);
    create.bus = BUS_USB;
    create.vendor = vendor;
    create.product = product;
    create.version = version;
    if (!writeEvent(fd_, *event, sizeof *event)) {
        setError(std::string("UHID_CREATE2 failed: ") + std::strerror(errno));
        return;
    }
    reader_ = std::thread(&UhidKOB::readerLoop, this);
    startTransport();
}

UhidKOB::~UhidKOB() {
    stopTransport();
    unplug();
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) < 0) {
            // An eventfd of our own cannot be full.
        }
        reader_.join();
    }
    if (fd_ >= 0) close(fd_);
    if (stopFd_ >= 0) close(stopFd_);
}

void UhidKOB::unplug() {
    std::lock_guard<std::mutex> guard(lock_);
    if (destroyed_ || fd_ < 0 || !ok()) return;
    destroyed_ = true;
    uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_DESTROY;
    writeEvent(fd_, event, sizeof event.type);
}

bool UhidKOB::writeInput(const unsigned char* report, std::size_t length) {
    uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<__u16>(length);
    std::memcpy(event.u.input2.data, report, length);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (destroyed_) return false;
    }
    return writeEvent(fd_, event, offsetof(uhid_event, u.input2.data) + length);
}

bool UhidKOB::injectInput(const std::vector<unsigned char>& report) {
    return writeInput(report.data(), report.size());
}

std::vector<std::vector<unsigned char>> UhidKOB::hostWrites() {
    std::lock_guard<std::mutex> guard(lock_);
    return hostWrites_;
}

int UhidKOB::opens() {
    std::lock_guard<std::mutex> guard(lock_);
    return opens_;
}

bool UhidKOB::isOpen() {
    std::lock_guard<std::mutex> guard(lock_);
    return open_;
}

bool UhidKOB::waitForOpen(bool open, std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, deadline, [&] { return open_ == open; });
}

void UhidKOB::readerLoop() {
    auto event = std::make_unique<uhid_event>();
    while (waitReadable(stopFd_, fd_)) {
        const ssize_t n = read(fd_, event.get(), sizeof *event);
        if (n < static_cast<ssize_t>(sizeof event->type)) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        switch (event->type) {
            case UHID_OPEN:
            case UHID_CLOSE: {
                std::lock_guard<std::mutex> guard(lock_);
                open_ = event->type == UHID_OPEN;
                if (open_) ++opens_;
                changed_.notify_all();
                break;
            }
            case UHID_OUTPUT: {
                // uhid hands over the buffer the host wrote, report-ID byte
                // included; the USB HID driver drops a leading report ID 0
                // before the wire, and so does this device.
                const unsigned char* data = event->u.output.data;
                std::size_t size = std::min<std::size_t>(event->u.output.size, UHID_DATA_MAX);
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    hostWrites_.emplace_back(data, data + size);
                }
                if (size > 0 && data[0] == 0) {
                    ++data;
                    --size;
                }
                receivedOutput(data, size);
                break;
            }
            case UHID_GET_REPORT: {
                // The device has no feature reports.
                uhid_event reply;
                std::memset(&reply, 0, sizeof reply);
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event->u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                writeEvent(fd_, reply, sizeof reply);
                break;
            }
            case UHID_SET_REPORT: {
                uhid_event reply;
                std::memset(&reply, 0, sizeof reply);
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = event->u.set_report.id;
                reply.u.set_report_reply.err = EIO;
                writeEvent(fd_, reply, sizeof reply);
                break;
            }
            default:
                break;  // UHID_START, UHID_STOP
        }
    }
}

}  // namespace koblib::vm
