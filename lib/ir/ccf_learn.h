// The learner: turns the IR frames one device receives, and the carrier
// frequency, into one CCF code. It waits until ten frames are equal, takes
// the carrier frequency from the host or averages the device's
// measurements, and writes the first frame heard as the once sequence and
// the most frequent frame as the repeat sequence. One run at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ir/ccf.h"
#include "ir/pulse_lengths.h"
#include "os/thread_annotations.h"

namespace koblib {

class CCFLearn {
  public:
    // (serial, percent, code): code is empty while the run goes on and
    // holds the learned CCF text in the last report of a run.
    using Progress = std::function<void(const std::string&, int, const std::string&)>;
    // Asks the device with that serial to start or stop measuring the
    // carrier; only queues work, so it may be called on any thread.
    using SerialFunction = std::function<void(const std::string&)>;

    // Frames a run keeps; later ones are dropped.
    static constexpr std::size_t kMaxFrames = 20;
    // Equal frames that make a code.
    static constexpr std::uint32_t kEqualFrames = 10;
    // Carrier measurements needed before they are averaged.
    static constexpr std::size_t kMinMeasurements = 10;

    CCFLearn(Progress progress, SerialFunction modulationOn, SerialFunction modulationOff);
    virtual ~CCFLearn() = default;

    // Begins a run for serial, dropping the last one's frames, measurements
    // and bins; frequency is the carrier in Hz, or 0 or less to measure it.
    // Reports nothing.
    void start(std::int32_t frequency, const std::string& serial) EXCLUDES(lock_);

    // Ends the run at once and asks its device to stop measuring.
    void stop() EXCLUDES(lock_);

    // A receive event (the word text of one frame) of a device.
    void onFrame(const std::string& serial, const std::string& text) EXCLUDES(lock_);

    // A carrier measurement of a device: total / cycles Hz. Ignored when
    // cycles is 0.
    void onModulation(const std::string& serial, std::uint32_t cycles, std::uint32_t total)
        EXCLUDES(lock_);

    // The four operations above are serialised by a lock inside the
    // learner that is held only while they change its fields, never while
    // a callback runs: the calls they make (progress, modulation on and
    // off) are made after it is released, so that a host callback may start
    // or stop a run, and start and stop never wait for a callback (a host
    // whose callback waits for its own thread, the one that starts or
    // stops, goes on). Every start and stop counts a new run, and a report
    // is let through only while its run is the current one, checked under
    // the lock just before the call: once start or stop has returned, no
    // report of an earlier run begins. A report that had begun when they
    // were called runs to its end on its own thread.

  private:
    // The calls an operation makes once the lock is released, in this
    // order: modulation on, progress, modulation off.
    struct Calls {
        std::uint64_t run = 0;  // the run whose state they come from
        std::string serial;
        bool modulationOn = false;
        bool report = false;
        int percent = 0;
        std::string code;
        bool modulationOff = false;
    };

    Calls evaluate() REQUIRES(lock_);
    std::int32_t estimateFrequency(int& confidence) REQUIRES(lock_);
    std::string finish(std::size_t best, double averageGap, std::int32_t frequency) REQUIRES(lock_);
    void make(const Calls& calls) EXCLUDES(lock_);
    // The progress call of make, made while its run is the current one.
    void report(const Calls& calls) EXCLUDES(lock_);

    const Progress progress_;
    const SerialFunction modulationOn_;
    const SerialFunction modulationOff_;

    Mutex lock_;
    std::vector<CCF> frames_ GUARDED_BY(lock_);
    std::vector<std::uint32_t> frequencies_ GUARDED_BY(lock_);
    PulseLengths lengths_ GUARDED_BY(lock_);
    std::string serial_ GUARDED_BY(lock_);
    bool active_ GUARDED_BY(lock_) = false;
    std::int32_t givenFrequency_ GUARDED_BY(lock_) = 0;
    std::uint64_t run_ GUARDED_BY(lock_) = 0;  // counted by every start and stop
};

}  // namespace koblib
