// kob list, kob send, kob listen: the devices, a code on the air and what
// the devices hear.
#include "send_listen_commands.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "code_commands.h"
#include "code_runs.h"
#include "console.h"
#include "ir_code.h"
#include "koblib.h"
#include "number_checks.h"
#include "session.h"
#include "simulation.h"

namespace kob {

namespace {

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

}  // namespace

void printDeviceEvent(const Event& e, bool json) {
    printEvent(e, json);
}

void addSendListenCommands(CLI::App& app, Simulation& sim, Options& o, std::function<int()>& run) {
    auto json = std::make_shared<bool>(false);
    auto* list = app.add_subcommand("list", "serial and version of each device");
    list->add_flag("--json", *json, "one JSON array of {serial, version}; --serial picks one");
    list->callback([&, json] { run = [&, json] { return runList(sim, o, *json); }; });

    auto send = std::make_shared<SendArgs>();
    auto* sendCmd = app.add_subcommand("send", "send a CCF code and wait for \"IR Sent\"");
    sendCmd->add_option("CODE", send->code,
                        "the code, @FILE, or PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION (nec:4:8)");
    sendCmd->add_option("--emitters", send->emitters, "bitmask of the emitters (default 1)")
        ->check(wholeFrom(1, 255));
    sendCmd->add_option("--repeat", send->repeat, "repeats of the repeat sequence (default 0)")
        ->check(wholeFrom(0, 255));
    sendCmd->add_option("--timeout", o.timeout, "seconds to wait for \"IR Sent\" (default 10)")
        ->check(secondsFrom(0, 86400, false));
    sendCmd->add_flag("--stop", send->stop, "stop the transmission on the air instead");
    sendCmd->callback([&, send] {
        if (send->code.empty() && !send->stop)
            throw CLI::ValidationError("CODE", "CODE is required");
        run = [&, send] { return runSend(sim, o, *send); };
    });

    auto listen = std::make_shared<ListenArgs>();
    auto* listenCmd = app.add_subcommand(
        "listen",
        "one line per received frame: serial, digest, words, \" | \" and each protocol "
        "reading (Ctrl-C stops)");
    listenCmd->add_flag("--raw", listen->raw, "raw learning data instead of frames");
    listenCmd->add_flag("--json", listen->json, "one JSON object per line");
    listenCmd->add_flag("--all", listen->all,
                        "also the device's buttons, digital I/O and carrier measurements");
    listenCmd
        ->add_option("--count", listen->count, "stop after N frames (exit 1 if they do not come)")
        ->check(wholeFrom(1, 1000000));
    listenCmd->add_option("--timeout", listen->timeout, "stop after S seconds")
        ->check(secondsFrom(0, 86400, false));
    listenCmd->callback([&, listen] { run = [&, listen] { return runListen(sim, o, *listen); }; });
}

}  // namespace kob
