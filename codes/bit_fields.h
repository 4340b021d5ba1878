// Fields in and out of a frame's sent bits (bit i = the i-th bit sent),
// least or most significant bit first.
#pragma once

#include "protocol_def.h"

namespace kobc {

class BitFields {
  public:
    explicit BitFields(Bits bits = 0) : bits_(bits) {}

    Bits bits() const { return bits_; }
    // count bits at position, the first sent being the lowest bit.
    unsigned long lsb(int position, int count) const;
    // count bits at position, the first sent being the highest bit.
    unsigned long msb(int position, int count) const;
    void putLsb(int position, int count, unsigned long value);
    void putMsb(int position, int count, unsigned long value);
    // All count bits as one number, the first sent highest.
    unsigned long long asSent(int count) const;

  private:
    Bits bits_;
};

}  // namespace kobc
