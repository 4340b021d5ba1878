#include "device/kob.h"

#include <stdexcept>
#include <string>

#include "device/command_reports.h"
#include "os/debug_output.h"

namespace koblib {

namespace {
// Parsers must never get an empty function; an empty host-side event is
// simply dropped.
template <typename Fn>
Fn orNothing(const Fn& fn) {
    return fn ? fn : Fn([](auto&&...) {});
}
}  // namespace

KOB::KOB(std::shared_ptr<HIDDevice> hidDevice, KOBCallbacks events)
    : device(std::move(hidDevice)), callbacks(std::move(events)) {
    const std::string& serial = device->getSerial();
    digitalIOParser = std::make_shared<DigitalIOParser>(serial, orNothing(callbacks.digitalIO));
    irReceiveParser = std::make_shared<IRReceiveParser>(serial, orNothing(callbacks.irReceived));
    irSendParser = std::make_shared<IRSendParser>(
        serial, [this](const std::string& s, unsigned char status) { onSendComplete(s, status); });
    irModulationParser =
        std::make_shared<IRModulationParser>(serial, orNothing(callbacks.modulation));
    unknownParser = std::make_shared<UnknownParser>(serial, orNothing(callbacks.status));
    irRawLearnParser = std::make_shared<IRRawLearnParser>(serial, orNothing(callbacks.rawLearn));
    wakeupParser = std::make_shared<WakeupParser>(serial, orNothing(callbacks.wakeup));
    buttonPressParser = std::make_shared<ButtonPressParser>(serial, orNothing(callbacks.button));
}

KOB::~KOB() {
    if (callbacks.status) callbacks.status(device->getSerial(), 1, "KOB removed");
}

bool KOB::serviceRead() {
    if (readPending) {
        const int n = device->finishRead();
        if (n == 0) return true;
        if (n < 0) return false;
        if (static_cast<std::uint32_t>(n) == device->inputReportLength()) routeReport();
        readPending = false;
    }
    if (!device->startRead()) return false;
    readPending = true;
    return true;
}

void KOB::routeReport() {
    const unsigned char* bytes = device->inputBuffer();
    if (!currentParser) {
        switch (bytes[1]) {
            case report::kIRReceived:
                currentParser = irReceiveParser;
                break;
            case report::kModulation:
                currentParser = irModulationParser;
                break;
            case report::kRawLearn:
                currentParser = irRawLearnParser;
                break;
            case report::kIRSent:
                currentParser = irSendParser;
                break;
            case report::kButtons:
                currentParser = buttonPressParser;
                break;
            case report::kDigitalIO:
                currentParser = digitalIOParser;
                break;
            case report::kWakeupInfo:
                currentParser = wakeupParser;
                break;
            default:
                currentParser = unknownParser;
                break;
        }
    }
    // The parser may call back into this object (a finished transmission
    // starts the next one); keep it alive through the call.
    const std::shared_ptr<Parser> parser = currentParser;
    if (parser->parse(bytes + 1, device->inputReportLength() - 1)) currentParser.reset();
}

void KOB::writeReport(const unsigned char* payload, std::uint32_t length, unsigned char command) {
    try {
        device->writeReport(payload, length, command);
    } catch (const std::length_error& error) {
        debugOutput(error.what());
    }
}

void KOB::sendIR(const unsigned int* words, std::size_t count, unsigned char bitmask,
                 unsigned char repeat) {
    if (count == 0) return;
    if (!sending) {
        transmitIR(bitmask, repeat, words, count);
        return;
    }
    auto queued = std::make_shared<IRSend>();
    queued->words.assign(words, words + count);
    queued->bitmask = bitmask;
    queued->repeat = repeat;
    sendQueue.push_back(std::move(queued));
}

void KOB::transmitIR(unsigned char bitmask, unsigned char repeat, const unsigned int* words,
                     std::size_t count) {
    sending = forEachIRSendReport(
        words, count, bitmask, repeat, device->outputBuffer(), device->outputReportLength(),
        [this](const unsigned char*, std::size_t) { device->writeOutputBuffer(); });
    // A device whose reports are too short for a word refuses the code and
    // is not marked sending, so that later codes are not blocked.
    if (!sending)
        debugOutput("IR code not sent: output report of " +
                    std::to_string(device->outputReportLength()) + " bytes is too short\n");
}

void KOB::onSendComplete(const std::string& serial, unsigned char status) {
    if (callbacks.irSent) callbacks.irSent(serial, status);
    if (sendQueue.empty()) {
        sending = false;
        return;
    }
    const std::shared_ptr<IRSend> next = sendQueue.front();
    sendQueue.pop_front();
    transmitIR(next->bitmask, next->repeat, next->words.data(), next->words.size());
}

void KOB::sendWakeCode(int flag, const std::string& block) {
    forEachWakeChunk(
        block, flag, device->outputReportLength(),
        [this](unsigned char command, const unsigned char* payload, std::size_t length) {
            writeReport(payload, static_cast<std::uint32_t>(length), command);
        });
}

}  // namespace koblib
