#include "frame_matcher.h"

#include <cmath>
#include <cstdlib>

namespace kobc {

namespace {
// Steps one frame's reading may take before it gives up (noise that keeps
// two readings alive bit after bit).
constexpr long kBudget = 4000;
// A space that ends a frame is at least this long (or its nominal, if
// shorter), less the tolerance.
constexpr double kLeadOutUs = 5000;
constexpr double kLeadOutShare = 0.7;

double closeError(double heard, double run) {
    return std::fabs(heard - run);
}
}  // namespace

const ParseCache::Entry* ParseCache::find(int timing, std::size_t start) const {
    for (int i = 0; i < count_; ++i)
        if (entries_[i].timing == timing && entries_[i].start == start) return &entries_[i];
    return nullptr;
}

void ParseCache::add(const Entry& entry) {
    entries_[next_] = entry;
    next_ = (next_ + 1) % kEntries;
    if (count_ < kEntries) ++count_;
}

FrameMatcher::FrameMatcher(const ProtocolDef& protocol, const int* durations, std::size_t count,
                           ParseCache& cache)
    : protocol_(protocol), durations_(durations), count_(count), cache_(cache) {}

double FrameMatcher::tolerance(double nominal) const {
    const double relative = nominal * protocol_.relative;
    return relative > protocol_.absoluteUs ? relative : protocol_.absoluteUs;
}

double FrameMatcher::heard(std::size_t i) const {
    return std::fabs(static_cast<double>(durations_[i]));
}

bool FrameMatcher::closes(const State& s) const {
    return s.index < count_ && closeError(heard(s.index), s.run) <= tolerance(s.run);
}

bool FrameMatcher::emit(State& s, bool mark, double us, bool leadOut) {
    if (--budget_ < 0) return false;
    s.leadOut = leadOut;
    s.elapsed += us;
    if (mark != s.mark) {
        if (!s.silence) {
            if (!closes(s)) return false;
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
        if (!closes(s)) return false;
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
            if (!finish(s)) return false;
            bits_ = s.bits;
            return true;
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

bool FrameMatcher::walkBits(const FrameDef& frame, const State& s, int step, int bit) {
    const Step& st = frame.steps[step];
    if (bit >= st.value) return walk(frame, s, step + 1, 0);
    const double unit = protocol_.unitUs;
    if (protocol_.coding == Coding::kPairs) {
        const int k = protocol_.symbolBits;
        const int values = 1 << k;
        // A symbol's space is closed by the pulse after it unless a space
        // follows the bits: then it can be checked at once.
        const Op after = frame.steps[step + 1].op;
        const bool closedByPulse = bit + k < st.value || after == Op::kMark || after == Op::kBits;
        // The symbols in the order of how near each is to what was heard.
        const std::size_t at = s.silence || s.mark ? s.index : s.index + 1;
        double error[16];
        int order[16];
        for (int v = 0; v < values; ++v) {
            error[v] = 0;
            if (at < count_) error[v] += std::fabs(heard(at) - protocol_.symbolMark[v] * unit);
            if (at + 1 < count_)
                error[v] += std::fabs(heard(at + 1) - protocol_.symbolSpace[v] * unit);
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
            if (closedByPulse && !closes(t)) continue;
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
    // A frame that opens with a bit starts with a 1 where a 1 begins with a
    // space: the space is lost in the silence before it, and a 0 there
    // would read the same frame half a bit later.
    const bool opening = s.silence && protocol_.coding == Coding::kBiphaseSpaceFirst;
    if (opening) first = 1;
    for (int n = 0; n < (opening ? 1 : 2); ++n) {
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

bool FrameMatcher::parse(const FrameDef& frame, std::size_t start, Bits* bits, std::size_t* end) {
    // Most frames are told apart by their header pulse alone.
    const Step& header = frame.steps[0];
    if (header.op == Op::kMark &&
        (start >= count_ || closeError(heard(start), header.value) > tolerance(header.value)))
        return false;
    if (const ParseCache::Entry* e = cache_.find(frame.timing, start)) {
        *bits = e->bits;
        *end = e->end;
        return e->found;
    }
    budget_ = kBudget;
    State s{start, 0, 0, 0, 0, false, true, false};
    const bool found = walk(frame, s, 0, 0);
    *bits = found ? bits_ : 0;
    *end = found ? end_ : 0;
    cache_.add({frame.timing, start, found, *bits, *end});
    return found;
}

bool FrameMatcher::decode(Fields* fields, Bits* bits) {
    Fields first{};
    Bits firstBits = 0;
    std::size_t end = 0;
    bool found = false;
    for (int f = 0; f < protocol_.frameCount && !found; ++f) {
        const FrameDef& frame = protocol_.frames[f];
        found = parse(frame, 0, &firstBits, &end) && frame.unpack(firstBits, first);
    }
    if (!found) return false;
    // Frames sent in one burst after the first: each must read as this
    // protocol, as a repeat frame or the same fields.
    while (end < count_) {
        const std::size_t start = end;
        bool next = false;
        for (int f = 0; f < protocol_.frameCount && !next; ++f) {
            const FrameDef& frame = protocol_.frames[f];
            Bits b = 0;
            Fields later{};
            next = parse(frame, start, &b, &end) && frame.unpack(b, later) &&
                   (later.device == KOBC_NONE ||
                    (later.device == first.device && later.subdevice == first.subdevice &&
                     later.function == first.function && later.toggle == first.toggle));
        }
        if (!next) return false;
    }
    *fields = first;
    *bits = firstBits;
    return true;
}

}  // namespace kobc
