// The work of the device commands: each runs on the worker thread, picks
// the devices its serial addresses in key order and writes its command.
#include "device/command_reports.h"
#include "ir/hex_words.h"
#include "manager/kob_manager.h"

namespace koblib {

namespace {
constexpr bool kSerialOrAll = false;
constexpr bool kExactSerial = true;
}  // namespace

std::vector<std::shared_ptr<KOB>> KOBManager::addressed(const std::string& serial, bool exact) {
    std::vector<std::shared_ptr<KOB>> picked;
    MutexLock guard(lock);
    for (const auto& entry : devices)
        if (entry.first == serial || (!exact && serial.empty())) picked.push_back(entry.second);
    return picked;
}

void KOBManager::writeCommand(const std::string& serial, bool exact, unsigned char command,
                              const unsigned char* payload, std::uint32_t length) {
    for (const auto& device : addressed(serial, exact))
        device->writeReport(payload, length, command);
}

void KOBManager::sendCCF(const std::string& serial, const std::string& code, unsigned char bitmask,
                         unsigned char repeat) {
    std::uint32_t words[kCodeWords];
    const std::size_t count = readHexWords(words, kCodeWords, code.c_str());
    for (const auto& device : addressed(serial, kSerialOrAll))
        device->sendIR(words, count, bitmask, repeat);
}

void KOBManager::stopCCF(const std::string& serial) {
    writeCommand(serial, kSerialOrAll, command::kStop, nullptr, 0);
}

void KOBManager::modulationOn(const std::string& serial) {
    writeCommand(serial, kSerialOrAll, command::kModulationOn, nullptr, 0);
}

void KOBManager::modulationOff(const std::string& serial) {
    writeCommand(serial, kSerialOrAll, command::kModulationOff, nullptr, 0);
}

void KOBManager::digitalIO(const std::string& serial, unsigned char cmd, unsigned char value) {
    const unsigned char payload[2] = {cmd, value};
    writeCommand(serial, kSerialOrAll, command::kDigitalIO, payload, 2);
}

void KOBManager::rawLearnStart(const std::string& serial) {
    writeCommand(serial, kSerialOrAll, command::kRawLearnStart, nullptr, 0);
}

void KOBManager::rawLearnStop(const std::string& serial) {
    writeCommand(serial, kSerialOrAll, command::kRawLearnStop, nullptr, 0);
}

void KOBManager::enableWakeFromSuspend(const std::string& serial) {
    const unsigned char on = 0x01;
    writeCommand(serial, kExactSerial, command::kWakeEnable, &on, 1);
}

void KOBManager::disableWakeFromSuspend(const std::string& serial) {
    const unsigned char off = 0x00;
    writeCommand(serial, kExactSerial, command::kWakeEnable, &off, 1);
}

void KOBManager::programWakeFromSuspend(const std::string& serial, int flag,
                                        const std::string& block) {
    for (const auto& device : addressed(serial, kExactSerial))
        device->sendWakeCode(flag, block);
}

void KOBManager::requestWakeupInfo(const std::string& serial, unsigned int value) {
    const unsigned char byte = static_cast<unsigned char>(value);
    writeCommand(serial, kExactSerial, command::kWakeupInfo, &byte, 1);
}

void KOBManager::blink(const std::string& serial, int value) {
    const unsigned char byte = static_cast<unsigned char>(value);
    writeCommand(serial, kSerialOrAll, command::kBlink, &byte, 1);
}

void KOBManager::bootloader(const std::string& serial) {
    writeCommand(serial, kExactSerial, command::kBootloader, nullptr, 0);
}

}  // namespace koblib
