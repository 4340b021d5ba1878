#include "frame_matcher.h"

#include <cmath>
#include <cstdlib>

namespace kobc {

namespace {
// Steps a whole decode may take before it gives up (noise that keeps
// two readings alive bit after bit).
constexpr long kBudget = 20000;
// A space that ends a frame is at least this long (or its nominal, if
// shorter), less the tolerance.
constexpr double kLeadOutUs = 5000;
constexpr double kLeadOutShare = 0.7;
}  // namespace

FrameMatcher::FrameMatcher(const ProtocolDef& protocol, const int* durations, std::size_t count)
    : protocol_(protocol), durations_(durations), count_(count) {}

double FrameMatcher::tolerance(double nominal) const {
    const double relative = nominal * protocol_.relative;
    return relative > protocol_.absoluteUs ? relative : protocol_.absoluteUs;
}

double FrameMatcher::heard(std::size_t i) const {
    return std::fabs(static_cast<double>(durations_[i]));
}

bool FrameMatcher::emit(State& s, bool mark, double us, bool leadOut) {
    if (--budget_ < 0) return false;
    s.leadOut = leadOut;
    s.elapsed += us;
    if (mark != s.mark) {
        if (!s.silence) {
            if (s.index >= count_ || std::fabs(heard(s.index) - s.run) > tolerance(s.run))
                return false;
            ++s.index;
        }
        s.silence = false;
        s.mark = mark;
        s.run = 0;
    }
    s.run += us;
    if (s.silence) return true;
    // A pulse needs a duration to be heard; a space past the end is the
    // silence after the frame.
    if (s.index >= count_) return !mark;
    return s.leadOut || s.run - heard(s.index) <= tolerance(s.run);
}

bool FrameMatcher::finish(State& s) {
    if (s.mark) {
        if (s.index >= count_ || std::fabs(heard(s.index) - s.run) > tolerance(s.run)) return false;
        ++s.index;
        end_ = s.index;
        return s.index == count_;
    }
    if (s.index >= count_) {
        end_ = count_;
        return true;
    }
    const double least = (s.run < kLeadOutUs ? s.run : kLeadOutUs) * kLeadOutShare;
    if (heard(s.index) < least) return false;
    end_ = s.index + 1;
    return true;
}

bool FrameMatcher::walk(const FrameDef& frame, State s, int step, int bit) {
    const Step& st = frame.steps[step];
    switch (st.op) {
        case Op::kEnd:
            return finish(s) && frame.unpack(s.bits, fields_) && (bits_ = s.bits, true);
        case Op::kMark:
            return emit(s, true, st.value) && walk(frame, s, step + 1, 0);
        case Op::kSpace:
            return emit(s, false, st.value) && walk(frame, s, step + 1, 0);
        case Op::kGap:
            return emit(s, false, st.value, frame.steps[step + 1].op == Op::kEnd) &&
                   walk(frame, s, step + 1, 0);
        case Op::kPad: {
            double rest = st.value - s.elapsed;
            if (rest < st.value * 0.1) rest = st.value * 0.1;
            return emit(s, false, rest, true) && walk(frame, s, step + 1, 0);
        }
        case Op::kBits:
            return walkBits(frame, s, step, bit);
    }
    return false;
}

// The error of reading the open run as closed now, or as longer by us.
static double closeError(double heard, double run) {
    return std::fabs(heard - run);
}

bool FrameMatcher::walkBits(const FrameDef& frame, const State& s, int step, int bit) {
    const Step& st = frame.steps[step];
    if (bit >= st.value) return walk(frame, s, step + 1, 0);
    const double unit = protocol_.unitUs;
    if (protocol_.coding == Coding::kPairs) {
        const int k = protocol_.symbolBits;
        const int values = 1 << k;
        // The symbols in the order of how near each is to what was heard.
        const std::size_t at = s.silence || s.mark ? s.index : s.index + 1;
        double error[16];
        for (int v = 0; v < values; ++v) {
            error[v] = 0;
            if (at < count_) error[v] += std::fabs(heard(at) - protocol_.symbolMark[v] * unit);
            if (at + 1 < count_)
                error[v] += std::fabs(heard(at + 1) - protocol_.symbolSpace[v] * unit);
        }
        int order[16];
        for (int v = 0; v < values; ++v) {
            int i = v;
            while (i > 0 && error[order[i - 1]] > error[v]) {
                order[i] = order[i - 1];
                --i;
            }
            order[i] = v;
        }
        for (int n = 0; n < values; ++n) {
            const int v = order[n];
            State t = s;
            if (!emit(t, true, protocol_.symbolMark[v] * unit) ||
                !emit(t, false, protocol_.symbolSpace[v] * unit))
                continue;
            for (int i = 0; i < k; ++i)
                t.bits |= static_cast<Bits>((v >> (k - 1 - i)) & 1) << (t.position + i);
            t.position += k;
            if (walk(frame, t, step, bit + k)) return true;
        }
        return false;
    }
    const double half = st.width * unit;
    // First the value that reads the open run more nearly: closed now
    // (the bit starts with the other level) or one half longer.
    int first = 0;
    if (!s.silence && s.index < count_) {
        const bool oneStartsWithMark = protocol_.coding == Coding::kBiphaseMarkFirst;
        const bool continues = (oneStartsWithMark == s.mark);  // a 1 extends the run
        const double now = closeError(heard(s.index), s.run);
        const double longer = closeError(heard(s.index), s.run + half);
        first = (longer < now) == continues ? 1 : 0;
    }
    for (int n = 0; n < 2; ++n) {
        const int v = n == 0 ? first : 1 - first;
        const bool markFirst = (protocol_.coding == Coding::kBiphaseMarkFirst) == (v == 1);
        State t = s;
        if (!emit(t, markFirst, half) || !emit(t, !markFirst, half)) continue;
        t.bits |= static_cast<Bits>(v) << t.position;
        ++t.position;
        if (walk(frame, t, step, bit + 1)) return true;
    }
    return false;
}

bool FrameMatcher::matchFrame(const FrameDef& frame, std::size_t start) {
    State s{start, 0, 0, 0, 0, false, true, false};
    return walk(frame, s, 0, 0);
}

bool FrameMatcher::decode(Fields* fields, Bits* bits) {
    budget_ = kBudget;
    bool found = false;
    for (int f = 0; f < protocol_.frameCount && !found; ++f)
        found = matchFrame(protocol_.frames[f], 0);
    if (!found) return false;
    const Fields first = fields_;
    const Bits firstBits = bits_;
    // Frames sent in one burst after the first: each must read as this
    // protocol, as a repeat frame or the same fields.
    while (end_ < count_) {
        const std::size_t start = end_;
        bool next = false;
        for (int f = 0; f < protocol_.frameCount && !next; ++f) {
            next = matchFrame(protocol_.frames[f], start) &&
                   (fields_.device == KOBC_NONE ||
                    (fields_.device == first.device && fields_.subdevice == first.subdevice &&
                     fields_.function == first.function && fields_.toggle == first.toggle));
        }
        if (!next) return false;
    }
    *fields = first;
    *bits = firstBits;
    return true;
}

}  // namespace kobc
