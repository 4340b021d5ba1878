// The readable sentences the library writes into a caller's message
// buffer: printf-formatted, cut to fit, always zero-terminated.
#pragma once

#include <cstddef>

namespace kobc {

// Writes the message when buffer is not null and size is not 0; returns
// error, so that a failing path reads `return fail(error, ...)`.
int fail(int error, char* buffer, std::size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// Clears the message buffer (a success leaves an empty sentence).
void clearMessage(char* buffer, std::size_t size);

}  // namespace kobc
