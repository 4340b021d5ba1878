// The library's object for one attached transceiver: it completes the
// device's reads and routes each report to its parser, writes command
// reports, and sends IR codes one at a time with a queue behind them.
// Everything here runs on the manager's worker thread.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_device.h"
#include "parsers/button_press_parser.h"
#include "parsers/digital_io_parser.h"
#include "parsers/ir_modulation_parser.h"
#include "parsers/ir_raw_learn_parser.h"
#include "parsers/ir_receive_parser.h"
#include "parsers/ir_send_parser.h"
#include "parsers/unknown_parser.h"
#include "parsers/wakeup_parser.h"

namespace koblib {

// The events a device object raises, each may be empty.
struct KOBCallbacks {
    UnknownParser::Callback status;  // (serial, code, text)
    IRSendParser::Callback irSent;   // (serial, status)
    IRReceiveParser::Callback irReceived;
    IRModulationParser::Callback modulation;
    DigitalIOParser::Callback digitalIO;
    IRRawLearnParser::Callback rawLearn;
    WakeupParser::Callback wakeup;
    ButtonPressParser::Callback button;
};

// One queued transmission.
struct IRSend {
    std::vector<unsigned int> words;
    unsigned char bitmask = 0;
    unsigned char repeat = 0;
};

class KOB {
  public:
    KOB(std::shared_ptr<HIDDevice> device, KOBCallbacks callbacks);
    // Reports "KOB removed" (code 1); queued codes are dropped unsent.
    virtual ~KOB();
    KOB(const KOB&) = delete;
    KOB& operator=(const KOB&) = delete;

    // Completes the outstanding read, routes a whole report and starts the
    // next read. False: the device is gone or unusable.
    bool serviceRead();
    // One command report (up to 4 attempts). A payload too large for the
    // device is refused with a debug-output line.
    void writeReport(const unsigned char* payload, std::uint32_t length, unsigned char command);
    // Sends a code now if nothing is on the air, else queues it. A code
    // without words is dropped: it would never be answered.
    void sendIR(const unsigned int* words, std::size_t count, unsigned char bitmask,
                unsigned char repeat);
    // Writes a wake-code block in chunks (refused when too long).
    void sendWakeCode(int flag, const std::string& block);

    const std::shared_ptr<HIDDevice>& getDevice() const { return device; }
    void setReadPending(bool pending) { readPending = pending; }
    bool isSending() const { return sending; }
    std::size_t queuedCodes() const { return sendQueue.size(); }

  private:
    // Hands the report in the input buffer to the current or a new parser.
    void routeReport();
    // Writes the IR-send reports of one code and marks the object sending.
    void transmitIR(unsigned char bitmask, unsigned char repeat, const unsigned int* words,
                    std::size_t count);
    // The device finished a transmission: report it, start the next code.
    void onSendComplete(const std::string& serial, unsigned char status);

    std::shared_ptr<HIDDevice> device;
    bool readPending = false;
    bool sending = false;
    std::deque<std::shared_ptr<IRSend>> sendQueue;
    std::shared_ptr<IRReceiveParser> irReceiveParser;
    std::shared_ptr<IRSendParser> irSendParser;
    std::shared_ptr<IRModulationParser> irModulationParser;
    std::shared_ptr<UnknownParser> unknownParser;
    std::shared_ptr<DigitalIOParser> digitalIOParser;
    std::shared_ptr<Parser> currentParser;
    std::shared_ptr<IRRawLearnParser> irRawLearnParser;
    std::shared_ptr<WakeupParser> wakeupParser;
    std::shared_ptr<ButtonPressParser> buttonPressParser;
    KOBCallbacks callbacks;
};

}  // namespace koblib
