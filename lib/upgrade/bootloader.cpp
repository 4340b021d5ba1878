#include "upgrade/bootloader.h"

#include <cstdio>
#include <cstring>

namespace koblib {
namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kFlashMemory = 'F';
// Flash is addressed in 16-bit words from this word on the bootloader's own.
constexpr std::uint32_t kBootloaderWord = kBootloaderStart / 2;

}  // namespace

bool Bootloader::send(const std::uint8_t* bytes, std::uint32_t count) {
    std::size_t moved = 0;
    return port_.write(bytes, count, &moved) && moved == count;
}

bool Bootloader::expectCarriageReturn() {
    std::uint8_t answer = 0;
    std::size_t moved = 0;
    return port_.read(&answer, 1, &moved) && moved == 1 && answer == kCarriageReturn;
}

bool Bootloader::setAddress(std::uint32_t address) {
    // The word address travels as 16 bits; higher bits are lost.
    const std::uint32_t word = address / 2;
    const std::uint8_t command[3] = {'A', static_cast<std::uint8_t>((word >> 8) & 0xFF),
                                     static_cast<std::uint8_t>(word & 0xFF)};
    return send(command, sizeof command) && expectCarriageReturn();
}

bool Bootloader::identify() {
    const std::uint8_t command = 'S';
    if (!send(&command, 1)) return false;
    std::uint8_t answer[7];
    std::size_t moved = 0;
    return port_.read(answer, sizeof answer, &moved) && moved == sizeof answer &&
           std::memcmp(answer, kBootloaderIdentity, sizeof answer) == 0;
}

BlockSizeAnswer Bootloader::queryBlockSize(std::uint32_t* blockSize) {
    *blockSize = 0;
    const std::uint8_t command = 'b';
    std::size_t moved = 0;
    if (!port_.write(&command, 1, &moved) || moved < 1) return BlockSizeAnswer::kWriteFailed;
    std::uint8_t answer[3] = {0, 0, 0};
    if (!port_.read(answer, sizeof answer, &moved)) return BlockSizeAnswer::kReadFailed;
    // A size is taken only from bytes that arrived. A size of 0 would
    // leave nothing to write a byte into, and an odd one puts blocks at odd
    // addresses, which the word address of "A" cannot reach: the block
    // would land one byte early.
    if (moved < sizeof answer || answer[0] != 'Y') return BlockSizeAnswer::kRefused;
    *blockSize = answer[1] * 256u + answer[2];
    const bool usable = *blockSize != 0 && *blockSize % 2 == 0;
    return usable ? BlockSizeAnswer::kOk : BlockSizeAnswer::kRefused;
}

bool Bootloader::writeBlock(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count) {
    if (address / 2 >= kBootloaderWord) {
        std::printf("Not writing bootloader!\n");
        return true;
    }
    // A block that runs into the bootloader is cut where it begins: the
    // bytes below are firmware, the ones from there on must stay as they
    // are whatever the block size.
    if (count > kBootloaderStart - address) count = kBootloaderStart - address;
    if (!setAddress(address)) return false;
    const std::uint8_t command[4] = {'B', static_cast<std::uint8_t>((count >> 8) & 0xFF),
                                     static_cast<std::uint8_t>(count & 0xFF), kFlashMemory};
    return send(command, sizeof command) && send(bytes, count) && expectCarriageReturn();
}

bool Bootloader::readBlock(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer) {
    if (!setAddress(address)) return false;
    const std::uint8_t command[4] = {'g', static_cast<std::uint8_t>((count >> 8) & 0xFF),
                                     static_cast<std::uint8_t>(count & 0xFF), kFlashMemory};
    if (!send(command, sizeof command)) return false;
    // Bytes that did not arrive cannot be compared: a short read fails.
    std::size_t moved = 0;
    return port_.read(buffer, count, &moved) && moved == count;
}

bool Bootloader::leave() {
    const std::uint8_t command = 'E';
    return send(&command, 1);
}

}  // namespace koblib
