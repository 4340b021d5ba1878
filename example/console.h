/* The two console services the example needs beyond printf and atoi. */
#ifndef KOBLIB_EXAMPLE_CONSOLE_H
#define KOBLIB_EXAMPLE_CONSOLE_H

#ifdef __cplusplus
extern "C" {
#endif

/* One key, blocking, without echo. When standard input is not a terminal
 * its next byte; at its end 'q', which ends listening. */
int console_getch(void);

/* Pause the calling thread for ms milliseconds. */
void console_sleep(unsigned int ms);

#ifdef __cplusplus
}
#endif

#endif
