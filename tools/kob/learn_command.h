// kob learn: a code learned from a remote, with a progress bar.
#pragma once

#include "command.h"

namespace kob {

// Adds learn to app; when chosen it sets run.
void addLearnCommand(CLI::App& app, Simulation& sim, Options& options, Run& run);

}  // namespace kob
