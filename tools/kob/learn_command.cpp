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
    std::string code;
    int progress = 0, frames = 0, measurements = 0, alike = 0;
    std::map<std::string, int> shapes;  // frames of each digest
    {
        ProgressBar bar("learning");
        bar.update(0, "waiting for frames");
        kob_learnCCF(target.c_str(), 1, a.frequency);
        sim.learningStarted();
        const auto deadline = after(a.timeout);
        for (Event e; code.empty() && session.next(e, deadline);) {
            if (e.serial != target) continue;
            if (e.kind == Event::kReceived) {
                ++frames;
                alike = std::max(alike, ++shapes[digest(e.words)]);
            } else if (e.kind == Event::kModulation) {
                ++measurements;
            } else if (e.kind == Event::kLearn) {
                progress = static_cast<int>(e.values[0]);
                code = e.text;
            } else {
                continue;
            }
            bar.update(progress,
                       std::to_string(frames) + (frames == 1 ? " frame, " : " frames, ") +
                           std::to_string(measurements) +
                           (measurements == 1 ? " carrier measurement" : " carrier measurements"));
        }
        if (code.empty()) kob_learnCCF(target.c_str(), 0, 0);
    }
    if (interrupted)
        throw Interrupted("learning stopped at " + std::to_string(progress) + " % (" +
                          std::to_string(frames) + " frames heard)");
    if (!code.empty()) std::fprintf(stderr, "learned: %s\n", learnedProtocolText(code).c_str());
    if (code.empty()) {
        std::string lacked;
        if (alike < 10)
            lacked = "10 equal frames (" + std::to_string(frames) + " heard, at most " +
                     std::to_string(alike) + " alike)";
        else
            lacked = "a carrier frequency (" + std::to_string(measurements) +
                     " measurements; give one with --frequency)";
        throw Failure("learning did not finish within " + seconds(a.timeout) + " at " +
                      std::to_string(progress) + " %: it lacked " + lacked);
    }
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
