// The KOB-1's IR words as LIRC's pulse/space durations and back, through
// KOBLIB_CODES' one conversion. Pure functions, without LIRC's headers, so
// that they are tested on their own.
#ifndef KOBLIB_LIRC_PULSE_CODE_H
#define KOBLIB_LIRC_PULSE_CODE_H

#include <cstdint>
#include <string>
#include <vector>

#include "koblib_codes.h"

namespace koblirc {

// Marks a pulse in a duration (LIRC's PULSE_BIT); the low 24 bits are µs.
constexpr std::uint32_t kPulseFlag = 0x01000000u;
constexpr std::uint32_t kDurationMask = 0x00FFFFFFu;
// Carrier used when a remote gives none.
constexpr unsigned kDefaultCarrierHz = 38000;

// One received frame (word 0 the silence before it, then on and off
// times in ticks) as durations: a space, then pulse, space, pulse, ...
// Empty for words that hold no frame (no pulse, or a time of 0 ticks).
std::vector<std::uint32_t> frameToDurations(const unsigned int* words, unsigned int count);

// The CCF word of a carrier (hz 0 means 38 kHz; a carrier outside the
// words' range counts as the nearest one inside it).
unsigned carrierWord(unsigned hz);

// durations (µs, pulse first, alternating) followed by a final off time of
// gapMicroseconds as a CCF code on carrier hz (0 means 38 kHz): one once
// sequence holding every pair, no repeat sequence. Each time becomes the
// nearest whole number of carrier periods, from 1 to 0xFFFF. Empty when
// there are no durations or the code would exceed KOBC_MAX_CCF_WORDS words.
std::string durationsToCCF(const std::vector<std::uint32_t>& durations, unsigned hz,
                           std::uint32_t gapMicroseconds);

}  // namespace koblirc

#endif
