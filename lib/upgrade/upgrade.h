// Firmware upgrade through the device's serial bootloader, and the probe
// that tells whether such a bootloader answers on a port. Both run on the
// caller's thread and keep no state between calls.
#pragma once

#include <functional>

namespace koblib {

// Results of upgrade.
constexpr int kUpgradeOk = 0;                 // written, verified, bootloader left
constexpr int kUpgradePortFailed = -1;        // the port could not be opened
constexpr int kUpgradeQueryWriteFailed = -2;  // "b" did not go out
constexpr int kUpgradeQueryReadFailed = -3;   // reading its answer failed
constexpr int kUpgradeNoBlockSupport = -4;    // no "Y" and block size in the answer
constexpr int kUpgradeFileFailed = -5;        // the firmware file could not be opened
constexpr int kUpgradeWriteFailed = -6;       // a block write failed
constexpr int kUpgradeVerifyFailed = -7;      // a block read back failed or differs
constexpr int kUpgradeLeaveFailed = -8;       // "E" did not go out

// Results of isKob.
constexpr int kIsKob = 0;
constexpr int kIsNotKob = -1;

// Phases reported to the progress function.
constexpr int kUpgradePhaseWrite = 0;
constexpr int kUpgradePhaseVerify = 1;

// Called with (phase, percent 0 to 100); may be empty.
using UpgradeProgress = std::function<void(int phase, int percent)>;

// Writes the Intel HEX file hexPath through the bootloader on port in
// blocks of the size it announces, reads every block back and compares
// it, and then tells the bootloader to start the firmware. The port is
// held open, exclusively, for the whole exchange. Returns a kUpgrade code.
int upgrade(const char* port, const char* hexPath, const UpgradeProgress& progress);

// kIsKob when the bootloader on port identifies itself as the device's
// ("LUFACDC"), kIsNotKob otherwise (also when the port cannot be opened).
int isKob(const char* port);

}  // namespace koblib
