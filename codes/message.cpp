#include "message.h"

#include <cstdarg>
#include <cstdio>

#include "koblib_codes.h"

namespace kobc {

int fail(int error, char* buffer, std::size_t size, const char* format, ...) {
    if (buffer != nullptr && size > 0) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, size, format, args);
        va_end(args);
    }
    return error;
}

void clearMessage(char* buffer, std::size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
}

}  // namespace kobc

extern "C" KOBC_API const char* kobc_error_text(int error) {
    switch (error) {
        case KOBC_OK:
            return "no error";
        case KOBC_E_ARGUMENT:
            return "a null pointer or an impossible size";
        case KOBC_E_SYNTAX:
            return "not a text of 4-digit hexadecimal words";
        case KOBC_E_FORMAT:
            return "an unknown CCF format word";
        case KOBC_E_FREQUENCY:
            return "a frequency word of 0, or a carrier that has no frequency word";
        case KOBC_E_LENGTH:
            return "the pair counts do not match the words, or there is no pair";
        case KOBC_E_SPACE:
            return "the output buffer is too small";
        case KOBC_E_PROTOCOL:
            return "an unknown protocol name";
        case KOBC_E_RANGE:
            return "a field outside its range";
        case KOBC_E_DURATION:
            return "a duration of 0, of the wrong sign, or too long";
        case KOBC_E_TOO_LONG:
            return "more than a code may hold";
        case KOBC_E_FILE:
            return "the file is not of its format";
        case KOBC_E_UNSUPPORTED:
            return "the format cannot hold this code";
        case KOBC_E_NAME:
            return "a name that may not be used";
        case KOBC_E_EXISTS:
            return "the name is taken";
        case KOBC_E_NOT_FOUND:
            return "no such remote or button";
        case KOBC_E_IO:
            return "a file could not be read or written";
        case KOBC_E_MEMORY:
            return "out of memory";
        default:
            return "unknown error";
    }
}
