#include "upgrade/hex_record.h"

#include <cstring>

namespace koblib {
namespace {

// The line buffer of the reader: 767 characters and the terminating zero.
constexpr int kLineBufferSize = 768;
// ":" LL AAAA TT: the characters before the first data byte.
constexpr std::size_t kHeaderLength = 9;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of the hex digits at text[0..count), read up to the first
// character that is not one ("1G" reads as 1, "G1" as 0).
unsigned int hexField(const char* text, int count) {
    unsigned int value = 0;
    for (int i = 0; i < count; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0) break;
        value = value * 16 + static_cast<unsigned int>(digit);
    }
    return value;
}

}  // namespace

int readHexRecord(HexRecord* record, std::FILE* file) {
    if (record == nullptr || file == nullptr) return kHexRecordNoInput;

    char line[kLineBufferSize];
    if (std::fgets(line, kLineBufferSize, file) == nullptr) {
        return std::feof(file) ? kHexRecordEndOfFile : kHexRecordReadError;
    }
    line[std::strcspn(line, "\r\n")] = '\0';
    const std::size_t length = std::strlen(line);

    if (length == 0) return kHexRecordEmptyLine;
    if (length < kHeaderLength || line[0] != ':') return kHexRecordMalformed;

    record->length = static_cast<std::int32_t>(hexField(line + 1, 2));
    record->address = static_cast<std::uint16_t>(hexField(line + 3, 4));
    record->type = static_cast<std::int32_t>(hexField(line + 7, 2));

    const std::size_t dataChars = 2 * static_cast<std::size_t>(record->length);
    if (length < dataChars + kHeaderLength + 2) return kHexRecordMalformed;

    unsigned int sum = static_cast<unsigned int>(record->length) + (record->address >> 8) +
                       (record->address & 0xFFu) + static_cast<unsigned int>(record->type);
    for (std::int32_t i = 0; i < record->length; ++i) {
        record->data[i] = static_cast<std::uint8_t>(hexField(line + kHeaderLength + 2 * i, 2));
        sum += record->data[i];
    }
    record->checksum = static_cast<std::uint8_t>(hexField(line + kHeaderLength + dataChars, 2));

    // The checksum is the two's complement of the byte sum of the fields.
    const std::uint8_t expected = static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
    return record->checksum == expected ? kHexRecordOk : kHexRecordMalformed;
}

}  // namespace koblib
