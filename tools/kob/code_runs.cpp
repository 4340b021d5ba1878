#include "code_runs.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "code_commands.h"
#include "console.h"
#include "ir_code.h"
#include "koblib.h"
#include "progress_bar.h"
#include "session.h"
#include "simulation.h"

namespace kob {

namespace {

// The shape of a frame, as kob_hash gives it: equal frames, equal texts.
std::string shapeOf(const std::vector<std::uint32_t>& words) {
    std::vector<unsigned int> copy(words.begin(), words.end());
    char out[33] = {};
    kob_hash(copy.data(), static_cast<unsigned int>(copy.size()), out, sizeof out);
    return out;
}

}  // namespace

int sendCode(Simulation& sim, const Options& o, const std::string& code, int emitters, int repeat) {
    const std::string text = wordText(loadCode(code));
    Session session(sim);
    const auto targets = session.targets(o.serial, o.wait);
    kob_sendCCF(o.serial.c_str(), text.c_str(), static_cast<unsigned char>(emitters),
                static_cast<unsigned char>(repeat));
    std::set<std::string> waiting(targets.begin(), targets.end());
    const auto deadline = after(o.timeout);
    int result = 0;
    for (Event event; !waiting.empty() && session.next(event, deadline);) {
        if (event.kind != Event::kIRSent || !waiting.erase(event.serial)) continue;
        std::fprintf(toolOut(), "%s IR Sent: %ld\n", event.serial.c_str(), event.values[0]);
        if (event.values[0] != 0) result = 1;
    }
    if (interrupted) {
        kob_stopCCF(o.serial.c_str());
        throw Interrupted("the send was stopped before every device said \"IR Sent\"");
    }
    if (!waiting.empty())
        throw Failure("no \"IR Sent\" from " + *waiting.begin() + " within " + seconds(o.timeout));
    return result;
}

std::string learnCode(Session& session, Simulation& sim, const std::string& target, int frequency,
                      double timeout) {
    std::string code;
    int progress = 0, frames = 0, measurements = 0, alike = 0;
    std::map<std::string, int> shapes;  // frames of each shape
    {
        ProgressBar bar("learning");
        bar.update(0, "waiting for frames");
        kob_learnCCF(target.c_str(), 1, frequency);
        sim.learningStarted();
        const auto deadline = after(timeout);
        for (Event e; code.empty() && session.next(e, deadline);) {
            if (e.serial != target) continue;
            if (e.kind == Event::kReceived) {
                ++frames;
                alike = std::max(alike, ++shapes[shapeOf(e.words)]);
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
    if (code.empty()) {
        std::string lacked;
        if (alike < 10)
            lacked = "10 equal frames (" + std::to_string(frames) + " heard, at most " +
                     std::to_string(alike) + " alike)";
        else
            lacked = "a carrier frequency (" + std::to_string(measurements) +
                     " measurements; give one with --frequency)";
        throw Failure("learning did not finish within " + seconds(timeout) + " at " +
                      std::to_string(progress) + " %: it lacked " + lacked);
    }
    std::fprintf(stderr, "learned: %s\n", learnedProtocolText(code).c_str());
    return code;
}

}  // namespace kob
