// kob ports, kob upgrade, kob probe, kob bootloader: the serial ports and
// the device's bootloader on one of them.
#include "firmware_commands.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console.h"
#include "device_lists.h"
#include "ir_code.h"
#include "koblib.h"
#include "number_checks.h"
#include "progress_bar.h"
#include "session.h"
#include "simulation.h"

namespace kob {

namespace {

std::vector<std::string> portNames(Simulation& sim) {
    auto ports = listedPorts();
    for (auto& extra : sim.extraPorts())
        ports.push_back(extra);
    return ports;
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

const char* upgradeMessage(int result) {
    switch (result) {
#define KOB_RESULT_TEXT(name, value, text) \
    case name:                             \
        return text;
        KOB_UPGRADE_RESULTS(KOB_RESULT_TEXT)
#undef KOB_RESULT_TEXT
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

struct UpgradeArgs {
    std::string port;
    std::string file;
};

}  // namespace

void addFirmwareCommands(CLI::App& app, Simulation& sim, Options& o, std::function<int()>& run) {
    auto* ports = app.add_subcommand("ports", "the serial ports");
    ports->callback([&] {
        run = [&] {
            sim.defaultPort();
            for (const auto& port : portNames(sim))
                std::fprintf(toolOut(), "%s\n", port.c_str());
            return 0;
        };
    });

    auto a = std::make_shared<UpgradeArgs>();
    auto* upgrade = app.add_subcommand("upgrade", "write an Intel HEX file through the bootloader");
    upgrade->add_option("PORT", a->port, "the bootloader's serial port");
    upgrade->add_option("FILE", a->file, "the firmware (Intel HEX)");
    upgrade->callback([&, a] {
        std::string &port = a->port, &file = a->file;
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
        run = [&, a] { return runUpgrade(sim, a->port, a->file); };
    });

    auto* probe = app.add_subcommand("probe", "is a bootloader on PORT");
    probe->add_option("PORT", a->port, "the serial port");
    probe->callback([&, a] { run = [&, a] { return runProbe(sim, a->port); }; });

    auto* bootloader = app.add_subcommand(
        "bootloader", "start the device's bootloader and print the port that appears");
    bootloader->add_option("--timeout", o.timeout, "seconds to wait for the port (default 10)")
        ->check(secondsFrom(0, 86400, false));
    bootloader->callback([&] { run = [&] { return runBootloader(sim, o); }; });
}

}  // namespace kob
