// One opened transceiver: its read and write handles, its report buffers
// and its identity. The same read/write code serves hardware and the
// virtual KOB-1, whose channel behaves like the system's HID device.
//
// What each system's file (hid_device_<os>.cpp) provides, and what the
// Linux one relies on from hidraw (seen on a real kernel):
// - readEvent() is what the worker waits on: on Windows the overlapped
//   read's event, on Linux the non-blocking read fd itself, readable when a
//   report waits and also when the fd hung up or is in error.
// - A hidraw read returns one whole input report without the report-ID
//   byte; the kernel drops a short input report. So the Linux reader reads
//   into inputBuffer + 1, keeps byte 0 as the report ID 0 and reports
//   n + 1 bytes: above HIDDevice both systems frame reports alike.
// - A hidraw write must start with the report-ID byte 0, which the USB
//   driver strips (without it a report whose first payload byte is 0
//   loses a byte); the write fd is blocking, so a write lasts until the
//   kernel driver has sent the report or timed out (5 s for USB HID).
// - After unplugging, read fails with EIO and poll reports POLLERR|POLLHUP.
//   The reader does not rest on the errno: a read that finds nothing on an
//   fd that hung up or is in error fails as well (finishRead returns -1),
//   so the device is removed instead of the worker waking for ever.
// - Node names (hidraw0) are reused and are no identity; the serial
//   (HID_UNIQ) comes with the identity at open.
// - The virtual KOB-1's channel gives the same framing (a SOCK_SEQPACKET
//   pair on Linux, a message-mode pipe on Windows), so this code is tested
//   without hardware.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os/event.h"

namespace koblib {

constexpr std::uint32_t kKobVendorId = 0x20A0;
constexpr std::uint32_t kKobProductId = 0x413F;

// What the system tells of a device when it is opened.
struct HIDIdentity {
    bool valid = false;  // the attributes could be read
    std::uint32_t vendorId = 0;
    std::uint32_t productId = 0;
    std::uint32_t versionNumber = 0;
    std::uint32_t inputReportLength = 0;   // report-ID byte included
    std::uint32_t outputReportLength = 0;  // report-ID byte included
    bool serialKnown = false;              // serial below is final; otherwise asked once
    std::string serial;
};

class HIDDevice {
  public:
    // Takes ownership of both handles (closed by the destructor, also for
    // an invalid device). Buffers are allocated here, once, for a valid
    // device only.
    HIDDevice(Waitable readHandle, Waitable writeHandle, const HIDIdentity& identity);
    virtual ~HIDDevice();
    HIDDevice(const HIDDevice&) = delete;
    HIDDevice& operator=(const HIDDevice&) = delete;

    // The serial number, asked of the device on the first call only; empty
    // for good when that fails.
    const std::string& getSerial();

    // Starts one read of a whole input report into the input buffer: true
    // when started or already complete, false on error (with a message on
    // the debug output).
    bool startRead();
    // Collects the read without waiting: the byte count (> 0, report-ID
    // byte included), 0 when not complete yet, -1 on error (with a message).
    int finishRead();

    // Writes one output report: byte 0 = 0, byte 1 = command, the payload
    // from byte 2 (the bytes after it keep what the previous report left).
    // Up to 4 attempts (each bounded as writeOnce says); a report that
    // fails them all is dropped with a debug output line and not reported.
    // Throws std::length_error("Too much data for buffer") when the payload
    // does not fit, writing nothing.
    void writeReport(const unsigned char* payload, std::uint32_t length, unsigned char command);
    // Writes the whole output buffer once, as built by the caller; true
    // when the write succeeded.
    bool writeOutputBuffer();

    bool valid() const { return identity_.valid; }
    std::uint32_t vendorId() const { return identity_.vendorId; }
    std::uint32_t productId() const { return identity_.productId; }
    std::uint32_t versionNumber() const { return identity_.versionNumber; }
    std::uint32_t inputReportLength() const { return identity_.inputReportLength; }
    std::uint32_t outputReportLength() const { return identity_.outputReportLength; }
    unsigned char* inputBuffer() { return inputBuffer_.data(); }
    unsigned char* outputBuffer() { return outputBuffer_.data(); }
    // What the worker waits on for this device's read.
    Waitable readEvent() const;

  private:
    struct ReadState;  // per system: the overlapped record and its event

    bool querySerial(std::string& serial);  // per system
    // "HIDDevice (<where>): Last Error: <error>" on the debug output.
    static void reportError(const char* where, int error);
    // One write attempt: false when it failed or the device took no report
    // in time. What bounds it differs: on Linux, 50 ms of waiting for room
    // on the virtual KOB-1's socket channel, and on hidraw the kernel
    // driver's own time-out of the transfer (the write fd blocks); on
    // Windows the synchronous WriteFile, bounded by the driver alone.
    bool writeOnce(const unsigned char* data, std::uint32_t length);  // per system
    // "HIDDevice (writeReport): report 0x<command> dropped after <n>
    // attempts" on the debug output.
    void reportDropped(int attempts);

    Waitable readHandle_;
    Waitable writeHandle_;
    HIDIdentity identity_;
    bool serialRead_;
    std::unique_ptr<ReadState> readState_;
    std::vector<unsigned char> inputBuffer_;
    std::vector<unsigned char> outputBuffer_;
};

}  // namespace koblib
