// The subcommands for the device's other functions: digital I/O, blinking,
// carrier measurement, raw learning and the wake-from-suspend code.
#pragma once

#include "command.h"

namespace kob {

// Adds io, blink, carrier, raw-learn and wake to app; the one chosen sets
// run.
void addDeviceCommands(CLI::App& app, Simulation& sim, Options& options, Run& run);

}  // namespace kob
