// A digest of the shape of a received code: which of its pulse lengths
// belong together, and in which order the groups first appear. Two
// receptions of one code whose lengths differ by a few percent get the same
// digest.
#pragma once

#include <cstdint>
#include <vector>

namespace koblib {

// Entries a shape holds at most; words past them are left out.
constexpr std::size_t kMaxShape = 256;

// The class number of each of words 1 to count - 2 (at most 256 of them):
// a word joins the first class whose representative r it differs from by
// less than two fifths of r ((|r - v| * 5) / r <= 1; a representative of 0
// takes only 0), or opens a new class with itself as representative.
std::vector<std::uint8_t> codeShape(const std::uint32_t* words, std::uint32_t count);

// Writes the MD5 digest of the shape of words as 32 lowercase hexadecimal
// characters and a zero to out and returns 0 when outSize is at least 33;
// otherwise writes nothing and returns outSize; so too for a null out, and
// for null words with a count above 0.
std::uint32_t irHash(const std::uint32_t* words, std::uint32_t count, char* out,
                     std::uint32_t outSize);

}  // namespace koblib
