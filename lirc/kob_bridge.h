// The LIRC driver's state: one KOB-1 chosen by serial, its received frames
// as durations on the fd that the LIRC program polls, and sends that wait
// for the device's "IR Sent". One instance per process (the plugin's), as
// LIRC loads one driver.
#ifndef KOBLIB_LIRC_KOB_BRIDGE_H
#define KOBLIB_LIRC_KOB_BRIDGE_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct ir_remote;
struct ir_ncode;

namespace koblirc {

class KOBBridge {
  public:
    // Handles a driver option the bridge does not know (key, value); true
    // when taken.
    using OptionHook = std::function<bool(const std::string&, const std::string&)>;

    static KOBBridge& instance();

    // The driver's entry points (struct driver).
    int open(const char* device);
    int init();
    int deinit();
    int close();
    int send(ir_remote* remote, ir_ncode* code);
    char* receive(ir_remote* remotes);
    int control(unsigned int cmd, void* arg);
    std::uint32_t readData(std::uint32_t timeoutMicroseconds);

    void setOptionHook(OptionHook hook);

  private:
    KOBBridge() = default;

    static void onStatus(const char* serial, unsigned char code, const char* text);
    static void onSent(const char* serial, unsigned char status);
    static void onReceived(const char* serial, const char* text, const unsigned int* words,
                           unsigned int count);

    // The serial the options ask for, empty for "the first device".
    std::string wantedSerial() const;
    // Takes the first listed device when no serial is asked for and none
    // is in use. Called without lock_ held.
    void adoptFirstListed();
    // Before the first send: waits (lock_ held) until a device is there and
    // none has arrived for kDevicesSettle, at most kFirstScanWait after
    // init; then, when no serial is asked for, uses the first listed, the
    // same device whatever order they arrived in.
    void settle(std::unique_lock<std::mutex>& guard);
    // Waits (lock_ held) for the "IR Sent" of the last code, when send
    // returned before it came; false, logged, when it did not come.
    bool awaitLastCode(std::unique_lock<std::mutex>& guard);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::string optionSerial_;  // serial:S
    std::string current_;       // the device in use (or awaited)
    bool present_ = false;      // current_ is attached
    bool open_ = false;         // between init and deinit
    std::chrono::steady_clock::time_point openedAt_;
    std::chrono::steady_clock::time_point lastArrival_;
    bool settled_ = false;           // settle has chosen the device
    unsigned char emitters_ = 0x01;  // emitter 1, as kob and the Python package
    std::uint64_t sentCount_ = 0;    // "IR Sent" reports of current_
    unsigned char sentStatus_ = 0;
    std::uint64_t removals_ = 0;  // removals of current_
    // What the device hears of its own codes: dropped unless echo:1.
    bool echo_ = false;
    bool onAir_ = false;
    std::chrono::steady_clock::time_point echoUntil_;
    // A code whose "IR Sent" is still to come.
    bool awaiting_ = false;
    std::string awaitedSerial_;
    std::uint64_t awaitedCount_ = 0;
    std::uint64_t awaitedRemovals_ = 0;
    std::chrono::steady_clock::time_point awaitedBy_;
    int readFd_ = -1;
    int writeFd_ = -1;
    OptionHook optionHook_;
};

}  // namespace koblirc

#endif
