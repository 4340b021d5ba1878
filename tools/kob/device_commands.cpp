#include "device_commands.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ir_code.h"
#include "koblib.h"
#include "number_checks.h"
#include "session.h"
#include "simulation.h"

namespace kob {

namespace {

// Prints the events of kind from the targets until each has given count
// of them (count 0: one each for every target), at the latest at the
// deadline; Failure when some did not.
void collect(Session& session, const std::vector<std::string>& targets, Event::Kind kind, int count,
             double timeout, bool json, const std::string& what) {
    std::map<std::string, int> missing;
    for (const auto& serial : targets)
        missing[serial] = count;
    const auto deadline = after(timeout);
    for (Event e; !missing.empty() && session.next(e, deadline);) {
        const auto it = missing.find(e.serial);
        if (e.kind != kind || it == missing.end()) continue;
        printDeviceEvent(e, json);
        if (--it->second == 0) missing.erase(it);
    }
    if (interrupted) throw Interrupted("stopped while waiting for " + what);
    if (!missing.empty())
        throw Failure("no " + what + " from " + missing.begin()->first + " within " +
                      seconds(timeout));
}

// What the waiting subcommands share.
struct Wait {
    int count = 1;
    double timeout = 10;
    bool json = false;

    void addTo(CLI::App* command, const char* counted) {
        command->add_option("--count", count, std::string("stop after N ") + counted)
            ->check(wholeFrom(1, 1000000));
        command->add_option("--timeout", timeout, "seconds to wait (default 10)")
            ->check(secondsFrom(0, 86400, false));
        command->add_flag("--json", json, "one JSON object per line");
    }
};

struct IOArgs {
    int command = 0;
    int value = 0;
    Wait wait;
};

int runIO(Simulation& sim, const Options& o, const IOArgs& a) {
    Session session(sim);
    const auto targets = session.targets(o.serial, o.wait);
    kob_digitalIO(o.serial.c_str(), static_cast<unsigned char>(a.command),
                  static_cast<unsigned char>(a.value));
    collect(session, targets, Event::kDigitalIO, 1, a.wait.timeout, a.wait.json,
            "digital I/O report");
    return 0;
}

int runBlink(Simulation& sim, const Options& o, int value) {
    Session session(sim);
    session.targets(o.serial, o.wait);
    // The device does not answer; the worker writes what is queued before
    // the library closes.
    kob_blink(o.serial.c_str(), value);
    return 0;
}

int runCarrier(Simulation& sim, const Options& o, const Wait& w) {
    Session session(sim);
    const auto targets = session.targets(o.serial, o.wait);
    kob_modulation(o.serial.c_str(), 1);
    try {
        collect(session, targets, Event::kModulation, w.count, w.timeout, w.json,
                "carrier measurement");
    } catch (...) {
        kob_modulation(o.serial.c_str(), 0);
        throw;
    }
    kob_modulation(o.serial.c_str(), 0);
    return 0;
}

int runRawLearn(Simulation& sim, const Options& o, const Wait& w) {
    Session session(sim);
    const auto targets = session.targets(o.serial, o.wait);
    kob_raw_learn_start(o.serial.c_str());
    try {
        collect(session, targets, Event::kRawLearn, w.count, w.timeout, w.json, "raw report");
    } catch (...) {
        kob_raw_learn_stop(o.serial.c_str());
        throw;
    }
    kob_raw_learn_stop(o.serial.c_str());
    return 0;
}

struct WakeArgs {
    int flag = 0;
    std::string bytes;
    int value = 0;
    Wait wait;
};

// "01 02 FF" or "0102FF" as bytes.
std::vector<unsigned char> hexBytes(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == ',' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw UsageError("the wake code is hexadecimal bytes (\"01 02 FF\"), not \"" +
                             text.substr(0, 24) + "\"");
        digits += c;
    }
    if (digits.size() % 2) throw UsageError("the wake code has an odd number of hex digits");
    std::vector<unsigned char> bytes;
    for (std::size_t k = 0; k < digits.size(); k += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(digits.substr(k, 2), nullptr, 16)));
    if (bytes.size() > 255)
        throw UsageError("the wake code has " + std::to_string(bytes.size()) +
                         " bytes; at most 255 fit");
    return bytes;
}

int runWake(Simulation& sim, const Options& o, const std::string& action, const WakeArgs& a) {
    std::vector<unsigned char> bytes;
    if (action == "program") bytes = hexBytes(a.bytes);
    Session session(sim);
    // The wake commands address one device by its exact serial.
    const std::string target = session.oneDevice(o.serial, o.wait);
    if (action == "enable") {
        kob_enable_wake_from_suspend(target.c_str());
    } else if (action == "disable") {
        kob_disable_wake_from_suspend(target.c_str());
    } else if (action == "program") {
        kob_program_wake_from_suspend(target.c_str(), a.flag, bytes.data(),
                                      static_cast<unsigned int>(bytes.size()));
    } else {
        kob_request_wakeup_info(target.c_str(), static_cast<unsigned int>(a.value));
        collect(session, {target}, Event::kWakeupInfo, 1, a.wait.timeout, a.wait.json,
                "wake-up information");
    }
    return 0;
}

}  // namespace

void addDeviceCommands(CLI::App& app, Simulation& sim, Options& o, std::function<int()>& run) {
    auto io = std::make_shared<IOArgs>();
    auto* ioCmd = app.add_subcommand(
        "io", "digital I/O: send command CMD with VALUE and print the state each device reports");
    ioCmd->add_option("CMD", io->command, "the command byte (0 to 255)")
        ->required()
        ->check(wholeFrom(0, 255));
    ioCmd->add_option("VALUE", io->value, "its value (0 to 255)")
        ->required()
        ->check(wholeFrom(0, 255));
    ioCmd->add_option("--timeout", io->wait.timeout, "seconds to wait for the state (default 10)")
        ->check(secondsFrom(0, 86400, false));
    ioCmd->add_flag("--json", io->wait.json, "one JSON object per line");
    ioCmd->callback([&, io] { run = [&, io] { return runIO(sim, o, *io); }; });

    auto blink = std::make_shared<int>(1);
    auto* blinkCmd = app.add_subcommand("blink", "make the device blink");
    blinkCmd->add_option("VALUE", *blink, "the blink value (0 to 255, default 1)")
        ->check(wholeFrom(0, 255));
    blinkCmd->callback([&, blink] { run = [&, blink] { return runBlink(sim, o, *blink); }; });

    auto carrier = std::make_shared<Wait>();
    auto* carrierCmd = app.add_subcommand(
        "carrier", "measure the carrier of what the device hears: cycles, time and Hz");
    carrier->addTo(carrierCmd, "measurements per device (default 1)");
    carrierCmd->callback(
        [&, carrier] { run = [&, carrier] { return runCarrier(sim, o, *carrier); }; });

    auto raw = std::make_shared<Wait>();
    auto* rawCmd = app.add_subcommand("raw-learn",
                                      "raw learning: print the raw pulse reports the device sends");
    raw->addTo(rawCmd, "raw reports per device (default 1)");
    rawCmd->callback([&, raw] { run = [&, raw] { return runRawLearn(sim, o, *raw); }; });

    auto wake = std::make_shared<WakeArgs>();
    auto* wakeCmd = app.add_subcommand(
        "wake", "waking the host from suspend: enable, disable, program BYTES, info");
    wakeCmd->require_subcommand(1);
    const auto action = [&, wake](const std::string& name) {
        return [&, wake, name] { run = [&, wake, name] { return runWake(sim, o, name, *wake); }; };
    };
    wakeCmd->add_subcommand("enable", "let the device wake the host")->callback(action("enable"));
    wakeCmd->add_subcommand("disable", "stop the device waking the host")
        ->callback(action("disable"));
    auto* program = wakeCmd->add_subcommand("program", "store the wake code BYTES (hex)");
    program->add_option("BYTES", wake->bytes, "the code, hexadecimal bytes (\"01 02 FF\")")
        ->required();
    program->add_option("--flag", wake->flag, "the flag stored with it (default 0)")
        ->check(wholeFrom(0, 2147483647));
    program->callback(action("program"));
    auto* info = wakeCmd->add_subcommand("info", "print the device's wake-up information");
    info->add_option("--value", wake->value, "the request's value (0 to 255, default 0)")
        ->check(wholeFrom(0, 255));
    info->add_option("--timeout", wake->wait.timeout, "seconds to wait (default 10)")
        ->check(secondsFrom(0, 86400, false));
    info->add_flag("--json", wake->wait.json, "a JSON object");
    info->callback(action("info"));
}

}  // namespace kob
