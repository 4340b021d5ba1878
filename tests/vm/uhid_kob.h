// A virtual KOB-1 made through the kernel's uhid (/dev/uhid): a HID device
// on the USB bus type whose reports this process produces and consumes.
// Any vendor and product may be given, for devices the library must ignore.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel_kob.h"

namespace koblib::vm {

class UhidKOB : public KernelKOB {
  public:
    // version is the HID version the kernel is told; with no USB device
    // behind it, the system exposes no release number for it.
    explicit UhidKOB(const std::string& serial, std::uint32_t vendor = kKobVendorId,
                     std::uint32_t product = kKobProductId, std::uint32_t version = 0x0100);
    ~UhidKOB() override;

    // UHID_DESTROY: the HID device and its hidraw node go away.
    void unplug() override;

    // An input report of any length straight to the kernel, past the
    // firmware (whose reports are always whole); false on error.
    bool injectInput(const std::vector<unsigned char>& report);

    // The output reports as the host wrote them to the hidraw node (uhid
    // passes them on unchanged, report-ID byte included), oldest first.
    std::vector<std::vector<unsigned char>> hostWrites();

    // How often the kernel opened the device (UHID_OPEN: the first opener
    // of its hidraw node), and whether it is open now.
    int opens();
    bool isOpen();
    // Waits until the open state is as given; false after the deadline.
    bool waitForOpen(bool open, std::chrono::milliseconds deadline);

  private:
    bool writeInput(const unsigned char* report, std::size_t length) override;
    void readerLoop();

    int fd_ = -1;
    int stopFd_ = -1;
    std::thread reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool destroyed_ = false;
    int opens_ = 0;
    bool open_ = false;
    std::vector<std::vector<unsigned char>> hostWrites_;
};

}  // namespace koblib::vm
