// kob-mqtt: the KOB-1 transceivers of this machine on an MQTT broker, for
// home automation. kob-mqtt-sim is the same program over virtual devices.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
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

}  // namespace

int main(int argc, char** argv) {
    // SIGTERM and SIGINT are taken by one thread with sigwait; every other
    // thread (the library's, libmosquitto's) keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
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
        int received = 0;
        sigwait(&stopSignals, &received);
        ending.finish(0);
    });
    int code = 0;
    {
        kobmqtt::Bridge bridge(config, [&](const std::string&) { ending.finish(1); });
        try {
            bridge.start();
            std::fprintf(stderr, "kob-mqtt: node %s, topics %s/%s/...\n", config.node.c_str(),
                         config.prefix.c_str(), config.node.c_str());
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
    pthread_kill(signals.native_handle(), SIGTERM);
    signals.join();
    if (code == 0) std::fprintf(stderr, "kob-mqtt: stopped\n");
    return code;
}
