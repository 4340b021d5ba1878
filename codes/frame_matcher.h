// Reads durations as one protocol's frames: walks the frame's steps,
// building the nominal pulses and spaces bit by bit and comparing each
// with what was heard, trying the other value of a bit where a choice
// fails further on. Allocates nothing; the work is bounded.
#pragma once

#include <cstddef>

#include "protocol_def.h"

namespace kobc {

class FrameMatcher {
  public:
    // durations: pulse first, alternating signs (checked by the caller).
    FrameMatcher(const ProtocolDef& protocol, const int* durations, std::size_t count);

    // The protocol's reading of all the durations: the first frame's
    // fields and bits; later frames (repeats sent in one burst) must agree.
    bool decode(Fields* fields, Bits* bits);

  private:
    struct State {
        std::size_t index;  // the duration the open run is compared with
        double run;         // nominal length of the open run
        double elapsed;     // nominal time since the frame began
        Bits bits;
        int position;  // bits read so far
        bool mark;     // the open run is a pulse
        bool silence;  // the open run is the silence before the frame
        bool leadOut;  // the open run ends the frame: no upper bound
    };

    bool matchFrame(const FrameDef& frame, std::size_t start);
    bool walk(const FrameDef& frame, State s, int step, int bit);
    bool walkBits(const FrameDef& frame, const State& s, int step, int bit);
    // leadOut: a space that ends the frame, as long as it likes.
    bool emit(State& s, bool mark, double us, bool leadOut = false);
    bool finish(State& s);
    double tolerance(double nominal) const;
    double heard(std::size_t i) const;

    const ProtocolDef& protocol_;
    const int* durations_;
    std::size_t count_;
    long budget_ = 0;
    // The last frame matched.
    Fields fields_{};
    Bits bits_ = 0;
    std::size_t end_ = 0;
};

}  // namespace kobc
