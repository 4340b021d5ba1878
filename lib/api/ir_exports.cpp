// kob_ir_compare and kob_hash: pure functions on IR codes, on the caller's
// thread.
#include "ir/ir_compare.h"
#include "ir/ir_hash.h"
#include "koblib.h"

extern "C" {

KOB_API unsigned char KOB_CALL kob_ir_compare(const char* first, const char* second) {
    try {
        return koblib::irCompare(first, second) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

KOB_API unsigned int KOB_CALL kob_hash(const unsigned int* words, unsigned int count, char* out,
                                       unsigned int outSize) {
    try {
        return koblib::irHash(words, count, out, outSize);
    } catch (...) {
        return outSize;
    }
}

}  // extern "C"
