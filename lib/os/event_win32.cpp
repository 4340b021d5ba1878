#include "os/event.h"

#include <windows.h>

#include <stdexcept>

namespace koblib {

namespace {
HANDLE h(Waitable w) {
    return reinterpret_cast<HANDLE>(w);
}
}  // namespace

Event::Event() : handle_(reinterpret_cast<Waitable>(CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
    if (!handle_) throw std::runtime_error("CreateEvent failed");
}

Event::~Event() {
    CloseHandle(h(handle_));
}

void Event::set() {
    SetEvent(h(handle_));
    signalled_.store(true);
}

void Event::reset() {
    if (signalled_.exchange(false)) ResetEvent(h(handle_));
}

int waitAny(const Waitable* waitables, int count, int timeoutMs) {
    if (count < 1 || count > kMaxWaitables) return kWaitFailed;
    HANDLE handles[kMaxWaitables];
    for (int i = 0; i < count; ++i)
        handles[i] = h(waitables[i]);
    const DWORD r =
        WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE,
                               timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (r == WAIT_TIMEOUT) return kWaitTimedOut;
    if (r < WAIT_OBJECT_0 + static_cast<DWORD>(count)) return static_cast<int>(r - WAIT_OBJECT_0);
    return kWaitFailed;
}

}  // namespace koblib
