// The protocols as rows of data. Timings in microseconds (the protocols'
// own units multiplied out); each row's pack/unpack moves the fields in and
// out of the bits, with the protocol's checks.
#include <array>
#include <initializer_list>

#include "bit_fields.h"
#include "protocol_def.h"

namespace kobc {
namespace {

constexpr long kNone = KOBC_NONE;
constexpr std::size_t kProtocols = 28;

long orDefault(long value, long fallback) {
    return value == kNone ? fallback : value;
}

Step mark(int us) {
    return {Op::kMark, us, 0};
}
Step space(int us) {
    return {Op::kSpace, us, 0};
}
Step bits(int count, int width = 1) {
    return {Op::kBits, count, width};
}
Step gap(int us) {
    return {Op::kGap, us, 0};
}
Step pad(int us) {
    return {Op::kPad, us, 0};
}

Fields fields(long device, long subdevice, long function, long toggle = kNone,
              bool repeat = false) {
    return {device, subdevice, function, toggle, repeat};
}

Bits noBits(const Fields&) {
    return 0;
}

bool dittoFields(Bits, Fields& f) {
    f = fields(kNone, kNone, kNone, kNone, true);
    return true;
}

// ---- NEC timing: D, S, F, E, least significant bit first.

Bits necBits(long d, long s, long f, long e) {
    BitFields b;
    b.putLsb(0, 8, d);
    b.putLsb(8, 8, s);
    b.putLsb(16, 8, f);
    b.putLsb(24, 8, e);
    return b.bits();
}

struct NecBytes {
    unsigned long d, s, f, e;
    bool functionChecked() const { return e == (~f & 0xFFu); }
    bool deviceChecked() const { return s == (~d & 0xFFu); }
};

NecBytes necBytes(Bits bits) {
    const BitFields b(bits);
    return {b.lsb(0, 8), b.lsb(8, 8), b.lsb(16, 8), b.lsb(24, 8)};
}

Bits packNec1(const Fields& f) {
    return necBits(f.device, orDefault(f.subdevice, 255 - f.device), f.function, 255 - f.function);
}

bool unpackNec1(Bits bits, Fields& f) {
    const NecBytes n = necBytes(bits);
    if (!n.functionChecked()) return false;
    f = fields(static_cast<long>(n.d), static_cast<long>(n.s), static_cast<long>(n.f));
    return true;
}

Bits packNecExt(const Fields& f) {
    return necBits(f.device & 0xFF, f.device >> 8, f.function, 255 - f.function);
}

bool unpackNecExt(Bits bits, Fields& f) {
    const NecBytes n = necBytes(bits);
    if (!n.functionChecked() || n.deviceChecked()) return false;
    f = fields(static_cast<long>(n.d | n.s << 8), kNone, static_cast<long>(n.f));
    return true;
}

Bits packNecF16(const Fields& f) {
    return necBits(f.device, orDefault(f.subdevice, 255 - f.device), f.function & 0xFF,
                   f.function >> 8);
}

bool unpackNecF16(Bits bits, Fields& f) {
    const NecBytes n = necBytes(bits);
    if (n.functionChecked()) return false;  // that is an ordinary 8-bit function
    f = fields(static_cast<long>(n.d), static_cast<long>(n.s), static_cast<long>(n.f | n.e << 8));
    return true;
}

Bits packSamsung32(const Fields& f) {
    return necBits(f.device, orDefault(f.subdevice, f.device), f.function, 255 - f.function);
}

bool unpackSamsung32(Bits bits, Fields& f) {
    const NecBytes n = necBytes(bits);
    if (!n.functionChecked() || n.s != n.d) return false;
    f = fields(static_cast<long>(n.d), static_cast<long>(n.s), static_cast<long>(n.f));
    return true;
}

const char* kernelNec(const Fields& f, Bits bits, unsigned long* scancode) {
    if (f.device == kNone) return nullptr;  // a repeat frame carries no code
    const NecBytes n = necBytes(bits);
    if (!n.functionChecked()) {
        *scancode = n.s << 24 | n.d << 16 | n.e << 8 | n.f;
        return "nec32";
    }
    if (!n.deviceChecked()) {
        *scancode = n.d << 16 | n.s << 8 | n.f;
        return "necx";
    }
    *scancode = n.d << 8 | n.f;
    return "nec";
}

// Pioneer is NEC on 40 kHz: told apart by the carrier, or (carrier
// unknown) by its devices 160..175.
bool acceptPioneer(const Fields& f, long carrierHz, bool* first) {
    *first = carrierHz >= 39000 && carrierHz <= 42000;
    return *first || (carrierHz == 0 && f.device >= 160 && f.device <= 175);
}

// ---- Samsung36: D:8, S:8, separator, E:4, F:8, ~F:8.

Bits packSamsung36(const Fields& f) {
    BitFields b;
    b.putLsb(0, 8, f.device);
    b.putLsb(8, 8, orDefault(f.subdevice, 0));
    b.putLsb(16, 4, f.function >> 8);
    b.putLsb(20, 8, f.function & 0xFF);
    b.putLsb(28, 8, ~f.function & 0xFF);
    return b.bits();
}

bool unpackSamsung36(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (b.lsb(28, 8) != (~b.lsb(20, 8) & 0xFFu)) return false;
    f = fields(static_cast<long>(b.lsb(0, 8)), static_cast<long>(b.lsb(8, 8)),
               static_cast<long>(b.lsb(20, 8) | b.lsb(16, 4) << 8));
    return true;
}

const char* kernelSamsung36(const Fields&, Bits bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(BitFields(bits).asSent(36));
    return "samsung36";
}

// ---- Sony: F:7, D:5 or D:8, S:8, least significant bit first.

template <int DeviceBits, bool Subdevice>
Bits packSony(const Fields& f) {
    BitFields b;
    b.putLsb(0, 7, f.function);
    b.putLsb(7, DeviceBits, f.device);
    if (Subdevice) b.putLsb(12, 8, orDefault(f.subdevice, 0));
    return b.bits();
}

template <int DeviceBits, bool Subdevice>
bool unpackSony(Bits bits, Fields& f) {
    const BitFields b(bits);
    f = fields(static_cast<long>(b.lsb(7, DeviceBits)),
               Subdevice ? static_cast<long>(b.lsb(12, 8)) : kNone, static_cast<long>(b.lsb(0, 7)));
    return true;
}

const char* kernelSony12(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 16 | f.function);
    return "sony-12";
}
const char* kernelSony15(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 16 | f.function);
    return "sony-15";
}
const char* kernelSony20(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 16 | f.subdevice << 8 | f.function);
    return "sony-20";
}

// ---- RC5: 1, ~F bit 6, T, D:5, F:6 (RC5x: then a gap, S:6 in F's place
// with S bit 6 inverted in the second bit, and F:6), most significant first.

Bits packRc5(const Fields& f) {
    BitFields b;
    b.putMsb(0, 1, 1);
    b.putMsb(1, 1, ((f.function >> 6) & 1) ^ 1);
    b.putMsb(2, 1, orDefault(f.toggle, 0));
    b.putMsb(3, 5, f.device);
    b.putMsb(8, 6, f.function & 63);
    return b.bits();
}

bool unpackRc5(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (b.msb(0, 1) != 1) return false;
    const long function = static_cast<long>(b.msb(8, 6) | (b.msb(1, 1) ^ 1) << 6);
    f = fields(static_cast<long>(b.msb(3, 5)), kNone, function, static_cast<long>(b.msb(2, 1)));
    return true;
}

const char* kernelRc5(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 8 | f.function);
    return "rc-5";
}

Bits packRc5x(const Fields& f) {
    const long s = orDefault(f.subdevice, 0);
    BitFields b;
    b.putMsb(0, 1, 1);
    b.putMsb(1, 1, ((s >> 6) & 1) ^ 1);
    b.putMsb(2, 1, orDefault(f.toggle, 0));
    b.putMsb(3, 5, f.device);
    b.putMsb(8, 6, s & 63);
    b.putMsb(14, 6, f.function);
    return b.bits();
}

bool unpackRc5x(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (b.msb(0, 1) != 1) return false;
    const long s = static_cast<long>(b.msb(8, 6) | (b.msb(1, 1) ^ 1) << 6);
    f = fields(static_cast<long>(b.msb(3, 5)), s, static_cast<long>(b.msb(14, 6)),
               static_cast<long>(b.msb(2, 1)));
    return true;
}

const char* kernelRc5x(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 16 | f.subdevice << 8 | f.function);
    return "rc-5x-20";
}

// ---- RC6: start 1, mode:3, T (double width), then the data bits, most
// significant first.

constexpr int kRc6Data = 5;

Bits rc6Header(int mode, long toggle) {
    BitFields b;
    b.putMsb(0, 1, 1);
    b.putMsb(1, 3, static_cast<unsigned long>(mode));
    b.putMsb(4, 1, orDefault(toggle, 0));
    return b.bits();
}

bool rc6Mode(const BitFields& b, unsigned long mode) {
    return b.msb(0, 1) == 1 && b.msb(1, 3) == mode;
}

Bits packRc6(const Fields& f) {
    BitFields b(rc6Header(0, f.toggle));
    b.putMsb(kRc6Data, 8, f.device);
    b.putMsb(kRc6Data + 8, 8, f.function);
    return b.bits();
}

bool unpackRc6(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (!rc6Mode(b, 0)) return false;
    f = fields(static_cast<long>(b.msb(kRc6Data, 8)), kNone,
               static_cast<long>(b.msb(kRc6Data + 8, 8)), static_cast<long>(b.msb(4, 1)));
    return true;
}

const char* kernelRc6(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 8 | f.function);
    return "rc-6-0";
}

template <int SubdeviceBits>
Bits packRc6a(const Fields& f) {
    BitFields b(rc6Header(6, f.toggle));
    b.putMsb(kRc6Data, 8, f.device);
    b.putMsb(kRc6Data + 8, SubdeviceBits, orDefault(f.subdevice, 0));
    b.putMsb(kRc6Data + 8 + SubdeviceBits, 8, f.function);
    return b.bits();
}

template <int SubdeviceBits>
bool unpackRc6a(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (!rc6Mode(b, 6)) return false;
    f = fields(static_cast<long>(b.msb(kRc6Data, 8)),
               static_cast<long>(b.msb(kRc6Data + 8, SubdeviceBits)),
               static_cast<long>(b.msb(kRc6Data + 8 + SubdeviceBits, 8)),
               static_cast<long>(b.msb(4, 1)));
    return true;
}

const char* kernelRc6a20(const Fields&, Bits bits, unsigned long* scancode) {
    *scancode = BitFields(bits).msb(kRc6Data, 20);
    return "rc-6-6a-20";
}
const char* kernelRc6a24(const Fields&, Bits bits, unsigned long* scancode) {
    *scancode = BitFields(bits).msb(kRc6Data, 24);
    return "rc-6-6a-24";
}

// 32 data bits: the kernel files the keyboard/remote ones (0x800F and two
// relatives in the upper half) under MCE, without the toggle bit.
const char* kernelRc6a32(const Fields&, Bits bits, unsigned long* scancode) {
    const unsigned long data = BitFields(bits).msb(kRc6Data, 32);
    const unsigned long upper = data >> 16;
    if (upper == 0x800F || upper == 0x8034 || upper == 0x8046) {
        *scancode = data & ~0x8000ul;
        return "rc-6-mce";
    }
    *scancode = data;
    return "rc-6-6a-32";
}

// RC6-6-32: OEM1:8, OEM2:8 (subdevice = OEM1 * 256 + OEM2), D:8, F:8.
Bits packRc6a32(const Fields& f) {
    BitFields b(rc6Header(6, f.toggle));
    b.putMsb(kRc6Data, 16, orDefault(f.subdevice, 0));
    b.putMsb(kRc6Data + 16, 8, f.device);
    b.putMsb(kRc6Data + 24, 8, f.function);
    return b.bits();
}

bool unpackRc6a32(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (!rc6Mode(b, 6)) return false;
    f = fields(static_cast<long>(b.msb(kRc6Data + 16, 8)), static_cast<long>(b.msb(kRc6Data, 16)),
               static_cast<long>(b.msb(kRc6Data + 24, 8)), static_cast<long>(b.msb(4, 1)));
    return true;
}

// MCE: OEM1 = 128, S:8, then the toggle as a data bit, D:7, F:8; the
// header's toggle stays 0.
constexpr unsigned long kMceOem = 128;

Bits packMce(const Fields& f) {
    BitFields b(rc6Header(6, 0));
    b.putMsb(kRc6Data, 8, kMceOem);
    b.putMsb(kRc6Data + 8, 8, orDefault(f.subdevice, 15));
    b.putMsb(kRc6Data + 16, 1, orDefault(f.toggle, 0));
    b.putMsb(kRc6Data + 17, 7, f.device);
    b.putMsb(kRc6Data + 24, 8, f.function);
    return b.bits();
}

bool unpackMce(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (!rc6Mode(b, 6) || b.msb(4, 1) != 0 || b.msb(kRc6Data, 8) != kMceOem) return false;
    f = fields(
        static_cast<long>(b.msb(kRc6Data + 17, 7)), static_cast<long>(b.msb(kRc6Data + 8, 8)),
        static_cast<long>(b.msb(kRc6Data + 24, 8)), static_cast<long>(b.msb(kRc6Data + 16, 1)));
    return true;
}

// ---- JVC: D:8, F:8; the frames while held have no header.

Bits packJvc(const Fields& f) {
    BitFields b;
    b.putLsb(0, 8, f.device);
    b.putLsb(8, 8, f.function);
    return b.bits();
}

bool unpackJvc(Bits bits, Fields& f) {
    const BitFields b(bits);
    f = fields(static_cast<long>(b.lsb(0, 8)), kNone, static_cast<long>(b.lsb(8, 8)));
    return true;
}

bool unpackJvcHeld(Bits bits, Fields& f) {
    unpackJvc(bits, f);
    f.repeat = true;
    return true;
}

const char* kernelJvc(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 8 | f.function);
    return "jvc";
}

// ---- Sharp and Denon: D:5, F:8, two extension bits; the second half has
// F inverted and the extension bits inverted.

template <unsigned long Extension, bool Inverted>
Bits packHalf(const Fields& f) {
    BitFields b;
    b.putLsb(0, 5, f.device);
    b.putLsb(5, 8, Inverted ? ~f.function & 0xFF : f.function);
    b.putLsb(13, 2, Extension);
    return b.bits();
}

template <unsigned long Extension, bool Inverted>
bool unpackHalf(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (b.lsb(13, 2) != Extension) return false;
    const unsigned long function = Inverted ? ~b.lsb(5, 8) & 0xFFu : b.lsb(5, 8);
    f = fields(static_cast<long>(b.lsb(0, 5)), kNone, static_cast<long>(function), kNone, Inverted);
    return true;
}

const char* kernelSharp(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device << 8 | f.function);
    return "sharp";
}

// ---- Sanyo: A:13, ~A:13, F:8, ~F:8.

Bits packSanyo(const Fields& f) {
    BitFields b;
    b.putLsb(0, 13, f.device);
    b.putLsb(13, 13, ~f.device & 0x1FFF);
    b.putLsb(26, 8, f.function);
    b.putLsb(34, 8, ~f.function & 0xFF);
    return b.bits();
}

bool unpackSanyo(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (b.lsb(13, 13) != (~b.lsb(0, 13) & 0x1FFFu) || b.lsb(34, 8) != (~b.lsb(26, 8) & 0xFFu))
        return false;
    f = fields(static_cast<long>(b.lsb(0, 13)), kNone, static_cast<long>(b.lsb(26, 8)));
    return true;
}

const char* kernelSanyo(const Fields& f, Bits, unsigned long* scancode) {
    if (f.device == kNone) return nullptr;
    *scancode = static_cast<unsigned long>(f.device << 8 | f.function);
    return "sanyo";
}

// ---- Kaseikyo: vendor M:8, N:8, vendor parity X:4, D:4, S:8, F:8, E:4,
// checksum C:4. Panasonic: vendor 0x2002, D:8, S:8, F:8, D^S^F.

unsigned long foldNibbles(unsigned long byte) {
    return ((byte >> 4) ^ byte) & 0xF;
}

Bits packPanasonic(const Fields& f) {
    const long s = orDefault(f.subdevice, 0);
    BitFields b;
    b.putLsb(0, 8, 0x02);
    b.putLsb(8, 8, 0x20);
    b.putLsb(16, 8, f.device);
    b.putLsb(24, 8, s);
    b.putLsb(32, 8, f.function);
    b.putLsb(40, 8, f.device ^ s ^ f.function);
    return b.bits();
}

bool unpackPanasonic(Bits bits, Fields& f) {
    const BitFields b(bits);
    if (b.lsb(0, 8) != 0x02 || b.lsb(8, 8) != 0x20 ||
        b.lsb(40, 8) != (b.lsb(16, 8) ^ b.lsb(24, 8) ^ b.lsb(32, 8)))
        return false;
    f = fields(static_cast<long>(b.lsb(16, 8)), static_cast<long>(b.lsb(24, 8)),
               static_cast<long>(b.lsb(32, 8)));
    return true;
}

// device = vendor (M + 256 N) * 16 + D; function = E * 256 + F.
Bits packKaseikyo(const Fields& f) {
    const unsigned long vendor = static_cast<unsigned long>(f.device) >> 4;
    const unsigned long m = vendor & 0xFF, n = vendor >> 8;
    const unsigned long d = static_cast<unsigned long>(f.device) & 0xF;
    const unsigned long s = static_cast<unsigned long>(orDefault(f.subdevice, 0));
    const unsigned long fn = static_cast<unsigned long>(f.function) & 0xFF;
    const unsigned long e = static_cast<unsigned long>(f.function) >> 8;
    BitFields b;
    b.putLsb(0, 8, m);
    b.putLsb(8, 8, n);
    b.putLsb(16, 4, foldNibbles(m ^ n));
    b.putLsb(20, 4, d);
    b.putLsb(24, 8, s);
    b.putLsb(32, 8, fn);
    b.putLsb(40, 4, e);
    b.putLsb(44, 4, foldNibbles(d ^ s ^ fn ^ (e << 4)));
    return b.bits();
}

bool unpackKaseikyo(Bits bits, Fields& f) {
    const BitFields b(bits);
    const unsigned long m = b.lsb(0, 8), n = b.lsb(8, 8), d = b.lsb(20, 4), s = b.lsb(24, 8);
    const unsigned long fn = b.lsb(32, 8), e = b.lsb(40, 4);
    if (b.lsb(16, 4) != foldNibbles(m ^ n) || b.lsb(44, 4) != foldNibbles(d ^ s ^ fn ^ (e << 4)))
        return false;
    f = fields(static_cast<long>(((m | n << 8) << 4) | d), static_cast<long>(s),
               static_cast<long>(fn | e << 8));
    return true;
}

// ---- XMP: 16 nibbles in two halves, each half summing to 0 modulo 16:
// S hi, C1, S lo, 15, OEM:8, D:8 / S hi, C2, T, S lo, F:16.

constexpr unsigned long kXmpOem = 68;

template <unsigned long Toggle>
Bits packXmp(const Fields& f) {
    const unsigned long s = static_cast<unsigned long>(orDefault(f.subdevice, 0));
    const unsigned long d = static_cast<unsigned long>(f.device);
    const unsigned long fn = static_cast<unsigned long>(f.function);
    unsigned long n[16] = {
        s >> 4, 0, s & 15, 15,     kXmpOem >> 4, kXmpOem & 15,   d >> 4,         d & 15,
        s >> 4, 0, Toggle, s & 15, fn >> 12,     (fn >> 8) & 15, (fn >> 4) & 15, fn & 15};
    unsigned long first = 0, second = 0;
    for (int i = 0; i < 8; ++i) {
        first += n[i];
        second += n[8 + i];
    }
    n[1] = (16 - first % 16) % 16;
    n[9] = (16 - second % 16) % 16;
    BitFields b;
    for (int i = 0; i < 16; ++i)
        b.putMsb(4 * i, 4, n[i]);
    return b.bits();
}

bool unpackXmp(Bits bits, Fields& f) {
    const BitFields b(bits);
    unsigned long n[16];
    unsigned long first = 0, second = 0;
    for (int i = 0; i < 16; ++i)
        n[i] = b.msb(4 * i, 4);
    for (int i = 0; i < 8; ++i) {
        first += n[i];
        second += n[8 + i];
    }
    if (first % 16 != 0 || second % 16 != 0 || n[3] != 15 || n[0] != n[8] || n[2] != n[11])
        return false;
    const long s = static_cast<long>(n[0] << 4 | n[2]);
    const long function = static_cast<long>(n[12] << 12 | n[13] << 8 | n[14] << 4 | n[15]);
    f = fields(static_cast<long>(n[6] << 4 | n[7]), s, function, kNone, n[10] != 0);
    return true;
}

const char* kernelXmp(const Fields& f, Bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(f.device) << 24 |
                static_cast<unsigned long>(f.subdevice) << 16 |
                static_cast<unsigned long>(f.function);
    return "xmp";
}

// ---- RC-MM: 2-bit symbols, most significant first. 12: D:4, F:8;
// 24: D:8, S:8, F:8; 32: D:8, S:8, T:1, X:7, F:8 (function = X * 256 + F).

Bits packRcmm12(const Fields& f) {
    BitFields b;
    b.putMsb(0, 4, f.device);
    b.putMsb(4, 8, f.function);
    return b.bits();
}

bool unpackRcmm12(Bits bits, Fields& f) {
    const BitFields b(bits);
    f = fields(static_cast<long>(b.msb(0, 4)), kNone, static_cast<long>(b.msb(4, 8)));
    return true;
}

Bits packRcmm24(const Fields& f) {
    BitFields b;
    b.putMsb(0, 8, f.device);
    b.putMsb(8, 8, orDefault(f.subdevice, 0));
    b.putMsb(16, 8, f.function);
    return b.bits();
}

bool unpackRcmm24(Bits bits, Fields& f) {
    const BitFields b(bits);
    f = fields(static_cast<long>(b.msb(0, 8)), static_cast<long>(b.msb(8, 8)),
               static_cast<long>(b.msb(16, 8)));
    return true;
}

Bits packRcmm32(const Fields& f) {
    BitFields b;
    b.putMsb(0, 8, f.device);
    b.putMsb(8, 8, orDefault(f.subdevice, 0));
    b.putMsb(16, 1, orDefault(f.toggle, 0));
    b.putMsb(17, 7, f.function >> 8);
    b.putMsb(24, 8, f.function & 0xFF);
    return b.bits();
}

bool unpackRcmm32(Bits bits, Fields& f) {
    const BitFields b(bits);
    f = fields(static_cast<long>(b.msb(0, 8)), static_cast<long>(b.msb(8, 8)),
               static_cast<long>(b.msb(17, 7) << 8 | b.msb(24, 8)),
               static_cast<long>(b.msb(16, 1)));
    return true;
}

const char* kernelRcmm12(const Fields&, Bits bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(BitFields(bits).asSent(12));
    return "rc-mm-12";
}
const char* kernelRcmm24(const Fields&, Bits bits, unsigned long* scancode) {
    *scancode = static_cast<unsigned long>(BitFields(bits).asSent(24));
    return "rc-mm-24";
}
// Unless bits 19-18 are both set, bit 15 is a toggle the kernel clears.
const char* kernelRcmm32(const Fields&, Bits bits, unsigned long* scancode) {
    unsigned long code = static_cast<unsigned long>(BitFields(bits).asSent(32));
    if (((code >> 18) & 3) != 3) code &= ~0x8000ul;
    *scancode = code;
    return "rc-mm-32";
}

// ---- The rows.

class Row {
  public:
    Row(const char* name, const char* aliases, const char* kernelName, long carrierHz) {
        d_.info = {name, aliases, kernelName, carrierHz, 0, kNone, 0, kNone, ""};
        d_.coding = Coding::kPairs;
        d_.unitUs = 1;
        d_.symbolBits = 1;
        d_.absoluteUs = 100;
        d_.relative = 0.3;
        for (int i = 0; i < kMaxSequence; ++i)
            d_.once[i] = d_.held[i] = -1;
        d_.once[0] = d_.held[0] = 0;
    }
    Row& ranges(long device, long subdevice, long function, long toggle) {
        d_.info.device_max = device;
        d_.info.subdevice_max = subdevice;
        d_.info.function_max = function;
        d_.info.toggle_max = toggle;
        return *this;
    }
    // Pulse distance: a pulse of one unit, then zero or one units of space.
    Row& pulseDistance(double unitUs, int zeroSpace, int oneSpace) {
        d_.unitUs = unitUs;
        return symbols(1, {1, 1}, {zeroSpace, oneSpace});
    }
    // Pulse width: a pulse of one (0) or two (1) units, then one unit.
    Row& pulseWidth(double unitUs) {
        d_.unitUs = unitUs;
        return symbols(1, {1, 2}, {1, 1});
    }
    Row& symbols(int bitsEach, std::initializer_list<int> marks,
                 std::initializer_list<int> spaces) {
        d_.coding = Coding::kPairs;
        d_.symbolBits = bitsEach;
        const int values = 1 << bitsEach;
        const int* m = marks.begin();
        const int* s = spaces.begin();
        for (int i = 0; i < values && i < 16; ++i) {
            // A single pulse stands for every symbol's.
            d_.symbolMark[i] = static_cast<std::size_t>(i) < marks.size() ? m[i] : m[0];
            d_.symbolSpace[i] = static_cast<std::size_t>(i) < spaces.size() ? s[i] : s[0];
        }
        return *this;
    }
    Row& unit(double us) {
        d_.unitUs = us;
        return *this;
    }
    Row& biphase(Coding coding, double unitUs) {
        d_.coding = coding;
        d_.unitUs = unitUs;
        return *this;
    }
    Row& tolerance(int absoluteUs, double relative) {
        d_.absoluteUs = absoluteUs;
        d_.relative = relative;
        return *this;
    }
    Row& frame(std::initializer_list<Step> steps, Bits (*pack)(const Fields&),
               bool (*unpack)(Bits, Fields&)) {
        FrameDef& f = d_.frames[d_.frameCount++];
        int i = 0;
        for (const Step& s : steps)
            f.steps[i++] = s;
        f.steps[i] = {Op::kEnd, 0, 0};
        f.pack = pack;
        f.unpack = unpack;
        return *this;
    }
    Row& sequences(std::initializer_list<int> once, std::initializer_list<int> held) {
        int i = 0;
        for (int f : once)
            d_.once[i++] = f;
        for (; i < kMaxSequence; ++i)
            d_.once[i] = -1;
        i = 0;
        for (int f : held)
            d_.held[i++] = f;
        for (; i < kMaxSequence; ++i)
            d_.held[i] = -1;
        return *this;
    }
    Row& kernel(const char* (*kernel)(const Fields&, Bits, unsigned long*)) {
        d_.kernel = kernel;
        return *this;
    }
    Row& accept(bool (*accept)(const Fields&, long, bool*)) {
        d_.accept = accept;
        return *this;
    }
    Row& notes(const char* text) {
        d_.info.notes = text;
        return *this;
    }
    operator ProtocolDef() const { return d_; }

  private:
    ProtocolDef d_{};
};

constexpr double kRcmmUnit = 1e6 / 36000;  // one carrier period

Row necRow(const char* name, const char* aliases, long carrier, int headerMark) {
    return Row(name, aliases, "nec", carrier)
        .pulseDistance(564, 1, 3)
        .frame({mark(headerMark), space(4512), bits(32), mark(564), pad(108000)}, packNec1,
               unpackNec1);
}

std::array<ProtocolDef, kProtocols> buildTable() {
    return {{
        Row("NEC1", "nec,nec8,necd", "nec", 38400)
            .ranges(255, 255, 255, kNone)
            .pulseDistance(564, 1, 3)
            .frame({mark(9024), space(4512), bits(32), mark(564), pad(108000)}, packNec1,
                   unpackNec1)
            .frame({mark(9024), space(2256), mark(564), pad(108000)}, noBits, dittoFields)
            .sequences({0}, {1})
            .kernel(kernelNec)
            .notes("subdevice defaults to 255-device; function checked by its complement; "
                   "held: the repeat frame every 108 ms"),
        Row("NECext", "nec16,necx,nec-ext", "necx", 38400)
            .ranges(65535, kNone, 255, kNone)
            .pulseDistance(564, 1, 3)
            .frame({mark(9024), space(4512), bits(32), mark(564), pad(108000)}, packNecExt,
                   unpackNecExt)
            .frame({mark(9024), space(2256), mark(564), pad(108000)}, noBits, dittoFields)
            .sequences({0}, {1})
            .kernel(kernelNec)
            .notes("NEC with a 16-bit device (low byte first), read when the second byte is "
                   "not the first's complement; held: the repeat frame"),
        Row("NEC1-f16", "nec32,onkyo,necf16", "nec32", 38400)
            .ranges(255, 255, 65535, kNone)
            .pulseDistance(564, 1, 3)
            .frame({mark(9024), space(4512), bits(32), mark(564), pad(108000)}, packNecF16,
                   unpackNecF16)
            .frame({mark(9024), space(2256), mark(564), pad(108000)}, noBits, dittoFields)
            .sequences({0}, {1})
            .kernel(kernelNec)
            .notes("NEC with a 16-bit function (low byte first), read when the fourth byte is "
                   "not the third's complement; subdevice defaults to 255-device"),
        Row("Pioneer", "pioneer", "nec", 40000)
            .ranges(255, 255, 255, kNone)
            .pulseDistance(564, 1, 3)
            .frame({mark(9024), space(4512), bits(32), mark(564), pad(108000)}, packNec1,
                   unpackNec1)
            .kernel(kernelNec)
            .accept(acceptPioneer)
            .notes("NEC on 40 kHz, the whole frame again while held; read on a 39-42 kHz "
                   "carrier, or for devices 160-175 when the carrier is unknown"),
        Row("Samsung32", "samsung", "necx", 38400)
            .ranges(255, 255, 255, kNone)
            .pulseDistance(564, 1, 3)
            .frame({mark(4512), space(4512), bits(32), mark(564), pad(108000)}, packSamsung32,
                   unpackSamsung32)
            .kernel(kernelNec)
            .notes("4.5 ms header; subdevice defaults to the device (read only when equal); "
                   "the whole frame again while held"),
        Row("NECx2", "necx2", "necx", 38400)
            .ranges(255, 255, 255, kNone)
            .pulseDistance(564, 1, 3)
            .frame({mark(4512), space(4512), bits(32), mark(564), pad(108000)}, packNec1,
                   unpackNec1)
            .kernel(kernelNec)
            .notes("4.5 ms header; subdevice defaults to 255-device; the whole frame again "
                   "while held"),
        Row("Samsung36", "samsung36", "samsung36", 37900)
            .ranges(255, 255, 4095, kNone)
            .pulseDistance(560, 1, 3)
            .frame({mark(4500), space(4500), bits(16), mark(560), space(5040), bits(20), mark(560),
                    pad(108000)},
                   packSamsung36, unpackSamsung36)
            .kernel(kernelSamsung36)
            .notes("function = E*256 + F (E 4 bits); subdevice defaults to 0; F checked by its "
                   "complement"),
        Row("RC5", "rc-5,rc5", "rc-5", 36000)
            .ranges(31, kNone, 127, 1)
            .biphase(Coding::kBiphaseSpaceFirst, 889)
            .frame({bits(14), pad(114000)}, packRc5, unpackRc5)
            .kernel(kernelRc5)
            .notes("function bit 6 sent inverted as the second start bit; toggle flips on each "
                   "press; the whole frame again while held"),
        Row("RC5x", "rc5x,rc-5x-20,rc5x20", "rc-5x-20", 36000)
            .ranges(31, 127, 63, 1)
            .biphase(Coding::kBiphaseSpaceFirst, 889)
            .frame({bits(8), gap(3556), bits(12), pad(114000)}, packRc5x, unpackRc5x)
            .kernel(kernelRc5x)
            .notes("subdevice bit 6 sent inverted as the second start bit; subdevice defaults "
                   "to 0; the whole frame again while held"),
        Row("RC6", "rc6,rc-6,rc6-0,rc6-0-16,rc-6-0", "rc-6-0", 36000)
            .ranges(255, kNone, 255, 1)
            .biphase(Coding::kBiphaseMarkFirst, 444)
            .frame({mark(2664), space(888), bits(4), bits(1, 2), bits(16), pad(107000)}, packRc6,
                   unpackRc6)
            .kernel(kernelRc6)
            .notes("mode 0; toggle in the double-width trailer bit; the whole frame again while "
                   "held"),
        Row("MCE", "rc6mce,rc-6-mce,mce", "rc-6-mce", 36000)
            .ranges(127, 255, 255, 1)
            .biphase(Coding::kBiphaseMarkFirst, 444)
            .frame({mark(2664), space(888), bits(4), bits(1, 2), bits(32), pad(107000)}, packMce,
                   unpackMce)
            .kernel(kernelRc6a32)
            .notes("RC6 mode 6, 32 bits, OEM 128; subdevice defaults to 15; toggle is data "
                   "bit 15"),
        Row("RC6-6-32", "rc-6-6a-32,rc6a32", "rc-6-6a-32", 36000)
            .ranges(255, 65535, 255, 1)
            .biphase(Coding::kBiphaseMarkFirst, 444)
            .frame({mark(2664), space(888), bits(4), bits(1, 2), bits(32), pad(107000)}, packRc6a32,
                   unpackRc6a32)
            .kernel(kernelRc6a32)
            .notes("RC6 mode 6, 32 bits; subdevice = the two OEM bytes (defaults to 0)"),
        Row("RC6-6-20", "rc-6-6a-20,rc6a20", "rc-6-6a-20", 36000)
            .ranges(255, 15, 255, 1)
            .biphase(Coding::kBiphaseMarkFirst, 444)
            .frame({mark(2664), space(888), bits(4), bits(1, 2), bits(20), gap(100000)},
                   packRc6a<4>, unpackRc6a<4>)
            .kernel(kernelRc6a20)
            .notes("RC6 mode 6, 20 bits; subdevice defaults to 0"),
        Row("RC6-6-24", "rc-6-6a-24,rc6a24,rc6a,replay", "rc-6-6a-24", 36000)
            .ranges(255, 255, 255, 1)
            .biphase(Coding::kBiphaseMarkFirst, 444)
            .frame({mark(2664), space(888), bits(4), bits(1, 2), bits(24), gap(100000)},
                   packRc6a<8>, unpackRc6a<8>)
            .kernel(kernelRc6a24)
            .notes("RC6 mode 6, 24 bits; subdevice defaults to 0"),
        Row("Sony12", "sony,sony-12,sirc,sirc12", "sony-12", 40000)
            .ranges(31, kNone, 127, kNone)
            .pulseWidth(600)
            .frame({mark(2400), space(600), bits(12), pad(45000)}, packSony<5, false>,
                   unpackSony<5, false>)
            .sequences({0, 0, 0}, {0})
            .kernel(kernelSony12)
            .notes("sent 3 times at least, every 45 ms while held"),
        Row("Sony15", "sony-15,sirc15", "sony-15", 40000)
            .ranges(255, kNone, 127, kNone)
            .pulseWidth(600)
            .frame({mark(2400), space(600), bits(15), pad(45000)}, packSony<8, false>,
                   unpackSony<8, false>)
            .sequences({0, 0, 0}, {0})
            .kernel(kernelSony15)
            .notes("sent 3 times at least, every 45 ms while held"),
        Row("Sony20", "sony-20,sirc20", "sony-20", 40000)
            .ranges(31, 255, 127, kNone)
            .pulseWidth(600)
            .frame({mark(2400), space(600), bits(20), pad(45000)}, packSony<5, true>,
                   unpackSony<5, true>)
            .sequences({0, 0, 0}, {0})
            .kernel(kernelSony20)
            .notes("subdevice defaults to 0; sent 3 times at least, every 45 ms while held"),
        Row("JVC", "jvc", "jvc", 38000)
            .ranges(255, kNone, 255, kNone)
            .pulseDistance(527, 1, 3)
            .frame({mark(8432), space(4216), bits(16), mark(527), pad(59080)}, packJvc, unpackJvc)
            .frame({bits(16), mark(527), pad(46420)}, packJvc, unpackJvcHeld)
            .sequences({0}, {1})
            .kernel(kernelJvc)
            .notes("while held the frame again without its header, every 46.42 ms"),
        Row("Sharp", "sharp", "sharp", 38000)
            .ranges(31, kNone, 255, kNone)
            .pulseDistance(264, 3, 7)
            .frame({bits(15), mark(264), pad(67000)}, packHalf<1, false>, unpackHalf<1, false>)
            .frame({bits(15), mark(264), pad(67000)}, packHalf<2, true>, unpackHalf<2, true>)
            .sequences({0}, {1, 0})
            .kernel(kernelSharp)
            .notes("each half 67 ms; while held the inverted half, then the plain one"),
        Row("Denon", "denon", nullptr, 38000)
            .ranges(31, kNone, 255, kNone)
            .pulseDistance(264, 3, 7)
            .frame({bits(15), mark(264), pad(67000)}, packHalf<0, false>, unpackHalf<0, false>)
            .frame({bits(15), mark(264), pad(67000)}, packHalf<3, true>, unpackHalf<3, true>)
            .sequences({0}, {1, 0})
            .notes("Sharp timing with other extension bits; while held the inverted half, then "
                   "the plain one"),
        Row("Sanyo", "sanyo,lc7461", "sanyo", 38000)
            .ranges(8191, kNone, 255, kNone)
            .pulseDistance(563, 1, 3)
            .frame({mark(9008), space(4504), bits(42), mark(563), pad(108000)}, packSanyo,
                   unpackSanyo)
            .frame({mark(9008), space(4504), mark(563), pad(108000)}, noBits, dittoFields)
            .sequences({0}, {1})
            .kernel(kernelSanyo)
            .notes("13-bit device and function, each followed by its complement; held: the "
                   "repeat frame"),
        Row("Panasonic", "panasonic,kaseikyo-panasonic", nullptr, 37000)
            .ranges(255, 255, 255, kNone)
            .pulseDistance(432, 1, 3)
            .frame({mark(3456), space(1728), bits(48), mark(432), gap(74736)}, packPanasonic,
                   unpackPanasonic)
            .notes("Kaseikyo with vendor 0x2002 and the check byte device^subdevice^function; "
                   "subdevice defaults to 0"),
        Row("Kaseikyo", "kaseikyo,kaseikyo48", nullptr, 37000)
            .ranges(0xFFFFF, 255, 4095, kNone)
            .pulseDistance(432, 1, 3)
            .frame({mark(3456), space(1728), bits(48), mark(432), gap(74736)}, packKaseikyo,
                   unpackKaseikyo)
            .notes("device = vendor*16 + D (vendor 16 bits, first byte low), function = E*256 + "
                   "F; vendor parity and checksum nibbles checked"),
        Row("XMP", "xmp", "xmp", 38000)
            .ranges(255, 255, 65535, kNone)
            .symbols(4, {210},
                     {760, 896, 1032, 1168, 1304, 1440, 1576, 1712, 1848, 1984, 2120, 2256, 2392,
                      2528, 2664, 2800})
            .tolerance(60, 0.03)
            .frame({bits(32), mark(210), gap(13800), bits(32), mark(210), gap(80400)}, packXmp<0>,
                   unpackXmp)
            .frame({bits(32), mark(210), gap(13800), bits(32), mark(210), gap(80400)}, packXmp<8>,
                   unpackXmp)
            .sequences({0}, {1})
            .kernel(kernelXmp)
            .notes("OEM 68 sent (any OEM read); nibble checksums checked; held frames carry "
                   "toggle nibble 8 and read as repeats"),
        Row("RCMM-12", "rcmm12,rc-mm-12,nokia12", "rc-mm-12", 36000)
            .ranges(15, kNone, 255, kNone)
            .unit(kRcmmUnit)
            .symbols(2, {6}, {10, 16, 22, 28})
            .tolerance(80, 0.05)
            .frame({mark(417), space(278), bits(12), mark(167), pad(100000)}, packRcmm12,
                   unpackRcmm12)
            .kernel(kernelRcmm12)
            .notes("2-bit symbols; the whole frame again while held"),
        Row("RCMM-24", "rcmm24,rc-mm-24,nokia,nokia24", "rc-mm-24", 36000)
            .ranges(255, 255, 255, kNone)
            .unit(kRcmmUnit)
            .symbols(2, {6}, {10, 16, 22, 28})
            .tolerance(80, 0.05)
            .frame({mark(417), space(278), bits(24), mark(167), pad(100000)}, packRcmm24,
                   unpackRcmm24)
            .kernel(kernelRcmm24)
            .notes("2-bit symbols; subdevice defaults to 0"),
        Row("RCMM-32", "rcmm32,rc-mm-32,nokia32", "rc-mm-32", 36000)
            .ranges(255, 255, 32767, 1)
            .unit(kRcmmUnit)
            .symbols(2, {6}, {10, 16, 22, 28})
            .tolerance(80, 0.05)
            .frame({mark(417), space(278), bits(32), mark(167), pad(100000)}, packRcmm32,
                   unpackRcmm32)
            .kernel(kernelRcmm32)
            .notes("2-bit symbols; function = X*256 + F (X 7 bits); toggle bit; subdevice "
                   "defaults to 0"),
        necRow("NEC2", "nec2", 38400, 9024)
            .ranges(255, 255, 255, kNone)
            .kernel(kernelNec)
            .accept([](const Fields&, long, bool*) { return false; })
            .notes("NEC1's frame, sent whole again while held (one frame reads as NEC1)"),
    }};
}

}  // namespace

const ProtocolDef* protocolTable() {
    static const std::array<ProtocolDef, kProtocols> table = buildTable();
    return table.data();
}

std::size_t protocolCount() {
    return kProtocols;
}

}  // namespace kobc
