/* KOBLIB_EXAMPLE: listens for events, sets digital I/O, or sends one IR
 * code, through the library's exports only. */
#include <stdio.h>
#include <stdlib.h>

#include "console.h"
#include "koblib.h"

static void KOB_CALL onStatus(const char* serial, unsigned char code, const char* text) {
    printf("(%s) %d - %s\n", serial, code, text);
}

static void KOB_CALL onIRSent(const char* serial, unsigned char status) {
    printf("(%s) IR Sent: %d\n", serial, status);
}

static void KOB_CALL onIRReceived(const char* serial, const char* text, const unsigned int* words,
                                  unsigned int count) {
    char hash[40];
    hash[0] = 0;
    kob_hash(words, count, hash, sizeof hash);
    printf("(%s) %s (raw=%s)\n", serial, hash, text);
}

static void KOB_CALL onLearn(const char* serial, int progress, const char* code) {
    if (code)
        printf("(%s) %s\n", serial, code);
    else
        printf("(%s) %d\n", serial, progress);
}

static void KOB_CALL onDigitalIO(const char* serial, unsigned char first, unsigned char second) {
    printf("DigitalIO (%s) : %d %d\n", serial, first, second);
}

static void openLibrary(void) {
    kob_open(onStatus, onIRSent, onIRReceived, onLearn, onDigitalIO);
}

int main(int argc, char** argv) {
    /* Output goes straight out, so that it interleaves with the events in
     * the order they happen, also into a pipe. */
    setvbuf(stdout, NULL, _IONBF, 0);
    switch (argc - 1) {
        case 1: {
            int key;
            openLibrary();
            key = console_getch();
            while (key != 'q') {
                console_sleep(100);
                key = console_getch();
            }
            kob_close();
            break;
        }
        case 2:
            openLibrary();
            kob_digitalIO("", (unsigned char)atoi(argv[1]), (unsigned char)atoi(argv[2]));
            console_sleep(1000);
            kob_close();
            break;
        case 3:
            openLibrary();
            printf("Sending %s\n", argv[3]);
            kob_sendCCF("", argv[3], (unsigned char)atoi(argv[1]), (unsigned char)atoi(argv[2]));
            console_sleep(1000);
            kob_close();
            break;
        default:
            printf("KOBLIB EXAMPLE Applicationq\n");
            printf("To listen for IR signals type KOBLIB_EXAMPLE listen\n");
            printf("To set digital IO KOBLIB_EXAMPLE CMD VAL\n");
            printf("To send an IR code type KOBLIB_EXAMPLE <BITMASK> <REPEAT> \"<IRCODE>\"\n");
            printf(
                "e.g. KOBLIB_EXAMPLE 2 0 \"0000 006E 0022 0022 0156 00A9 0015 0012 0015 003E 0015 "
                "003E 0015 003E 0015 0012 0015 003E 0015 003E 0015 0012 0015 003E 0015 0012 0015 "
                "0015 0015 0015 0015 003E 0015 0012 0015 0015 0015 003E 0015 0012 0015 003E 0015 "
                "0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 003E 0015 0015 0015 "
                "003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 05EF 0156 00A9 0015 "
                "0015 0015 003E 0015 003E 0015 003E 0015 0015 0015 003E 0015 003E 0015 0015 0015 "
                "003E 0015 0015 0015 0015 0015 0015 0015 003E 0015 0015 0015 0015 0015 003E 0015 "
                "0015 0015 003E 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 0015 "
                "003E 0015 0015 0015 003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 003E 0015 "
                "05EF\"\n");
            break;
    }
    return 0;
}
