/* koblib_codes.h on its own, as a C host includes it. */
#include "koblib_codes.h"

/* The types and functions are usable from C as declared. */
int nearestWord(long hz) {
    kobc_match match;
    match.protocol = kobc_error_text(KOBC_E_RANGE);
    match.subdevice = KOBC_NONE;
    return (int)kobc_frequency_word(hz) + (match.subdevice == KOBC_NONE);
}
