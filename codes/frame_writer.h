// Writes a protocol's frames as durations: the nominal pulses and spaces of
// each step, a pulse or space that follows one of its kind merged into it.
#pragma once

#include "protocol_def.h"

namespace kobc {

class FrameWriter {
  public:
    FrameWriter(const ProtocolDef& protocol, int* durations, std::size_t capacity);

    // Appends a frame; false when the durations do not fit.
    bool append(const FrameDef& frame, Bits bits);
    // Ends the sequence (a space opening it was dropped: a sequence starts
    // with a pulse); returns the durations written since the last end.
    std::size_t endSequence();
    // Whether a duration did not fit.
    bool overflowed() const { return overflowed_; }

  private:
    bool emit(bool mark, double us);
    bool flush();

    const ProtocolDef& protocol_;
    int* durations_;
    std::size_t capacity_;
    std::size_t count_ = 0;
    std::size_t sequenceStart_ = 0;
    bool mark_ = false;
    double run_ = 0;
    double elapsed_ = 0;
    bool overflowed_ = false;
};

}  // namespace kobc
