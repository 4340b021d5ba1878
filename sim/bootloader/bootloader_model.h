// The device's serial bootloader as the upgrade sees it: the command
// letters it answers, the flash they write and read, and faults it can
// be told to make. Bytes in, answers out; no I/O of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace koblib_sim {

// 32 KiB of flash; the bootloader itself from 0x7000 on.
constexpr std::uint32_t kFlashSize = 0x8000;
constexpr std::uint32_t kBootloaderRegion = 0x7000;

// What goes wrong with one answer.
enum class FaultKind {
    kWrongFirstByte,  // the first byte of the answer altered ("y" for "Y")
    kWrongLastByte,   // the last byte altered ("-" for CR, a corrupted data byte)
    kNoAnswer,        // nothing is answered: the host waits in vain
    kShortAnswer,     // the last byte is left out
    kHangUp,          // nothing is answered and the line is hung up
};

// A fault on the occurrence-th time (from 1) that command arrives.
struct Fault {
    FaultKind kind;
    char command;
    int occurrence;
};

struct BootloaderConfig {
    std::uint16_t blockSize = 128;  // announced in the answer to "b"
    std::string identity = "LUFACDC";
    std::vector<Fault> faults;
};

// A value that stands in the bootloader region of a fresh flash.
std::uint8_t bootloaderPattern(std::uint32_t address);

class BootloaderModel {
  public:
    explicit BootloaderModel(BootloaderConfig config = {});
    virtual ~BootloaderModel() = default;

    // Takes one byte from the host. Appends what the bootloader answers to
    // answer; returns false when the line is to be hung up.
    bool receive(std::uint8_t byte, std::string& answer);

    // Erased (0xFF) below the bootloader region, the pattern from there on.
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    // Every byte received, in order.
    const std::string& received() const { return received_; }
    // The letter of every complete command, in order.
    const std::string& commands() const { return commands_; }
    // Byte addresses at which "B" wrote.
    const std::vector<std::uint32_t>& writeAddresses() const { return writeAddresses_; }
    // Bytes that "B" tried to write into the bootloader region.
    std::size_t bootloaderWrites() const { return bootloaderWrites_; }
    bool left() const { return commands_.find('E') != std::string::npos; }

  private:
    // Carries out a complete command with arguments_ and gives its answer.
    std::string execute(char command);
    void applyFault(FaultKind kind, std::string& answer, bool& hangUp) const;

    BootloaderConfig config_;
    std::vector<std::uint8_t> flash_;
    std::string received_;
    std::string commands_;
    std::vector<std::uint32_t> writeAddresses_;
    std::size_t bootloaderWrites_ = 0;
    std::map<char, int> occurrences_;

    // The command being collected: its letter and the bytes after it.
    char command_ = 0;
    std::vector<std::uint8_t> arguments_;
    std::uint32_t wordAddress_ = 0;
};

}  // namespace koblib_sim
