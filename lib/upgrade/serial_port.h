// The serial port that the bootloader answers on: opened by name for
// exclusive, synchronous reading and writing, with fixed time-outs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace koblib {

// Time-outs applied after every open. A read ends when all bytes are in,
// when ReadInterval passes between two bytes after the first one, or when
// the total (ReadMultiplier per byte asked plus ReadConstant) has passed;
// a write ends when all bytes are out or its total has passed.
constexpr std::uint32_t kSerialReadIntervalMs = 500;
constexpr std::uint32_t kSerialReadMultiplierMs = 1;
constexpr std::uint32_t kSerialReadConstantMs = 1000;
constexpr std::uint32_t kSerialWriteMultiplierMs = 100;
constexpr std::uint32_t kSerialWriteConstantMs = 250;

// The file name that opens port on Windows: a bare COM name ("COM10", any
// case) becomes the device path "\\.\COM10", since names above COM9 open
// only that way; every other name, one with that prefix included, stays.
std::string windowsPortPath(const std::string& port);

class SerialPort {
  public:
    SerialPort();
    // Closes the port if it is open.
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port name (a COM name on Windows, through windowsPortPath;
    // a device path elsewhere, as given) with no sharing, and applies the
    // time-outs.
    // False when it cannot be opened, also when another holds it open.
    bool open(const char* name);
    void close();
    bool isOpen() const;

    // One write of count bytes. moved receives the bytes that went out
    // before the time-out. False when the call itself failed.
    bool write(const void* bytes, std::size_t count, std::size_t* moved);

    // One read of up to count bytes. moved receives the bytes that
    // arrived; a time-out is not a failure, it just moves fewer bytes.
    // False when the call itself failed (for example the device is gone).
    bool read(void* buffer, std::size_t count, std::size_t* moved);

  private:
    // A HANDLE on Windows, a file descriptor elsewhere; kClosed (-1, also
    // INVALID_HANDLE_VALUE) when closed.
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_;
};

}  // namespace koblib
