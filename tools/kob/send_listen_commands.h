// The subcommands that list the devices, send a code and listen to what
// the devices hear.
#pragma once

#include "command.h"

namespace kob {

// Adds list, send and listen to app; the one chosen sets run.
void addSendListenCommands(CLI::App& app, Simulation& sim, Options& options, Run& run);

}  // namespace kob
