// The subcommands around the firmware: the serial ports, the bootloader
// (start it, probe for it) and the upgrade through it.
#pragma once

#include "command.h"

namespace kob {

// Adds ports, upgrade, probe and bootloader to app; the one chosen sets
// run.
void addFirmwareCommands(CLI::App& app, Simulation& sim, Options& options, Run& run);

}  // namespace kob
