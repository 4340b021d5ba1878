#include "ir/ir_compare.h"

#include <array>
#include <cstdint>

#include "ir/hex_words.h"

namespace koblib {

namespace {

bool wordsMatch(std::uint32_t x, std::uint32_t y) {
    if (x == 0) return y == 0;
    const std::uint32_t d = x > y ? x - y : y - x;
    return (d * 10u) / x <= 1u;  // unsigned 32-bit, as the device's tolerance
}

}  // namespace

bool irCompare(const char* first, const char* second) {
    std::array<std::uint32_t, kCodeWords> a;
    std::array<std::uint32_t, kCodeWords> b;
    const std::size_t count = readHexWords(a.data(), a.size(), first);
    if (readHexWords(b.data(), b.size(), second) != count) return false;
    for (std::size_t i = 1; i + 1 < count; ++i) {
        if (!wordsMatch(a[i], b[i])) return false;
    }
    return true;
}

}  // namespace koblib
