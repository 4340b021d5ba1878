// A virtual KOB-1 whose host side is a real kernel HID device: the firmware
// model of sim/ behind a kernel transport (uhid, or a USB gadget seen
// through the kernel's USB HID driver). The library under test then meets
// the device only through hidraw, as it meets hardware.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "virtual_kob.h"

namespace koblib::vm {

// Bytes of an input or output report on the wire (no report IDs).
constexpr std::size_t kReportBytes = 64;

// The device's HID report descriptor: a vendor-page application collection
// with one 64-byte input and one 64-byte output report, no report IDs.
const std::vector<unsigned char>& kobReportDescriptor();

class KernelKOB {
  public:
    virtual ~KernelKOB();
    KernelKOB(const KernelKOB&) = delete;
    KernelKOB& operator=(const KernelKOB&) = delete;

    // False when the kernel refused the device; error() says why.
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& serial() const { return serial_; }

    VirtualKOB& firmware() { return *firmware_; }

    // Unplugs the device: the kernel removes its hidraw node. Idempotent.
    virtual void unplug() = 0;

    // The hidraw node of this device ("/dev/hidrawN"), found by its serial
    // (HID_UNIQ of the parent HID device); waits for it to appear. Empty
    // when it did not appear before the deadline.
    std::string waitForHidraw(std::chrono::milliseconds deadline) const;

    // Lengths of the output reports the device has received so far, as
    // the wire carried them (without a report-ID byte).
    std::vector<std::size_t> outputLengths();

    // Called on the transport's writer thread right before each input
    // report goes to the kernel (timestamps for the benchmark).
    void setInputObserver(std::function<void(const unsigned char*, std::size_t)> observer);

  protected:
    KernelKOB(std::string serial, std::uint32_t version);

    // Starts the writer thread; derived constructors call it once the
    // kernel device exists. stopTransport() ends it (idempotent) and must
    // run before the derived part is gone.
    void startTransport();
    void stopTransport();
    // Hands one input report (kReportBytes) to the kernel; false on error.
    virtual bool writeInput(const unsigned char* report, std::size_t length) = 0;
    // What the device received on its output endpoint (no report-ID byte):
    // the firmware gets it framed as the library wrote it, report ID 0
    // first, exactly once.
    void receivedOutput(const unsigned char* data, std::size_t length);
    // Marks the device as refused, with the reason.
    void setError(std::string error) { error_ = std::move(error); }

  private:
    void writerLoop();

    const std::string serial_;
    std::string error_;
    std::unique_ptr<VirtualKOB> firmware_;

    std::mutex lock_;
    std::condition_variable queued_;
    std::deque<std::vector<unsigned char>> inputs_;
    bool stopping_ = false;
    std::vector<std::size_t> outputLengths_;
    std::function<void(const unsigned char*, std::size_t)> observer_;
    std::thread writer_;
};

}  // namespace koblib::vm
