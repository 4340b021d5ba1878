#include <stdio.h>
#include <string.h>

#include <koblib.h>

int main(void) {
    char digest[33];
    const unsigned int words[] = {9000, 21, 64, 21, 21, 64, 500};
    if (kob_hash(words, 7, digest, sizeof digest) != 0) return 1;
    if (!kob_ir_compare("0000 006E 0000 0001 0015 0156", "0000 006E 0000 0001 0016 0150")) return 1;
    printf("%s\n", digest);
    /* the MD5 of the shape 00 01 00 00 01 */
    return strcmp(digest, "97bf9d00240e0d7b7c528a1e9b637a34") == 0 ? 0 : 1;
}
