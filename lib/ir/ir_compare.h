// Whether two CCF texts stand for the same IR code, within a timing
// tolerance.
#pragma once

namespace koblib {

// Reads both texts as up to 256 words (null reads as empty). True when the
// word counts are equal and each word at positions 1 to count - 2 differs
// from the first code's word by less than a fifth of it
// ((|x - y| * 10) / x <= 1; a word of 0 matches only 0). The format word
// and the last word (the final gap) are not compared.
bool irCompare(const char* first, const char* second);

}  // namespace koblib
