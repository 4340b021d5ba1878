// The library's callbacks, turned into events that the main thread waits
// for: the callbacks run on the library's worker thread, copy what they get
// and queue it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kob {

struct Event {
    enum Kind {
        kStatus,
        kIRSent,
        kReceived,
        kLearn,
        kDigitalIO,
        kModulation,
        kRawLearn,
        kButtons,
        kWakeupInfo
    };
    Kind kind;
    std::string serial;
    std::string text;                  // status text, learned code
    std::vector<std::uint32_t> words;  // received or raw words, wake-up bytes
    std::vector<long> values;          // status code, progress, I/O, cycles/total, buttons,
                                       // wake-up header
};

class EventQueue {
  public:
    // The one queue that the callbacks fill.
    static EventQueue& instance();

    void push(Event event);
    // The next event, or false once deadline has passed with nothing
    // queued.
    bool pop(Event& event, std::chrono::steady_clock::time_point deadline);

    // Opens the library with callbacks that push to this queue.
    static void openLibrary();

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Event> events_;
};

}  // namespace kob
