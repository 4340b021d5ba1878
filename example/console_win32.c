#include <conio.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "console.h"

int console_getch(void) {
    /* A console gives keys; redirected input gives its bytes, and 'q' at
     * its end. */
    if (_isatty(_fileno(stdin))) return _getch();
    {
        int c = getchar();
        return c == EOF ? 'q' : c;
    }
}

void console_sleep(unsigned int ms) {
    Sleep(ms);
}
