// kob remote: the library of remotes (list, learn, send, import, export,
// rename, remove).
#pragma once

#include "command.h"

namespace kob {

// Adds remote and its subcommands to app; the one chosen sets run.
void addRemoteCommands(CLI::App& app, Simulation& sim, Options& options, Run& run);

}  // namespace kob
