// Home Assistant MQTT discovery for one KOB-1: a device entry with its
// infrared emitter and receiver, an event entity for received codes and a
// sensor with the last decoded code, and a button entity for each button
// of the remotes library (its own configuration, so that one can go
// alone), all available while the bridge's and the device's status
// topics say "online".
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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
// buttons: the library's buttons ("remote/BUTTON"), event types of the
// event entity besides the protocols.
nlohmann::json discoveryConfig(const DiscoveryNames& names, const std::string& serial,
                               unsigned version, const std::vector<std::string>& buttons = {});

// A library button on one device: the retained topic of its button
// entity, and its configuration (pressing it publishes the send of that
// button on the device's send topic).
std::string buttonTopic(const DiscoveryNames& names, const std::string& serial,
                        const std::string& remote, const std::string& button);
nlohmann::json buttonConfig(const DiscoveryNames& names, const std::string& serial,
                            const std::string& remote, const std::string& button);

// The serial of a button configuration this node published (read back
// from the broker's retained copy), "" for any other message.
std::string buttonConfigSerial(const DiscoveryNames& names, const std::string& topic,
                               const std::string& payload);

}  // namespace kobmqtt
