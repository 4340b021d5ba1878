// kob: the KOB-1 from the command line. List devices, send, listen, learn,
// compare and hash codes, draw a code's timing, upgrade the firmware.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "code_commands.h"
#include "code_library.h"
#include "code_runs.h"
#include "console.h"
#include "device_commands.h"
#include "event_queue.h"
#include "ir_code.h"
#include "koblib.h"
#include "number_checks.h"
#include "progress_bar.h"
#include "remote_commands.h"
#include "session.h"
#include "simulation.h"
#include "timing_plot.h"

namespace kob {
namespace {

constexpr const char* kExitCodes =
    "Exit codes: 0 success; 1 the operation failed or timed out; 2 a usage error (bad option, "
    "a code that is not what it claims, a file that cannot be read); 130 interrupted (Ctrl-C). "
    "Failures print one line on standard error.";

std::string digest(const std::vector<std::uint32_t>& words) {
    std::vector<unsigned int> copy(words.begin(), words.end());
    char out[33] = {};
    kob_hash(copy.data(), static_cast<unsigned int>(copy.size()), out, sizeof out);
    return out;
}

std::vector<std::string> portNames(Simulation& sim) {
    std::string text;
    // Again when a port appeared between asking for the length and the text.
    for (unsigned int length = 0;; text.clear()) {
        length = kob_upgrade_list_comports(nullptr, 0);
        text.assign(length + 1, '\0');
        if (kob_upgrade_list_comports(&text[0], length + 1) <= length) break;
    }
    text.resize(std::strlen(text.c_str()));  // a shorter list leaves zeros behind
    auto ports = splitList(text);
    for (auto& extra : sim.extraPorts())
        ports.push_back(extra);
    return ports;
}

void onInterrupt(int) {
    interrupted = true;
}

// During an upgrade Ctrl-C does not stop it: a cut-off upgrade leaves the
// device without firmware.
void onUpgradeInterrupt(int) {
    static const char text[] =
        "\nkob: the upgrade goes on to a safe end (stopping it now would leave the device "
        "without firmware)\n";
    if (write(2, text, sizeof text - 1) < 0) {
        // Nothing else can be done inside a signal handler.
    }
}

// ---- subcommands ---------------------------------------------------

int runList(Simulation& sim, const Options& o, bool json) {
    Session session(sim);
    auto serials = session.devices(o.wait);
    if (!o.serial.empty()) serials = session.targets(o.serial, 0);
    if (serials.empty())
        std::fprintf(stderr, "kob: no devices (waited %s)\n", seconds(o.wait).c_str());
    nlohmann::json all = nlohmann::json::array();
    for (const auto& serial : serials) {
        const unsigned int version = kob_version(serial.c_str());
        char text[16];
        std::snprintf(text, sizeof text, "%X.%02X", version >> 8, version & 0xFF);
        if (json)
            all.push_back({{"serial", serial}, {"version", version}, {"version_text", text}});
        else
            std::fprintf(toolOut(), "%s %s\n", serial.c_str(), text);
    }
    if (json) std::fprintf(toolOut(), "%s\n", all.dump().c_str());
    return 0;
}

struct SendArgs {
    std::string code;
    int emitters = 1;
    int repeat = 0;
    bool stop = false;
};

int runSend(Simulation& sim, const Options& o, const SendArgs& a) {
    if (!a.stop) return sendCode(sim, o, a.code, a.emitters, a.repeat);
    Session session(sim);
    session.targets(o.serial, o.wait);
    kob_stopCCF(o.serial.c_str());
    return 0;
}

struct ListenArgs {
    bool raw = false;
    bool json = false;
    bool all = false;
    int count = 0;
    double timeout = 0;
};

void printEvent(const Event& e, bool json) {
    nlohmann::json j{{"serial", e.serial}};
    std::string line = e.serial;
    auto words = [&](const std::vector<std::uint32_t>& w) { line += " " + wordText(w); };
    switch (e.kind) {
        case Event::kReceived: {
            double us = 0;
            for (std::size_t k = 1; k < e.words.size(); ++k)
                us += e.words[k] * KOBC_TICK_US;
            const std::string d = digest(e.words);
            j.update({{"event", "frame"},
                      {"digest", d},
                      {"words", e.words},
                      {"duration_us", us},
                      {"decode", frameDecodeJson(e.words)}});
            line += " " + d;
            words(e.words);
            line += frameDecodeText(e.words);
            break;
        }
        case Event::kRawLearn:
            j.update({{"event", "raw"}, {"header", e.values[0]}, {"words", e.words}});
            line += " raw " + wordText({static_cast<std::uint32_t>(e.values[0])});
            words(e.words);
            break;
        case Event::kStatus:
            j.update({{"event", "status"}, {"code", e.values[0]}, {"text", e.text}});
            line += " status " + std::to_string(e.values[0]) + " " + e.text;
            while (!line.empty() && line.back() == '\n')
                line.pop_back();
            break;
        case Event::kButtons:
            j.update({{"event", "buttons"}, {"values", e.values}});
            line += " buttons";
            for (const long v : e.values)
                line += " " + std::to_string(v);
            break;
        case Event::kDigitalIO:
            j.update({{"event", "digital_io"}, {"values", e.values}});
            line += " io " + std::to_string(e.values[0]) + " " + std::to_string(e.values[1]);
            break;
        case Event::kModulation: {
            const long hz = e.values[0] ? e.values[1] / e.values[0] : 0;
            j.update({{"event", "modulation"},
                      {"cycles", e.values[0]},
                      {"total", e.values[1]},
                      {"frequency_hz", hz}});
            line += " modulation " + std::to_string(e.values[0]) + " " +
                    std::to_string(e.values[1]) + " " + std::to_string(hz) + " Hz";
            break;
        }
        case Event::kWakeupInfo: {
            std::vector<std::uint32_t> bytes = e.words;
            j.update({{"event", "wakeup_info"}, {"header", e.values[0]}, {"bytes", bytes}});
            char header[8];
            std::snprintf(header, sizeof header, "%02lX", e.values[0] & 0xFF);
            line += std::string(" wake ") + header;
            for (const auto byte : bytes) {
                std::snprintf(header, sizeof header, " %02X", static_cast<unsigned>(byte & 0xFF));
                line += header;
            }
            break;
        }
        default:
            return;
    }
    std::fprintf(toolOut(), "%s\n", json ? j.dump().c_str() : line.c_str());
    std::fflush(toolOut());
}

int runListen(Simulation& sim, const Options& o, const ListenArgs& a) {
    Session session(sim);
    session.targets(o.serial, o.wait);
    const char* serial = o.serial.c_str();
    if (a.raw) kob_raw_learn_start(serial);
    if (a.all) kob_modulation(serial, 1);
    const auto deadline = a.timeout > 0 ? after(a.timeout) : Clock::time_point::max();
    int seen = 0;
    for (Event e; (a.count == 0 || seen < a.count) && session.next(e, deadline);) {
        if (!o.serial.empty() && e.serial != o.serial) continue;
        const Event::Kind wanted = a.raw ? Event::kRawLearn : Event::kReceived;
        if (e.kind == wanted)
            ++seen;
        else if (!a.all || e.kind == Event::kRawLearn || e.kind == Event::kReceived)
            continue;
        printEvent(e, a.json);
    }
    if (a.raw) kob_raw_learn_stop(serial);
    if (a.all) kob_modulation(serial, 0);
    if (!interrupted && a.count > 0 && seen < a.count)
        throw Failure("timed out after " + seconds(a.timeout) + ": " + std::to_string(seen) +
                      " of " + std::to_string(a.count) + (a.raw ? " raw reports" : " frames"));
    return 0;
}

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

int runCompare(const std::string& first, const std::string& second) {
    const std::string a = wordText(loadCode(first)), b = wordText(loadCode(second));
    const bool equal = kob_ir_compare(a.c_str(), b.c_str()) != 0;
    std::fprintf(toolOut(), "%s\n", equal ? "equal" : "different");
    return equal ? 0 : 1;
}

int runHash(const std::string& words) {
    std::fprintf(toolOut(), "%s\n", digest(loadReceived(words)).c_str());
    return 0;
}

struct PlotArgs {
    std::string code;
    std::string output;
    bool words = false;
};

int runPlot(const PlotArgs& a) {
    const auto words = a.words ? loadReceived(a.code) : loadCode(a.code);
    std::string svg;
    if (a.words) {
        long gapUs = 0;
        const auto pulses = magnitudes(frameTimings(words, &gapUs));
        TimingPlot plot("Received words: " + std::to_string(pulses.size()) + " pulses after " +
                        std::to_string(gapUs) + " \u00b5s of silence");
        plot.addSequence("frame", pulses);
        svg = plot.svg();
    } else {
        const Timings code = parseCCF(words);
        char title[160];
        std::snprintf(title, sizeof title,
                      "CCF code: carrier %.0f Hz (word %04X), once %zu pairs, repeat %zu pairs",
                      kobc_word_frequency(words[1]), static_cast<unsigned>(words[1]),
                      code.once.size() / 2, code.repeat.size() / 2);
        TimingPlot plot(title);
        if (!code.once.empty())
            plot.addSequence("once (" + std::to_string(code.once.size() / 2) + ")",
                             magnitudes(code.once));
        if (!code.repeat.empty())
            plot.addSequence("repeat (" + std::to_string(code.repeat.size() / 2) + ")",
                             magnitudes(code.repeat));
        svg = plot.svg();
    }
    if (a.output == "-") {
        if (std::fwrite(svg.data(), 1, svg.size(), toolOut()) != svg.size() ||
            std::fflush(toolOut()) != 0)
            throw Failure("cannot write the plot to standard output");
        return 0;
    }
    std::ofstream out(a.output, std::ios::binary);
    if (!(out << svg) || !out.flush()) throw Failure("cannot write " + a.output);
    return 0;
}

const char* upgradeMessage(int result) {
    switch (result) {
        case KOB_UPGRADE_OK:
            return "firmware written, verified and started";
        case KOB_UPGRADE_PORT_FAILED:
            return "cannot open the port";
        case KOB_UPGRADE_QUERY_FAILED:
            return "cannot ask the bootloader for its block size";
        case KOB_UPGRADE_ANSWER_FAILED:
            return "the bootloader did not answer the block-size query";
        case KOB_UPGRADE_NO_BLOCKS:
            return "the bootloader does not support block transfers";
        case KOB_UPGRADE_FILE_FAILED:
            return "the firmware file could not be read whole";
        case KOB_UPGRADE_WRITE_FAILED:
            return "writing a block failed";
        case KOB_UPGRADE_VERIFY_FAILED:
            return "verifying a block failed: the flash differs";
        case KOB_UPGRADE_LEAVE_FAILED:
            return "the bootloader could not be told to start the firmware";
        default:
            return "unknown result";
    }
}

// The write and verify bars of the upgrade that runs now.
std::unique_ptr<ProgressBar> upgradeBar;
int upgradePhase = -1;

void KOB_CALL onUpgradeProgress(int phase, int percent) {
    if (phase != upgradePhase) {
        upgradeBar.reset();
        upgradeBar = std::make_unique<ProgressBar>(phase == 0 ? "write " : "verify");
        upgradePhase = phase;
    }
    upgradeBar->update(percent);
}

std::string portOrDefault(Simulation& sim, const std::string& port) {
    if (!port.empty()) return port;
    const std::string fallback = sim.defaultPort();
    if (fallback.empty())
        throw UsageError("the bootloader's PORT is missing: kob upgrade PORT FILE");
    return fallback;
}

int runUpgrade(Simulation& sim, std::string port, const std::string& file) {
    if (!std::ifstream(file, std::ios::binary)) throw UsageError("cannot read " + file);
    port = portOrDefault(sim, port);
    const auto previous = std::signal(SIGINT, onUpgradeInterrupt);
    const int result = kob_upgrade(port.c_str(), file.c_str(), onUpgradeProgress);
    std::signal(SIGINT, previous);
    upgradeBar.reset();
    if (result == KOB_UPGRADE_QUERY_FAILED || result == KOB_UPGRADE_ANSWER_FAILED ||
        result == KOB_UPGRADE_NO_BLOCKS)
        throw Failure("no bootloader answered on " + port + " (" + std::to_string(result) + ": " +
                      upgradeMessage(result) + ")");
    if (result != KOB_UPGRADE_OK)
        throw Failure("upgrade through " + port + " failed (" + std::to_string(result) +
                      "): " + upgradeMessage(result));
    std::fprintf(toolOut(), "%s\n", upgradeMessage(result));
    return 0;
}

int runProbe(Simulation& sim, std::string port) {
    port = portOrDefault(sim, port);
    if (kob_upgrade_is_kob(port.c_str()) != 0) throw Failure("no bootloader on " + port);
    std::fprintf(toolOut(), "bootloader on %s\n", port.c_str());
    return 0;
}

int runBootloader(Simulation& sim, const Options& o) {
    Session session(sim);
    const std::string target = session.oneDevice(o.serial, o.wait);
    const auto before = portNames(sim);
    kob_bootloader(target.c_str());
    sim.bootloaderCommandSent();
    const auto deadline = after(o.timeout);
    while (!interrupted) {
        for (const auto& port : portNames(sim))
            if (std::find(before.begin(), before.end(), port) == before.end()) {
                std::fprintf(toolOut(), "%s\n", port.c_str());
                return 0;
            }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    throw Failure("no new port appeared within " + seconds(o.timeout));
}

}  // namespace

void printDeviceEvent(const Event& e, bool json) {
    printEvent(e, json);
}

}  // namespace kob

int main(int argc, char** argv) {
    using namespace kob;
    CLI::App app{
        "kob: list KOB-1 transceivers, send, receive and learn IR codes, decode and encode "
        "them by protocol, compare, hash and plot them, and upgrade the firmware."};
    app.footer(kExitCodes);
    app.require_subcommand(1);
    app.fallthrough();
    Options o;
    app.add_option("--serial", o.serial, "the device's serial; \"\" (default) means all devices");
    app.add_option("--wait", o.wait, "seconds to wait for devices to arrive (default 1)")
        ->check(secondsFrom(0, 3600));
    addLibraryOption(app);
    Simulation sim;
    sim.addOptions(app);
    std::function<int()> run;

    bool json = false;
    auto* list = app.add_subcommand("list", "serial and version of each device");
    list->add_flag("--json", json, "one JSON array of {serial, version}; --serial picks one");
    list->callback([&] { run = [&] { return runList(sim, o, json); }; });

    SendArgs send;
    auto* sendCmd = app.add_subcommand("send", "send a CCF code and wait for \"IR Sent\"");
    sendCmd->add_option("CODE", send.code,
                        "the code, @FILE, or PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION (nec:4:8)");
    sendCmd->add_option("--emitters", send.emitters, "bitmask of the emitters (default 1)")
        ->check(wholeFrom(1, 255));
    sendCmd->add_option("--repeat", send.repeat, "repeats of the repeat sequence (default 0)")
        ->check(wholeFrom(0, 255));
    sendCmd->add_option("--timeout", o.timeout, "seconds to wait for \"IR Sent\" (default 10)")
        ->check(secondsFrom(0, 86400, false));
    sendCmd->add_flag("--stop", send.stop, "stop the transmission on the air instead");
    sendCmd->callback([&] {
        if (send.code.empty() && !send.stop) throw CLI::ValidationError("CODE", "CODE is required");
        run = [&] { return runSend(sim, o, send); };
    });

    ListenArgs listen;
    auto* listenCmd = app.add_subcommand(
        "listen",
        "one line per received frame: serial, digest, words, \" | \" and each protocol "
        "reading (Ctrl-C stops)");
    listenCmd->add_flag("--raw", listen.raw, "raw learning data instead of frames");
    listenCmd->add_flag("--json", listen.json, "one JSON object per line");
    listenCmd->add_flag("--all", listen.all,
                        "also the device's buttons, digital I/O and carrier measurements");
    listenCmd
        ->add_option("--count", listen.count, "stop after N frames (exit 1 if they do not come)")
        ->check(wholeFrom(1, 1000000));
    listenCmd->add_option("--timeout", listen.timeout, "stop after S seconds")
        ->check(secondsFrom(0, 86400, false));
    listenCmd->callback([&] { run = [&] { return runListen(sim, o, listen); }; });

    LearnArgs learn;
    auto* learnCmd = app.add_subcommand("learn", "learn a code, with a progress bar");
    learnCmd
        ->add_option("--frequency", learn.frequency,
                     "carrier in Hz, 10000 to 500000 (default: measured)")
        ->check(wholeFrom(10000, 500000, "Hz"));
    learnCmd->add_option("--timeout", learn.timeout, "seconds until giving up (default 30)")
        ->check(secondsFrom(0, 86400, false));
    learnCmd->add_option("-o,--output", learn.output,
                         "write the code to FILE (else standard output)");
    learnCmd->callback([&] { run = [&] { return runLearn(sim, o, learn); }; });

    std::string first, second;
    auto* compare = app.add_subcommand("compare", "\"equal\" (exit 0) or \"different\" (exit 1)");
    compare->add_option("A", first, "a code, or @FILE")->required();
    compare->add_option("B", second, "a code, or @FILE")->required();
    compare->callback([&] { run = [&] { return runCompare(first, second); }; });

    std::string words;
    auto* hash = app.add_subcommand("hash", "the digest of received words");
    hash->add_option("WORDS", words, "the words, or @FILE")->required();
    hash->callback([&] { run = [&] { return runHash(words); }; });

    PlotArgs plot;
    auto* plotCmd = app.add_subcommand("plot", "an SVG timing diagram of a code");
    plotCmd
        ->add_option("CODE", plot.code, "the code, @FILE, or PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION")
        ->required();
    plotCmd->add_option("-o,--output", plot.output, "the SVG file to write (- for standard output)")
        ->required();
    plotCmd->add_flag("--words", plot.words, "the code is received words (4 us ticks), not CCF");
    plotCmd->callback([&] { run = [&] { return runPlot(plot); }; });

    addCodeCommands(app, run);

    auto* ports = app.add_subcommand("ports", "the serial ports");
    ports->callback([&] {
        run = [&] {
            sim.defaultPort();
            for (const auto& port : portNames(sim))
                std::fprintf(toolOut(), "%s\n", port.c_str());
            return 0;
        };
    });

    std::string port, file;
    auto* upgrade = app.add_subcommand("upgrade", "write an Intel HEX file through the bootloader");
    upgrade->add_option("PORT", port, "the bootloader's serial port");
    upgrade->add_option("FILE", file, "the firmware (Intel HEX)");
    upgrade->callback([&] {
        // With one argument it is the file (kob-sim supplies the port).
        if (file.empty()) std::swap(port, file);
        if (file.empty())
            throw CLI::ValidationError("FILE",
                                       "the firmware FILE is missing: kob upgrade PORT FILE");
        // One argument and no port to default to: say which one is missing.
        if (port.empty() && sim.defaultPort().empty()) {
            std::error_code error;
            const bool firmware = std::filesystem::is_regular_file(file, error);
            if (!firmware) std::swap(port, file);
            throw CLI::ValidationError(firmware ? "PORT" : "FILE",
                                       std::string(firmware ? "the bootloader's PORT is missing"
                                                            : "the firmware FILE is missing") +
                                           ": kob upgrade PORT FILE");
        }
        run = [&] { return runUpgrade(sim, port, file); };
    });

    auto* probe = app.add_subcommand("probe", "is a bootloader on PORT");
    probe->add_option("PORT", port, "the serial port");
    probe->callback([&] { run = [&] { return runProbe(sim, port); }; });

    auto* bootloader = app.add_subcommand(
        "bootloader", "start the device's bootloader and print the port that appears");
    bootloader->add_option("--timeout", o.timeout, "seconds to wait for the port (default 10)")
        ->check(secondsFrom(0, 86400, false));
    addDeviceCommands(app, sim, o, run);
    addRemoteCommands(app, sim, o, run);
    bootloader->callback([&] { run = [&] { return runBootloader(sim, o); }; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "kob: %s\n", e.what());
        return 2;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    // The library's own lines must not mix with the results.
    separateStdout();
    try {
        const int status = run();
        std::fflush(toolOut());
        return status;
    } catch (const Interrupted& e) {
        std::fprintf(stderr, "kob: interrupted: %s\n", e.what());
        return 130;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kob: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kob: %s\n", e.what());
        return 1;
    }
}
