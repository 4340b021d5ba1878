// The lenient reader of CCF (Pronto hex) text: hexadecimal digits are cut
// into 16-bit words four at a time, whatever stands between them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace koblib {

// Words read from a code to send and from each code compared.
constexpr std::size_t kCodeWords = 256;
// Words read from one received frame.
constexpr std::size_t kFrameWords = 512;

// Sets all capacity words to 0, then fills them from text: every
// hexadecimal digit (0-9, a-f, A-F) is the next nibble of the current word,
// most significant first; every other character is skipped and does not
// end a word. Stops once capacity words are complete. Returns the number of
// complete words; the digits of an incomplete last group stay left-aligned
// in the next word but are not counted. A null text reads as empty.
std::size_t readHexWords(std::uint32_t* words, std::size_t capacity, const char* text);

}  // namespace koblib
