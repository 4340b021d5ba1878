// kob-mqtt's core: the KOB-1 transceivers of this machine on the broker.
// KOBLIB's callbacks (on its worker thread) become messages; messages on
// the node's command topics (on the MQTT thread) become device commands.
// Nothing here blocks either thread on the other: a send is queued to the
// library and its result is published when the device says "IR Sent".
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>

#include "bridge_config.h"
#include "discovery.h"

namespace kob {
class ButtonMatcher;
}

namespace kobmqtt {

class MqttLink;

class Bridge {
  public:
    // onFatal: the broker refused the bridge for good (the reason given).
    Bridge(const BridgeConfig& config, std::function<void(const std::string&)> onFatal);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Connects to the broker and opens the library. Throws
    // std::runtime_error when either cannot start.
    void start();
    // Waits (at most seconds) for the broker; true when connected.
    bool waitConnected(double seconds);
    // Publishes "offline", closes the library and the connection.
    void stop();

  private:
    using Clock = std::chrono::steady_clock;
    // A send handed to the library, waiting for the device's "IR Sent".
    // The device sends one code after another, so only the oldest send
    // of a device runs; its deadline is set when it becomes the oldest.
    struct Pending {
        nlohmann::json id;
        std::string kind;
        double airSeconds = 0;
        Clock::time_point deadline{};
    };
    // Where the learned code goes: a button of the library ("" remote:
    // only published), replacing one of that name when force.
    struct LearnTarget {
        std::string remote, button;
        bool force = false;
        std::string topic, payload;  // the command, for its error
    };
    struct Device {
        unsigned version = 0;
        long carrierHz = 0;  // the last carrier measured, 0 none
        std::deque<Pending> pending;
    };

    // KOBLIB's callbacks land here (the library has one set of callbacks,
    // so one bridge per process).
    static Bridge* instance_;
    static void statusCallback(const char* serial, unsigned char code, const char* text);
    static void irSentCallback(const char* serial, unsigned char status);
    static void irReceivedCallback(const char* serial, const char* text, const unsigned* words,
                                   unsigned count);
    static void digitalIOCallback(const char* serial, unsigned char first, unsigned char second);
    static void modulationCallback(const char* serial, unsigned cycles, unsigned total);
    static void buttonCallback(const char* serial, int b1, int b2, int b3, int b4);
    static void learnCallback(const char* serial, int progress, const char* code);

    void deviceArrived(const std::string& serial);
    void deviceRemoved(const std::string& serial);
    void irSent(const std::string& serial, unsigned status);
    void frameReceived(const std::string& serial, const unsigned* words, unsigned count);
    // With lock_ held: the deadline of the send that now runs on a device.
    void startWaiting(Pending& send, Clock::time_point now) const;
    // The thread that gives sends no "IR Sent" came for a timeout result,
    // removes the discovery of devices away longer than the grace and
    // reads the library again when its folder changes.
    void watchDeadlines();
    // With lock_ held: a device this node published is not here; unless
    // it comes back within the grace it is gone for good.
    void markGone(const std::string& serial);
    void publishDeviceStatus(const std::string& serial, const char* status);

    void onConnected();
    void onMessage(const std::string& topic, const std::string& payload);
    void handleSend(const std::string& topic, const std::string& payload,
                    const std::string& serial);
    void handleOutput(const std::string& topic, const std::string& payload,
                      const std::string& serial);
    void handleLearn(const std::string& topic, const std::string& payload,
                     const std::string& serial);
    void learned(const std::string& serial, const std::string& code);
    // The button a learn request names, checked against the library
    // (empty remote when it names none); CommandError saying what is wrong.
    LearnTarget learnTarget(const nlohmann::json& request) const;
    // Stores a learned code as target's button; the fields of the
    // "learned" message that say where, or CommandError.
    nlohmann::json storeLearned(const LearnTarget& target, const std::string& code);
    void endLearnWatch();

    // Reads the library folder again: the buttons received frames are
    // matched against and discovery offers.
    void loadButtons();
    std::shared_ptr<const kob::ButtonMatcher> buttons();

    void publishDevices();
    void publishDiscovery(const std::string& serial, unsigned version);
    void clearDiscovery(const std::string& serial);
    // A retained button configuration of this node read back: one of a
    // button no longer in the library goes (at once when its device is
    // here, else with its device).
    void retainedButton(const std::string& serial, const std::string& topic);
    void publishAllDiscovery();
    void publishError(const std::string& topic, const std::string& payload,
                      const std::string& what);
    void publishSent(const std::string& serial, const nlohmann::json& id, const std::string& status,
                     const std::string& error);
    void publishJson(const std::string& topic, const nlohmann::json& message, int qos, bool retain);

    BridgeConfig config_;
    std::string base_;  // "<prefix>/<node>"
    DiscoveryNames names_;
    std::function<void(const std::string&)> onFatal_;
    std::unique_ptr<MqttLink> link_;

    std::mutex lock_;
    std::map<std::string, Device> devices_;
    bool open_ = false;
    std::shared_ptr<const kob::ButtonMatcher> buttons_;  // null without --library
    std::string libraryStamp_;                           // the folder as buttons_ read it
    bool closing_ = false;

    // One learning run at a time (the library has one learner); a watch
    // thread ends it at its time-out.
    std::string learning_;  // the serial, "" when none
    nlohmann::json learnId_;
    LearnTarget learnTarget_;
    std::condition_variable learnChanged_;
    std::thread learnWatch_;

    // The button configurations each device has on the broker; one
    // publisher of discovery at a time (taken before lock_).
    std::map<std::string, std::set<std::string>> buttonTopics_;
    std::mutex discoveryLock_;

    // Devices away, and when their discovery goes.
    std::map<std::string, Clock::time_point> gone_;
    // Devices that discovery on the broker knows and that are not here
    // (yet): away once the devices have settled (kDevicesSettle without an
    // arrival), as every client waits for devices.
    std::set<std::string> unseen_;
    Clock::time_point lastArrival_;
    std::condition_variable sendsChanged_;
    bool sendWatchStop_ = false;
    std::thread sendWatch_;
};

// The most sends that may wait for "IR Sent" on one device.
constexpr std::size_t kMaxPendingSends = 64;

}  // namespace kobmqtt
