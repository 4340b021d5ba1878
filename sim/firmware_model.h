// The KOB-1 firmware as a state machine without threads: command (output)
// reports go in, input reports and timers come out. The caller gives the
// time of each step and runs the timers when they fall due, so that a test
// drives it report by report and the virtual device over its own thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace koblib {

class FirmwareModel {
  public:
    using Clock = std::chrono::steady_clock;

    // An input report the firmware made: payload bytes (no report-ID
    // byte, zero-padded to the payload length), whether it begins a
    // message, and whether the endpoint keeps it until the host has room
    // (a transmission's completion report).
    struct Input {
        std::vector<unsigned char> report;
        bool first = true;
        bool kept = false;
    };

    // payload: input report length without the report-ID byte.
    explicit FirmwareModel(std::size_t payload);

    // One output report, report-ID byte included, received at now. True
    // when it sends the device to its bootloader: the device leaves, and
    // nothing it hears from then on has any effect.
    bool command(const std::vector<unsigned char>& report, Clock::time_point now);
    // The receiver hears a frame at the given time: tick words (word 0 the
    // silence before it), the carrier in Hz.
    void hear(Clock::time_point at, std::vector<std::uint32_t> ticks, std::uint32_t carrierHz);
    // One raw input report (payload bytes) goes out at the given time.
    void sendRaw(Clock::time_point at, std::vector<unsigned char> payload);
    // Loopback of sent frames into the receiver, and the share of the real
    // air time a transmission takes (0 = at once).
    void configure(bool loopback, unsigned airTimePercent);

    // When the earliest timer falls due; none when no timer is set.
    std::optional<Clock::time_point> nextTimer() const;
    // Runs the earliest timer if it is due by now (of timers of one time,
    // the one set first); false if none is.
    bool runDue(Clock::time_point now);
    // The input reports made since the last call, oldest first.
    std::vector<Input> takeInputs();

    // The input report payloads of one message: head and as many whole
    // entries (entryWidth bytes each) as fit in the first report, then
    // whole entries from offset 0 of each following report, as the host
    // reads them; the rest of each payload is zero.
    static std::vector<std::vector<unsigned char>> messageReports(
        const std::vector<unsigned char>& head, const std::vector<unsigned char>& data,
        std::size_t entryWidth, std::size_t payload);

  private:
    struct Timed {
        Clock::time_point at;
        std::uint64_t transmission;  // 0: not part of a transmission
        std::function<void()> action;
    };

    void goOnAir(Clock::time_point now);
    void stopTransmission(Clock::time_point now);
    void receive(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz);
    void sendMessage(const std::vector<unsigned char>& head, const std::vector<unsigned char>& data,
                     std::size_t entryWidth);
    // first: the report begins a message (the only report of most).
    void queueInput(const std::vector<unsigned char>& payload, bool first = true);
    void schedule(Clock::time_point at, std::uint64_t transmission, std::function<void()> action);

    const std::size_t payload_;
    bool left_ = false;  // gone to the bootloader
    std::vector<Input> outbox_;
    std::vector<Timed> timers_;
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
    Clock::time_point airFreeAt_{};
};

}  // namespace koblib
