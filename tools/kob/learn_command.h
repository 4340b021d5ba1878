// kob learn: a code learned from a remote, with a progress bar.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace kob {

class Simulation;
struct Options;

// Adds learn to app; when chosen it sets run.
void addLearnCommand(CLI::App& app, Simulation& sim, Options& options, std::function<int()>& run);

}  // namespace kob
