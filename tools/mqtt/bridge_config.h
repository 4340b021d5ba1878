// What kob-mqtt is told: the broker, the credentials, the names of its
// topics. From the command line and, with --config, from a file of the
// same options ("host = broker.lan").
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace kobmqtt {

struct BridgeConfig {
    std::string host = "localhost";
    int port = 0;  // 0: 1883, or 8883 with TLS
    std::string username;
    std::string passwordFile;
    std::string password;  // from passwordFile or KOB_MQTT_PASSWORD, never a flag
    std::string cafile;
    std::string cert;
    std::string key;
    std::string node;  // default: the host name
    std::string prefix = "kob";
    std::string discoveryPrefix = "homeassistant";
    bool discovery = true;
    std::string library;   // the remotes library folder (named buttons), "" none
    double maxAge = 10.0;  // seconds; older sends are dropped
    // Seconds past a code's air time that its send waits for "IR Sent".
    double sentTimeout = 10.0;
    // Seconds a device may be away before its discovery is removed.
    double removalGrace = 60.0;
    int keepalive = 30;

    // Registers every option (and --config FILE) with app.
    void addOptions(CLI::App& app);
    // After parsing: defaults that depend on others, the password, and the
    // checks. Throws std::runtime_error with a sentence for the user.
    void finish();

    bool tls() const { return !cafile.empty(); }
    int effectivePort() const { return port != 0 ? port : (tls() ? 8883 : 1883); }
};

// The password in a file: its first line. Refused (std::runtime_error) when
// the file cannot be read or others may read it.
std::string readPasswordFile(const std::string& path);

// A topic level may not hold '/', '+', '#' or be empty.
bool validTopicLevel(const std::string& level);

}  // namespace kobmqtt
