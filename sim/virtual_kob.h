// The virtual KOB-1: a model of the device firmware. It decodes every
// command report it receives and answers with input reports, over any
// number of host connections (each like an opened device node).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/hid_device.h"
#include "os/thread_annotations.h"

namespace koblib {

class VirtualPort;

class VirtualKOB {
  public:
    // payload: report length without the report-ID byte, for input and
    // output reports alike.
    VirtualKOB(std::string serial, std::uint32_t version, std::uint32_t payload);
    ~VirtualKOB();
    VirtualKOB(const VirtualKOB&) = delete;
    VirtualKOB& operator=(const VirtualKOB&) = delete;

    const std::string& serial() const { return serial_; }
    std::uint32_t version() const { return version_; }
    std::uint32_t payload() const { return payload_; }

    // A new host connection, as opening the device node gives: an
    // HIDDevice over it, or null once the device is detached.
    std::shared_ptr<HIDDevice> open();

    // Unplugs: every connection's reads fail from now on, nothing more is
    // sent or heard. Also what the bootloader command does.
    void detach();
    bool detached() const;
    // Called (on the firmware's thread) when the device detaches itself.
    void setSelfDetachListener(std::function<void()> listener);

    // Another transport for the same firmware (the kernel's uhid in the VM
    // suite): sink receives every input report payload, and the transport
    // hands each output report (report-ID byte included) to deliverOutput.
    using InputSink = std::function<void(const unsigned char* payload, std::size_t length)>;
    void setInputSink(InputSink sink);
    void deliverOutput(const unsigned char* report, std::size_t length);

    // Test controls. The device hears one frame: tick words as its receiver
    // reports them (word 0 the silence before it), the carrier in Hz.
    bool receiveFrame(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz);
    // A button report with these (button, value) pairs.
    bool pressButtons(const std::vector<std::pair<unsigned char, unsigned char>>& pairs);
    // One raw input report: payload bytes, zero-padded to the payload length.
    bool sendRaw(const unsigned char* bytes, std::size_t length);
    // The output reports received since the last call, oldest first, whole.
    std::vector<std::vector<unsigned char>> takeOutputs(std::size_t maxBytes = SIZE_MAX);
    // Waits until the log holds at least count reports; false after the
    // deadline.
    bool waitForOutputs(std::size_t count, std::chrono::milliseconds deadline);
    // Loopback of sent frames into the receiver, and the share of the real
    // air time a transmission takes (0 = at once).
    void configure(bool loopback, unsigned airTimePercent);
    // Input reports dropped so far because a connection's host did not
    // read them (its channel was full). A message is dropped whole or not
    // at all, and a transmission's completion report is never dropped: it
    // and the rest of a message begun wait until the host has room.
    unsigned dropped() const { return dropped_; }

    // The input report payloads of one message: head and as many whole
    // entries (entryWidth bytes each) as fit in the first report, then
    // whole entries from offset 0 of each following report, as the host
    // reads them; the rest of each payload is zero.
    static std::vector<std::vector<unsigned char>> messageReports(
        const std::vector<unsigned char>& head, const std::vector<unsigned char>& data,
        std::size_t entryWidth, std::size_t payload);

  private:
    struct Connection;
    // An input report on its way out: whether it begins a message, and
    // whether it is kept until the host has room (a completion report).
    struct Outgoing {
        std::vector<unsigned char> report;
        bool first = true;
        bool kept = false;
    };
    struct Timed {
        std::chrono::steady_clock::time_point at;
        std::uint64_t transmission;  // 0: not part of a transmission
        std::function<void()> action;
    };

    void readLoop(Connection* connection);
    void firmwareLoop();
    void handleOutput(const std::vector<unsigned char>& report);
    void goOnAir();
    void stopTransmission();
    void hear(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz);
    void sendMessage(const std::vector<unsigned char>& head, const std::vector<unsigned char>& data,
                     std::size_t entryWidth);
    // first: the report begins a message (the only report of most).
    void queueInput(const std::vector<unsigned char>& payload, bool first = true);
    void flushInputs(std::unique_lock<std::mutex>& lock);
    void deliverInput(const Outgoing& out) EXCLUDES(portsLock_);
    // Hands held reports to the hosts that have room now (stateLock_ is
    // let go meanwhile).
    void retryHeld(std::unique_lock<std::mutex>& lock);
    void schedule(std::chrono::steady_clock::time_point at, std::uint64_t transmission,
                  std::function<void()> action);
    void reapConnections(bool all) EXCLUDES(portsLock_);

    const std::string serial_;
    const std::uint32_t version_;
    const std::uint32_t payload_;

    // Connections and sending. No lock is ever held while a thread is
    // joined or while anything may wait: sends never wait (a full channel
    // drops the report), ended readers are joined after the lock is let go.
    mutable Mutex portsLock_;
    std::list<std::unique_ptr<Connection>> connections_ GUARDED_BY(portsLock_);
    std::atomic<bool> connectionEnded_{false};  // a reader is done: join it
    bool detached_ GUARDED_BY(portsLock_) = false;
    std::function<void()> selfDetachListener_;  // under stateLock_
    InputSink inputSink_ GUARDED_BY(portsLock_);
    std::atomic<unsigned> dropped_{0};
    std::atomic<bool> holding_{false};  // a connection holds reports

    // Firmware state, guarded by stateLock_; run on the firmware thread.
    std::mutex stateLock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::vector<unsigned char>> inbox_;
    // Input reports the firmware made, sent by its thread once it has let
    // go of stateLock_.
    std::vector<Outgoing> outbox_;
    std::vector<Timed> timers_;
    std::vector<std::vector<unsigned char>> outputLog_;
    bool loopback_ = true;
    unsigned airTimePercent_ = 100;
    bool measuring_ = false;
    bool rawLearning_ = false;
    bool wakeEnabled_ = false;
    std::vector<unsigned char> wakeBlocks_[2];
    std::vector<std::uint32_t> sendWords_;
    unsigned char sendRepeat_ = 0;
    std::uint64_t transmission_ = 0;  // the one on the air, 0 for none
    std::uint64_t nextTransmission_ = 1;
    std::chrono::steady_clock::time_point airFreeAt_{};

    std::thread firmware_;
};

}  // namespace koblib
