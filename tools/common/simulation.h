// What kob-sim adds to kob: options that drive the virtual devices of
// KOBLIB_SIM. In kob these add nothing and do nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace kob {

class Simulation {
  public:
    Simulation();
    ~Simulation();

    void addOptions(CLI::App& app);
    // Before the library is opened: attach the devices asked for.
    void prepare();
    // Once the library is open: the remote starts sending.
    void start();
    // The remote stops.
    void stop();
    // Ports that the system's port list cannot show (a virtual bootloader).
    std::vector<std::string> extraPorts();
    // The port to use when none is given ("" for none).
    std::string defaultPort();
    // The device was told to start its bootloader.
    void bootloaderCommandSent();
    // Before start: the remote's button is not held from the start but
    // pressed once learningStarted is called, as a person teaching a code
    // does, and pressed again after each pause.
    void pressWhenLearning();
    // A learning run has started: the remote's button goes down now.
    void learningStarted();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kob
