#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "control_input.h"

namespace kob {

// A pipe is looked into until bytes wait in it, so that end() only has to
// set the stop event. Any other input (a console, a file) is read in
// ReadFile, and end() cancels that read through the reader's thread, again
// until the reader is out of it (a cancel that comes just before ReadFile
// starts is lost).
struct ControlInput::State {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::mutex lock;
    std::condition_variable changed;
    HANDLE reader = nullptr;  // the thread inside ReadFile, else null
};

namespace {
// How often a pipe is looked into.
constexpr DWORD kPipeLookMs = 10;
// How long end() keeps cancelling a read before it gives the reader up
// (Wine cannot cancel one).
constexpr std::chrono::seconds kEndWait(1);

// Waits in a pipe until bytes wait in it: true with the bytes read (0 once
// the writer has gone or on stop), false when the pipe cannot be looked
// into (Wine's pipes from the host: ReadFile it is).
bool readPipe(HANDLE input, HANDLE stop, char* buffer, DWORD size, std::size_t& read) {
    read = 0;
    for (;;) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE;
        if (waiting > 0) {
            DWORD n = 0;
            if (ReadFile(input, buffer, waiting < size ? waiting : size, &n, nullptr)) read = n;
            return true;
        }
        if (WaitForSingleObject(stop, kPipeLookMs) != WAIT_TIMEOUT) return true;
    }
}
}  // namespace

ControlInput::ControlInput() : state_(std::make_unique<State>()) {}

ControlInput::~ControlInput() {
    if (state_->stop) CloseHandle(state_->stop);
}

bool ControlInput::usable() const {
    return state_->stop != nullptr;
}

std::size_t ControlInput::read(char* buffer, std::size_t size) {
    const DWORD wanted = size > 0xFFFF ? 0xFFFF : static_cast<DWORD>(size);
    if (WaitForSingleObject(state_->stop, 0) != WAIT_TIMEOUT) return 0;
    std::size_t read = 0;
    if (GetFileType(state_->input) == FILE_TYPE_PIPE &&
        readPipe(state_->input, state_->stop, buffer, wanted, read))
        return read;
    HANDLE thread = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
        return 0;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        if (WaitForSingleObject(state_->stop, 0) != WAIT_TIMEOUT) {
            CloseHandle(thread);
            return 0;
        }
        state_->reader = thread;
    }
    DWORD n = 0;
    const bool ok = ReadFile(state_->input, buffer, wanted, &n, nullptr);
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->reader = nullptr;
        if (WaitForSingleObject(state_->stop, 0) != WAIT_TIMEOUT) n = 0;
    }
    state_->changed.notify_all();
    CloseHandle(thread);
    return ok ? n : 0;
}

bool ControlInput::end() {
    std::unique_lock<std::mutex> guard(state_->lock);
    SetEvent(state_->stop);
    const auto giveUp = std::chrono::steady_clock::now() + kEndWait;
    while (state_->reader) {
        CancelSynchronousIo(state_->reader);
        if (state_->changed.wait_for(guard, std::chrono::milliseconds(20)) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= giveUp)
            return !state_->reader;
    }
    return true;
}

}  // namespace kob
