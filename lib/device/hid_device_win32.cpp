// Windows HID report I/O: one overlapped read at a time on the read handle,
// completed into the read event, and synchronous writes on the write
// handle. A Windows read returns the report with its report-ID byte, so
// the input buffer holds the whole report as delivered.
#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

#include "device/hid_device.h"

namespace koblib {

struct HIDDevice::ReadState {
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;
    // A read was issued and its result not yet collected: the system may
    // still write into the record and the input buffer.
    bool outstanding = false;
};

namespace {

HANDLE toHandle(Waitable w) {
    return reinterpret_cast<HANDLE>(w);
}

bool isOpen(Waitable w) {
    return w != 0 && toHandle(w) != INVALID_HANDLE_VALUE;
}

}  // namespace

HIDDevice::HIDDevice(Waitable readHandle, Waitable writeHandle, const HIDIdentity& identity)
    : readHandle_(readHandle),
      writeHandle_(writeHandle),
      identity_(identity),
      serialRead_(identity.serialKnown),
      readState_(new ReadState) {
    readState_->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!identity_.valid) return;
    inputBuffer_.assign(identity_.inputReportLength, 0);
    outputBuffer_.assign(identity_.outputReportLength, 0);
}

HIDDevice::~HIDDevice() {
    ReadState& state = *readState_;
    if (state.outstanding && isOpen(readHandle_)) {
        // The record and the input buffer are freed with this object, so an
        // outstanding read is cancelled and then waited for: the system must
        // be done with both before they go. CancelIoEx reaches a read
        // started on any thread, unlike CancelIo.
        DWORD transferred = 0;
        CancelIoEx(toHandle(readHandle_), &state.overlapped);
        GetOverlappedResult(toHandle(readHandle_), &state.overlapped, &transferred, TRUE);
    }
    if (state.event) CloseHandle(state.event);
    if (isOpen(readHandle_)) CloseHandle(toHandle(readHandle_));
    if (isOpen(writeHandle_) && writeHandle_ != readHandle_) CloseHandle(toHandle(writeHandle_));
}

Waitable HIDDevice::readEvent() const {
    return reinterpret_cast<Waitable>(readState_->event);
}

bool HIDDevice::querySerial(std::string& serial) {
    // 126 bytes: 63 UTF-16 units, terminator included.
    wchar_t text[63] = {};
    if (!HidD_GetSerialNumberString(toHandle(readHandle_), text, sizeof text)) return false;
    text[62] = L'\0';
    serial.clear();
    if (text[0] == L'\0') return true;
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return false;
    std::string converted(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, &converted[0], size, nullptr, nullptr) <= 0)
        return false;
    converted.resize(static_cast<std::size_t>(size) - 1);  // without the terminator
    serial = converted;
    return true;
}

bool HIDDevice::startRead() {
    ReadState& state = *readState_;
    state.overlapped = OVERLAPPED{};
    state.overlapped.hEvent = state.event;
    state.overlapped.Offset = 0;
    state.overlapped.OffsetHigh = 0;
    if (ReadFile(toHandle(readHandle_), inputBuffer_.data(),
                 static_cast<DWORD>(inputBuffer_.size()), nullptr, &state.overlapped)) {
        // Completed at once: the event is signalled all the same and
        // finishRead collects the bytes.
        state.outstanding = true;
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        state.outstanding = true;
        return true;
    }
    reportError("startRead", static_cast<int>(error));
    return false;
}

int HIDDevice::finishRead() {
    ReadState& state = *readState_;
    DWORD transferred = 0;
    if (GetOverlappedResult(toHandle(readHandle_), &state.overlapped, &transferred, FALSE)) {
        state.outstanding = false;
        return static_cast<int>(transferred);
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return 0;
    state.outstanding = false;
    reportError("finishRead", static_cast<int>(error));
    return -1;
}

bool HIDDevice::writeOnce(const unsigned char* data, std::uint32_t length) {
    DWORD written = 0;
    return WriteFile(toHandle(writeHandle_), data, length, &written, nullptr) && written == length;
}

}  // namespace koblib
