/* koblib.h on its own, as a C host includes it. */
#include "koblib.h"

/* The callback types and the exports are usable from C as declared. */
static void KOB_CALL onStatus(const char* serial, unsigned char code, const char* text) {
    (void)serial;
    (void)code;
    (void)text;
}

void* openForStatus(void) {
    return kob_open(onStatus, 0, 0, 0, 0);
}

/* Each result's name stands for the value its text is listed with, and no
 * value is listed twice (a duplicate case does not compile). */
#define CHECK_RESULT(name, value, text) typedef char name##_is_listed[(name) == (value) ? 1 : -1];
KOB_UPGRADE_RESULTS(CHECK_RESULT)
#undef CHECK_RESULT

const char* upgradeText(int result) {
    switch (result) {
#define TEXT_OF(name, value, text) \
    case value:                    \
        return text;
        KOB_UPGRADE_RESULTS(TEXT_OF)
#undef TEXT_OF
    }
    return 0;
}
