// Helpers of the KOBLIB_CODES tests: codes as vectors, decodes as lists.
#pragma once

#include <string>
#include <vector>

#include "koblib_codes.h"

namespace codes_test {

struct Reading {
    std::string protocol;
    long device, subdevice, function, toggle;
    int repeat;
};

inline std::vector<Reading> decode(const std::vector<int>& durations, long carrierHz = 0) {
    kobc_match matches[16];
    const std::size_t n = kobc_decode(durations.data(), durations.size(), carrierHz, matches, 16);
    std::vector<Reading> out;
    for (std::size_t i = 0; i < n && i < 16; ++i)
        out.push_back({matches[i].protocol, matches[i].device, matches[i].subdevice,
                       matches[i].function, matches[i].toggle, matches[i].repeat});
    return out;
}

struct Encoded {
    int status;
    long carrierHz;
    std::vector<int> once, held;
    std::string message;
};

inline Encoded encode(const char* protocol, long device, long subdevice, long function,
                      long toggle) {
    static thread_local kobc_code code;
    char message[160] = "";
    Encoded e{
        kobc_encode(protocol, device, subdevice, function, toggle, &code, message, sizeof message),
        0,
        {},
        {},
        message};
    if (e.status == KOBC_OK) {
        e.carrierHz = code.carrier_hz;
        e.once.assign(code.durations, code.durations + code.once_count);
        e.held.assign(code.durations + code.once_count,
                      code.durations + code.once_count + code.repeat_count);
    }
    return e;
}

}  // namespace codes_test
