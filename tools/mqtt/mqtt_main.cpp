// kob-mqtt: the KOB-1 transceivers of this machine on an MQTT broker, for
// home automation. kob-mqtt-sim is the same program over virtual devices.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "bridge.h"
#include "bridge_config.h"
#include "simulation.h"

namespace {

// What ends the bridge: a signal (exit 0) or the broker refusing it (1).
struct Ending {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    int exitCode = 0;

    void finish(int code) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (done) return;
            done = true;
            exitCode = code;
        }
        changed.notify_all();
    }
    int wait() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return done; });
        return exitCode;
    }
};

int signalPipe[2] = {-1, -1};

// How long a virtual remote waits for the first connection.
constexpr double kFirstConnectSeconds = 10.0;

void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (write(signalPipe[1], &byte, 1) < 0) {
        // Nothing to do in a signal handler: the pipe is full, so a stop is
        // already on its way.
    }
    errno = saved;
}

}  // namespace

int main(int argc, char** argv) {
    // SIGTERM, SIGINT and SIGHUP reach a pipe, whatever thread takes them
    // (the library may have started threads before main), and a thread
    // reading it ends the bridge.
    if (pipe(signalPipe) != 0) {
        std::perror("kob-mqtt: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    kobmqtt::BridgeConfig config;
    kob::Simulation sim;
    CLI::App app(
        "kob-mqtt: the KOB-1 transceivers of this machine on an MQTT broker (topics "
        "<prefix>/<node>/...; Home Assistant discovery)");
    app.set_help_flag("--help", "print this help and exit");
    config.addOptions(app);
    sim.addOptions(app);
    try {
        app.parse(argc, argv);
        config.finish();
        sim.prepare();
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kob-mqtt: %s\n", e.what());
        return 2;
    }

    Ending ending;
    std::thread signals([&] {
        char byte = 0;
        while (read(signalPipe[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ending.finish(0);
    });
    int code = 0;
    {
        kobmqtt::Bridge bridge(config, [&](const std::string&) { ending.finish(1); });
        try {
            bridge.start();
            std::fprintf(stderr, "kob-mqtt: node %s, topics %s/%s/...\n", config.node.c_str(),
                         config.prefix.c_str(), config.node.c_str());
            // A virtual remote starts once its frames can reach the broker.
            bridge.waitConnected(kFirstConnectSeconds);
            sim.start();
            code = ending.wait();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kob-mqtt: %s\n", e.what());
            code = 1;
        }
        sim.stop();
        bridge.stop();
    }
    // The signal thread may still wait: wake it.
    ending.finish(code);
    onStopSignal(0);
    signals.join();
    if (code == 0) std::fprintf(stderr, "kob-mqtt: stopped\n");
    return code;
}
