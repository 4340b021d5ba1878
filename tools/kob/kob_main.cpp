// kob: the KOB-1 from the command line. List devices, send, listen, learn,
// compare and hash codes, draw a code's timing, upgrade the firmware.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "code_commands.h"
#include "console.h"
#include "event_queue.h"
#include "ir_code.h"
#include "koblib.h"
#include "progress_bar.h"
#include "simulation.h"
#include "timing_plot.h"

namespace kob {
namespace {

using Clock = std::chrono::steady_clock;

// The operation failed or timed out (exit code 1).
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr const char* kExitCodes =
    "Exit codes: 0 success; 1 the operation failed or timed out; 2 a usage error (bad option, "
    "a code that holds no words, a file that cannot be read). Failures print one line on "
    "standard error.";

struct Options {
    std::string serial;
    double wait = 1;
    double timeout = 10;
};

Clock::time_point after(double seconds) {
    return Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
}

std::string seconds(double s) {
    std::ostringstream text;
    text << s << " s";
    return text.str();
}

std::string hex4(std::uint32_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(word));
    return text;
}

std::string joinWords(const std::vector<std::uint32_t>& words) {
    std::string text;
    for (const auto word : words)
        text += (text.empty() ? "" : " ") + hex4(word);
    return text;
}

std::string digest(const std::vector<std::uint32_t>& words) {
    std::vector<unsigned int> copy(words.begin(), words.end());
    char out[33] = {};
    kob_hash(copy.data(), static_cast<unsigned int>(copy.size()), out, sizeof out);
    return out;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::vector<std::string> deviceSerials() {
    // Again when a device arrived between asking for the size and the text.
    for (;;) {
        const unsigned int size = kob_list(nullptr, 0);
        std::string text(size, '\0');
        if (kob_list(&text[0], size) > size) continue;
        text.resize(std::strlen(text.c_str()));
        return split(text);
    }
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
    auto ports = split(text);
    for (auto& extra : sim.extraPorts())
        ports.push_back(extra);
    return ports;
}

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted = true;
}

// The library, open while this lives; events that a wait sets aside come
// back before the queue's.
class Session {
  public:
    Session(Simulation& sim) : sim_(sim) {
        sim_.prepare();
        EventQueue::openLibrary();
        sim_.start();
    }
    ~Session() {
        sim_.stop();
        kob_close();
    }

    bool next(Event& event, Clock::time_point deadline) {
        if (!held_.empty()) {
            event = std::move(held_.front());
            held_.erase(held_.begin());
            return true;
        }
        // Short waits so that Ctrl-C is seen at once.
        while (!interrupted) {
            const auto slice = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
            if (EventQueue::instance().pop(event, slice)) return true;
            if (Clock::now() >= deadline) return false;
        }
        return false;
    }

    // The devices, once they have arrived: the list is taken when it is not
    // empty and no device arrived for a moment, at the latest at the deadline.
    std::vector<std::string> devices(double waitSeconds) {
        const auto deadline = after(waitSeconds);
        auto quietFrom = Clock::now();
        for (Event event; !interrupted;) {
            const auto now = Clock::now();
            if (now >= deadline) break;
            if (!deviceSerials().empty() && now - quietFrom >= std::chrono::milliseconds(150))
                break;
            const auto until = std::min(deadline, now + std::chrono::milliseconds(50));
            if (!EventQueue::instance().pop(event, until)) continue;
            if (event.kind == Event::kStatus && event.values[0] == 0) quietFrom = Clock::now();
            held_.push_back(std::move(event));
        }
        return deviceSerials();
    }

    // The one device a command for a single device goes to.
    std::string oneDevice(const std::string& serial, double waitSeconds) {
        const auto serials = devices(waitSeconds);
        if (!serial.empty()) {
            for (const auto& s : serials)
                if (s == serial) return s;
            throw Failure("no device " + serial);
        }
        if (serials.empty()) throw Failure("no device");
        if (serials.size() > 1) throw UsageError("several devices: choose one with --serial");
        return serials.front();
    }

  private:
    Simulation& sim_;
    std::vector<Event> held_;
};

// ---- subcommands ---------------------------------------------------

int runList(Simulation& sim, const Options& o, bool json) {
    Session session(sim);
    const auto serials = session.devices(o.wait);
    nlohmann::json all = nlohmann::json::array();
    for (const auto& serial : serials) {
        const unsigned int version = kob_version(serial.c_str());
        char text[16];
        std::snprintf(text, sizeof text, "%X.%02X", version >> 8, version & 0xFF);
        if (json)
            all.push_back({{"serial", serial}, {"version", version}, {"version_text", text}});
        else
            std::printf("%s %s\n", serial.c_str(), text);
    }
    if (json) std::printf("%s\n", all.dump().c_str());
    return 0;
}

struct SendArgs {
    std::string code;
    int emitters = 1;
    int repeat = 0;
    bool stop = false;
};

int runSend(Simulation& sim, const Options& o, const SendArgs& a) {
    std::string text;
    if (!a.stop) {
        text = loadCodeText(a.code);
    }
    Session session(sim);
    auto targets = session.devices(o.wait);
    if (!o.serial.empty()) {
        if (std::find(targets.begin(), targets.end(), o.serial) == targets.end())
            throw Failure("no device " + o.serial);
        targets = {o.serial};
    }
    if (targets.empty()) throw Failure("no device");
    if (a.stop) {
        kob_stopCCF(o.serial.c_str());
        return 0;
    }
    kob_sendCCF(o.serial.c_str(), text.c_str(), static_cast<unsigned char>(a.emitters),
                static_cast<unsigned char>(a.repeat));
    std::set<std::string> waiting(targets.begin(), targets.end());
    const auto deadline = after(o.timeout);
    int result = 0;
    for (Event event; !waiting.empty() && session.next(event, deadline);) {
        if (event.kind != Event::kIRSent || !waiting.erase(event.serial)) continue;
        std::printf("%s IR Sent: %ld\n", event.serial.c_str(), event.values[0]);
        if (event.values[0] != 0) result = 1;
    }
    if (interrupted) return 0;
    if (!waiting.empty())
        throw Failure("no \"IR Sent\" from " + *waiting.begin() + " within " + seconds(o.timeout));
    return result;
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
    auto words = [&](const std::vector<std::uint32_t>& w) { line += " " + joinWords(w); };
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
            line += " raw " + hex4(static_cast<std::uint32_t>(e.values[0]));
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
        default:
            return;
    }
    std::printf("%s\n", json ? j.dump().c_str() : line.c_str());
    std::fflush(stdout);
}

int runListen(Simulation& sim, const Options& o, const ListenArgs& a) {
    Session session(sim);
    session.devices(o.wait);
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
    Session session(sim);
    const std::string target = session.oneDevice(o.serial, o.wait);
    std::string code;
    int progress = 0, frames = 0, measurements = 0, alike = 0;
    std::map<std::string, int> shapes;  // frames of each digest
    {
        // The learner prints its measurements to standard output.
        const DivertedStdout quiet(!stderrIsTerminal());
        ProgressBar bar("learning");
        bar.update(0, "waiting for frames");
        kob_learnCCF(target.c_str(), 1, a.frequency);
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
            bar.update(progress, std::to_string(frames) + " frames, " +
                                     std::to_string(measurements) + " carrier measurements");
        }
        if (code.empty()) kob_learnCCF(target.c_str(), 0, 0);
    }
    if (interrupted) return 0;
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
        std::printf("%s\n", code.c_str());
        return 0;
    }
    std::ofstream out(a.output, std::ios::binary);
    if (!(out << code << '\n') || !out.flush()) throw Failure("cannot write " + a.output);
    return 0;
}

int runCompare(const std::string& first, const std::string& second) {
    const std::string a = loadText(first), b = loadText(second);
    if (readWords(a).empty() || readWords(b).empty()) throw UsageError("no words in a code");
    const bool equal = kob_ir_compare(a.c_str(), b.c_str()) != 0;
    std::printf("%s\n", equal ? "equal" : "different");
    return equal ? 0 : 1;
}

int runHash(const std::string& words) {
    std::printf("%s\n", digest(loadWords(words)).c_str());
    return 0;
}

struct PlotArgs {
    std::string code;
    std::string output;
    bool words = false;
};

int runPlot(const PlotArgs& a) {
    std::string svg;
    if (a.words) {
        const auto words = loadWords(a.code);
        if (words.size() < 2) throw UsageError("no pulses after the leading silence");
        long gapUs = 0;
        const auto pulses = magnitudes(frameTimings(words, &gapUs));
        TimingPlot plot("Received words: " + std::to_string(pulses.size()) + " pulses after " +
                        std::to_string(gapUs) + " \u00b5s of silence");
        plot.addSequence("frame", pulses);
        svg = plot.svg();
    } else {
        const auto words = loadWords(loadCodeText(a.code));
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
    if (fallback.empty()) throw UsageError("PORT is required");
    return fallback;
}

int runUpgrade(Simulation& sim, std::string port, const std::string& file) {
    if (!std::ifstream(file, std::ios::binary)) throw UsageError("cannot read " + file);
    port = portOrDefault(sim, port);
    const int result = kob_upgrade(port.c_str(), file.c_str(), onUpgradeProgress);
    upgradeBar.reset();
    if (result != KOB_UPGRADE_OK)
        throw Failure("upgrade through " + port + " failed (" + std::to_string(result) +
                      "): " + upgradeMessage(result));
    std::printf("%s\n", upgradeMessage(result));
    return 0;
}

int runProbe(Simulation& sim, std::string port) {
    port = portOrDefault(sim, port);
    if (kob_upgrade_is_kob(port.c_str()) != 0) throw Failure("no bootloader on " + port);
    std::printf("bootloader on %s\n", port.c_str());
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
                std::printf("%s\n", port.c_str());
                return 0;
            }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    throw Failure("no new port appeared within " + seconds(o.timeout));
}

}  // namespace
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
        ->check(CLI::NonNegativeNumber);
    Simulation sim;
    sim.addOptions(app);
    std::function<int()> run;

    bool json = false;
    auto* list = app.add_subcommand("list", "serial and version of each device");
    list->add_flag("--json", json, "one JSON array of {serial, version}");
    list->callback([&] { run = [&] { return runList(sim, o, json); }; });

    SendArgs send;
    auto* sendCmd = app.add_subcommand("send", "send a CCF code and wait for \"IR Sent\"");
    sendCmd->add_option("CODE", send.code,
                        "the code, @FILE, or PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION (nec:4:8)");
    sendCmd->add_option("--emitters", send.emitters, "bitmask of the emitters (default 1)")
        ->check(CLI::Range(1, 255));
    sendCmd->add_option("--repeat", send.repeat, "repeats of the repeat sequence (default 0)")
        ->check(CLI::Range(0, 255));
    sendCmd->add_option("--timeout", o.timeout, "seconds to wait for \"IR Sent\" (default 10)");
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
    listenCmd->add_flag("--all", listen.all, "also button, digital I/O and carrier events");
    listenCmd
        ->add_option("--count", listen.count, "stop after N frames (exit 1 if they do not come)")
        ->check(CLI::PositiveNumber);
    listenCmd->add_option("--timeout", listen.timeout, "stop after S seconds")
        ->check(CLI::PositiveNumber);
    listenCmd->callback([&] { run = [&] { return runListen(sim, o, listen); }; });

    LearnArgs learn;
    auto* learnCmd = app.add_subcommand("learn", "learn a code, with a progress bar");
    learnCmd->add_option("--frequency", learn.frequency, "carrier in Hz (default: measured)")
        ->check(CLI::NonNegativeNumber);
    learnCmd->add_option("--timeout", learn.timeout, "seconds until giving up (default 30)")
        ->check(CLI::PositiveNumber);
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
    plotCmd->add_option("-o,--output", plot.output, "the SVG file to write")->required();
    plotCmd->add_flag("--words", plot.words, "the code is received words (4 us ticks), not CCF");
    plotCmd->callback([&] { run = [&] { return runPlot(plot); }; });

    addCodeCommands(app, run);

    auto* ports = app.add_subcommand("ports", "the serial ports");
    ports->callback([&] {
        run = [&] {
            sim.defaultPort();
            for (const auto& port : portNames(sim))
                std::printf("%s\n", port.c_str());
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
        if (file.empty()) throw CLI::ValidationError("FILE", "FILE is required");
        run = [&] { return runUpgrade(sim, port, file); };
    });

    auto* probe = app.add_subcommand("probe", "is a bootloader on PORT");
    probe->add_option("PORT", port, "the serial port");
    probe->callback([&] { run = [&] { return runProbe(sim, port); }; });

    auto* bootloader = app.add_subcommand(
        "bootloader", "start the device's bootloader and print the port that appears");
    bootloader->add_option("--timeout", o.timeout, "seconds to wait for the port (default 10)");
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
    try {
        return run();
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kob: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kob: %s\n", e.what());
        return 1;
    }
}
