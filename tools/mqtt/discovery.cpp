#include "discovery.h"

#include <cstdint>
#include <cstdio>

#include "koblib_codes.h"

namespace kobmqtt {

namespace {
// The event's type: the library button the frame is, else the first
// decode's protocol, "unknown" when none.
const char kEventTemplate[] =
    "{{ {'event_type': value_json.button if value_json.button else "
    "(value_json.decoded[0].protocol if value_json.decoded else 'unknown'), "
    "'device': value_json.decoded[0].device if value_json.decoded else none, "
    "'function': value_json.decoded[0].function if value_json.decoded else none, "
    "'button': value_json.button, 'ccf': value_json.ccf} | tojson }}";
const char kSensorTemplate[] =
    "{% if value_json.decoded %}{{ value_json.decoded[0].protocol }} "
    "{{ value_json.decoded[0].device }} {{ value_json.decoded[0].function }}"
    "{% else %}unknown{% endif %}";
// FNV-1a: a button's entity id stays apart from another's whose name
// differs only in characters discoveryId replaces.
std::string nameHash(const std::string& text) {
    std::uint32_t h = 2166136261u;
    for (const unsigned char c : text)
        h = (h ^ c) * 16777619u;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", h);
    return hex;
}

std::string buttonId(const DiscoveryNames& names, const std::string& serial,
                     const std::string& remote, const std::string& button) {
    return discoveryId("kob_" + names.node + "_" + serial + "_" + remote + "_" + button) + "_" +
           nameHash(remote + "/" + button);
}

nlohmann::json availability(const DiscoveryNames& names, const std::string& serial) {
    return nlohmann::json::array(
        {nlohmann::json::object({{"t", names.base + "/status"}}),
         nlohmann::json::object({{"t", deviceStatusTopic(names, serial)}})});
}
}  // namespace

std::string discoveryId(const std::string& text) {
    std::string id = text;
    for (char& c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) c = '_';
    }
    return id;
}

std::string discoveryTopic(const DiscoveryNames& names, const std::string& serial) {
    return names.discoveryPrefix + "/device/" + discoveryId("kob_" + names.node + "_" + serial) +
           "/config";
}

std::string deviceStatusTopic(const DiscoveryNames& names, const std::string& serial) {
    return names.base + "/" + serial + "/status";
}

std::string configSerial(const DiscoveryNames& names, const std::string& topic,
                         const std::string& payload) {
    const nlohmann::json config = nlohmann::json::parse(payload, nullptr, false);
    if (!config.is_object() || !config.contains("dev") || !config["dev"].is_object()) return "";
    const nlohmann::json serial = config["dev"].value("sn", nlohmann::json());
    if (!serial.is_string()) return "";
    const std::string s = serial.get<std::string>();
    const bool ours = topic == discoveryTopic(names, s) && config.contains("avty") &&
                      config["avty"].is_array() && !config["avty"].empty() &&
                      config["avty"][0].is_object() &&
                      config["avty"][0].value("t", "") == names.base + "/status";
    return ours ? s : "";
}

nlohmann::json discoveryConfig(const DiscoveryNames& names, const std::string& serial,
                               unsigned version, const std::vector<std::string>& buttons) {
    const std::string id = discoveryId("kob_" + names.node + "_" + serial);
    const std::string topics = names.base + "/" + serial;
    char versionText[16];
    std::snprintf(versionText, sizeof versionText, "%X.%02X", version >> 8, version & 0xFF);

    nlohmann::json eventTypes = nlohmann::json::array();
    for (std::size_t n = 0; n < kobc_protocol_count(); ++n)
        eventTypes.push_back(kobc_protocol_at(n)->name);
    eventTypes.push_back("unknown");
    for (const auto& button : buttons)
        eventTypes.push_back(button);

    nlohmann::json components = {
        {"emitter",
         {{"p", "infrared"},
          {"schema", "emitter"},
          {"name", "IR emitter"},
          {"cmd_t", topics + "/send"},
          {"qos", 1},
          {"uniq_id", id + "_emitter"}}},
        {"receiver",
         {{"p", "infrared"},
          {"schema", "receiver"},
          {"name", "IR receiver"},
          {"stat_t", topics + "/received"},
          {"uniq_id", id + "_receiver"}}},
        {"code",
         {{"p", "event"},
          {"name", "IR code"},
          {"stat_t", topics + "/received"},
          {"evt_typ", eventTypes},
          {"val_tpl", kEventTemplate},
          {"uniq_id", id + "_code"}}},
        {"last_code",
         {{"p", "sensor"},
          {"name", "Last IR code"},
          {"stat_t", topics + "/received"},
          {"val_tpl", kSensorTemplate},
          {"uniq_id", id + "_last_code"}}},
    };
    return {{"dev",
             {{"ids", {"kob_" + discoveryId(serial)}},
              {"name", "KOB-1 " + serial},
              {"mdl", "KOB-1"},
              {"sn", serial},
              {"sw", versionText},
              {"via_device", discoveryId("kob_" + names.node)}}},
            {"o", {{"name", "kob-mqtt"}, {"sw", names.bridgeVersion}}},
            {"avty", availability(names, serial)},
            {"avty_mode", "all"},
            {"qos", 1},
            {"cmps", components}};
}

std::string buttonTopic(const DiscoveryNames& names, const std::string& serial,
                        const std::string& remote, const std::string& button) {
    return names.discoveryPrefix + "/button/" + buttonId(names, serial, remote, button) + "/config";
}

nlohmann::json buttonConfig(const DiscoveryNames& names, const std::string& serial,
                            const std::string& remote, const std::string& button) {
    const nlohmann::json press = {{"remote", remote}, {"button", button}};
    return {{"dev", {{"ids", {"kob_" + discoveryId(serial)}}}},
            {"o", {{"name", "kob-mqtt"}, {"sw", names.bridgeVersion}}},
            {"avty", availability(names, serial)},
            {"avty_mode", "all"},
            {"name", remote + " " + button},
            {"cmd_t", names.base + "/" + serial + "/send"},
            {"pl_prs", press.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)},
            {"qos", 1},
            {"uniq_id", buttonId(names, serial, remote, button)}};
}

std::string buttonConfigSerial(const DiscoveryNames& names, const std::string& topic,
                               const std::string& payload) {
    const std::string start = names.discoveryPrefix + "/button/";
    if (topic.compare(0, start.size(), start) != 0) return "";
    const nlohmann::json config = nlohmann::json::parse(payload, nullptr, false);
    if (!config.is_object() || !config.contains("avty") || !config["avty"].is_array() ||
        config["avty"].size() != 2 || !config["avty"][0].is_object() ||
        !config["avty"][1].is_object() ||
        config["avty"][0].value("t", "") != names.base + "/status")
        return "";
    // The device's status topic: <base>/<serial>/status.
    const std::string status = config["avty"][1].value("t", "");
    const std::string head = names.base + "/", tail = "/status";
    if (status.size() <= head.size() + tail.size() || status.compare(0, head.size(), head) != 0 ||
        status.compare(status.size() - tail.size(), tail.size(), tail) != 0)
        return "";
    const std::string serial =
        status.substr(head.size(), status.size() - head.size() - tail.size());
    return serial.find('/') == std::string::npos ? serial : "";
}

}  // namespace kobmqtt
