#include "bit_fields.h"

namespace kobc {

namespace {
Bits mask(int count) {
    return count >= 64 ? ~Bits{0} : (Bits{1} << count) - 1;
}
}  // namespace

unsigned long BitFields::lsb(int position, int count) const {
    return static_cast<unsigned long>((bits_ >> position) & mask(count));
}

unsigned long BitFields::msb(int position, int count) const {
    unsigned long value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 1) | ((bits_ >> (position + i)) & 1u);
    return value;
}

void BitFields::putLsb(int position, int count, unsigned long value) {
    bits_ &= ~(mask(count) << position);
    bits_ |= (static_cast<Bits>(value) & mask(count)) << position;
}

void BitFields::putMsb(int position, int count, unsigned long value) {
    for (int i = 0; i < count; ++i) {
        const Bits bit = (value >> (count - 1 - i)) & 1u;
        bits_ = (bits_ & ~(Bits{1} << (position + i))) | (bit << (position + i));
    }
}

unsigned long long BitFields::asSent(int count) const {
    unsigned long long value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 1) | ((bits_ >> i) & 1u);
    return value;
}

}  // namespace kobc
