// kob remote: the library of remotes (list, learn, send, import, export,
// rename, remove).
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace kob {

class Simulation;
struct Options;

// Adds remote and its subcommands to app; the one chosen sets run.
void addRemoteCommands(CLI::App& app, Simulation& sim, Options& options, std::function<int()>& run);

}  // namespace kob
