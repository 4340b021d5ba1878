// One received IR frame, held as the bin numbers of its pulses in the
// pulse-length table of a learning run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ir/pulse_lengths.h"

namespace koblib {

class CCF {
  public:
    // Pulses one frame holds; later ones are binned but not stored.
    static constexpr std::size_t kMaxPulses = 512;

    // Reads the words of one receive event (up to 512): word 0 is the
    // silence before the frame, each further word a pulse length that is
    // added to table. table must outlive the frame.
    CCF(PulseLengths& table, const char* text);
    virtual ~CCF() = default;

    // The silence before the frame, in ticks.
    std::uint32_t leadGap() const { return leadGap_; }
    // Pulses held: on time, off time, on time, ...
    std::size_t count() const { return count_; }
    std::uint8_t binAt(std::size_t i) const { return indices_[i]; }

    // Appends one pulse by its bin number, unless the frame is full.
    void append(std::uint8_t bin);

    // True when both frames hold the same bin numbers in the same order.
    bool samePulses(const CCF& other) const;

    // The frame's whole burst pairs as CCF words for a carrier of
    // frequency Hz: each pulse as trunc(ticks * 64 * frequency / 16 MHz)
    // carrier periods, "%04X", single blanks between them; an odd last
    // pulse is left out.
    std::string formatPairs(std::int32_t frequency) const;

  private:
    PulseLengths* table_;  // not owned
    std::array<std::uint8_t, kMaxPulses> indices_{};
    std::size_t count_ = 0;
    std::uint32_t leadGap_ = 0;
};

}  // namespace koblib
