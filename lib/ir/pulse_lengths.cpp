#include "ir/pulse_lengths.h"

namespace koblib {

bool PulseLengths::fits(std::uint32_t length, std::uint32_t mean) {
    if (length == 0) return mean == 0;
    const std::uint32_t d = length > mean ? length - mean : mean - length;
    // Unsigned 32-bit on purpose: the tolerance is the device's, bit for bit.
    return (d * 10u) / length <= 1u;
}

std::uint8_t PulseLengths::add(std::uint32_t length) {
    for (std::size_t i = 0; i < bins_.size(); ++i) {
        Bin& bin = bins_[i];
        if (!fits(length, bin.mean)) continue;
        bin.samples.push_back(length);
        double sum = 0;
        for (std::uint32_t sample : bin.samples)
            sum += sample;
        bin.mean = static_cast<std::uint32_t>(sum / static_cast<double>(bin.samples.size()));
        // The mean covers the new length and up to 20 before it; then the
        // list is cut back to 20.
        if (bin.samples.size() > kKeptSamples) {
            bin.samples.erase(bin.samples.begin(),
                              bin.samples.end() - static_cast<std::ptrdiff_t>(kKeptSamples));
        }
        return static_cast<std::uint8_t>(i);
    }
    if (bins_.size() >= maxBins_) return 0;
    bins_.push_back(Bin{length, {length}});
    return static_cast<std::uint8_t>(bins_.size() - 1);
}

std::uint32_t PulseLengths::lengthAt(std::size_t bin) const {
    return bin < bins_.size() ? bins_[bin].mean : 0;
}

}  // namespace koblib
