// kob: real devices only.
#include "simulation.h"

namespace kob {

struct Simulation::State {};

Simulation::Simulation() = default;
Simulation::~Simulation() = default;
void Simulation::addOptions(CLI::App&) {}
void Simulation::prepare() {}
void Simulation::start() {}
void Simulation::stop() {}
std::vector<std::string> Simulation::extraPorts() {
    return {};
}
std::string Simulation::defaultPort() {
    return {};
}
void Simulation::bootloaderCommandSent() {}
void Simulation::pressWhenLearning() {}
void Simulation::learningStarted() {}

}  // namespace kob
