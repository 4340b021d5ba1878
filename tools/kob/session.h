// What every subcommand that talks to devices shares: the global options,
// the library while it is open, the devices once they have arrived, and
// how a run ends (failure, Ctrl-C).
#pragma once

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "event_queue.h"

namespace kob {

class Simulation;

using Clock = std::chrono::steady_clock;

// The operation failed or timed out (exit code 1).
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Ctrl-C ended the operation (exit code 130); the text says what stopped.
struct Interrupted : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string serial;
    double wait = 1;
    double timeout = 10;
};

// Set by SIGINT and SIGTERM.
extern std::atomic<bool> interrupted;

// now + seconds (seconds are checked to be in range where they are read).
Clock::time_point after(double seconds);
// "1.5 s".
std::string seconds(double s);

// One event line as listen prints it (text or JSON) on the tool's output.
void printDeviceEvent(const Event& e, bool json);

// The library, open while this lives; events that a wait sets aside come
// back before the queue's.
class Session {
  public:
    explicit Session(Simulation& sim);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The next event, false at the deadline or on Ctrl-C.
    bool next(Event& event, Clock::time_point deadline);

    // The devices, once they have arrived: the list is taken when it is not
    // empty and no device arrived for a moment, at the latest at the deadline.
    std::vector<std::string> devices(double waitSeconds);

    // The devices a command goes to: the one --serial names, else all of
    // them. Failure when that one is not there, or none is.
    std::vector<std::string> targets(const std::string& serial, double waitSeconds);

    // The one device a command for a single device goes to.
    std::string oneDevice(const std::string& serial, double waitSeconds);

  private:
    Simulation& sim_;
    std::vector<Event> held_;
};

}  // namespace kob
