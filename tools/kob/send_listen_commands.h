// The subcommands that list the devices, send a code and listen to what
// the devices hear.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace kob {

class Simulation;
struct Options;

// Adds list, send and listen to app; the one chosen sets run.
void addSendListenCommands(CLI::App& app, Simulation& sim, Options& options,
                           std::function<int()>& run);

}  // namespace kob
