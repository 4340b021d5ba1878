#include "mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kobmqtt {

namespace {
constexpr int kMaxBackoffSeconds = 30;

void logLine(const std::string& text) {
    std::fprintf(stderr, "kob-mqtt: %s\n", text.c_str());
    std::fflush(stderr);
}

// Failures of mosquitto_connect that waiting does not mend.
bool lasting(int rc) {
    return rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOT_SUPPORTED;
}
}  // namespace

MqttLink::MqttLink(Settings settings, ConnectHandler onConnect, MessageHandler onMessage,
                   FatalHandler onFatal)
    : settings_(std::move(settings)),
      connectHandler_(std::move(onConnect)),
      messageHandler_(std::move(onMessage)),
      fatalHandler_(std::move(onFatal)) {
    mosquitto_lib_init();
    // A lasting session: QoS 1 commands sent while the bridge is away wait
    // at the broker (and --max-age drops the stale ones).
    client_ = mosquitto_new(settings_.clientId.c_str(), false, this);
    if (client_ == nullptr) throw std::runtime_error("cannot create the MQTT client");
    mosquitto_threaded_set(client_, true);
    // Results follow acknowledgements at once: small packets must not wait
    // for the broker's delayed ACK.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client_, &MqttLink::onConnect);
    mosquitto_disconnect_callback_set(client_, &MqttLink::onDisconnect);
    mosquitto_message_callback_set(client_, &MqttLink::onMessage);
    mosquitto_publish_callback_set(client_, &MqttLink::onPublish);
    mosquitto_log_callback_set(client_, &MqttLink::onLog);
}

MqttLink::~MqttLink() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

void MqttLink::start() {
    if (!settings_.username.empty()) {
        const char* password = settings_.password.empty() ? nullptr : settings_.password.c_str();
        if (mosquitto_username_pw_set(client_, settings_.username.c_str(), password) !=
            MOSQ_ERR_SUCCESS)
            throw std::runtime_error("cannot set the user name");
    }
    if (!settings_.cafile.empty()) {
        const int rc =
            mosquitto_tls_set(client_, settings_.cafile.c_str(), nullptr,
                              settings_.cert.empty() ? nullptr : settings_.cert.c_str(),
                              settings_.key.empty() ? nullptr : settings_.key.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::runtime_error(std::string("TLS files refused (--cafile, --cert, --key): ") +
                                     mosquitto_strerror(rc));
    }
    if (mosquitto_will_set(client_, settings_.willTopic.c_str(),
                           static_cast<int>(settings_.willPayload.size()),
                           settings_.willPayload.data(), 1, true) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot set the last will");
    thread_ = std::thread([this] { run(); });
}

bool MqttLink::publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
    {
        // Nothing goes out before the broker has taken the connection (a
        // publish before its answer breaks the protocol); what the bridge
        // keeps (status, devices, discovery) is published again on connect.
        std::lock_guard<std::mutex> guard(lock_);
        if (!sessionUp_) return false;
    }
    return mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
}

bool MqttLink::subscribe(const std::string& pattern, int qos) {
    return mosquitto_subscribe(client_, nullptr, pattern.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

bool MqttLink::connected() const {
    std::lock_guard<std::mutex> guard(lock_);
    return connected_;
}

bool MqttLink::waitConnected(double seconds) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::duration<double>(seconds), [this] {
        return connected_ || stopping_ || fatal_;
    }) && connected_;
}

void MqttLink::stop(const std::string& finalTopic, const std::string& finalPayload, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    if (connected_) {
        int mid = 0;
        collectAcks_ = true;
        guard.unlock();
        const int rc =
            mosquitto_publish(client_, &mid, finalTopic.c_str(),
                              static_cast<int>(finalPayload.size()), finalPayload.data(), 1, true);
        guard.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
            changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [this, mid] { return acked_.count(mid) > 0 || !connected_; });
        }
    }
    stopping_ = true;
    guard.unlock();
    changed_.notify_all();
    mosquitto_disconnect(client_);
    if (thread_.joinable()) thread_.join();
}

void MqttLink::run() {
    const std::string where = settings_.host + ":" + std::to_string(settings_.port);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_ || fatal_) return;
            lastLibraryError_.clear();
        }
        int rc =
            mosquitto_connect(client_, settings_.host.c_str(), settings_.port, settings_.keepalive);
        // The TLS handshake and the broker's answer come in the loop.
        while (rc == MOSQ_ERR_SUCCESS) {
            bool stopping;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (fatal_) break;
                stopping = stopping_;
            }
            if (stopping) {
                // The disconnect stop() queues goes out through this loop;
                // a socket closed before it makes the broker send the last
                // will ("offline" a second time).
                for (int i = 0; i < 20 && mosquitto_loop(client_, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
                }
                break;
            }
            rc = mosquitto_loop(client_, 200, 1);
        }
        bool everConnected;
        {
            std::lock_guard<std::mutex> guard(lock_);
            connected_ = false;
            if (stopping_ || fatal_) return;
            everConnected = everConnected_;
            if (sessionUp_) {
                sessionUp_ = false;
                lastLogged_ = "connection to the broker at " + where + " lost";
                logLine(lastLogged_ + " (" + mosquitto_strerror(rc) + "); reconnecting");
                rc = MOSQ_ERR_SUCCESS;
            } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_REFUSED) {
                // The broker refused the connection: onConnect said why.
                rc = MOSQ_ERR_SUCCESS;
            }
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            std::string reason =
                rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
            std::string detail;
            {
                std::lock_guard<std::mutex> guard(lock_);
                detail = lastLibraryError_;
            }
            if (rc == MOSQ_ERR_TLS)
                reason = "TLS handshake failed (check --cafile, --cert, --key and the host name)" +
                         (detail.empty() ? std::string() : ": " + detail);
            const std::string line = "cannot connect to the broker at " + where + ": " + reason;
            const bool fatal = lasting(rc) && !everConnected;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (line != lastLogged_) logLine(line + (fatal ? "" : "; trying again"));
                lastLogged_ = line;
                fatal_ = fatal;
            }
            if (fatal) {
                fatalHandler_(line);
                return;
            }
        }
        changed_.notify_all();
        waitBackoff();
    }
}

void MqttLink::waitBackoff() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, std::chrono::seconds(backoffSeconds_), [this] { return stopping_; });
    backoffSeconds_ = std::min(backoffSeconds_ * 2, kMaxBackoffSeconds);
}

void MqttLink::onConnect(mosquitto* client, void* self, int rc) {
    auto* link = static_cast<MqttLink*>(self);
    if (rc != 0) {
        const std::string line = std::string("the broker refused the connection: ") +
                                 mosquitto_connack_string(rc) +
                                 (rc == 4 || rc == 5 ? " (check --username and the password)" : "");
        bool fatal;
        {
            std::lock_guard<std::mutex> guard(link->lock_);
            fatal = !link->everConnected_;
            if (line != link->lastLogged_) logLine(line + (fatal ? "" : "; trying again"));
            link->lastLogged_ = line;
            if (fatal) link->fatal_ = true;
        }
        mosquitto_disconnect(client);
        if (fatal) link->fatalHandler_(line);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(link->lock_);
        link->connected_ = true;
        link->sessionUp_ = true;
        link->everConnected_ = true;
        link->backoffSeconds_ = 1;
        link->lastLogged_.clear();
    }
    logLine("connected to the broker at " + link->settings_.host + ":" +
            std::to_string(link->settings_.port));
    link->changed_.notify_all();
    link->connectHandler_();
}

void MqttLink::onDisconnect(mosquitto*, void* self, int) {
    auto* link = static_cast<MqttLink*>(self);
    {
        std::lock_guard<std::mutex> guard(link->lock_);
        link->connected_ = false;
    }
    link->changed_.notify_all();
}

void MqttLink::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* link = static_cast<MqttLink*>(self);
    const std::string payload(static_cast<const char*>(message->payload),
                              static_cast<std::size_t>(message->payloadlen));
    link->messageHandler_(message->topic, payload);
}

void MqttLink::onPublish(mosquitto*, void* self, int mid) {
    auto* link = static_cast<MqttLink*>(self);
    {
        std::lock_guard<std::mutex> guard(link->lock_);
        if (!link->collectAcks_) return;
        link->acked_.insert(mid);
    }
    link->changed_.notify_all();
}

void MqttLink::onLog(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || text == nullptr) return;
    auto* link = static_cast<MqttLink*>(self);
    std::lock_guard<std::mutex> guard(link->lock_);
    link->lastLibraryError_ = text;
}

}  // namespace kobmqtt
