#include "upgrade/hex_record.h"

#include <algorithm>
#include <cstddef>

namespace koblib {
namespace {

// The line buffer of the reader: 767 characters and the terminating zero.
constexpr int kLineBufferSize = 768;
// ":" LL AAAA TT: the characters before the first data byte.
constexpr std::size_t kHeaderLength = 9;
// Ctrl-Z, the end of a text file to DOS and the tools that came from it.
constexpr char kEndOfText = 0x1A;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of the count hex digits at text; false when one of them is
// not a hex digit.
bool hexField(const char* text, int count, unsigned int* value) {
    *value = 0;
    for (int i = 0; i < count; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0) return false;
        *value = *value * 16 + static_cast<unsigned int>(digit);
    }
    return true;
}

// Reads one line of at most size - 1 characters into line (count of them,
// zero bytes included), without its line end: LF, CR LF or CR alone (so a
// file that ends its lines with CR alone is read line by line too). A longer line is left where the
// buffer is full; its rest is the next line. The result is a kHexRecord code: Ok, EndOfFile when
// nothing was left, ReadError when the stream failed.
int readLine(std::FILE* file, char* line, int size, std::size_t* count) {
    int length = 0;
    for (;;) {
        if (length == size - 1) break;
        const int c = std::getc(file);
        if (c == EOF) {
            // Not at the end: the stream failed (some C libraries set no
            // error flag for a stream that cannot be read).
            if (!std::feof(file)) return kHexRecordReadError;
            if (length == 0) return kHexRecordEndOfFile;
            break;
        }
        if (c == '\n') break;
        if (c == '\r') {
            const int next = std::getc(file);
            if (next != '\n' && next != EOF) std::ungetc(next, file);
            break;
        }
        line[length++] = static_cast<char>(c);
    }
    line[length] = '\0';
    *count = static_cast<std::size_t>(length);
    return kHexRecordOk;
}

}  // namespace

int readHexRecord(HexRecord* record, std::FILE* file) {
    if (record == nullptr || file == nullptr) return kHexRecordNoInput;

    char line[kLineBufferSize];
    // The length as read: a zero byte in a line is a character like any
    // other (and no hex digit), not the line's end.
    std::size_t length = 0;
    const int read = readLine(file, line, kLineBufferSize, &length);
    if (read != kHexRecordOk) return read;

    // DOS tools end a text with Ctrl-Z; nothing after it is text.
    if (line[0] == kEndOfText) return kHexRecordEndOfFile;
    // Editors pad lines with blanks: a line of nothing else is empty.
    if (std::all_of(line, line + length, [](char c) { return c == ' ' || c == '\t'; }))
        return kHexRecordEmptyLine;
    if (length < kHeaderLength || line[0] != ':') return kHexRecordMalformed;

    unsigned int count = 0;
    unsigned int address = 0;
    unsigned int type = 0;
    if (!hexField(line + 1, 2, &count) || !hexField(line + 3, 4, &address) ||
        !hexField(line + 7, 2, &type)) {
        return kHexRecordMalformed;
    }
    record->length = static_cast<std::int32_t>(count);
    record->address = static_cast<std::uint16_t>(address);
    record->type = static_cast<std::int32_t>(type);

    const std::size_t dataChars = 2 * static_cast<std::size_t>(count);
    if (length < dataChars + kHeaderLength + 2) return kHexRecordMalformed;

    unsigned int sum = count + (address >> 8) + (address & 0xFFu) + type;
    unsigned int byte = 0;
    for (unsigned int i = 0; i < count; ++i) {
        if (!hexField(line + kHeaderLength + 2 * i, 2, &byte)) return kHexRecordMalformed;
        record->data[i] = static_cast<std::uint8_t>(byte);
        sum += byte;
    }
    if (!hexField(line + kHeaderLength + dataChars, 2, &byte)) return kHexRecordMalformed;
    record->checksum = static_cast<std::uint8_t>(byte);

    // The checksum is the two's complement of the byte sum of the fields.
    const std::uint8_t expected = static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
    return record->checksum == expected ? kHexRecordOk : kHexRecordMalformed;
}

}  // namespace koblib
