// Home Assistant MQTT discovery for one KOB-1: a device entry with its
// infrared emitter and receiver, an event entity for received codes and a
// sensor with the last decoded code, all available while the bridge's
// status topic says "online".
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kobmqtt {

struct DiscoveryNames {
    std::string discoveryPrefix;  // "homeassistant"
    std::string base;             // "kob/<node>"
    std::string node;
    std::string bridgeVersion;
};

// [a-zA-Z0-9_-] only: every other character becomes '_'.
std::string discoveryId(const std::string& text);

// The retained topic of the device's configuration.
std::string discoveryTopic(const DiscoveryNames& names, const std::string& serial);

// The configuration (device-based discovery, one payload per device).
nlohmann::json discoveryConfig(const DiscoveryNames& names, const std::string& serial,
                               unsigned version);

}  // namespace kobmqtt
