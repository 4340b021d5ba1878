#include "device/command_reports.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "os/debug_output.h"

namespace koblib {

namespace {
// Byte 3 of an IR-send report counts the bytes after it in one byte, so a
// report never carries more than 255 of them, however long the report is.
constexpr std::size_t kMaxIRSendBytes = 255;
}  // namespace

void fillReport(unsigned char* buffer, std::size_t L, unsigned char command,
                const unsigned char* payload, std::size_t length) {
    if (L > 0) buffer[0] = 0;
    if (L > 1) buffer[1] = command;
    if (L < 2 || length > L - 2) throw std::length_error("Too much data for buffer");
    if (payload != nullptr && length > 0) std::memcpy(buffer + 2, payload, length);
}

bool forEachIRSendReport(
    const unsigned int* words, std::size_t count, unsigned char bitmask, unsigned char repeat,
    unsigned char* buffer, std::size_t L,
    const std::function<void(const unsigned char* report, std::size_t L)>& write) {
    if (words == nullptr || count == 0 || buffer == nullptr || L < 6) return false;

    // A word fits while it ends inside the report and byte 3 can still count it.
    const std::size_t end = std::min(L, 4 + kMaxIRSendBytes);
    // The first report is told apart by a flag, not by the word index: a
    // report of 6 or 7 bytes holds the repeat count and the bitmask but no
    // word, and the words then follow in the later reports.
    std::size_t index = 0;
    bool first = true;
    while (index < count) {
        buffer[0] = 0;
        buffer[1] = command::kIRSend;
        buffer[2] = first ? 0x01 : 0x00;
        std::size_t position = 4;
        if (first) {
            buffer[4] = repeat;
            buffer[5] = bitmask;
            position = 6;
            first = false;
        }
        while (position + 2 <= end && index < count) {
            unsigned int word = words[index++];
            buffer[position] = static_cast<unsigned char>((word >> 8) & 0xFF);
            buffer[position + 1] = static_cast<unsigned char>(word & 0xFF);
            position += 2;
        }
        buffer[3] = static_cast<unsigned char>(position - 4);
        if (index == count) buffer[2] |= 0x02;
        if (write) write(buffer, L);
    }
    return true;
}

bool forEachWakeChunk(const std::string& block, int flag, std::size_t L,
                      const std::function<void(unsigned char command, const unsigned char* payload,
                                               std::size_t length)>& write) {
    if (block.size() > kMaxWakeCodeLength) {
        debugOutput("TOO LONG");
        return false;
    }
    if (L < 5) {
        debugOutput("Wake code not sent: output report of " + std::to_string(L) +
                    " bytes holds no data");
        return false;
    }

    const unsigned char code = flag != 0 ? command::kWakeChunkFlagged : command::kWakeChunk;
    const std::size_t chunkLimit = std::min(L - 4, kMaxWakeChunkLength);
    unsigned char payload[2 + kMaxWakeChunkLength];
    std::size_t offset = 0;
    // An empty block still sends one chunk with offset 0 and length 0.
    do {
        std::size_t chunk = std::min(block.size() - offset, chunkLimit);
        payload[0] = static_cast<unsigned char>(offset);
        payload[1] = static_cast<unsigned char>(chunk);
        std::memcpy(payload + 2, block.data() + offset, chunk);
        if (write) write(code, payload, 2 + chunk);
        offset += chunk;
    } while (offset < block.size());
    return true;
}

}  // namespace koblib
