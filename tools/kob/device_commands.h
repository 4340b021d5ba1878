// The subcommands for the device's other functions: digital I/O, blinking,
// carrier measurement, raw learning and the wake-from-suspend code.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace kob {

class Simulation;
struct Options;

// Adds io, blink, carrier, raw-learn and wake to app; the one chosen sets
// run.
void addDeviceCommands(CLI::App& app, Simulation& sim, Options& options, std::function<int()>& run);

}  // namespace kob
