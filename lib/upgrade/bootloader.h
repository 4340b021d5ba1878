// The messages of the device's serial bootloader, one exchange each.
#pragma once

#include <cstdint>

#include "upgrade/serial_port.h"

namespace koblib {

// Byte addresses from here on hold the bootloader itself: never written.
constexpr std::uint32_t kBootloaderStart = 0x7000;
// What the bootloader answers to "S".
constexpr char kBootloaderIdentity[] = "LUFACDC";

// How the block-size query went.
enum class BlockSizeAnswer {
    kOk,           // "Y" and a usable size
    kWriteFailed,  // "b" did not go out
    kReadFailed,   // the read call failed
    kRefused,      // no "Y", fewer than 3 bytes, or a size of 0 or an odd one
};

class Bootloader {
  public:
    // Talks through port, which must be open and outlive this object.
    explicit Bootloader(SerialPort& port) : port_(port) {}
    virtual ~Bootloader() = default;

    // "S": true when the answer is exactly the 7 bytes "LUFACDC".
    bool identify();

    // "b": the block size the bootloader writes and reads in one go.
    BlockSizeAnswer queryBlockSize(std::uint32_t* blockSize);

    // Writes count bytes at a byte address: "A" with the word address,
    // then "B" count "F" and the bytes; each answered by CR. A block in the
    // bootloader region is not sent: "Not writing bootloader!\n" is printed
    // and the block counts as written. A block that begins below the region
    // and reaches into it is sent only up to the region's start.
    bool writeBlock(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count);

    // Reads count bytes from a byte address: "A" as above, then "g" count
    // "F". True only when all count bytes arrived.
    bool readBlock(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer);

    // "E": leave the bootloader and start the firmware; nothing is read.
    bool leave();

  private:
    bool send(const std::uint8_t* bytes, std::uint32_t count);
    bool expectCarriageReturn();
    bool setAddress(std::uint32_t address);

    SerialPort& port_;
};

}  // namespace koblib
