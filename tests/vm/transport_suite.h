// The cases every kernel transport must pass: the library (KOBLIB, through
// its exports) against a virtual KOB-1 that the kernel presents as a HID
// device. Each test program instantiates them for its transport.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "event_recorder.h"
#include "kernel_kob.h"
#include "syslog_capture.h"

namespace koblib::vm {

// A generous deadline for anything the kernel and the library do (each
// takes well under a second in the VM).
constexpr std::chrono::seconds kDeadline{10};

struct Transport {
    std::string name;
    // Makes and plugs a device with this serial.
    std::function<std::unique_ptr<KernelKOB>(const std::string& serial)> plug;
    // What kob_version reports for it.
    std::uint32_t version;
};

// The process's stand-in logger, made before the library logs anything.
SyslogCapture& syslogCapture();

// The library opened with every callback, reporting to a fresh recorder;
// closed again, and the devices let go, after each test.
class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // kob_open_ex with every recorder callback.
    void openLibrary();
    // Waits until the status callback reported this for the serial count
    // times in all.
    bool waitStatus(const std::string& serial, int code, const std::string& text, int count = 1);
    // The text kob_list gives (asked with a buffer that fits).
    static std::string listText();

    std::shared_ptr<EventRecorder> recorder;
};

class TransportTest : public LibraryTest, public ::testing::WithParamInterface<Transport> {
  protected:
    void TearDown() override;
    // Plugs a device and waits until the library reports "KOB arrived" for
    // it (the n-th time when a device with its serial was there before).
    KernelKOB& plugAndWait(const std::string& serial, int arrival = 1);

    std::unique_ptr<KernelKOB> device;
};

// The transport's name for test names and messages.
std::string transportName(const ::testing::TestParamInfo<Transport>& info);
void PrintTo(const Transport& transport, std::ostream* out);

}  // namespace koblib::vm
