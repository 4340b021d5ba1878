#include "ir/ir_hash.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ir/md5.h"

namespace koblib {

namespace {

bool inClass(std::uint32_t v, std::uint32_t r) {
    if (r == 0) return v == 0;
    const std::uint32_t d = r > v ? r - v : v - r;
    return (d * 5u) / r <= 1u;  // unsigned 32-bit: digests must not change
}

}  // namespace

std::vector<std::uint8_t> codeShape(const std::uint32_t* words, std::uint32_t count) {
    std::vector<std::uint8_t> shape;
    if (words == nullptr || count < 3) return shape;
    const std::size_t last = std::min<std::size_t>(count - 2, kMaxShape);
    std::vector<std::uint32_t> representatives;
    for (std::size_t i = 1; i <= last; ++i) {
        const std::uint32_t v = words[i];
        std::size_t j = 0;
        while (j < representatives.size() && !inClass(v, representatives[j]))
            ++j;
        if (j == representatives.size()) representatives.push_back(v);
        shape.push_back(static_cast<std::uint8_t>(j));
    }
    return shape;
}

std::uint32_t irHash(const std::uint32_t* words, std::uint32_t count, char* out,
                     std::uint32_t outSize) {
    if (out == nullptr || outSize < 33 || (words == nullptr && count > 0)) return outSize;
    const std::vector<std::uint8_t> shape = codeShape(words, count);
    const Md5Digest digest = md5(shape.data(), shape.size());
    char text[33];
    for (std::size_t i = 0; i < digest.size(); ++i) {
        std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    }
    std::memcpy(out, text, sizeof text);
    return 0;
}

}  // namespace koblib
