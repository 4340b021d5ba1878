#include "ir/hex_words.h"

#include <algorithm>

namespace koblib {

namespace {

// The value of a hexadecimal digit, or -1 for any other character.
int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::size_t readHexWords(std::uint32_t* words, std::size_t capacity, const char* text) {
    std::fill(words, words + capacity, 0u);
    if (text == nullptr) return 0;
    std::size_t count = 0;
    int nibble = 0;  // digits already in words[count]
    for (const char* p = text; *p != '\0' && count < capacity; ++p) {
        const int value = digitValue(*p);
        if (value < 0) continue;
        words[count] |= static_cast<std::uint32_t>(value) << (4 * (3 - nibble));
        if (++nibble == 4) {
            nibble = 0;
            ++count;
        }
    }
    return count;
}

}  // namespace koblib
