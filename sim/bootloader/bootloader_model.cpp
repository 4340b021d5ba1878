#include "bootloader_model.h"

namespace koblib_sim {
namespace {

constexpr char kCarriageReturn = 0x0D;
constexpr char kUnknown = '?';

// Bytes after the letter before a command is complete ("B" also takes its
// data, counted in its header).
std::size_t headerLength(char command) {
    switch (command) {
        case 'A':
            return 2;
        case 'B':
        case 'g':
            return 3;
        default:
            return 0;
    }
}

}  // namespace

std::uint8_t bootloaderPattern(std::uint32_t address) {
    return static_cast<std::uint8_t>((address * 7 + 0x5A) ^ (address >> 8));
}

BootloaderModel::BootloaderModel(BootloaderConfig config)
    : config_(std::move(config)), flash_(kFlashSize, 0xFF) {
    for (std::uint32_t address = kBootloaderRegion; address < kFlashSize; ++address) {
        flash_[address] = bootloaderPattern(address);
    }
}

bool BootloaderModel::receive(std::uint8_t byte, std::string& answer) {
    received_ += static_cast<char>(byte);
    if (command_ == 0) {
        command_ = static_cast<char>(byte);
        arguments_.clear();
    } else {
        arguments_.push_back(byte);
    }

    std::size_t needed = headerLength(command_);
    if (command_ == 'B' && arguments_.size() >= 2) needed += arguments_[0] * 256u + arguments_[1];
    if (arguments_.size() < needed) return true;

    const char command = command_;
    command_ = 0;
    commands_ += command;
    std::string reply = execute(command);
    bool hangUp = false;
    const int occurrence = ++occurrences_[command];
    for (const Fault& fault : config_.faults) {
        if (fault.command == command && fault.occurrence == occurrence) {
            applyFault(fault.kind, reply, hangUp);
        }
    }
    answer += reply;
    return !hangUp;
}

std::string BootloaderModel::execute(char command) {
    const std::vector<std::uint8_t>& a = arguments_;
    switch (command) {
        case 'S':
            return config_.identity;
        case 'b':
            return std::string{'Y', static_cast<char>(config_.blockSize >> 8),
                               static_cast<char>(config_.blockSize & 0xFF)};
        case 'A':
            wordAddress_ = a[0] * 256u + a[1];
            return std::string(1, kCarriageReturn);
        case 'B': {
            const std::uint32_t count = a[0] * 256u + a[1];
            if (a[2] != 'F') return std::string(1, kUnknown);
            const std::uint32_t address = wordAddress_ * 2;
            writeAddresses_.push_back(address);
            for (std::uint32_t i = 0; i < count; ++i) {
                // The bootloader protects itself; beyond the flash is nothing.
                if (address + i >= kBootloaderRegion) {
                    ++bootloaderWrites_;
                } else {
                    flash_[address + i] = a[3 + i];
                }
            }
            wordAddress_ += count / 2;
            return std::string(1, kCarriageReturn);
        }
        case 'g': {
            const std::uint32_t count = a[0] * 256u + a[1];
            if (a[2] != 'F') return std::string(1, kUnknown);
            const std::uint32_t address = wordAddress_ * 2;
            std::string data;
            for (std::uint32_t i = 0; i < count; ++i) {
                data += static_cast<char>(address + i < kFlashSize ? flash_[address + i] : 0xFF);
            }
            wordAddress_ += count / 2;
            return data;
        }
        case 'E':
            return std::string();
        default:
            return std::string(1, kUnknown);
    }
}

void BootloaderModel::applyFault(FaultKind kind, std::string& answer, bool& hangUp) const {
    switch (kind) {
        case FaultKind::kWrongFirstByte:
            if (!answer.empty()) answer.front() ^= 0x20;
            break;
        case FaultKind::kWrongLastByte:
            if (!answer.empty()) answer.back() ^= 0x20;
            break;
        case FaultKind::kNoAnswer:
            answer.clear();
            break;
        case FaultKind::kShortAnswer:
            if (!answer.empty()) answer.pop_back();
            break;
        case FaultKind::kHangUp:
            answer.clear();
            hangUp = true;
            break;
    }
}

}  // namespace koblib_sim
