// A protocol described as data: its carrier and unit, how a bit (or a
// symbol of several bits) is sent, the steps of each frame it sends, and
// the few functions that move fields in and out of the bits of a frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "koblib_codes.h"

namespace kobc {

// One step of a frame. Durations are microseconds.
enum class Op : std::uint8_t {
    kEnd,    // the end of the frame's steps
    kMark,   // a pulse of value us
    kSpace,  // a space of value us
    kBits,   // value bits of the frame's data; width: biphase half-bit in units
    kGap,    // a space of value us between parts of a frame or after it
    kPad,    // a space that makes the frame last value us from its start
};

struct Step {
    Op op;
    int value;
    int width;
};

// How data bits are sent.
enum class Coding : std::uint8_t {
    kPairs,              // each symbol a pulse and a space (distance, width, multi-bit)
    kBiphaseSpaceFirst,  // a 1 is space then pulse (RC5)
    kBiphaseMarkFirst,   // a 1 is pulse then space (RC6)
};

// The fields a user deals in; KOBC_NONE where absent.
struct Fields {
    long device;
    long subdevice;
    long function;
    long toggle;
    bool repeat;
};

// The sent bits of a frame: bit i is the i-th bit on the air.
using Bits = std::uint64_t;

constexpr int kMaxSteps = 12;
constexpr int kMaxFrames = 3;
constexpr int kMaxSequence = 3;

struct FrameDef {
    Step steps[kMaxSteps];
    // The bits for the fields (defaults filled in by the function).
    Bits (*pack)(const Fields&);
    // The fields of a frame's bits; false when a check fails.
    bool (*unpack)(Bits, Fields&);
};

struct ProtocolDef {
    kobc_protocol_info info;
    Coding coding;
    double unitUs;        // biphase half bit; pairs: the unit of the symbol table
    int symbolBits;       // pairs: bits per symbol (1, 2 or 4)
    int symbolMark[16];   // pairs: pulse of each symbol value, in units
    int symbolSpace[16];  // pairs: space of each symbol value, in units
    int absoluteUs;       // tolerance: within absoluteUs or relative of nominal,
    double relative;      // whichever is wider
    FrameDef frames[kMaxFrames];
    int frameCount;
    int once[kMaxSequence];  // frame indices sent first (-1 ends)
    int held[kMaxSequence];  // frame indices sent while held (-1 ends)
    // The kernel's name and scancode of a reading (null: none).
    const char* (*kernel)(const Fields&, Bits, unsigned long* scancode);
    // Whether a reading is reported for this carrier (null: always), and
    // whether it then goes before the others.
    bool (*accept)(const Fields&, long carrierHz, bool* first);
};

// The protocols, in the order their readings are preferred.
const ProtocolDef* protocolTable();
std::size_t protocolCount();

}  // namespace kobc
