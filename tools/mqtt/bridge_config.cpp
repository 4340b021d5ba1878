#include "bridge_config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace kobmqtt {

void BridgeConfig::addOptions(CLI::App& app) {
    app.set_config("--config", "", "read options from FILE (lines \"option = value\")");
    app.add_option("--host,-h", host, "broker host (default localhost)");
    app.add_option("--port,-p", port, "broker port (default 1883, 8883 with --cafile)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--username,-u", username, "user name at the broker");
    app.add_option("--password-file", passwordFile,
                   "file whose first line is the password (not readable by others); or set "
                   "KOB_MQTT_PASSWORD");
    app.add_option("--cafile", cafile, "CA certificate: connect with TLS and check the broker");
    app.add_option("--cert", cert, "client certificate (TLS)");
    app.add_option("--key", key, "client certificate's private key (TLS)");
    app.add_option("--node", node, "node name, the second topic level (default: host name)");
    app.add_option("--prefix", prefix, "first topic level (default kob)");
    app.add_option("--discovery-prefix", discoveryPrefix,
                   "Home Assistant discovery prefix (default homeassistant)");
    app.add_flag("--discovery,!--no-discovery", discovery,
                 "publish Home Assistant discovery (default on)");
    app.add_option("--library", library,
                   "remotes library folder: sends may name a button (remote + button)");
    app.add_option("--max-age", maxAge,
                   "seconds after which a send that carries its \"time\" is dropped (default 10)")
        ->check(CLI::Range(0.0, 86400.0));
    app.add_option("--sent-timeout", sentTimeout,
                   "seconds past a code's air time that a send waits for the device's \"IR "
                   "Sent\" before its result is timeout (default 10)")
        ->check(CLI::Range(0.1, 3600.0));
    app.add_option("--removal-grace", removalGrace,
                   "seconds a device may be unplugged (or missing at start) before its Home "
                   "Assistant discovery is removed (default 60)")
        ->check(CLI::Range(0.0, 86400.0));
    app.add_option("--keepalive", keepalive, "seconds between keep-alive pings (default 30)")
        ->check(CLI::Range(5, 3600));
}

void BridgeConfig::finish() {
    if (node.empty()) {
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
            throw std::runtime_error("no host name: give --node");
        node = name;
        // Only the first label: "pi.lan" is node "pi".
        node = node.substr(0, node.find('.'));
    }
    if (!validTopicLevel(node))
        throw std::runtime_error("node \"" + node + "\" is no topic level (no '/', '+', '#')");
    if (!validTopicLevel(prefix))
        throw std::runtime_error("prefix \"" + prefix + "\" is no topic level (no '/', '+', '#')");
    if (!validTopicLevel(discoveryPrefix))
        throw std::runtime_error("discovery prefix \"" + discoveryPrefix +
                                 "\" is no topic level (no '/', '+', '#')");
    if ((!cert.empty() || !key.empty()) && cafile.empty())
        throw std::runtime_error("--cert and --key need --cafile");
    if (cert.empty() != key.empty()) throw std::runtime_error("--cert and --key go together");
    if (!passwordFile.empty()) {
        password = readPasswordFile(passwordFile);
    } else if (const char* env = std::getenv("KOB_MQTT_PASSWORD")) {
        password = env;
    }
    if (!password.empty() && username.empty())
        throw std::runtime_error("a password needs --username");
}

std::string readPasswordFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw std::runtime_error("password file " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw std::runtime_error("password file " + path + " is not a regular file");
    if (st.st_mode & S_IROTH)
        throw std::runtime_error("password file " + path +
                                 " may be read by every user: refused (chmod o-r " + path + ")");
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        throw std::runtime_error("password file " + path + " cannot be read or is empty");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty())
        throw std::runtime_error("password file " + path + " has an empty first line");
    return line;
}

bool validTopicLevel(const std::string& level) {
    return !level.empty() && level.find_first_of("/+#") == std::string::npos;
}

}  // namespace kobmqtt
