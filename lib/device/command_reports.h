// Output reports the host sends to the device: command codes, the framing
// of a single command report, the IR-send sequence and the wake-code
// chunks. Everything builds into caller-owned memory and writes through a
// callback, so the formats are independent of the report I/O.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace koblib {

// Command codes, byte 1 of every output report.
namespace command {
constexpr unsigned char kModulationOn = 0x0C;      // carrier measurements on
constexpr unsigned char kModulationOff = 0x0D;     // carrier measurements off
constexpr unsigned char kIRSend = 0x0E;            // one report of an IR-send sequence
constexpr unsigned char kStop = 0x10;              // stop the IR transmission
constexpr unsigned char kDigitalIO = 0x20;         // payload: cmd, value
constexpr unsigned char kRawLearnStart = 0x21;     // start sending raw pulse data
constexpr unsigned char kRawLearnStop = 0x22;      // stop sending raw pulse data
constexpr unsigned char kWakeEnable = 0x23;        // payload: 0x01 enable, 0x00 disable
constexpr unsigned char kWakeChunk = 0x24;         // wake-code chunk, flag 0
constexpr unsigned char kWakeChunkFlagged = 0x25;  // wake-code chunk, flag non-zero
constexpr unsigned char kWakeupInfo = 0x26;        // payload: value cut to 8 bits
constexpr unsigned char kBlink = 0x27;             // payload: value cut to 8 bits
constexpr unsigned char kBootloader = 0xFE;        // start the device's bootloader
}  // namespace command

// Input report types, payload byte 0 of a report that begins a message; a
// type names the parser that decodes it.
namespace report {
constexpr unsigned char kIRReceived = 0x0A;  // received IR signal, may span reports
constexpr unsigned char kModulation = 0x0B;  // measured carrier: cycles, total
constexpr unsigned char kRawLearn = 0x0C;    // raw learned pulses, may span reports
constexpr unsigned char kIRSent = 0x0F;      // IR transmission finished: status
constexpr unsigned char kButtons = 0x10;     // button states: (button, value) pairs
constexpr unsigned char kDigitalIO = 0x20;   // digital I/O state: first, second
constexpr unsigned char kWakeupInfo = 0x26;  // wake-up information, may span reports
}  // namespace report

// Longest wake-code block the device takes; a longer one is refused.
constexpr std::size_t kMaxWakeCodeLength = 255;
// Most block bytes one wake-code chunk carries.
constexpr std::size_t kMaxWakeChunkLength = 128;

// Writes report ID 0 and `command` to bytes 0 and 1 of the L-byte `buffer`
// and copies `length` payload bytes (none when `payload` is null) from byte
// 2 on, leaving later bytes as they were; throws std::length_error("Too much
// data for buffer") when length + 2 > L, after bytes 0 and 1 only.
void fillReport(unsigned char* buffer, std::size_t L, unsigned char command,
                const unsigned char* payload, std::size_t length);

// Builds the IR-send reports of a code of `count` words (low 16 bits sent)
// one after the other in the L-byte `buffer`, calling `write` for each;
// returns false and writes nothing when L < 6 or there are no words.
bool forEachIRSendReport(
    const unsigned int* words, std::size_t count, unsigned char bitmask, unsigned char repeat,
    unsigned char* buffer, std::size_t L,
    const std::function<void(const unsigned char* report, std::size_t L)>& write);

// Cuts `block` into wake-code chunk payloads [offset, length, bytes] for
// reports of L bytes and passes each to `write` with command 0x25 (flag
// non-zero) or 0x24; returns false and writes nothing, with a debug output
// line, for a block of 256 bytes or more ("TOO LONG") or L < 5.
bool forEachWakeChunk(const std::string& block, int flag, std::size_t L,
                      const std::function<void(unsigned char command, const unsigned char* payload,
                                               std::size_t length)>& write);

}  // namespace koblib
