// kob learn: frames and carrier measurements come in until the library has
// learned the code; a progress bar shows how far it is.
#include "learn_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "code_commands.h"
#include "code_runs.h"
#include "console.h"
#include "ir_code.h"
#include "koblib.h"
#include "number_checks.h"
#include "progress_bar.h"
#include "session.h"
#include "simulation.h"

namespace kob {

namespace {

struct LearnArgs {
    int frequency = 0;
    double timeout = 30;
    std::string output;
};

int runLearn(Simulation& sim, const Options& o, const LearnArgs& a) {
    sim.pressWhenLearning();
    Session session(sim);
    const std::string target = session.oneDevice(o.serial, o.wait);
    const std::string code = learnCode(session, sim, target, a.frequency, a.timeout);
    if (a.output.empty()) {
        std::fprintf(toolOut(), "%s\n", code.c_str());
        return 0;
    }
    std::ofstream out(a.output, std::ios::binary);
    if (!(out << code << '\n') || !out.flush()) throw Failure("cannot write " + a.output);
    return 0;
}

}  // namespace

void addLearnCommand(CLI::App& app, Simulation& sim, Options& o, std::function<int()>& run) {
    auto learn = std::make_shared<LearnArgs>();
    auto* learnCmd = app.add_subcommand("learn", "learn a code, with a progress bar");
    learnCmd
        ->add_option("--frequency", learn->frequency,
                     "carrier in Hz, 10000 to 500000 (default: measured)")
        ->check(wholeFrom(10000, 500000, "Hz"));
    learnCmd->add_option("--timeout", learn->timeout, "seconds until giving up (default 30)")
        ->check(secondsFrom(0, 86400, false));
    learnCmd->add_option("-o,--output", learn->output,
                         "write the code to FILE (else standard output)");
    learnCmd->callback([&, learn] { run = [&, learn] { return runLearn(sim, o, *learn); }; });
}

}  // namespace kob
