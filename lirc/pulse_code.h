// Conversions between the KOB-1's IR words and LIRC's pulse/space
// durations. Pure functions, without LIRC's headers, so that they are
// tested on their own.
#ifndef KOBLIB_LIRC_PULSE_CODE_H
#define KOBLIB_LIRC_PULSE_CODE_H

#include <cstdint>
#include <string>
#include <vector>

namespace koblirc {

// Marks a pulse in a duration (LIRC's PULSE_BIT); the low 24 bits are µs.
constexpr std::uint32_t kPulseFlag = 0x01000000u;
constexpr std::uint32_t kDurationMask = 0x00FFFFFFu;
// A received word counts ticks of 4 µs.
constexpr std::uint32_t kTickMicroseconds = 4;
// Carrier used when a remote gives none.
constexpr unsigned kDefaultCarrierHz = 38000;
// A code to send is read as at most this many words.
constexpr std::size_t kMaxCodeWords = 256;

// One received frame (word 0 the silence before it, then on and off
// times in ticks) as durations: a space, then pulse, space, pulse, ...
std::vector<std::uint32_t> frameToDurations(const unsigned int* words, unsigned int count);

// The CCF word of a carrier: 0x400000 / hz (hz 0 means 38 kHz), 1 to 0xFFFF.
unsigned carrierWord(unsigned hz);

// durations (µs, pulse first, alternating) followed by a final off time of
// gapMicroseconds as a CCF code on carrier hz (0 means 38 kHz): one once
// sequence holding every pair, no repeat sequence. Each time becomes the
// nearest whole number of carrier periods, at least 1. Empty when there are
// no durations or the code would exceed kMaxCodeWords words.
std::string durationsToCCF(const std::vector<std::uint32_t>& durations, unsigned hz,
                           std::uint32_t gapMicroseconds);

}  // namespace koblirc

#endif
