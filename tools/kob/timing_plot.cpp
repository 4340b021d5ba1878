#include "timing_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace kob {

namespace {

constexpr double kWidth = 1200;  // document width
constexpr double kLeft = 120;    // room for the sequence labels
constexpr double kRight = 24;
constexpr double kTop = 64;         // title and scale bar
constexpr double kRowHeight = 118;  // labels above, bar, labels below
constexpr double kBarHeight = 30;
constexpr double kMinPulse = 15;  // pixels of the shortest pulse: room for its label
constexpr double kBrokenWidth = 70;

const char* const kBands[] = {"#e6effa", "#fcefdc", "#e9f5e6", "#f3e8f7"};

std::string number(double value, int decimals = 1) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

// A duration label at (x, y): horizontal when it fits in width, else
// turned upright; above the bar it ends at y, below it starts there.
void label(std::ostringstream& out, double x, double y, double width, double us, bool above) {
    const std::string text = number(us, 0);
    const double textWidth = 6.2 * text.size();
    if (textWidth + 4 <= width) {
        out << "<text class=\"duration\" x=\"" << number(x) << "\" y=\""
            << number(above ? y - 4 : y + 13) << "\" text-anchor=\"middle\">" << text
            << "</text>\n";
        return;
    }
    const double ty = above ? y - 4 : y + 4;
    out << "<text class=\"duration\" x=\"" << number(x + 3.5) << "\" y=\"" << number(ty)
        << "\" text-anchor=\"" << (above ? "start" : "end") << "\" transform=\"rotate(-90 "
        << number(x + 3.5) << ' ' << number(ty) << ")\">" << text << "</text>\n";
}

}  // namespace

TimingPlot::TimingPlot(std::string title) : title_(std::move(title)) {}

void TimingPlot::addSequence(std::string label, std::vector<double> pulses) {
    sequences_.push_back({std::move(label), std::move(pulses)});
}

double TimingPlot::longestMark() const {
    double longest = 0;
    for (const auto& sequence : sequences_)
        for (std::size_t k = 0; k < sequence.pulses.size(); k += 2)
            longest = std::max(longest, sequence.pulses[k]);
    return longest;
}

double TimingPlot::scale() const {
    // The shortest pulse drawn to scale gets room for its label; but a row
    // must hold at least the longest pulse drawn to scale.
    const double cut = kBreakFactor * longestMark();
    double shortest = 0, longest = 0;
    for (const auto& sequence : sequences_)
        for (std::size_t k = 0; k < sequence.pulses.size(); ++k) {
            const double us = sequence.pulses[k];
            if (us <= 0 || (k % 2 == 1 && us > cut)) continue;
            shortest = shortest == 0 ? us : std::min(shortest, us);
            longest = std::max(longest, us);
        }
    if (shortest == 0) return 1;
    const double best = std::min(kMinPulse / shortest, (kWidth - kLeft - kRight) / longest);
    // Up to a fifth smaller, when that saves a row (the last row of a
    // sequence often holds only its final pair).
    const auto rows = [&](double pxPerUs) {
        std::size_t most = 0;
        for (const auto& sequence : sequences_) {
            const auto places = layout(sequence, pxPerUs);
            if (!places.empty()) most = std::max(most, places.back().row + 1);
        }
        return most;
    };
    const std::size_t atBest = rows(best);
    for (double smaller = best * 0.98; smaller >= best * 0.8; smaller *= 0.98)
        if (rows(smaller) < atBest) return smaller;
    return best;
}

std::vector<TimingPlot::Place> TimingPlot::layout(const Sequence& sequence, double pxPerUs) const {
    const double cut = kBreakFactor * longestMark();
    const auto width = [&](std::size_t k) {
        const double us = k < sequence.pulses.size() ? sequence.pulses[k] : 0;
        return k % 2 == 1 && us > cut ? kBrokenWidth : us * pxPerUs;
    };
    std::vector<Place> places;
    std::size_t row = 0;
    double x = kLeft;
    for (std::size_t k = 0; k < sequence.pulses.size(); ++k) {
        // Rows break before a mark only, so that a mark and the space
        // after it stay together and every row starts with a mark.
        if (k % 2 == 0 && x > kLeft && x + width(k) + width(k + 1) > kWidth - kRight) {
            ++row;
            x = kLeft;
        }
        places.push_back({row, x, width(k), k % 2 == 1 && sequence.pulses[k] > cut});
        x += width(k);
    }
    return places;
}

std::string TimingPlot::svg() const {
    const double pxPerUs = scale();
    std::ostringstream body;
    double y = kTop;  // top of the first row of the sequence
    std::size_t band = 0;
    for (const auto& sequence : sequences_) {
        const double bandTop = y;
        std::ostringstream rows;
        double elapsed = 0;  // microseconds since the sequence began
        rows << "<text class=\"sequence\" x=\"12\" y=\"" << number(y + 50) << "\">"
             << escape(sequence.label) << "</text>\n";
        const auto places = layout(sequence, pxPerUs);
        for (std::size_t k = 0; k < places.size(); ++k) {
            const double us = sequence.pulses[k];
            const bool mark = k % 2 == 0;
            const auto& [row, x, width, broken] = places[k];
            const double base = y + row * kRowHeight + 44 + kBarHeight;
            if (k == 0 || places[k - 1].row != row)  // where the row starts in time
                rows << "<text class=\"time\" x=\"12\" y=\"" << number(base + 14) << "\">+"
                     << number(elapsed / 1000, 2) << " ms</text>\n";
            elapsed += us;
            if (mark) {
                rows << "<rect class=\"mark\" data-us=\"" << number(us, 3) << "\" x=\""
                     << number(x, 3) << "\" y=\"" << number(base - kBarHeight) << "\" width=\""
                     << number(width, 3) << "\" height=\"" << number(kBarHeight) << "\"/>\n";
                label(rows, x + width / 2, base - kBarHeight, width, us, true);
            } else {
                rows << "<line class=\"space" << (broken ? " broken" : "") << "\" data-us=\""
                     << number(us, 3) << "\" x1=\"" << number(x, 3) << "\" y1=\"" << number(base)
                     << "\" x2=\"" << number(x + width, 3) << "\" y2=\"" << number(base)
                     << "\"/>\n";
                if (broken) {  // two slanted strokes: the gap is cut short
                    const double mid = x + width / 2;
                    for (const double dx : {-4.0, 4.0})
                        rows << "<line class=\"cut\" x1=\"" << number(mid + dx - 4) << "\" y1=\""
                             << number(base + 7) << "\" x2=\"" << number(mid + dx + 4) << "\" y2=\""
                             << number(base - 7) << "\"/>\n";
                }
                // Below the break sign, when there is one.
                label(rows, x + width / 2, broken ? base + 9 : base, width, us, false);
            }
        }
        y += (places.empty() ? 1 : places.back().row + 1) * kRowHeight;
        body << "<rect class=\"band\" x=\"4\" y=\"" << number(bandTop + 4) << "\" width=\""
             << number(kWidth - 8) << "\" height=\"" << number(y - bandTop - 8) << "\" fill=\""
             << kBands[band++ % 4] << "\"/>\n"
             << rows.str();
    }
    // A scale bar of one millisecond (or less, when that would not fit).
    double barUs = 1000;
    while (barUs * pxPerUs > 300 && barUs > 1)
        barUs /= 10;
    const double barPx = barUs * pxPerUs;
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << number(kWidth, 0)
        << "\" height=\"" << number(y + 10, 0) << "\" viewBox=\"0 0 " << number(kWidth, 0) << ' '
        << number(y + 10, 0) << "\" data-px-per-us=\"" << number(pxPerUs, 6) << "\">\n"
        << "<style>text{font-family:sans-serif;fill:#222}"
           ".title{font-size:17px;font-weight:bold}.sequence{font-size:14px;font-weight:bold}"
           ".duration{font-size:10px;fill:#444}.time{font-size:11px;fill:#666}.mark{fill:#1f4e8c}"
           ".space{stroke:#1f4e8c;stroke-width:2}.cut{stroke:#c0392b;stroke-width:2}"
           ".scale{stroke:#222;stroke-width:2}</style>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text class=\"title\" x=\"12\" y=\"26\">" << escape(title_) << "</text>\n"
        << "<line class=\"scale\" x1=\"12\" y1=\"46\" x2=\"" << number(12 + barPx)
        << "\" y2=\"46\"/>\n"
        << "<text class=\"duration\" x=\"" << number(18 + barPx) << "\" y=\"50\">"
        << number(barUs, 0)
        << " \u00b5s; durations in \u00b5s; marks as bars, spaces as gaps; cut spaces are not to "
           "scale</text>\n"
        << body.str() << "</svg>\n";
    return out.str();
}

}  // namespace kob
