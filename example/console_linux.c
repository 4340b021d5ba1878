#define _POSIX_C_SOURCE 200809L
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "console.h"

int console_getch(void) {
    unsigned char c;
    ssize_t n;
    if (isatty(STDIN_FILENO)) {
        struct termios saved, raw;
        if (tcgetattr(STDIN_FILENO, &saved) == 0) {
            raw = saved;
            raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            tcsetattr(STDIN_FILENO, TCSANOW, &raw);
            n = read(STDIN_FILENO, &c, 1);
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
            return n == 1 ? c : 'q';
        }
    }
    n = read(STDIN_FILENO, &c, 1);
    return n == 1 ? c : 'q';
}

void console_sleep(unsigned int ms) {
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&t, &t) != 0) {
    }
}
