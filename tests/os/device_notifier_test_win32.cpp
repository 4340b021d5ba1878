// The hidden notification window: device-nodes-changed broadcasts become
// onChange calls, other device events do nothing, WM_COMMAND and WM_CLOSE
// end the thread, and a second start in the process makes a window again.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "manager/device_notifier.h"

namespace koblib {
namespace {

constexpr DWORD kGenerousMs = 10000;

HWND findNotificationWindow() {
    return FindWindowA("KOB-1_WND_CLASS", "KOB-1");
}

// A handle of our own to the notification thread, to see it end.
HANDLE duplicateThread(std::uintptr_t thread) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(thread), GetCurrentProcess(),
                    &copy, SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    return copy;
}

DWORD exitCodeOnceEnded(HANDLE thread) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(thread, kGenerousMs) == WAIT_OBJECT_0) GetExitCodeThread(thread, &code);
    return code;
}

TEST(DeviceNotifierWindow, TurnsDevNodesChangedIntoNoticesAndStops) {
    std::atomic<int> notices{0};
    auto notifier = makeSystemDeviceNotifier();
    const std::uintptr_t thread = notifier->start([&] { ++notices; });
    ASSERT_NE(thread, 0u);
    HANDLE watch = duplicateThread(thread);
    ASSERT_NE(watch, nullptr);

    // The window exists when start returns, and is never shown.
    const HWND window = findNotificationWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));

    // SendMessage returns once the window procedure on the notification
    // thread has handled the message.
    EXPECT_EQ(SendMessageA(window, WM_DEVICECHANGE, 7, 0), 0);  // DBT_DEVNODES_CHANGED
    EXPECT_EQ(notices.load(), 1);
    EXPECT_EQ(SendMessageA(window, WM_DEVICECHANGE, 0x8000, 0), 0);  // DBT_DEVICEARRIVAL
    EXPECT_EQ(SendMessageA(window, WM_DEVICECHANGE, 0x8004, 0), 0);  // DBT_DEVICEREMOVECOMPLETE
    EXPECT_EQ(notices.load(), 1);
    EXPECT_EQ(SendMessageA(window, WM_DEVICECHANGE, 7, 0), 0);
    EXPECT_EQ(notices.load(), 2);

    notifier->stop(5000);
    EXPECT_EQ(exitCodeOnceEnded(watch), 0u);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(findNotificationWindow(), nullptr);
    CloseHandle(watch);
    notifier->stop(5000);  // not running: nothing to do
}

TEST(DeviceNotifierWindow, SecondStartUsesTheRegisteredClassAndCloseEndsIt) {
    for (int round = 0; round < 2; ++round) {
        std::atomic<int> notices{0};
        auto notifier = makeSystemDeviceNotifier();
        const std::uintptr_t thread = notifier->start([&] { ++notices; });
        ASSERT_NE(thread, 0u) << "round " << round;
        HANDLE watch = duplicateThread(thread);
        const HWND window = findNotificationWindow();
        ASSERT_NE(window, nullptr) << "round " << round;
        EXPECT_EQ(SendMessageA(window, WM_DEVICECHANGE, 7, 0), 0);
        EXPECT_EQ(notices.load(), 1);

        // WM_CLOSE (first round) or WM_COMMAND with any parameters ends the
        // thread by itself; a later stop only releases it.
        if (round == 0)
            PostMessageA(window, WM_CLOSE, 0, 0);
        else
            PostMessageA(window, WM_COMMAND, 0x1234, 0x5678);
        EXPECT_EQ(exitCodeOnceEnded(watch), 0u) << "round " << round;
        EXPECT_EQ(findNotificationWindow(), nullptr);
        notifier->stop(5000);
        CloseHandle(watch);
    }
}

}  // namespace
}  // namespace koblib
