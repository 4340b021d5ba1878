// What a received frame becomes on .../received: its timings, its CCF
// text, its decode by every protocol that matches.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>

struct kobc_match;

namespace kobmqtt {

// The carrier a CCF text of a frame gets when neither a measurement nor a
// decoded protocol gives one.
constexpr long kDefaultCarrierHz = 38000;

// One protocol match as the kob tool's decode prints it: protocol, device,
// subdevice, function, toggle (null where the protocol has none), repeat,
// kernel_protocol, kernel_scancode.
nlohmann::json matchJson(const kobc_match& match);

// The message of a frame: words as the receiver reports them (word 0 the
// silence before the frame, 4 us ticks); measuredHz the last carrier
// measured on the device (0: none); time in seconds since 1970.
// Null when the frame holds no pulse.
nlohmann::json frameMessage(const unsigned* words, std::size_t count, long measuredHz, double time);

}  // namespace kobmqtt
