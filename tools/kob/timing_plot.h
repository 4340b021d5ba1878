// An SVG timing diagram of an IR signal: marks (carrier on) as bars and
// spaces as gaps, to one time scale, each duration annotated in
// microseconds; every sequence on rows of its own, on a tinted band.
#pragma once

#include <string>
#include <vector>

namespace kob {

class TimingPlot {
  public:
    explicit TimingPlot(std::string title);

    // A sequence of pulses in microseconds: on, off, on, off ...
    void addSequence(std::string label, std::vector<double> pulses);

    // The whole document.
    std::string svg() const;

    // Spaces longer than this many times the longest mark are drawn cut
    // short, with a break sign; everything else is to scale.
    static constexpr double kBreakFactor = 4.0;

  private:
    struct Sequence {
        std::string label;
        std::vector<double> pulses;
    };
    // Where each pulse is drawn: row (from 0) and x in pixels.
    struct Place {
        std::size_t row;
        double x;
        double width;
        bool broken;
    };
    std::vector<Place> layout(const Sequence& sequence, double pxPerUs) const;
    double scale() const;  // pixels per microsecond
    double longestMark() const;

    std::string title_;
    std::vector<Sequence> sequences_;
};

}  // namespace kob
