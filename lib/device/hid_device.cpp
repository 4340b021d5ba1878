#include "device/hid_device.h"

#include <cstdio>

#include "device/command_reports.h"
#include "os/debug_output.h"

namespace koblib {

namespace {
constexpr int kWriteAttempts = 4;
}

void HIDDevice::reportError(const char* where, int error) {
    char text[1024];
    std::snprintf(text, sizeof text, "HIDDevice (%s): Last Error: %d\n", where, error);
    debugOutput(text);
}

const std::string& HIDDevice::getSerial() {
    if (!serialRead_) {
        std::string serial;
        if (querySerial(serial)) identity_.serial = serial;
        serialRead_ = true;
    }
    return identity_.serial;
}

void HIDDevice::writeReport(const unsigned char* payload, std::uint32_t length,
                            unsigned char command) {
    fillReport(outputBuffer_.data(), outputBuffer_.size(), command, payload, length);
    if (outputBuffer_.empty()) return;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (writeOnce(outputBuffer_.data(), identity_.outputReportLength)) return;
    }
    reportDropped(kWriteAttempts);
}

bool HIDDevice::writeOutputBuffer() {
    if (outputBuffer_.empty()) return false;
    if (writeOnce(outputBuffer_.data(), identity_.outputReportLength)) return true;
    reportDropped(1);
    return false;
}

void HIDDevice::reportDropped(int attempts) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "HIDDevice (writeReport): report 0x%02X dropped after %d attempt%s\n",
                  outputBuffer_[1], attempts, attempts == 1 ? "" : "s");
    debugOutput(text);
}

}  // namespace koblib
