// The fixture of the tests that drive KOBLIB_SIM through its exports. All
// tests share one library in the process (under wine they all run in one
// process), so each test starts from the library closed, records through
// its own recorder, attaches its own devices, and at its end closes the
// library, detaches its devices and puts "SIM-0001" back as it was.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device_outputs.h"
#include "event_recorder.h"
#include "koblib.h"
#include "koblib_sim.h"

namespace koblib {

// The device KOBLIB_SIM starts with.
constexpr const char* kSimSerial = "SIM-0001";
constexpr unsigned int kSimVersion = 0x0100;
constexpr unsigned int kSimPayload = 64;

constexpr const char* kArrived = "KOB arrived";
constexpr const char* kRemoved = "KOB removed";
constexpr const char* kBatchLimit = "Message loop exceeded 50 items";

// The example code of the console program's usage text: 140 words.
extern const char* const kExampleCode;
// A short code: no once sequence, two repeat pairs.
extern const char* const kShortCode;

// The words of a CCF text, four hex digits each (blanks between words).
std::vector<unsigned int> hexWords(const char* text);
// Words as a received code's text: "%04X " each.
std::string wordText(const std::vector<unsigned int>& words);
// Posts every device command but the bootloader and learning to serial:
// kShortCode, stop, carrier measurement on and off, digital I/O, raw
// learning on and off, wake enable/disable/program/info, blink.
void postEveryCommand(const char* serial);

class ApiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs in a virtual device for this test (unplugged at its end) with
    // loopback on and the given air time; its output log starts empty.
    DeviceOutputs& attach(const std::string& serial, unsigned int version = 0x0200,
                          unsigned int payload = 64, unsigned int airTimePercent = 0);
    // The output log of "SIM-0001" or of a device of this test.
    DeviceOutputs& outputs(const std::string& serial);
    // Unplugs "SIM-0001" for this test; it is plugged in again at the end.
    void detachSim();

    // kob_open_ex with all nine recording callbacks.
    void* openAll();
    bool waitArrived(const std::string& serial);
    bool waitRemoved(const std::string& serial);
    // Polls kob_list until it shows serial.
    bool waitListed(const std::string& serial);
    // Posts a digital I/O command to serial and waits until the device has
    // received it: every command posted for it before has reached it.
    bool fenceWrites(const std::string& serial);
    // As fenceWrites, and waits for the device's answer to reach the
    // digital I/O callback: everything the device sent before it has been
    // handled too. An answer the device dropped (counted by kobsim_dropped)
    // is asked for again.
    bool fence(const std::string& serial);
    // The reports of serial's log that are not fences.
    std::vector<Report> commands(const std::string& serial);

    std::shared_ptr<EventRecorder> recorder;

  private:
    std::map<std::string, std::unique_ptr<DeviceOutputs>> devices_;
    std::vector<std::string> attached_;
    bool simDetached_ = false;
    unsigned char nextFence_ = 0;
};

// The fence command's code byte: digital I/O command 0xEE.
constexpr unsigned char kFenceCommand = 0xEE;

}  // namespace koblib
