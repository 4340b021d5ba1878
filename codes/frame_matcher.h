// Reads durations as one protocol's frames: walks the frame's steps,
// building the nominal pulses and spaces bit by bit and comparing each
// with what was heard, trying the other value of a bit where a choice
// fails further on, nearest reading first. Allocates nothing; the work
// is bounded.
#pragma once

#include <cstddef>

#include "protocol_def.h"

namespace kobc {

// The readings of frame timings at a position, kept over one decode so
// that protocols of one timing (NEC1, NECext, Pioneer, ...) read it once.
class ParseCache {
  public:
    struct Entry {
        int timing;
        std::size_t start;
        bool found;
        Bits bits;
        std::size_t end;
    };
    const Entry* find(int timing, std::size_t start) const;
    void add(const Entry& entry);

  private:
    static constexpr int kEntries = 48;
    Entry entries_[kEntries];
    int count_ = 0;
    int next_ = 0;
};

class FrameMatcher {
  public:
    // durations: pulse first, alternating signs (checked by the caller).
    FrameMatcher(const ProtocolDef& protocol, const int* durations, std::size_t count,
                 ParseCache& cache);

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

    // Reads one frame at start: its bits and where it ends.
    bool parse(const FrameDef& frame, std::size_t start, Bits* bits, std::size_t* end);
    bool walk(const FrameDef& frame, State s, int step, int bit);
    bool walkBits(const FrameDef& frame, const State& s, int step, int bit);
    // leadOut: a space that ends the frame, as long as it likes.
    bool emit(State& s, bool mark, double us, bool leadOut = false);
    // Whether the open run, about to be closed, reads as heard.
    bool closes(const State& s) const;
    bool finish(State& s);
    double tolerance(double nominal) const;
    double heard(std::size_t i) const;

    const ProtocolDef& protocol_;
    const int* durations_;
    std::size_t count_;
    ParseCache& cache_;
    long budget_ = 0;
    // The frame just parsed.
    Bits bits_ = 0;
    std::size_t end_ = 0;
};

}  // namespace kobc
