#include "frame_writer.h"

#include <cmath>

namespace kobc {

FrameWriter::FrameWriter(const ProtocolDef& protocol, int* durations, std::size_t capacity)
    : protocol_(protocol), durations_(durations), capacity_(capacity) {}

bool FrameWriter::flush() {
    if (run_ <= 0) return true;
    // Nothing before the first pulse of a sequence is sent.
    if (!mark_ && count_ == sequenceStart_) {
        run_ = 0;
        return true;
    }
    if (count_ == capacity_) {
        overflowed_ = true;
        return false;
    }
    const int us = static_cast<int>(std::lround(run_));
    durations_[count_++] = mark_ ? us : -us;
    run_ = 0;
    return true;
}

bool FrameWriter::emit(bool mark, double us) {
    elapsed_ += us;
    if (mark != mark_) {
        if (!flush()) return false;
        mark_ = mark;
    }
    run_ += us;
    return true;
}

bool FrameWriter::append(const FrameDef& frame, Bits bits) {
    elapsed_ = 0;
    const double unit = protocol_.unitUs;
    int bit = 0;
    for (int i = 0; frame.steps[i].op != Op::kEnd; ++i) {
        const Step& st = frame.steps[i];
        bool ok = true;
        switch (st.op) {
            case Op::kMark:
                ok = emit(true, st.value);
                break;
            case Op::kSpace:
            case Op::kGap:
                ok = emit(false, st.value);
                break;
            case Op::kPad: {
                double rest = st.value - elapsed_;
                if (rest < st.value * 0.1) rest = st.value * 0.1;
                ok = emit(false, rest);
                break;
            }
            case Op::kBits:
                for (int n = 0; n < st.value && ok;) {
                    if (protocol_.coding == Coding::kPairs) {
                        const int k = protocol_.symbolBits;
                        int v = 0;
                        for (int j = 0; j < k; ++j)
                            v = (v << 1) | static_cast<int>((bits >> (bit + j)) & 1);
                        ok = emit(true, protocol_.symbolMark[v] * unit) &&
                             emit(false, protocol_.symbolSpace[v] * unit);
                        bit += k;
                        n += k;
                    } else {
                        const bool one = ((bits >> bit) & 1) != 0;
                        const bool markFirst =
                            (protocol_.coding == Coding::kBiphaseMarkFirst) == one;
                        const double half = st.width * unit;
                        ok = emit(markFirst, half) && emit(!markFirst, half);
                        ++bit;
                        ++n;
                    }
                }
                break;
            case Op::kEnd:
                break;
        }
        if (!ok) return false;
    }
    return true;
}

std::size_t FrameWriter::endSequence() {
    if (!flush()) overflowed_ = true;
    const std::size_t written = count_ - sequenceStart_;
    sequenceStart_ = count_;
    mark_ = false;
    return written;
}

}  // namespace kobc
