// KOBLIB.dll registers its notification window's class under its own
// module, not under the program that loaded it: the class lives and goes
// with the DLL.
#include <windows.h>

#include <gtest/gtest.h>

#include "koblib.h"

namespace {

TEST(DllModule, NotificationWindowClassBelongsToTheDll) {
    const HMODULE dll = GetModuleHandleA("KOBLIB.dll");
    ASSERT_NE(dll, nullptr);
    ASSERT_NE(dll, GetModuleHandleA(nullptr));

    // Twice: the second open finds the class registered by the first.
    for (int round = 0; round < 2; ++round) {
        ASSERT_NE(kob_open_no_cb(), nullptr) << "round " << round;
        const HWND window = FindWindowA("KOB-1_WND_CLASS", "KOB-1");
        ASSERT_NE(window, nullptr) << "round " << round;
        EXPECT_EQ(reinterpret_cast<HMODULE>(GetClassLongPtrA(window, GCLP_HMODULE)), dll)
            << "round " << round;
        WNDCLASSA found{};
        EXPECT_TRUE(GetClassInfoA(dll, "KOB-1_WND_CLASS", &found)) << "round " << round;
        kob_close();
        EXPECT_EQ(FindWindowA("KOB-1_WND_CLASS", "KOB-1"), nullptr) << "round " << round;
    }
}

}  // namespace
