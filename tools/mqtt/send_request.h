// A send command from MQTT, checked and turned into the CCF text the
// device takes. Every payload kind ends as one code: a CCF text as given,
// Home Assistant's timings and modulation, a protocol's fields through
// KOBLIB_CODES, a named button (remote + button) from the remotes library
// folder.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace kobmqtt {

// A command that is refused; what() says why, in one sentence.
class CommandError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct SendRequest {
    std::string kind;  // "ccf", "timings", "protocol", "button"
    std::string ccf;   // what goes to the device
    unsigned emitters = 1;
    unsigned repeat = 0;
    double airSeconds = 0;  // how long the device sends it
    nlohmann::json id;      // echoed in the result; null when not given
    bool timed = false;
    double time = 0;  // seconds since 1970 when timed
};

// The largest payload the bridge reads; larger ones are refused unread.
constexpr std::size_t kMaxPayload = 1024 * 1024;

// Reads a send payload. Throws CommandError for anything wrong: not JSON,
// not an object, no kind or two kinds, wrong types, fields out of range,
// codes the device cannot take.
// library: the remotes library folder ("" when the bridge has none).
SendRequest parseSendRequest(const std::string& payload, const std::string& library = "");

// The id of a payload when it can be read (for the result of a refused
// send); null otherwise.
nlohmann::json requestId(const std::string& payload);

}  // namespace kobmqtt
