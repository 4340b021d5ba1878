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
