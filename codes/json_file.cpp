// JSON. One code as Home Assistant's infrared payload,
//   {"timings": [9000, -4500, ...], "modulation": 38000}
// (positive a pulse, negative a space; modulation the carrier in Hz, 38000
// when missing or null), read as a button "code". A remote:
//   {"name": "tv", "brand": "...", "model": "...", "notes": "...",
//    "buttons": {"POWER": {"timings": [...], "modulation": 38000},
//                "VOL+": {"protocol": "NEC1", "device": 4, "function": 2}}}
// A raw button may add "repeat": [...] (the repeat sequence, after
// "timings", the once sequence) and "duty_cycle" (percent); a protocol
// button "subdevice" and "toggle". Several remotes: a list of remotes.
#include <nlohmann/json.hpp>
#include <string>

#include "code_file.h"

namespace kobc {

namespace {

using Json = nlohmann::ordered_json;

const char kSingleName[] = "code";
constexpr long kDefaultModulation = 38000;

// The line of the first occurrence of a key, for messages (1 when absent).
std::size_t lineOf(std::string_view text, const std::string& key) {
    const std::string quotedKey = Json(key).dump();
    std::size_t at = text.find(quotedKey);
    if (at == std::string_view::npos) at = 0;
    std::size_t line = 1;
    for (std::size_t i = 0; i < at; ++i)
        line += text[i] == '\n';
    return line;
}

// A whole number within min..max (an unsigned one past the signed range
// included, which a cast would wrap).
bool whole(const Json& v, long long min, long long max, long long& out) {
    if (v.is_number_unsigned()) {
        if (v.get<unsigned long long>() > static_cast<unsigned long long>(max)) return false;
    } else if (!v.is_number_integer()) {
        return false;
    }
    out = v.get<long long>();
    return out >= min && out <= max;
}

struct Reader {
    std::string_view text;
    FileError& error;
    std::string at;  // the key a message's line is looked up by

    bool fail(const std::string& key, const std::string& what) {
        return fileError(error, lineOf(text, key.empty() ? at : key), what);
    }

    bool integer(const Json& object, const char* key, long min, long max, long& out,
                 const std::string& where, bool required) {
        const auto it = object.find(key);
        if (it == object.end() || (!required && it->is_null())) {
            if (!required) return true;
            return fail("", where + " has no \"" + key + "\"");
        }
        long long value = 0;
        if (!whole(*it, min, max, value))
            return fail("", where + ": \"" + key + "\" is not a whole number in " +
                                std::to_string(min) + ".." + std::to_string(max));
        out = static_cast<long>(value);
        return true;
    }

    bool sequence(const Json& object, const char* key, std::vector<int>& out,
                  const std::string& where, bool required) {
        const auto it = object.find(key);
        if (it == object.end()) return !required || fail("", where + " has no \"" + key + "\"");
        if (!it->is_array() || it->size() > KOBC_MAX_DURATIONS)
            return fail("", where + ": \"" + key + "\" is not a list of at most " +
                                std::to_string(KOBC_MAX_DURATIONS) + " timings");
        for (const Json& v : *it) {
            const long long most = kMaxDurationSeconds * 1000000LL;
            long long us = 0;
            if (!whole(v, -most, most, us))
                return fail("", where + ": \"" + key +
                                    "\" holds a timing that is not a whole number of at most " +
                                    std::to_string(kMaxDurationSeconds) + " s");
            out.push_back(static_cast<int>(us));
        }
        return true;
    }

    bool button(const std::string& name, const Json& j, Remote& remote) {
        const std::string where = "button " + kobc::quoted(name);
        at = name;
        if (!j.is_object()) return fail(name, where + " is not an object");
        Button b;
        b.name = name;
        if (j.contains("protocol")) {
            if (!j["protocol"].is_string())
                return fail(name, where + ": \"protocol\" is not a name");
            b.kind = KOBC_BUTTON_PROTOCOL;
            b.protocol = j["protocol"].get<std::string>();
            if (!integer(j, "device", 0, 0xFFFFFFF, b.device, where, true) ||
                !integer(j, "subdevice", -1, 0xFFFFFFF, b.subdevice, where, false) ||
                !integer(j, "function", 0, 0xFFFFFFF, b.function, where, true) ||
                !integer(j, "toggle", -1, 1, b.toggle, where, false))
                return false;
        } else {
            std::vector<int> once, repeat;
            long modulation = kDefaultModulation, duty = 0;
            if (!sequence(j, "timings", once, where, true) ||
                !sequence(j, "repeat", repeat, where, false) ||
                !integer(j, "modulation", 0, 1000000, modulation, where, false) ||
                !integer(j, "duty_cycle", 0, 100, duty, where, false))
                return false;
            if (once.empty() && repeat.empty()) return fail(name, where + ": \"timings\" is empty");
            if (once.size() + repeat.size() > KOBC_MAX_DURATIONS)
                return fail(
                    name, where + ": more than " + std::to_string(KOBC_MAX_DURATIONS) + " timings");
            b = rawButton(name, modulation, static_cast<int>(duty), once, repeat);
        }
        return addReadButton(remote, std::move(b), lineOf(text, name), error);
    }

    bool optionalText(const Json& j, const char* key, std::string& out) {
        const auto it = j.find(key);
        if (it == j.end() || it->is_null()) return true;
        std::string why;
        if (!it->is_string() || !validField(it->get<std::string>(), why))
            return fail(key, std::string("\"") + key + "\" is not a line of text");
        out = it->get<std::string>();
        return true;
    }

    bool remote(const Json& j, const std::string& defaultName, std::vector<Remote>& out) {
        if (!j.is_object()) return fail("", "a remote is not an object");
        Remote r;
        r.name = defaultName;
        if (j.contains("timings")) {
            if (!button(kSingleName, j, r)) return false;
            out.push_back(std::move(r));
            return true;
        }
        const auto name = j.find("name");
        if (name != j.end()) {
            if (!name->is_string()) return fail("name", "\"name\" is not a text");
            r.name = name->get<std::string>();
        }
        if (!optionalText(j, "brand", r.brand) || !optionalText(j, "model", r.model) ||
            !optionalText(j, "notes", r.notes))
            return false;
        const auto buttons = j.find("buttons");
        if (buttons == j.end() || !buttons->is_object())
            return fail("buttons", "remote " + kobc::quoted(r.name) +
                                       " has no \"buttons\" object (nor \"timings\")");
        for (auto it = buttons->begin(); it != buttons->end(); ++it)
            if (!button(it.key(), it.value(), r)) return false;
        out.push_back(std::move(r));
        return true;
    }
};

std::string sequenceText(const int* d, std::size_t count) {
    std::string out = "[";
    for (std::size_t i = 0; i < count; ++i)
        out += (i ? ", " : "") + std::to_string(d[i]);
    return out + "]";
}

bool writeButton(const Button& b, std::string& out, FileError& error) {
    out += "    " + Json(b.name).dump() + ": {";
    if (b.kind == KOBC_BUTTON_PROTOCOL) {
        out += "\"protocol\": " + Json(b.protocol).dump() +
               ", \"device\": " + std::to_string(b.device);
        if (b.subdevice != KOBC_NONE) out += ", \"subdevice\": " + std::to_string(b.subdevice);
        out += ", \"function\": " + std::to_string(b.function);
        if (b.toggle != KOBC_NONE) out += ", \"toggle\": " + std::to_string(b.toggle);
        out += "}";
        return true;
    }
    static thread_local kobc_code code;
    if (!buttonTimings(b, code, error)) return false;
    out += "\"timings\": " + sequenceText(code.durations, code.once_count);
    if (code.repeat_count > 0)
        out += ", \"repeat\": " + sequenceText(code.durations + code.once_count, code.repeat_count);
    out += ", \"modulation\": " + std::to_string(code.carrier_hz);
    if (b.dutyPercent > 0) out += ", \"duty_cycle\": " + std::to_string(b.dutyPercent);
    out += "}";
    return true;
}

bool writeRemote(const Remote& r, std::string& out, FileError& error, const char* indent) {
    out += std::string(indent) + "{\"name\": " + Json(r.name).dump();
    if (!r.brand.empty()) out += ", \"brand\": " + Json(r.brand).dump();
    if (!r.model.empty()) out += ", \"model\": " + Json(r.model).dump();
    if (!r.notes.empty()) out += ", \"notes\": " + Json(r.notes).dump();
    out += ",\n" + std::string(indent) + " \"buttons\": {";
    for (std::size_t i = 0; i < r.buttons.size(); ++i) {
        out += i ? ",\n" : "\n";
        out += indent;
        if (!writeButton(r.buttons[i], out, error)) return false;
    }
    out += "}}";
    return true;
}

}  // namespace

bool looksLikeJson(std::string_view text) {
    const std::string_view t = trim(text);
    return !t.empty() && (t.front() == '{' || t.front() == '[');
}

bool readJson(std::string_view text, const std::string& defaultName, std::vector<Remote>& out,
              FileError& error) {
    Json j;
    try {
        j = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        std::size_t line = 1;
        for (std::size_t i = 0; i + 1 < e.byte && i < text.size(); ++i)
            line += text[i] == '\n';
        std::string what = e.what();
        const std::size_t cut = what.find("syntax error");
        return fileError(error, line,
                         "not JSON: " + (cut == std::string::npos ? what : what.substr(cut)));
    }
    Reader reader{text, error, {}};
    if (j.is_array()) {
        for (const Json& r : j)
            if (!reader.remote(r, defaultName, out)) return false;
        if (out.empty()) return fileError(error, 1, "the list holds no remote");
        return true;
    }
    return reader.remote(j, defaultName, out);
}

bool writeJson(const std::vector<const Remote*>& remotes, std::string& out, FileError& error) {
    out.clear();
    if (remotes.size() == 1) {
        if (!writeRemote(*remotes.front(), out, error, "")) return false;
        out += "\n";
        return true;
    }
    out = "[";
    for (std::size_t i = 0; i < remotes.size(); ++i) {
        out += i ? ",\n" : "\n";
        if (!writeRemote(*remotes[i], out, error, " ")) return false;
    }
    out += "\n]\n";
    return true;
}

}  // namespace kobc
