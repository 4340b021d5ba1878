// The subcommands around the firmware: the serial ports, the bootloader
// (start it, probe for it) and the upgrade through it.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace kob {

class Simulation;
struct Options;

// Adds ports, upgrade, probe and bootloader to app; the one chosen sets
// run.
void addFirmwareCommands(CLI::App& app, Simulation& sim, Options& options,
                         std::function<int()>& run);

}  // namespace kob
