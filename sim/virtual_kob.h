// The virtual KOB-1: the firmware model (firmware_model.h) behind any
// number of host connections (each like an opened device node). Each
// connection's reader hands the command reports to the firmware thread,
// which runs the model and delivers its input reports to every host.
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
#include "firmware_model.h"
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

  private:
    struct Connection;

    void readLoop(Connection* connection) EXCLUDES(stateLock_);
    void firmwareLoop() EXCLUDES(stateLock_, portsLock_);
    void deliverInputs(const std::vector<FirmwareModel::Input>& inputs) EXCLUDES(portsLock_);
    // Hands held reports to the hosts that have room now.
    void retryHeld() EXCLUDES(portsLock_);
    void reapConnections(bool all) EXCLUDES(portsLock_);

    const std::string serial_;
    const std::uint32_t version_;
    const std::uint32_t payload_;

    // Connections and sending. No lock is ever held while a thread is
    // joined or while anything may wait: sends never wait (a full channel
    // drops the report), ended readers are joined after the lock is let go.
    // The two locks are never held together.
    mutable Mutex portsLock_;
    std::list<std::unique_ptr<Connection>> connections_ GUARDED_BY(portsLock_);
    std::atomic<bool> connectionEnded_{false};  // a reader is done: join it
    bool detached_ GUARDED_BY(portsLock_) = false;
    InputSink inputSink_ GUARDED_BY(portsLock_);
    std::atomic<unsigned> dropped_{0};
    std::atomic<bool> holding_{false};  // a connection holds reports

    // The firmware and what comes to it, run on the firmware thread. Its
    // input reports are sent once that thread has let go of stateLock_.
    Mutex stateLock_;
    std::condition_variable wake_;
    bool stopping_ GUARDED_BY(stateLock_) = false;
    std::function<void()> selfDetachListener_ GUARDED_BY(stateLock_);
    std::vector<std::vector<unsigned char>> inbox_ GUARDED_BY(stateLock_);
    std::vector<std::vector<unsigned char>> outputLog_ GUARDED_BY(stateLock_);
    FirmwareModel model_ GUARDED_BY(stateLock_);

    std::thread firmware_;
};

}  // namespace koblib
