// Home Assistant MQTT discovery for one KOB-1: a device entry with its
// infrared emitter and receiver, an event entity for received codes and a
// sensor with the last decoded code, all available while the bridge's
// and the device's status topics say "online".
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

// The retained "online" / "offline" of one device: its entities are
// available while both it and the bridge's status say "online".
std::string deviceStatusTopic(const DiscoveryNames& names, const std::string& serial);

// The serial of a configuration this node published (read back from the
// broker's retained copy), "" for any other message.
std::string configSerial(const DiscoveryNames& names, const std::string& topic,
                         const std::string& payload);

// The configuration (device-based discovery, one payload per device).
nlohmann::json discoveryConfig(const DiscoveryNames& names, const std::string& serial,
                               unsigned version);

}  // namespace kobmqtt
