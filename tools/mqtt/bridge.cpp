#include "bridge.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "bridge_support.h"
#include "code_library.h"
#include "device_lists.h"
#include "frame_report.h"
#include "koblib.h"
#include "koblib_codes.h"
#include "mqtt_link.h"
#include "send_request.h"

#ifndef KOB_MQTT_VERSION
#define KOB_MQTT_VERSION "0"
#endif

namespace kobmqtt {

double now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1e6;
}

void logLine(const std::string& text) {
    std::fprintf(stderr, "kob-mqtt: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string folderStamp(const std::string& dir) {
    namespace fs = std::filesystem;
    std::vector<std::string> entries;
    std::error_code error;
    for (fs::directory_iterator it(fs::u8path(dir), error), end; !error && it != end;
         it.increment(error)) {
        std::error_code sizeError, timeError;
        const auto size = it->file_size(sizeError);
        const auto time = it->last_write_time(timeError);
        entries.push_back(it->path().filename().u8string() + "\t" +
                          std::to_string(sizeError ? 0 : size) + "\t" +
                          std::to_string(timeError ? 0 : time.time_since_epoch().count()));
    }
    std::sort(entries.begin(), entries.end());
    std::string stamp;
    for (const auto& e : entries)
        stamp += e + "\n";
    return stamp;
}

nlohmann::json commandObject(const std::string& payload) {
    return payload.size() > kMaxPayload ? nlohmann::json()
                                        : nlohmann::json::parse(payload, nullptr, false);
}

namespace {

// How often the library folder is looked at for changes.
constexpr auto kLibraryPoll = std::chrono::seconds(2);

// What the error message quotes of a refused payload.
constexpr std::size_t kQuotedBytes = 200;

std::string dumpJson(const nlohmann::json& message) {
    return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

Bridge* Bridge::instance_ = nullptr;

Bridge::Bridge(const BridgeConfig& config, std::function<void(const std::string&)> onFatal)
    : config_(config), base_(config.prefix + "/" + config.node), onFatal_(std::move(onFatal)) {
    names_ = {config_.discoveryPrefix, base_, config_.node, KOB_MQTT_VERSION};
    MqttLink::Settings s;
    s.host = config_.host;
    s.port = config_.effectivePort();
    s.clientId = "kob-mqtt-" + config_.node;
    s.username = config_.username;
    s.password = config_.password;
    s.cafile = config_.cafile;
    s.cert = config_.cert;
    s.key = config_.key;
    s.keepalive = config_.keepalive;
    s.willTopic = base_ + "/status";
    s.willPayload = "offline";
    link_ = std::make_unique<MqttLink>(
        s, [this] { onConnected(); },
        [this](const std::string& topic, const std::string& payload) { onMessage(topic, payload); },
        [this](const std::string& reason) { onFatal_(reason); });
}

Bridge::~Bridge() {
    stop();
}

void Bridge::start() {
    if (instance_ != nullptr) throw std::runtime_error("one bridge per process");
    instance_ = this;
    loadButtons();
    link_->start();
    if (kob_open_ex(&Bridge::statusCallback, &Bridge::irSentCallback, &Bridge::irReceivedCallback,
                    &Bridge::learnCallback, &Bridge::digitalIOCallback, &Bridge::modulationCallback,
                    nullptr, nullptr, &Bridge::buttonCallback) == nullptr)
        logLine("the device-change notifier did not start: devices plugged in later are not seen");
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    lastArrival_ = Clock::now();
    sendWatchStop_ = false;
    sendWatch_ = std::thread([this] { watchDeadlines(); });
}

bool Bridge::waitConnected(double seconds) {
    return link_->waitConnected(seconds);
}

void Bridge::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (instance_ != this) return;
        closing_ = true;
    }
    // "KOB removed" of every device comes before kob_close returns; with
    // closing_ set they stay in discovery (unavailable, not gone).
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!learning_.empty()) kob_learnCCF(learning_.c_str(), 0, 0);
        learning_.clear();
    }
    learnChanged_.notify_all();
    endLearnWatch();
    // Sends still waiting fail with their device's "KOB removed".
    kob_close();
    {
        std::lock_guard<std::mutex> guard(lock_);
        sendWatchStop_ = true;
    }
    sendsChanged_.notify_all();
    if (sendWatch_.joinable()) sendWatch_.join();
    link_->stop(base_ + "/status", "offline", 3000);
    std::lock_guard<std::mutex> guard(lock_);
    open_ = false;
    instance_ = nullptr;
}

// ---- library side (worker thread) ---------------------------------

void Bridge::statusCallback(const char* serial, unsigned char code, const char* text) {
    if (instance_ == nullptr) return;
    const std::string s = serial;
    if (code == 0) {
        instance_->deviceArrived(s);
    } else if (code == 1 && !s.empty()) {
        instance_->deviceRemoved(s);
    } else if (code == 1) {
        logLine(std::string("library: ") + text);
    }
}

void Bridge::irSentCallback(const char* serial, unsigned char status) {
    if (instance_) instance_->irSent(serial, status);
}

void Bridge::irReceivedCallback(const char* serial, const char*, const unsigned* words,
                                unsigned count) {
    if (instance_) instance_->frameReceived(serial, words, count);
}

void Bridge::digitalIOCallback(const char* serial, unsigned char first, unsigned char second) {
    if (!instance_) return;
    instance_->publishJson(instance_->base_ + "/" + serial + "/input",
                           {{"first", first}, {"second", second}, {"time", now()}}, 0, false);
}

void Bridge::modulationCallback(const char* serial, unsigned cycles, unsigned total) {
    if (!instance_ || cycles == 0) return;
    const long hz = static_cast<long>(total / cycles);
    {
        std::lock_guard<std::mutex> guard(instance_->lock_);
        auto it = instance_->devices_.find(serial);
        if (it != instance_->devices_.end()) it->second.carrierHz = hz;
    }
    instance_->publishJson(instance_->base_ + "/" + serial + "/modulation",
                           {{"hz", hz}, {"cycles", cycles}, {"total", total}, {"time", now()}}, 0,
                           false);
}

void Bridge::buttonCallback(const char* serial, int b1, int b2, int b3, int b4) {
    if (!instance_) return;
    instance_->publishJson(instance_->base_ + "/" + serial + "/button",
                           {{"buttons", {b1, b2, b3, b4}}, {"time", now()}}, 0, false);
}

void Bridge::deviceArrived(const std::string& serial) {
    const unsigned version = kob_version(serial.c_str());
    {
        std::lock_guard<std::mutex> guard(lock_);
        devices_[serial].version = version;
        gone_.erase(serial);
        unseen_.erase(serial);
        lastArrival_ = Clock::now();
    }
    logLine("device " + serial + " arrived");
    publishDeviceStatus(serial, "online");
    publishDevices();
    publishDiscovery(serial, version);
}

void Bridge::deviceRemoved(const std::string& serial) {
    std::deque<Pending> lost;
    bool closing;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = devices_.find(serial);
        if (it == devices_.end()) return;
        lost.swap(it->second.pending);
        devices_.erase(it);
        closing = closing_;
        if (!closing) markGone(serial);
    }
    sendsChanged_.notify_all();
    logLine("device " + serial + " removed");
    for (const auto& p : lost)
        publishSent(serial, p.id, "failed", "the device was removed before it sent the code");
    publishDevices();
    // An unplugged device is unavailable, and leaves Home Assistant when
    // it stays away for the grace; when the bridge stops its devices only
    // become unavailable.
    if (!closing) publishDeviceStatus(serial, "offline");
}

void Bridge::markGone(const std::string& serial) {
    gone_[serial] = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(config_.removalGrace));
}

// The device's "IR Sent" ends its oldest send (the device sends in the
// order it is given; one it never answered has timed out and is gone).
void Bridge::irSent(const std::string& serial, unsigned status) {
    Pending done;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = devices_.find(serial);
        if (it == devices_.end() || it->second.pending.empty()) return;
        done = it->second.pending.front();
        it->second.pending.pop_front();
        if (!it->second.pending.empty()) startWaiting(it->second.pending.front(), Clock::now());
    }
    sendsChanged_.notify_all();
    if (status == 0)
        publishSent(serial, done.id, "sent", "");
    else
        publishSent(serial, done.id, "failed",
                    "the device reported status " + std::to_string(status));
}

void Bridge::startWaiting(Pending& send, Clock::time_point now) const {
    send.deadline = now + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(send.airSeconds + config_.sentTimeout));
}

void Bridge::watchDeadlines() {
    std::unique_lock<std::mutex> guard(lock_);
    auto libraryLook = Clock::now() + kLibraryPoll;
    while (!sendWatchStop_) {
        auto t = Clock::now();
        auto next = Clock::time_point::max();
        // The library folder changed (kob remote, a file copied in): its
        // buttons are matched and in discovery from now on.
        if (!config_.library.empty()) {
            if (t >= libraryLook) {
                guard.unlock();
                const std::string stamp = folderStamp(config_.library);
                guard.lock();
                if (stamp != libraryStamp_) {
                    guard.unlock();
                    logLine("the library " + config_.library + " changed: read again");
                    loadButtons();
                    publishAllDiscovery();
                    guard.lock();
                }
                t = Clock::now();
                libraryLook = t + kLibraryPoll;
                if (sendWatchStop_) break;
            }
            next = libraryLook;
        }
        // Known from discovery, still not here after the devices settled.
        std::vector<std::string> away;
        if (!unseen_.empty()) {
            const auto settled = lastArrival_ + kob::kDevicesSettle;
            if (t >= settled) {
                for (const auto& serial : unseen_)
                    if (!devices_.count(serial) && !gone_.count(serial)) {
                        markGone(serial);
                        away.push_back(serial);
                    }
                unseen_.clear();
            } else {
                next = std::min(next, settled);
            }
        }
        std::vector<std::string> removed;
        for (auto it = gone_.begin(); it != gone_.end();) {
            if (it->second > t) {
                next = std::min(next, it->second);
                ++it;
                continue;
            }
            if (!devices_.count(it->first)) removed.push_back(it->first);
            it = gone_.erase(it);
        }
        std::vector<std::pair<std::string, Pending>> expired;
        for (auto& d : devices_) {
            auto& queue = d.second.pending;
            while (!queue.empty() && queue.front().deadline <= t) {
                expired.emplace_back(d.first, std::move(queue.front()));
                queue.pop_front();
                if (!queue.empty()) startWaiting(queue.front(), t);
            }
            if (!queue.empty()) next = std::min(next, queue.front().deadline);
        }
        if (!expired.empty() || !removed.empty() || !away.empty()) {
            guard.unlock();
            for (const auto& serial : away) {
                logLine("device " + serial +
                        " is not here: its discovery goes unless it comes back");
                publishDeviceStatus(serial, "offline");
            }
            for (const auto& serial : removed) {
                logLine("device " + serial + " stayed away: its discovery is removed");
                clearDiscovery(serial);
                link_->publish(deviceStatusTopic(names_, serial), "", 1, true);
            }
            for (const auto& e : expired) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "device %s did not report \"IR Sent\" within %.1f s of the code's "
                              "start",
                              e.first.c_str(), e.second.airSeconds + config_.sentTimeout);
                logLine(text);
                publishSent(e.first, e.second.id, "timeout", text);
            }
            guard.lock();
            continue;
        }
        if (next == Clock::time_point::max())
            sendsChanged_.wait(guard);
        else
            sendsChanged_.wait_until(guard, next);
    }
}

void Bridge::frameReceived(const std::string& serial, const unsigned* words, unsigned count) {
    long carrier = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = devices_.find(serial);
        if (it != devices_.end()) carrier = it->second.carrierHz;
    }
    const auto library = buttons();
    const nlohmann::json message = frameMessage(words, count, carrier, now(), library.get());
    if (message.is_null()) return;
    publishJson(base_ + "/" + serial + "/received", message, 0, false);
}

// ---- broker side (MQTT thread) --------------------------------------

void Bridge::onConnected() {
    // Only the node's own command topics, and Home Assistant's birth.
    link_->subscribe(base_ + "/send", 1);
    link_->subscribe(base_ + "/+/send", 1);
    link_->subscribe(base_ + "/+/output", 1);
    link_->subscribe(base_ + "/+/learn", 1);
    if (config_.discovery) {
        link_->subscribe(config_.discoveryPrefix + "/status", 0);
        // The retained configurations of this node: those of devices not
        // here go after the grace.
        link_->subscribe(config_.discoveryPrefix + "/device/+/config", 1);
        link_->subscribe(config_.discoveryPrefix + "/button/+/config", 1);
    }
    link_->publish(base_ + "/status", "online", 1, true);
    std::vector<std::pair<std::string, const char*>> statuses;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& d : devices_)
            statuses.emplace_back(d.first, "online");
        for (const auto& g : gone_)
            statuses.emplace_back(g.first, "offline");
    }
    for (const auto& s : statuses)
        publishDeviceStatus(s.first, s.second);
    publishDevices();
    publishAllDiscovery();
}

void Bridge::onMessage(const std::string& topic, const std::string& payload) {
    if (config_.discovery && topic == config_.discoveryPrefix + "/status") {
        if (payload == "online") publishAllDiscovery();
        return;
    }
    if (config_.discovery && topic.compare(0, config_.discoveryPrefix.size() + 8,
                                           config_.discoveryPrefix + "/button/") == 0) {
        const std::string serial =
            payload.empty() ? std::string() : buttonConfigSerial(names_, topic, payload);
        if (!serial.empty()) retainedButton(serial, topic);
        return;
    }
    if (config_.discovery && topic.compare(0, config_.discoveryPrefix.size() + 8,
                                           config_.discoveryPrefix + "/device/") == 0) {
        const std::string serial = configSerial(names_, topic, payload);
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (serial.empty() || devices_.count(serial) || gone_.count(serial)) return;
            unseen_.insert(serial);
        }
        sendsChanged_.notify_all();  // the watch tells it away once devices settle
        return;
    }
    if (topic.compare(0, base_.size() + 1, base_ + "/") != 0) return;
    const std::string rest = topic.substr(base_.size() + 1);
    if (rest == "send") return handleSend(topic, payload, "");
    const auto slash = rest.find('/');
    if (slash == std::string::npos) return;
    const std::string serial = rest.substr(0, slash);
    const std::string what = rest.substr(slash + 1);
    if (what == "send") return handleSend(topic, payload, serial);
    if (what == "output") return handleOutput(topic, payload, serial);
    if (what == "learn") return handleLearn(topic, payload, serial);
}

void Bridge::handleSend(const std::string& topic, const std::string& payload,
                        const std::string& serial) {
    SendRequest request;
    try {
        request = parseSendRequest(payload, config_.library);
    } catch (const CommandError& e) {
        return publishError(topic, payload, e.what());
    }
    if (request.timed) {
        const double age = now() - request.time;
        if (age > config_.maxAge) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "the send is %.1f s old, more than the %.1f s of --max-age: dropped", age,
                          config_.maxAge);
            if (!serial.empty()) publishSent(serial, request.id, "expired", text);
            return publishError(topic, payload, text);
        }
    }
    std::vector<std::string> targets;
    std::string refused;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!serial.empty()) {
            auto it = devices_.find(serial);
            if (it == devices_.end())
                refused = "no device " + serial + " on node " + config_.node;
            else if (it->second.pending.size() >= kMaxPendingSends)
                refused = "device " + serial + " has " + std::to_string(kMaxPendingSends) +
                          " sends waiting: refused";
            else
                targets.push_back(serial);
        } else {
            for (const auto& d : devices_)
                if (d.second.pending.size() < kMaxPendingSends) targets.push_back(d.first);
            if (targets.empty()) refused = "no device on node " + config_.node + " can send now";
        }
        const auto t0 = Clock::now();
        for (const auto& t : targets) {
            auto& queue = devices_[t].pending;
            queue.push_back({request.id, request.kind, request.airSeconds, {}});
            if (queue.size() == 1) startWaiting(queue.front(), t0);
        }
    }
    sendsChanged_.notify_all();
    if (!refused.empty()) {
        if (!serial.empty()) publishSent(serial, request.id, "failed", refused);
        return publishError(topic, payload, refused);
    }
    for (const auto& t : targets)
        kob_sendCCF(t.c_str(), request.ccf.c_str(), static_cast<unsigned char>(request.emitters),
                    static_cast<unsigned char>(request.repeat));
}

void Bridge::handleOutput(const std::string& topic, const std::string& payload,
                          const std::string& serial) {
    const nlohmann::json request = commandObject(payload);
    if (!request.is_object()) return publishError(topic, payload, "payload must be a JSON object");
    for (const char* field : {"command", "value"}) {
        if (!request.contains(field) || !request.at(field).is_number_integer() ||
            request.at(field).get<long long>() < 0 || request.at(field).get<long long>() > 255)
            return publishError(topic, payload,
                                std::string(field) + " must be a whole number in 0..255");
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!devices_.count(serial))
            return publishError(topic, payload, "no device " + serial + " on node " + config_.node);
    }
    kob_digitalIO(serial.c_str(), static_cast<unsigned char>(request.at("command").get<int>()),
                  static_cast<unsigned char>(request.at("value").get<int>()));
}

// ---- publishing --------------------------------------------------------

void Bridge::publishDevices() {
    nlohmann::json list = nlohmann::json::array();
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& d : devices_) {
            char text[16];
            std::snprintf(text, sizeof text, "%X.%02X", d.second.version >> 8,
                          d.second.version & 0xFF);
            list.push_back(
                {{"serial", d.first}, {"version", d.second.version}, {"version_text", text}});
        }
    }
    publishJson(base_ + "/devices", list, 1, true);
}

void Bridge::publishDiscovery(const std::string& serial, unsigned version) {
    if (!config_.discovery) return;
    std::lock_guard<std::mutex> publishing(discoveryLock_);
    const auto library = buttons();
    std::vector<std::string> eventTypes;
    std::map<std::string, nlohmann::json> configs;
    if (library)
        for (const auto& b : library->buttons()) {
            eventTypes.push_back(b.remote + "/" + b.button);
            configs[buttonTopic(names_, serial, b.remote, b.button)] =
                buttonConfig(names_, serial, b.remote, b.button);
        }
    publishJson(discoveryTopic(names_, serial),
                discoveryConfig(names_, serial, version, eventTypes), 1, true);
    std::vector<std::string> stale;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto& known = buttonTopics_[serial];
        for (const auto& topic : known)
            if (!configs.count(topic)) stale.push_back(topic);
        known.clear();
        for (const auto& c : configs)
            known.insert(c.first);
    }
    for (const auto& c : configs)
        publishJson(c.first, c.second, 1, true);
    for (const auto& topic : stale)
        link_->publish(topic, "", 1, true);
}

void Bridge::clearDiscovery(const std::string& serial) {
    if (!config_.discovery) return;
    std::lock_guard<std::mutex> publishing(discoveryLock_);
    link_->publish(discoveryTopic(names_, serial), "", 1, true);
    std::set<std::string> topics;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = buttonTopics_.find(serial);
        if (it != buttonTopics_.end()) {
            topics.swap(it->second);
            buttonTopics_.erase(it);
        }
    }
    for (const auto& topic : topics)
        link_->publish(topic, "", 1, true);
}

void Bridge::retainedButton(const std::string& serial, const std::string& topic) {
    std::lock_guard<std::mutex> publishing(discoveryLock_);
    bool wanted = false;
    if (const auto library = buttons())
        for (const auto& b : library->buttons())
            wanted = wanted || buttonTopic(names_, serial, b.remote, b.button) == topic;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!devices_.count(serial)) {
            // It goes with its device, or stays when the device comes back
            // and the button is still in the library.
            buttonTopics_[serial].insert(topic);
            return;
        }
        if (wanted) return;
        buttonTopics_[serial].erase(topic);
    }
    logLine("a button of device " + serial + " is no longer in the library: its entity is removed");
    link_->publish(topic, "", 1, true);
}

void Bridge::publishDeviceStatus(const std::string& serial, const char* status) {
    link_->publish(deviceStatusTopic(names_, serial), status, 1, true);
}

void Bridge::publishAllDiscovery() {
    std::map<std::string, unsigned> all;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& d : devices_)
            all[d.first] = d.second.version;
    }
    for (const auto& d : all)
        publishDiscovery(d.first, d.second);
}

void Bridge::publishError(const std::string& topic, const std::string& payload,
                          const std::string& what) {
    logLine("refused on " + topic + ": " + what);
    publishJson(base_ + "/error",
                {{"error", what}, {"topic", topic}, {"payload", payload.substr(0, kQuotedBytes)}},
                1, false);
}

void Bridge::publishSent(const std::string& serial, const nlohmann::json& id,
                         const std::string& status, const std::string& error) {
    nlohmann::json message = {{"id", id}, {"serial", serial}, {"status", status}};
    if (!error.empty()) message["error"] = error;
    publishJson(base_ + "/" + serial + "/sent", message, 1, false);
}

void Bridge::publishJson(const std::string& topic, const nlohmann::json& message, int qos,
                         bool retain) {
    link_->publish(topic, dumpJson(message), qos, retain);
}

}  // namespace kobmqtt
