// The virtual device's channel on Windows: two message-mode named pipes,
// one per direction, so that every report is one message, as a HID device
// delivers one report per read and takes one per write.
//
//   input reports:  device = server end (writes)  ->  host = client end
//                   (overlapped, read-only, message read mode)
//   output reports: host = client end (synchronous writes)  ->  device =
//                   server end (reads)
//
// A Windows HID read returns the report with its report-ID byte, so each
// input message starts with the report ID 0. The device end does its own
// I/O overlapped and waits on a shutdown event beside it, so shutdown()
// unblocks a thread inside receiveOutput. Unplugging
// disconnects both pipes: the host's pending and later reads fail with
// ERROR_PIPE_NOT_CONNECTED (or ERROR_BROKEN_PIPE once the server ends are
// closed) and its writes fail instead of blocking.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "virtual_port.h"

namespace koblib {

namespace {

// Room for many reports in either direction, so that neither side blocks
// on a peer that is slow to read.
constexpr DWORD kPipeBufferSize = 64 * 1024;

std::atomic<unsigned> portCounter{0};

std::string uniquePipeName(const char* direction) {
    char name[128];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\koblib-sim-%lu-%u-%s",
                  static_cast<unsigned long>(GetCurrentProcessId()), portCounter.fetch_add(1),
                  direction);
    return name;
}

void closeIfOpen(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

}  // namespace

struct VirtualPort::Impl {
    std::uint32_t inputLength = 0;
    std::uint32_t outputLength = 0;
    HANDLE inputServer = INVALID_HANDLE_VALUE;   // device writes input reports
    HANDLE inputClient = INVALID_HANDLE_VALUE;   // host reads them
    HANDLE outputServer = INVALID_HANDLE_VALUE;  // device reads output reports
    HANDLE outputClient = INVALID_HANDLE_VALUE;  // host writes them
    HANDLE shutdownEvent = nullptr;
    HANDLE sendEvent = nullptr;     // completion of the device's writes
    HANDLE receiveEvent = nullptr;  // completion of the device's reads
    std::atomic<bool> unplugged{false};
    // One send and one receive at a time: each direction has one event and
    // one record. shutdown() takes neither lock.
    std::mutex sendLock;
    std::mutex receiveLock;
    std::vector<unsigned char> message;  // the input report being sent

    ~Impl() {
        closeIfOpen(inputServer);
        closeIfOpen(inputClient);
        closeIfOpen(outputServer);
        closeIfOpen(outputClient);
        if (shutdownEvent) CloseHandle(shutdownEvent);
        if (sendEvent) CloseHandle(sendEvent);
        if (receiveEvent) CloseHandle(receiveEvent);
    }

    // Runs one overlapped operation of the device end to its end. Returns
    // true with the byte count, or false with the error; a shutdown while it
    // waits cancels it and fails with ERROR_OPERATION_ABORTED.
    bool complete(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD& bytes, DWORD& error) {
        error = ERROR_SUCCESS;
        if (!started) {
            error = GetLastError();
            if (error != ERROR_IO_PENDING) return false;
            const HANDLE waitFor[2] = {overlapped.hEvent, shutdownEvent};
            if (WaitForMultipleObjects(2, waitFor, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIoEx(pipe, &overlapped);
                GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
                error = ERROR_OPERATION_ABORTED;
                return false;
            }
        }
        if (GetOverlappedResult(pipe, &overlapped, &bytes, TRUE)) return true;
        error = GetLastError();
        return false;
    }
};

namespace {

HANDLE createServer(const std::string& name, DWORD direction) {
    return CreateNamedPipeA(
        name.c_str(), direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBufferSize, kPipeBufferSize, 0, nullptr);
}

// Completes the server's side of a connection whose client is already open.
bool acceptClient(HANDLE server) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) return false;
    bool connected = ConnectNamedPipe(server, &overlapped) != FALSE;
    if (!connected) {
        const DWORD error = GetLastError();
        DWORD unused = 0;
        connected =
            error == ERROR_PIPE_CONNECTED ||
            (error == ERROR_IO_PENDING && GetOverlappedResult(server, &overlapped, &unused, TRUE));
    }
    CloseHandle(overlapped.hEvent);
    return connected;
}

}  // namespace

VirtualPort::VirtualPort(std::uint32_t inputLength, std::uint32_t outputLength) : impl_(new Impl) {
    Impl& p = *impl_;
    p.inputLength = inputLength;
    p.outputLength = outputLength;
    p.shutdownEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p.sendEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p.receiveEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!p.shutdownEvent || !p.sendEvent || !p.receiveEvent)
        throw std::runtime_error("VirtualPort: CreateEvent failed");

    const std::string inputName = uniquePipeName("in");
    p.inputServer = createServer(inputName, PIPE_ACCESS_OUTBOUND);
    if (p.inputServer == INVALID_HANDLE_VALUE)
        throw std::runtime_error("VirtualPort: CreateNamedPipe failed");
    // FILE_WRITE_ATTRIBUTES lets the host switch its end to message reads.
    p.inputClient = CreateFileA(inputName.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    DWORD readMode = PIPE_READMODE_MESSAGE;
    if (p.inputClient == INVALID_HANDLE_VALUE ||
        !SetNamedPipeHandleState(p.inputClient, &readMode, nullptr, nullptr) ||
        !acceptClient(p.inputServer))
        throw std::runtime_error("VirtualPort: cannot connect the input pipe");

    const std::string outputName = uniquePipeName("out");
    p.outputServer = createServer(outputName, PIPE_ACCESS_INBOUND);
    if (p.outputServer == INVALID_HANDLE_VALUE)
        throw std::runtime_error("VirtualPort: CreateNamedPipe failed");
    p.outputClient =
        CreateFileA(outputName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (p.outputClient == INVALID_HANDLE_VALUE || !acceptClient(p.outputServer))
        throw std::runtime_error("VirtualPort: cannot connect the output pipe");
}

VirtualPort::~VirtualPort() {
    shutdown();
}

Waitable VirtualPort::takeHostReadHandle() {
    const HANDLE h = impl_->inputClient;
    impl_->inputClient = INVALID_HANDLE_VALUE;
    return reinterpret_cast<Waitable>(h);
}

Waitable VirtualPort::takeHostWriteHandle() {
    const HANDLE h = impl_->outputClient;
    impl_->outputClient = INVALID_HANDLE_VALUE;
    return reinterpret_cast<Waitable>(h);
}

VirtualPort::Delivery VirtualPort::sendInput(const unsigned char* payload, std::size_t length) {
    Impl& p = *impl_;
    if (p.unplugged || p.inputLength == 0) return Delivery::kGone;
    std::lock_guard<std::mutex> guard(p.sendLock);
    // [report ID 0, payload...], cut to the input report length as a HID
    // device never delivers more.
    const std::size_t size = std::min<std::size_t>(length + 1, p.inputLength);
    p.message.assign(size, 0);
    if (payload && size > 1) std::copy(payload, payload + (size - 1), p.message.begin() + 1);
    OVERLAPPED overlapped{};
    overlapped.hEvent = p.sendEvent;
    const BOOL started =
        WriteFile(p.inputServer, p.message.data(), static_cast<DWORD>(size), nullptr, &overlapped);
    DWORD bytes = 0;
    if (!started) {
        if (GetLastError() != ERROR_IO_PENDING) return Delivery::kGone;
        // Never waits: a pipe the host does not empty drops the report, as
        // the system's HID driver drops the reports a reader does not take.
        if (WaitForSingleObject(overlapped.hEvent, 0) != WAIT_OBJECT_0) {
            CancelIoEx(p.inputServer, &overlapped);
            const BOOL done = GetOverlappedResult(p.inputServer, &overlapped, &bytes, TRUE);
            if (done && bytes == size) return Delivery::kSent;
            return p.unplugged ? Delivery::kGone : Delivery::kDropped;
        }
    }
    if (!GetOverlappedResult(p.inputServer, &overlapped, &bytes, TRUE)) return Delivery::kGone;
    return bytes == size ? Delivery::kSent : Delivery::kGone;
}

int VirtualPort::receiveOutput(unsigned char* report, std::size_t capacity) {
    Impl& p = *impl_;
    if (p.unplugged) return -1;
    std::lock_guard<std::mutex> guard(p.receiveLock);
    OVERLAPPED overlapped{};
    overlapped.hEvent = p.receiveEvent;
    const BOOL started =
        ReadFile(p.outputServer, report, static_cast<DWORD>(capacity), nullptr, &overlapped);
    DWORD bytes = 0, error = 0;
    if (p.complete(p.outputServer, overlapped, started, bytes, error))
        return static_cast<int>(bytes);
    if (error != ERROR_MORE_DATA) return -1;
    // A report longer than the caller's buffer: keep its first capacity
    // bytes and drop the rest of the message.
    unsigned char rest[256];
    for (;;) {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = p.receiveEvent;
        const BOOL more = ReadFile(p.outputServer, rest, sizeof rest, nullptr, &overlapped);
        DWORD ignored = 0;
        if (p.complete(p.outputServer, overlapped, more, ignored, error)) break;
        if (error != ERROR_MORE_DATA) return -1;
    }
    return static_cast<int>(capacity);
}

void VirtualPort::shutdown() {
    Impl& p = *impl_;
    if (p.unplugged.exchange(true)) return;
    SetEvent(p.shutdownEvent);
    // Disconnecting leaves the server handles valid for a device thread that
    // is still inside sendInput or receiveOutput; they are closed with the
    // port.
    DisconnectNamedPipe(p.inputServer);
    DisconnectNamedPipe(p.outputServer);
}

}  // namespace koblib
