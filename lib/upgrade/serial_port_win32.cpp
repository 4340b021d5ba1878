#include <windows.h>

#include <string>

#include "upgrade/serial_port.h"

namespace koblib {
namespace {

HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

bool SerialPort::open(const char* name) {
    close();
    if (name == nullptr) return false;
    // No sharing and no overlapped flag: exclusive and synchronous.
    const std::string path = windowsPortPath(name);
    const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<std::intptr_t>(port);

    // Either call may fail (a device without time-outs); the port is used
    // as it is then.
    COMMTIMEOUTS timeouts;
    if (GetCommTimeouts(port, &timeouts)) {
        timeouts.ReadIntervalTimeout = kSerialReadIntervalMs;
        timeouts.ReadTotalTimeoutMultiplier = kSerialReadMultiplierMs;
        timeouts.ReadTotalTimeoutConstant = kSerialReadConstantMs;
        timeouts.WriteTotalTimeoutMultiplier = kSerialWriteMultiplierMs;
        timeouts.WriteTotalTimeoutConstant = kSerialWriteConstantMs;
        SetCommTimeouts(port, &timeouts);
    }
    return true;
}

void SerialPort::close() {
    if (handle_ == kClosed) return;
    CloseHandle(asHandle(handle_));
    handle_ = kClosed;
}

bool SerialPort::write(const void* bytes, std::size_t count, std::size_t* moved) {
    *moved = 0;
    if (handle_ == kClosed) return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(asHandle(handle_), bytes, static_cast<DWORD>(count), &written, nullptr);
    *moved = written;
    return ok != FALSE;
}

bool SerialPort::read(void* buffer, std::size_t count, std::size_t* moved) {
    *moved = 0;
    if (handle_ == kClosed) return false;
    DWORD got = 0;
    const BOOL ok = ReadFile(asHandle(handle_), buffer, static_cast<DWORD>(count), &got, nullptr);
    *moved = got;
    return ok != FALSE;
}

}  // namespace koblib
