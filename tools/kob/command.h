// What each group of subcommands is added to kob with: the app, the
// simulation options, the global options, and the run that the subcommand
// chosen sets.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace kob {

class Simulation;
struct Options;

// Runs the subcommand chosen and gives its exit code.
using Run = std::function<int()>;

}  // namespace kob
