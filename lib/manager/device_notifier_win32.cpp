// Device-change notices on Windows: a thread with a hidden top-level window
// "KOB-1" of class "KOB-1_WND_CLASS" and a message loop. Windows broadcasts
// WM_DEVICECHANGE to every top-level window; DBT_DEVNODES_CHANGED (7) means
// that devices may have come or gone, and each one becomes one onChange
// call. A WM_COMMAND or WM_CLOSE destroys the window and ends the thread.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "manager/device_notifier.h"
#include "os/module_instance.h"

namespace koblib {

namespace {

constexpr const char* kClassName = "KOB-1_WND_CLASS";
constexpr const char* kWindowName = "KOB-1";
constexpr WPARAM kDevNodesChanged = 7;  // DBT_DEVNODES_CHANGED
constexpr DWORD kNoWindowExitCode = 0xFFFF;

// Process-wide: the instance the class is registered under, the window of
// the running notification thread (written by that thread), and the
// function each notice calls.
std::atomic<void*> instanceHandle{nullptr};
std::atomic<HWND> notificationWindow{nullptr};
std::mutex onChangeLock;
std::function<void()> onChangeFunction;

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
        case WM_COMMAND:
            DestroyWindow(window);
            return 0;
        case WM_DEVICECHANGE:
            if (wParam == kDevNodesChanged) {
                std::function<void()> onChange;
                {
                    std::lock_guard<std::mutex> guard(onChangeLock);
                    onChange = onChangeFunction;
                }
                if (onChange) onChange();
            }
            // Other device events are not handed to the default procedure.
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The notification thread. `ready` is set once the window exists or could
// not be made, so that start() returns with the window handle in place.
DWORD WINAPI notificationThread(LPVOID ready) {
    const HINSTANCE instance = static_cast<HINSTANCE>(moduleInstance());
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;  // 3
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = nullptr;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kClassName;
    // A later start in the same process finds the class still registered
    // by the first one and uses it.
    const bool registered =
        RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;

    HWND window = nullptr;
    if (registered) {
        window = CreateWindowExA(0, kClassName, kWindowName, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    }
    notificationWindow.store(window);
    SetEvent(static_cast<HANDLE>(ready));
    if (!window) return kNoWindowExitCode;

    MSG message;
    // GetMessageA returns -1 on an error, which would never end the loop.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // Forget the window unless a newer thread has stored its own already.
    HWND expected = window;
    notificationWindow.compare_exchange_strong(expected, nullptr);
    return 0;
}

class WindowDeviceNotifier : public DeviceNotifier {
  public:
    ~WindowDeviceNotifier() override {
        // Without waiting: a destructor may run while the DLL is being
        // unloaded, when the thread cannot end until the loader is done.
        if (!thread_) return;
        if (HWND window = notificationWindow.load()) PostMessageA(window, WM_COMMAND, 0, 0);
        CloseHandle(thread_);
    }

    std::uintptr_t start(std::function<void()> onChange) override {
        if (thread_) return reinterpret_cast<std::uintptr_t>(thread_);
        {
            std::lock_guard<std::mutex> guard(onChangeLock);
            onChangeFunction = std::move(onChange);
        }
        const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ready) return 0;
        thread_ = CreateThread(nullptr, 0, notificationThread, ready, 0, nullptr);
        if (thread_) {
            // Until the window exists (or the thread gave up and ended).
            const HANDLE waitFor[2] = {ready, thread_};
            WaitForMultipleObjects(2, waitFor, FALSE, INFINITE);
        }
        CloseHandle(ready);
        return reinterpret_cast<std::uintptr_t>(thread_);
    }

    void stop(int timeoutMs) override {
        if (!thread_) return;
        if (HWND window = notificationWindow.load()) PostMessageA(window, WM_COMMAND, 0, 0);
        WaitForSingleObject(thread_, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        CloseHandle(thread_);
        thread_ = nullptr;
    }

  private:
    HANDLE thread_ = nullptr;
};

}  // namespace

void setModuleInstance(void* instance) {
    instanceHandle.store(instance);
}

void* moduleInstance() {
    void* instance = instanceHandle.load();
    return instance ? instance : static_cast<void*>(GetModuleHandleA(nullptr));
}

std::unique_ptr<DeviceNotifier> makeSystemDeviceNotifier() {
    return std::unique_ptr<DeviceNotifier>(new WindowDeviceNotifier);
}

}  // namespace koblib
