// kob_upgrade, kob_upgrade_is_kob and kob_upgrade_list_comports: firmware
// upgrade through the serial bootloader, on the caller's thread and
// independent of the device manager.
#include "koblib.h"
#include "upgrade/port_list.h"
#include "upgrade/upgrade.h"

extern "C" {

KOB_API int KOB_CALL kob_upgrade(const char* port, const char* hexPath,
                                 kob_upgrade_progress_cb progress) {
    try {
        if (port == nullptr) return koblib::kUpgradePortFailed;
        // A null progress callback is not called at all.
        koblib::UpgradeProgress report;
        if (progress != nullptr) {
            report = [progress](int phase, int percent) { progress(phase, percent); };
        }
        return koblib::upgrade(port, hexPath, report);
    } catch (...) {
        // Only before the port is open: later, upgrade() gives the result
        // of the step that failed. Nothing is left open.
        return koblib::kUpgradePortFailed;
    }
}

KOB_API int KOB_CALL kob_upgrade_is_kob(const char* port) {
    try {
        if (port == nullptr) return koblib::kIsNotKob;
        return koblib::isKob(port);
    } catch (...) {
        return koblib::kIsNotKob;
    }
}

KOB_API unsigned int KOB_CALL kob_upgrade_list_comports(char* out, unsigned int outSize) {
    try {
        return koblib::listComports(out, outSize);
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
