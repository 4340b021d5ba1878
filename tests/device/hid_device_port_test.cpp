// HIDDevice report I/O over a virtual port: the same read and write code
// that serves hardware, with the device side driven by the test.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_device.h"
#include "os/debug_output.h"
#include "os/event.h"
#include "virtual_port.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace koblib {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint32_t kLength = 65;  // report-ID byte included
constexpr int kGenerousMs = 10000;

HIDIdentity transceiverIdentity() {
    HIDIdentity identity;
    identity.valid = true;
    identity.vendorId = kKobVendorId;
    identity.productId = kKobProductId;
    identity.versionNumber = 0x0102;
    identity.inputReportLength = kLength;
    identity.outputReportLength = kLength;
    identity.serialKnown = true;
    identity.serial = "SIM-1";
    return identity;
}

Bytes pattern(std::size_t length, unsigned char seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 3);
    return bytes;
}

// Captures the debug output for the life of the object.
class DebugCapture {
  public:
    DebugCapture() {
        setDebugOutputHook([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(lock_);
            text_ += text;
        });
    }
    ~DebugCapture() { setDebugOutputHook(nullptr); }
    std::string text() {
        std::lock_guard<std::mutex> guard(lock_);
        return text_;
    }

  private:
    std::mutex lock_;
    std::string text_;
};

class HIDDevicePort : public ::testing::Test {
  protected:
    HIDDevicePort()
        : port(kLength, kLength),
          device(new HIDDevice(port.takeHostReadHandle(), port.takeHostWriteHandle(),
                               transceiverIdentity())) {}

    // One read cycle: waits for the read event and collects the report.
    int readReport() {
        const Waitable event = device->readEvent();
        if (waitAny(&event, 1, kGenerousMs) != 0) return -2;
        return device->finishRead();
    }

    Bytes inputReport() const {
        return Bytes(device->inputBuffer(), device->inputBuffer() + kLength);
    }

    Bytes receive() {
        Bytes report(kLength + 8);
        const int n = port.receiveOutput(report.data(), report.size());
        report.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return report;
    }

    VirtualPort port;
    std::unique_ptr<HIDDevice> device;
};

TEST_F(HIDDevicePort, ReadsWholeInputReportsWithTheReportIdByte) {
    ASSERT_TRUE(device->startRead());
    const Waitable event = device->readEvent();
    EXPECT_EQ(waitAny(&event, 1, 0), kWaitTimedOut);  // nothing sent yet
    EXPECT_EQ(device->finishRead(), 0);

    const Bytes first = pattern(kLength - 1, 0x0A);
    ASSERT_EQ(port.sendInput(first.data(), first.size()), VirtualPort::Delivery::kSent);
    ASSERT_EQ(readReport(), static_cast<int>(kLength));
    Bytes expected{0x00};
    expected.insert(expected.end(), first.begin(), first.end());
    EXPECT_EQ(inputReport(), expected);

    // The next cycle reads the next report, not the previous one again.
    ASSERT_TRUE(device->startRead());
    const Bytes second = pattern(kLength - 1, 0x0F);
    ASSERT_EQ(port.sendInput(second.data(), second.size()), VirtualPort::Delivery::kSent);
    ASSERT_EQ(readReport(), static_cast<int>(kLength));
    expected.assign(1, 0x00);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(inputReport(), expected);
}

TEST_F(HIDDevicePort, ReportWaitingBeforeTheReadIsCollectedTheSameWay) {
    const Bytes report = pattern(kLength - 1, 0x20);
    ASSERT_EQ(port.sendInput(report.data(), report.size()), VirtualPort::Delivery::kSent);
    ASSERT_TRUE(device->startRead());
    ASSERT_EQ(readReport(), static_cast<int>(kLength));
    Bytes expected{0x00};
    expected.insert(expected.end(), report.begin(), report.end());
    EXPECT_EQ(inputReport(), expected);
}

TEST_F(HIDDevicePort, WritesFullLengthReportsKeepingEarlierBytes) {
    const unsigned char ab[] = {0xA1, 0xB2};
    device->writeReport(ab, 2, 0x20);
    Bytes expected(kLength, 0);
    expected[1] = 0x20;
    expected[2] = 0xA1;
    expected[3] = 0xB2;
    EXPECT_EQ(receive(), expected);

    // A shorter payload leaves the previous report's bytes after it.
    const unsigned char c[] = {0xC3};
    device->writeReport(c, 1, 0x27);
    expected[1] = 0x27;
    expected[2] = 0xC3;
    EXPECT_EQ(receive(), expected);

    // No payload: only the command byte changes.
    device->writeReport(nullptr, 0, 0x10);
    expected[1] = 0x10;
    EXPECT_EQ(receive(), expected);
}

TEST_F(HIDDevicePort, PayloadOfLengthMinusTwoFillsTheReportAndOneMoreThrows) {
    const Bytes full = pattern(kLength - 2, 0x40);
    device->writeReport(full.data(), static_cast<std::uint32_t>(full.size()), 0x24);
    Bytes expected{0x00, 0x24};
    expected.insert(expected.end(), full.begin(), full.end());
    EXPECT_EQ(receive(), expected);

    const Bytes tooLong = pattern(kLength - 1, 0x80);
    try {
        device->writeReport(tooLong.data(), static_cast<std::uint32_t>(tooLong.size()), 0x25);
        FAIL() << "no exception";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "Too much data for buffer");
    }

    // Nothing went out for the oversized report: the next report the
    // device hears is the following one.
    const unsigned char marker[] = {0x5A};
    device->writeReport(marker, 1, 0x26);
    const Bytes next = receive();
    ASSERT_EQ(next.size(), kLength);
    EXPECT_EQ(next[1], 0x26);
    EXPECT_EQ(next[2], 0x5A);
}

TEST_F(HIDDevicePort, UnpluggingFailsThePendingReadAndLaterWrites) {
    DebugCapture capture;
    ASSERT_TRUE(device->startRead());
    port.shutdown();
    EXPECT_EQ(readReport(), -1);
    EXPECT_NE(capture.text().find("HIDDevice (finishRead): Last Error: "), std::string::npos)
        << capture.text();

    const unsigned char ab[] = {1, 2};
    device->writeReport(ab, 2, 0x20);  // all attempts fail, nothing reported
    EXPECT_FALSE(device->writeOutputBuffer());
    EXPECT_EQ(port.sendInput(ab, 2), VirtualPort::Delivery::kGone);
}

TEST_F(HIDDevicePort, DeviceThatStopsReadingMakesWritesDropNotBlock) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows write is a synchronous WriteFile, which a full channel blocks";
#endif
    // The device side never reads: once its channel is full every report
    // is dropped after its attempts, with a line, and the writer goes on.
    DebugCapture capture;
    const std::string dropped = "HIDDevice (writeReport): report 0x20 dropped after 4 attempts";
    const unsigned char ab[] = {0x01, 0x02};
    int writes = 0;
    while (capture.text().find(dropped) == std::string::npos && writes < 100000) {
        device->writeReport(ab, 2, 0x20);
        ++writes;
    }
    ASSERT_NE(capture.text().find(dropped), std::string::npos) << writes << " writes";
    EXPECT_FALSE(device->writeOutputBuffer());
    EXPECT_NE(capture.text().find("report 0x20 dropped after 1 attempt\n"), std::string::npos);

    // Once the device takes a report there is room again: the next write
    // goes out whole.
    ASSERT_EQ(receive().size(), kLength);
    EXPECT_TRUE(device->writeOutputBuffer());
}

TEST_F(HIDDevicePort, ShutdownUnblocksTheDeviceSideReceive) {
    int result = 0;
    std::thread device_side([&] {
        unsigned char report[kLength];
        result = port.receiveOutput(report, sizeof report);
    });
    port.shutdown();
    device_side.join();
    EXPECT_EQ(result, -1);
}

TEST_F(HIDDevicePort, DestroyingTheDeviceWithAReadOutstandingClosesItsHandles) {
    ASSERT_TRUE(device->startRead());
    device.reset();
    // The host end is gone: the device side can no longer deliver reports.
    const Bytes report = pattern(kLength - 1, 0x01);
    EXPECT_EQ(port.sendInput(report.data(), report.size()), VirtualPort::Delivery::kGone);
    unsigned char buffer[kLength];
    EXPECT_EQ(port.receiveOutput(buffer, sizeof buffer), -1);
}

#ifndef _WIN32
// A channel whose reads answer "nothing yet" after it hung up (a datagram
// socket shut down both ways): the reports queued before the hang-up are
// still read, then the read fails instead of waiting for ever.
TEST(HIDDeviceHangUp, AHungUpChannelFailsTheReadOnceItsReportsAreRead) {
    for (const int queued : {0, 2}) {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
        for (int k = 0; k < queued; ++k) {
            const Bytes payload = pattern(kLength - 1, static_cast<unsigned char>(k));
            ASSERT_EQ(send(pair[1], payload.data(), payload.size(), 0), kLength - 1);
        }
        shutdown(pair[0], SHUT_RDWR);
        HIDDevice device(pair[0], -1, transceiverIdentity());
        DebugCapture debug;
        for (int k = 0; k < queued; ++k)
            EXPECT_EQ(device.finishRead(), int(kLength)) << k;
        EXPECT_EQ(device.finishRead(), -1) << queued << " queued";
        EXPECT_NE(debug.text().find("HIDDevice (finishRead): Last Error:"), std::string::npos);
        close(pair[1]);
    }
}
#endif

}  // namespace
}  // namespace koblib
