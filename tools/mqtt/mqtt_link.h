// The bridge's connection to the broker over libmosquitto: connects (TLS,
// user and password, a retained last will), keeps reconnecting with
// backoff while the broker is away, and hands every message to a handler.
// One thread of its own does the network; publish may be called from any
// thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace kobmqtt {

class MqttLink {
  public:
    struct Settings {
        std::string host;
        int port = 1883;
        std::string clientId;
        std::string username;
        std::string password;
        std::string cafile;
        std::string cert;
        std::string key;
        int keepalive = 30;
        std::string willTopic;
        std::string willPayload;
    };
    // On every (re)connection, on the network thread: subscribe, publish.
    using ConnectHandler = std::function<void()>;
    using MessageHandler =
        std::function<void(const std::string& topic, const std::string& payload)>;
    // The broker refused the first connection for a reason that retrying
    // does not mend (credentials, certificates): the text says which.
    using FatalHandler = std::function<void(const std::string& reason)>;

    MqttLink(Settings settings, ConnectHandler onConnect, MessageHandler onMessage,
             FatalHandler onFatal);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts the network thread. Throws std::runtime_error when the client
    // cannot be set up (bad TLS files).
    void start();
    // Queues a message; false when it cannot be queued now (not connected).
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain);
    bool subscribe(const std::string& pattern, int qos);
    // Publishes the final message, waits (at most timeoutMs) for the broker
    // to take it, disconnects and ends the thread.
    void stop(const std::string& finalTopic, const std::string& finalPayload, int timeoutMs);

    bool connected() const;
    // Waits until connected or the bound passes (or stop); true when connected.
    bool waitConnected(double seconds);

  private:
    void run();
    void waitBackoff();
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    Settings settings_;
    ConnectHandler connectHandler_;
    MessageHandler messageHandler_;
    FatalHandler fatalHandler_;
    mosquitto* client_ = nullptr;
    std::thread thread_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool connected_ = false;
    bool sessionUp_ = false;  // the broker took this connection
    bool everConnected_ = false;
    bool fatal_ = false;
    int backoffSeconds_ = 1;
    bool collectAcks_ = false;  // while stopping: which publishes the broker took
    std::set<int> acked_;
    std::string lastLibraryError_;
    std::string lastLogged_;  // the last failure logged, not repeated while it stays the same
};

}  // namespace kobmqtt
