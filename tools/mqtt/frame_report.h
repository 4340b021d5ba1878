// What a received frame becomes on .../received: its timings, its CCF
// text, its decode by every protocol that matches (each as the kob tool
// prints it).
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace kob {
class ButtonMatcher;
}

namespace kobmqtt {

// The carrier a CCF text of a frame gets when neither a measurement nor a
// decoded protocol gives one.
constexpr long kDefaultCarrierHz = 38000;

// The message of a frame: words as the receiver reports them (word 0 the
// silence before the frame, 4 us ticks); measuredHz the last carrier
// measured on the device (0: none); time in seconds since 1970.
// buttons (may be null) names the library button the frame is, "button"
// ("remote/BUTTON", else null). Null when the frame holds no pulse.
nlohmann::json frameMessage(const unsigned* words, std::size_t count, long measuredHz, double time,
                            const kob::ButtonMatcher* buttons = nullptr);

// The decode of a CCF code (a learned one): {"once": [...], "repeat":
// [...]}, the matches of each sequence; null when the text is no code.
nlohmann::json codeDecode(const std::string& ccf);

}  // namespace kobmqtt
