#include "ir/ccf_learn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace koblib {

CCFLearn::CCFLearn(Progress progress, SerialFunction modulationOn, SerialFunction modulationOff)
    : progress_(std::move(progress)),
      modulationOn_(std::move(modulationOn)),
      modulationOff_(std::move(modulationOff)) {
    frames_.reserve(kMaxFrames);
}

void CCFLearn::start(std::int32_t frequency, const std::string& serial) {
    MutexLock guard(lock_);
    ++run_;
    givenFrequency_ = frequency;
    serial_ = serial;
    frequencies_.clear();
    lengths_.clear();
    frames_.clear();
    active_ = true;
}

void CCFLearn::stop() {
    Calls calls;
    {
        MutexLock guard(lock_);
        ++run_;
        active_ = false;
        calls.serial = serial_;
        calls.modulationOff = true;
    }
    make(calls);
}

void CCFLearn::onFrame(const std::string& serial, const std::string& text) {
    Calls calls;
    {
        MutexLock guard(lock_);
        if (!active_ || serial != serial_ || frames_.size() >= kMaxFrames) return;
        frames_.emplace_back(lengths_, text.c_str());
        calls = evaluate();
    }
    make(calls);
}

void CCFLearn::onModulation(const std::string& serial, std::uint32_t cycles, std::uint32_t total) {
    Calls calls;
    {
        MutexLock guard(lock_);
        if (!active_ || serial != serial_ || cycles == 0) return;
        frequencies_.push_back(total / cycles);
        calls = evaluate();
    }
    make(calls);
}

CCFLearn::Calls CCFLearn::evaluate() {
    Calls calls;
    calls.serial = serial_;
    calls.run = run_;
    if (frames_.empty()) return calls;

    // The most frequent frame, the earliest among equals; and the mean
    // silence before every frame but the first.
    std::uint32_t bestMatches = 0;
    std::size_t best = 0;
    double gapSum = 0;
    for (std::size_t u = 0; u < frames_.size(); ++u) {
        const auto matches = static_cast<std::uint32_t>(std::count_if(
            frames_.begin(), frames_.end(),
            [&frame = frames_[u]](const CCF& other) { return other.samePulses(frame); }));
        if (matches > bestMatches) {
            bestMatches = matches;
            best = u;
        }
        if (u > 0) gapSum += frames_[u].leadGap();
    }
    const double averageGap =
        frames_.size() > 1 ? gapSum / static_cast<double>(frames_.size() - 1) : 0.0;

    std::int32_t frequency;
    int confidence;
    if (givenFrequency_ > 0) {
        frequency = givenFrequency_;
        confidence = 100;
        if (frequencies_.empty()) frequencies_.push_back(static_cast<std::uint32_t>(frequency));
    } else {
        frequency = estimateFrequency(confidence);
    }

    const int matchPct = bestMatches >= kEqualFrames ? 100 : static_cast<int>(bestMatches) * 10;
    // Asked again at every evaluation until a first measurement arrives.
    if (matchPct == 100 && frequencies_.empty()) calls.modulationOn = true;

    calls.report = true;
    calls.percent = matchPct / 2 + confidence / 2;
    if (matchPct == 100 && frequency > 0) {
        calls.code = finish(best, averageGap, frequency);
        if (calls.code.empty()) {
            // No code can be written at this carrier: the run goes on
            // without one, short of done.
            calls.percent = std::min(calls.percent, 99);
            return calls;
        }
        active_ = false;
        calls.modulationOff = true;
    }
    return calls;
}

std::string CCFLearn::finish(std::size_t best, double averageGap, std::int32_t frequency) {
    // The mean gap closes the repeated frame (and the first one, when it is
    // another frame) as its last off time.
    // A carrier whose frequency word does not fit four hexadecimal digits
    // makes no code.
    const std::int32_t freqWord = 0x400000 / frequency;
    if (freqWord < 1 || freqWord > 0xFFFF) return {};
    const std::uint8_t gapBin = lengths_.add(static_cast<std::uint32_t>(averageGap));
    CCF repeated = frames_[best];
    repeated.append(gapBin);
    std::string pairs = repeated.formatPairs(frequency);
    // The first frame heard is the once sequence unless it is the repeated
    // one itself.
    std::size_t oncePairs = 0;
    if (best != 0) {
        CCF once = frames_.front();
        once.append(gapBin);
        oncePairs = once.count() / 2;
        pairs = once.formatPairs(frequency) + " " + pairs;
    }
    // Nor does one whose on times are all 0 periods (no burst of carrier
    // at all), or one of whose durations does not fit a word.
    bool someBurst = false;
    for (std::size_t at = 0, k = 0; at < pairs.size(); at += 5, ++k) {
        if (at + 4 < pairs.size() && pairs[at + 4] != ' ') return {};
        if (k % 2 == 0) someBurst = someBurst || pairs.compare(at, 4, "0000") != 0;
    }
    if (!someBurst) return {};
    char header[32];
    std::snprintf(header, sizeof header, "0000 %04X %04X %04X ", static_cast<unsigned>(freqWord),
                  static_cast<unsigned>(oncePairs), static_cast<unsigned>(repeated.count() / 2));
    return header + pairs;
}

std::int32_t CCFLearn::estimateFrequency(int& confidence) {
    confidence = static_cast<int>(frequencies_.size());
    if (frequencies_.size() < kMinMeasurements) return 0;

    double sum = 0;
    for (std::uint32_t f : frequencies_)
        sum += f;
    const double roughMean = sum / static_cast<double>(frequencies_.size());
    // Outliers are dropped for good.
    frequencies_.erase(
        std::remove_if(frequencies_.begin(), frequencies_.end(),
                       [&](std::uint32_t f) { return std::fabs(f - roughMean) > 0.5 * roughMean; }),
        frequencies_.end());

    const std::size_t n = frequencies_.size();
    confidence = static_cast<int>(n);
    if (n <= 1) return 0;

    sum = 0;
    for (std::uint32_t f : frequencies_) {
        std::printf("%d\n", static_cast<int>(f));
        sum += f;
    }
    const double mean = sum / static_cast<double>(n);
    double squares = 0;
    for (std::uint32_t f : frequencies_)
        squares += (f - mean) * (f - mean);
    const double stddev = std::sqrt(squares / static_cast<double>(n - 1));
    const double x = stddev * 100 / mean;  // spread in percent of the mean
    std::printf("stddev = %f, mean = %f, x=%f\n", stddev, mean, x);
    if (x < 1.0) confidence = 100;
    return static_cast<std::int32_t>(
        std::min(mean, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

void CCFLearn::make(const Calls& calls) {
    if (calls.modulationOn && modulationOn_) modulationOn_(calls.serial);
    if (calls.report && progress_) report(calls);
    if (calls.modulationOff && modulationOff_) modulationOff_(calls.serial);
}

void CCFLearn::report(const Calls& calls) {
    // Only a report of the run still under way is made; a start or stop
    // since the lock was let go has replaced that run. Nothing waits for
    // the call to end.
    {
        MutexLock guard(lock_);
        if (calls.run != run_) return;
    }
    progress_(calls.serial, calls.percent, calls.code);
}

}  // namespace koblib
