// The pulse-length bins of one learning run: measured lengths that lie
// close together share a bin, so that frames can be held and compared as
// bin numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace koblib {

class PulseLengths {
  public:
    // Bins one run can open; a length that fits none beyond that counts as
    // bin 0.
    static constexpr std::size_t kMaxBins = 250;
    // Most recent lengths a bin keeps between operations.
    static constexpr std::size_t kKeptSamples = 20;

    // maxBins (at most kMaxBins) other than kMaxBins is for tests: with
    // 32-bit lengths and a 20 percent tolerance only about a hundred bins
    // can be opened, so the real limit is out of reach of any input.
    explicit PulseLengths(std::size_t maxBins = kMaxBins) : maxBins_(maxBins) {}
    virtual ~PulseLengths() = default;

    // Places a length (in 4 us ticks) into the first bin whose length it
    // differs from by less than a fifth of itself, ((d * 10) / length <= 1),
    // or into a new bin; returns the bin number. The bin's length becomes
    // the mean of its kept lengths and the new one. A length of 0 joins
    // only a bin whose length is 0. With all bins in use, a length that
    // fits none is not stored and the result is 0.
    std::uint8_t add(std::uint32_t length);

    // The length that bin stands for, 0 for a bin not in use.
    std::uint32_t lengthAt(std::size_t bin) const;

    // Bins in use.
    std::size_t binCount() const { return bins_.size(); }

    // Forgets every bin.
    void clear() { bins_.clear(); }

  private:
    struct Bin {
        std::uint32_t mean;
        std::vector<std::uint32_t> samples;  // oldest first
    };

    static bool fits(std::uint32_t length, std::uint32_t mean);

    std::size_t maxBins_;
    std::vector<Bin> bins_;
};

}  // namespace koblib
