// kob-sim: a remote button held (or pressed for learning), more devices, a
// virtual bootloader, and the virtual devices driven from standard input.
#include "simulation.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>

#include "control_input.h"
#include "device_lists.h"
#include "ir_code.h"
#include "koblib_sim.h"

namespace kob {

struct Simulation::State {
    std::string remote;
    int devices = 1;
    bool bootloader = false;
    bool control = false;
    std::thread controller;
    std::unique_ptr<ControlInput> controlInput;
    bool bootloaderStarted = false;
    std::string bootloaderPort;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    bool pressWhenLearning = false;  // the button waits for a learning run
    bool learning = false;           // a learning run has started
    std::thread sender;

    void startBootloader() {
        if (bootloaderStarted) return;
        bootloaderStarted = true;
        const unsigned int needed = kobsim_bootloader(nullptr, 0);
        if (needed == 0) throw std::runtime_error("no virtual bootloader on this system");
        std::string path(needed, '\0');
        kobsim_bootloader(&path[0], needed);
        path.resize(needed - 1);
        bootloaderPort = path;
    }
};

namespace {
// A press while learning: how long the button is held (long enough for
// ten equal frames and ten carrier measurements of a long code) and the
// pause before the next press.
constexpr std::chrono::milliseconds kPressHeld(3000);
constexpr std::chrono::milliseconds kPressPause(1000);

// How long the remote waits for the library to open the devices.
constexpr std::chrono::seconds kOpenWait(10);

// The devices the library has open.
int openDevices() {
    return static_cast<int>(listedSerials().size());
}

// One line of --sim-control: "attach SERIAL", "detach SERIAL",
// "air-time SERIAL PERCENT" (loopback stays on). True when done.
bool controlCommand(const std::string& line) {
    std::istringstream in(line);
    std::string verb, serial;
    in >> verb >> serial;
    if (serial.empty()) return false;
    if (verb == "attach") return kobsim_attach(serial.c_str(), 0x0100, 64) == 0;
    if (verb == "detach") return kobsim_detach(serial.c_str()) == 0;
    unsigned percent = 0;
    if (verb == "air-time" && in >> percent)
        return kobsim_configure(serial.c_str(), 1, percent) == 0;
    return false;
}

// The serial of the n-th virtual device (from 1); the first is the one
// KOBLIB_SIM starts with.
std::string simSerial(int n) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM-%04d", n);
    return serial;
}
}  // namespace

Simulation::Simulation() : state_(std::make_unique<State>()) {}

Simulation::~Simulation() {
    stop();
}

void Simulation::addOptions(CLI::App& app) {
    app.add_option("--sim-remote", state_->remote,
                   "the virtual devices hear this code (CODE, @FILE, "
                   "PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION or REMOTE/BUTTON of the library) over "
                   "and over, as if a remote's button "
                   "were held: the first frame, then what the button sends while held (for "
                   "learn: pressed when the run starts, and again after pauses)");
    app.add_option("--sim-devices", state_->devices, "attach N virtual devices (default 1)")
        ->check(CLI::Range(0, 99));
    app.add_flag("--sim-bootloader", state_->bootloader,
                 "start a virtual bootloader: the default PORT of upgrade and probe, listed by "
                 "ports, and the port that bootloader finds");
    app.add_flag("--sim-control", state_->control,
                 "read commands for the virtual devices from standard input, one a line "
                 "(attach SERIAL, detach SERIAL, air-time SERIAL PERCENT); each is answered on "
                 "standard error (\"sim-control: ok LINE\" or \"sim-control: refused LINE\")");
}

void Simulation::prepare() {
    // Checked first: a bad code is a usage error before anything starts.
    if (!state_->remote.empty()) loadTimings(state_->remote);
    if (state_->devices == 0) kobsim_detach(simSerial(1).c_str());
    for (int n = 2; n <= state_->devices; ++n)
        kobsim_attach(simSerial(n).c_str(), 0x0100, 64);
}

void Simulation::start() {
    if (state_->control && !state_->controller.joinable()) {
        state_->controlInput = std::make_unique<ControlInput>();
        ControlInput* input = state_->controlInput.get();
        if (input->usable())
            state_->controller = std::thread([input] {
                std::string line;
                char buffer[256];
                while (const std::size_t n = input->read(buffer, sizeof buffer)) {
                    line.append(buffer, n);
                    for (std::size_t end; (end = line.find('\n')) != std::string::npos;) {
                        const std::string command = line.substr(0, end);
                        line.erase(0, end + 1);
                        std::fprintf(stderr, "sim-control: %s %s\n",
                                     controlCommand(command) ? "ok" : "refused", command.c_str());
                        std::fflush(stderr);
                    }
                }
            });
    }
    if (state_->remote.empty() || state_->sender.joinable()) return;
    const Timings code = loadTimings(state_->remote);
    const int devices = state_->devices;
    state_->sender = std::thread([this, code, devices] {
        using Clock = std::chrono::steady_clock;
        const auto hz = static_cast<unsigned int>(code.carrierHz);
        State& state = *state_;
        std::unique_lock<std::mutex> guard(state.lock);
        // Frame after frame at the pace of the real signal: the once
        // sequence, then the repeat sequence while the button is down
        // (from the third frame on, every frame is the same). Held for as
        // long as the tool runs, or, for learning, pressed when the run
        // starts and again after every pause, each press from its first
        // frame.
        const auto frames = receivedFrames(code, 3);
        const bool presses = state.pressWhenLearning;
        if (presses) state.wake.wait(guard, [&] { return state.stopping || state.learning; });
        // The first frame alone holds the whole code: it waits (a while)
        // until the library has opened every device.
        const auto ready = Clock::now() + kOpenWait;
        while (!state.stopping && openDevices() < devices && Clock::now() < ready)
            state.wake.wait_for(guard, std::chrono::milliseconds(10));
        auto pressed = Clock::now();
        for (std::size_t n = 0; !state.stopping; ++n) {
            if (presses && Clock::now() - pressed >= kPressHeld) {
                if (state.wake.wait_for(guard, kPressPause, [&] { return state.stopping; })) break;
                pressed = Clock::now();
                n = 0;
            }
            const auto& frame = frames[std::min<std::size_t>(n, 2)];
            for (int d = 1; d <= devices; ++d)
                kobsim_receive(simSerial(d).c_str(), frame.data(),
                               static_cast<unsigned int>(frame.size()), hz);
            const auto& pulses = n == 0 || code.repeat.empty()
                                     ? (code.once.empty() ? code.repeat : code.once)
                                     : code.repeat;
            long long us = 0;
            for (const int d : pulses)
                us += std::abs(d);
            state.wake.wait_for(guard, std::chrono::microseconds(us),
                                [&] { return state.stopping; });
        }
    });
}

void Simulation::stop() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (state_->sender.joinable()) state_->sender.join();
    if (state_->controller.joinable()) {
        if (state_->controlInput->end()) {
            state_->controller.join();
        } else {
            // Left reading to the end of the program, with the input it reads.
            state_->controller.detach();
            static_cast<void>(state_->controlInput.release());
        }
    }
    state_->controlInput.reset();
}

std::vector<std::string> Simulation::extraPorts() {
    return state_->bootloaderStarted ? std::vector<std::string>{state_->bootloaderPort}
                                     : std::vector<std::string>{};
}

std::string Simulation::defaultPort() {
    if (!state_->bootloader) return {};
    state_->startBootloader();
    return state_->bootloaderPort;
}

void Simulation::bootloaderCommandSent() {
    if (state_->bootloader) state_->startBootloader();
}

void Simulation::pressWhenLearning() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->pressWhenLearning = true;
}

void Simulation::learningStarted() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->learning = true;
    }
    state_->wake.notify_all();
}

}  // namespace kob
