#include "send_request.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "koblib_codes.h"

namespace kobmqtt {

namespace {

using nlohmann::json;

// The space added after timings that end on a pulse.
constexpr int kTrailingGapUs = 30000;

// An integer field in lo..hi; CommandError naming the field otherwise.
long integerField(const json& request, const char* name, long lo, long hi) {
    const json& v = request.at(name);
    if (!v.is_number_integer()) {
        if (v.is_number_float() && std::isfinite(v.get<double>()))
            throw CommandError(std::string(name) + " must be a whole number");
        throw CommandError(std::string(name) + " must be a whole number, not " + v.type_name());
    }
    const bool above = v.is_number_unsigned()
                           ? v.get<unsigned long long>() > static_cast<unsigned long long>(hi)
                           : v.get<long long>() > hi;
    if (above || (!v.is_number_unsigned() && v.get<long long>() < lo) ||
        (v.is_number_unsigned() && static_cast<long long>(v.get<unsigned long long>()) < lo))
        throw CommandError(std::string(name) + " " + v.dump() + " is outside " +
                           std::to_string(lo) + ".." + std::to_string(hi));
    return static_cast<long>(v.get<long long>());
}

long optionalInteger(const json& request, const char* name, long lo, long hi, long fallback) {
    if (!request.contains(name) || request.at(name).is_null()) return fallback;
    return integerField(request, name, lo, hi);
}

std::string formatCode(const kobc_code& code) {
    std::vector<char> text(KOBC_MAX_CCF_WORDS * 5 + 1);
    const int rc = kobc_ccf_format(&code, text.data(), text.size());
    if (rc != KOBC_OK)
        throw CommandError(std::string("the code cannot be sent: ") + kobc_error_text(rc));
    return text.data();
}

std::string ccfFromText(const json& request) {
    const json& v = request.at("ccf");
    if (!v.is_string())
        throw CommandError(std::string("ccf must be a string, not ") + v.type_name());
    const std::string text = v.get<std::string>();
    kobc_code code;
    char message[200];
    if (kobc_ccf_parse(text.c_str(), &code, message, sizeof message) != KOBC_OK)
        throw CommandError(std::string("ccf: ") + message);
    return text;
}

std::string ccfFromTimings(const json& request) {
    const json& list = request.at("timings");
    if (!list.is_array()) throw CommandError("timings must be a list of microseconds");
    if (list.empty()) throw CommandError("timings is empty");
    if (list.size() >= KOBC_MAX_DURATIONS)
        throw CommandError("timings has " + std::to_string(list.size()) + " entries, at most " +
                           std::to_string(KOBC_MAX_DURATIONS - 1) + " are taken");
    if (!request.contains("modulation") || request.at("modulation").is_null())
        throw CommandError("timings need a modulation (carrier Hz)");
    kobc_code code;
    code.carrier_hz = integerField(request, "modulation", 1, 1000000);
    if (kobc_frequency_word(code.carrier_hz) == 0)
        throw CommandError("modulation " + std::to_string(code.carrier_hz) +
                           " Hz is no carrier the device can send");
    // The signal is the repeat sequence: the device sends that 1 + repeat
    // times, which is what Home Assistant's repeat_count asks for.
    code.once_count = 0;
    for (std::size_t n = 0; n < list.size(); ++n) {
        const json& d = list[n];
        if (!d.is_number_integer())
            throw CommandError("timings[" + std::to_string(n) + "] must be a whole number");
        const long long us = d.is_number_unsigned() && d.get<unsigned long long>() > LLONG_MAX
                                 ? LLONG_MAX
                                 : d.get<long long>();
        const bool pulse = n % 2 == 0;
        if (us == 0 || (us > 0) != pulse)
            throw CommandError("timings[" + std::to_string(n) + "] must be " +
                               (pulse ? "a pulse (positive)" : "a space (negative)"));
        if (us > 1000000 || us < -1000000)
            throw CommandError("timings[" + std::to_string(n) + "] " + std::to_string(us) +
                               " is longer than a second");
        code.durations[n] = static_cast<int>(us);
    }
    std::size_t count = list.size();
    // Copies of a signal that ends on a pulse need a gap between them.
    if (count % 2 == 1) code.durations[count++] = -kTrailingGapUs;
    code.repeat_count = count;
    return formatCode(code);
}

std::string ccfFromProtocol(const json& request) {
    const json& name = request.at("protocol");
    if (!name.is_string()) throw CommandError("protocol must be a name");
    const kobc_protocol_info* info = kobc_protocol_find(name.get<std::string>().c_str());
    if (info == nullptr) throw CommandError("unknown protocol \"" + name.get<std::string>() + "\"");
    // Each field against the protocol's range, named in the message.
    const auto field = [&](const char* name, long max, bool required) -> long {
        if (!request.contains(name) || request.at(name).is_null()) {
            if (required) throw CommandError(std::string("protocol needs ") + name);
            return KOBC_NONE;
        }
        if (max == KOBC_NONE) throw CommandError(std::string(info->name) + " has no " + name);
        try {
            return integerField(request, name, 0, max);
        } catch (const CommandError& e) {
            throw CommandError(std::string(e.what()) + " for " + info->name);
        }
    };
    const long device = field("device", info->device_max, true);
    const long function = field("function", info->function_max, true);
    const long subdevice = field("subdevice", info->subdevice_max, false);
    const long toggle = field("toggle", info->toggle_max, false);
    kobc_code code;
    char message[200];
    if (kobc_encode(info->name, device, subdevice, function, toggle, &code, message,
                    sizeof message) != KOBC_OK)
        throw CommandError(message);
    return formatCode(code);
}

// The time on the air of a CCF text sent with repeat: the once sequence,
// then the repeat sequence 1 + repeat times.
double airSeconds(const std::string& ccf, unsigned repeat) {
    kobc_code code;
    if (kobc_ccf_parse(ccf.c_str(), &code, nullptr, 0) != KOBC_OK) return 0;
    const auto length = [&](std::size_t from, std::size_t count) {
        double us = 0;
        for (std::size_t k = from; k < from + count; ++k)
            us += std::abs(code.durations[k]);
        return us;
    };
    const double once = length(0, code.once_count);
    const double again = length(code.once_count, code.repeat_count);
    return (once + (1.0 + repeat) * again) / 1e6;
}

// A button of the library folder, read afresh (the folder may change
// while the bridge runs).
std::string ccfFromButton(const json& request, const std::string& library) {
    if (library.empty()) throw CommandError("named buttons (remote+button) need --library");
    const json& remote = request.contains("remote") ? request.at("remote") : json();
    const json& button = request.contains("button") ? request.at("button") : json();
    if (!remote.is_string() || !button.is_string())
        throw CommandError("remote and button must both be names");
    std::unique_ptr<kobc_remotes, void (*)(kobc_remotes*)> remotes(kobc_remotes_new(),
                                                                   &kobc_remotes_free);
    char message[200] = "";
    if (!remotes || kobc_library_load(library.c_str(), remotes.get(), nullptr, nullptr, message,
                                      sizeof message) != KOBC_OK)
        throw CommandError(std::string("the library cannot be read: ") + message);
    const long r = kobc_remotes_find(remotes.get(), remote.get<std::string>().c_str());
    if (r < 0) throw CommandError("no remote \"" + remote.get<std::string>() + "\" in the library");
    const long b = kobc_remote_find_button(remotes.get(), static_cast<std::size_t>(r),
                                           button.get<std::string>().c_str());
    if (b < 0)
        throw CommandError("remote \"" + remote.get<std::string>() + "\" has no button \"" +
                           button.get<std::string>() + "\"");
    kobc_button found;
    kobc_code code;
    if (kobc_remote_button(remotes.get(), static_cast<std::size_t>(r), static_cast<std::size_t>(b),
                           &found) != KOBC_OK ||
        kobc_button_code(&found, &code, message, sizeof message) != KOBC_OK)
        throw CommandError(std::string("the button cannot be sent: ") + message);
    return formatCode(code);
}

}  // namespace

SendRequest parseSendRequest(const std::string& payload, const std::string& library) {
    if (payload.size() > kMaxPayload)
        throw CommandError("payload of " + std::to_string(payload.size()) +
                           " bytes is larger than " + std::to_string(kMaxPayload));
    const json request = json::parse(payload, nullptr, false);
    if (request.is_discarded()) throw CommandError("payload is not JSON");
    if (!request.is_object()) throw CommandError("payload must be a JSON object");

    SendRequest r;
    if (request.contains("id")) {
        const json& id = request.at("id");
        if (!id.is_string() && !id.is_number_integer() && !id.is_null())
            throw CommandError("id must be a string or a whole number");
        r.id = id;
    }
    const bool named = request.contains("remote") || request.contains("button");
    const int kinds = request.contains("ccf") + request.contains("timings") +
                      request.contains("protocol") + named;
    if (kinds == 0) throw CommandError("give one of ccf, timings, protocol, remote+button");
    if (kinds > 1) throw CommandError("give only one of ccf, timings, protocol, remote+button");

    r.emitters = static_cast<unsigned>(optionalInteger(request, "emitters", 1, 255, 1));
    r.repeat = static_cast<unsigned>(optionalInteger(request, "repeat", 0, 255, 0));
    if (request.contains("repeat_count") && !request.at("repeat_count").is_null()) {
        if (request.contains("repeat")) throw CommandError("give repeat or repeat_count, not both");
        r.repeat = static_cast<unsigned>(integerField(request, "repeat_count", 0, 255));
    }
    if (request.contains("time") && !request.at("time").is_null()) {
        const json& t = request.at("time");
        if (!t.is_number() || !std::isfinite(t.get<double>()) || t.get<double>() < 0)
            throw CommandError("time must be seconds since 1970");
        r.timed = true;
        r.time = t.get<double>();
    }
    if (named) {
        r.kind = "button";
        r.ccf = ccfFromButton(request, library);
    } else if (request.contains("ccf")) {
        r.kind = "ccf";
        r.ccf = ccfFromText(request);
    } else if (request.contains("timings")) {
        r.kind = "timings";
        r.ccf = ccfFromTimings(request);
    } else {
        r.kind = "protocol";
        r.ccf = ccfFromProtocol(request);
    }
    r.airSeconds = airSeconds(r.ccf, r.repeat);
    return r;
}

nlohmann::json requestId(const std::string& payload) {
    if (payload.size() > kMaxPayload) return nullptr;
    const nlohmann::json request = nlohmann::json::parse(payload, nullptr, false);
    if (!request.is_object() || !request.contains("id")) return nullptr;
    const nlohmann::json& id = request.at("id");
    return id.is_string() || id.is_number_integer() ? id : nlohmann::json(nullptr);
}

}  // namespace kobmqtt
