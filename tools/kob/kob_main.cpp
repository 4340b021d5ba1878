// kob: the KOB-1 from the command line. List devices, send, listen, learn,
// compare and hash codes, draw a code's timing, upgrade the firmware. Each
// group of subcommands registers its options next to the code that runs
// them; main parses, runs the one chosen and turns its end into an exit
// code.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

#include "code_commands.h"
#include "code_library.h"
#include "console.h"
#include "device_commands.h"
#include "firmware_commands.h"
#include "ir_code.h"
#include "learn_command.h"
#include "number_checks.h"
#include "remote_commands.h"
#include "send_listen_commands.h"
#include "session.h"
#include "simulation.h"

namespace {

constexpr const char* kExitCodes =
    "Exit codes: 0 success; 1 the operation failed or timed out; 2 a usage error (bad option, "
    "a code that is not what it claims, a file that cannot be read); 130 interrupted (Ctrl-C). "
    "Failures print one line on standard error.";

void onInterrupt(int) {
    kob::interrupted = true;
}

}  // namespace

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

    // The subcommand chosen sets run; the order here is the order of --help.
    Run run;
    addSendListenCommands(app, sim, o, run);
    addLearnCommand(app, sim, o, run);
    addCodeCommands(app, run);
    addFirmwareCommands(app, sim, o, run);
    addDeviceCommands(app, sim, o, run);
    addRemoteCommands(app, sim, o, run);

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
