// Latency, idle cost and scale of the manager's worker over devices on
// bare virtual ports (no firmware model): device write -> host callback,
// command job -> report at the device, idle and with 62 other devices
// streaming; the worker's wake-ups while idle; 63 devices attached at once
// and a 64th. Prints figures, one per line, last. The streaming devices
// send at USB's rate; koblib_event_path measures the worker saturated.
//
// Usage: koblib_worker_bench [round trips, default 10000] [idle seconds, default 2]
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "manager/kob_manager.h"
#include "port_collection.h"

using namespace koblib;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kReportLength = 64;

// What the callbacks saw, under one lock.
struct Seen {
    std::mutex lock;
    std::condition_variable changed;
    int arrived = 0;
    std::vector<std::uint64_t> perDevice = std::vector<std::uint64_t>(64, 0);
    Clock::time_point lastEntry;
    Clock::time_point lastArrival;
};
Seen seen;

ManagerEvents events() {
    ManagerEvents e;
    e.onStatus = [](const std::string&, unsigned char code, const std::string&) {
        if (code != 0) return;
        {
            std::lock_guard<std::mutex> guard(seen.lock);
            ++seen.arrived;
            seen.lastArrival = Clock::now();
        }
        seen.changed.notify_all();
    };
    e.onIRSent = [](const std::string&, unsigned char) {};
    e.onIRReceived = [](const std::string&, const std::string&, const unsigned int*, unsigned int) {
    };
    e.onModulation = [](const std::string&, unsigned int, unsigned int) {};
    e.onLearn = [](const std::string&, int, int, const std::string&) {};
    e.onDigitalIO = [](const std::string& serial, unsigned char, unsigned char) {
        const Clock::time_point entry = Clock::now();
        {
            std::lock_guard<std::mutex> guard(seen.lock);
            seen.lastEntry = entry;
            ++seen.perDevice[std::atoi(serial.c_str() + 1)];
        }
        seen.changed.notify_all();
    };
    e.onRawLearn = [](const std::string&, unsigned int, const unsigned int*, unsigned int) {};
    e.onWakeupInfo = [](const std::string&, unsigned int, const unsigned char*, unsigned int) {};
    e.onButton = [](const std::string&, int, int, int, int) {};
    return e;
}

template <typename Done>
void waitFor(Done done) {
    std::unique_lock<std::mutex> guard(seen.lock);
    seen.changed.wait(guard, done);
}

void resetSeen() {
    std::lock_guard<std::mutex> guard(seen.lock);
    seen.arrived = 0;
    std::fill(seen.perDevice.begin(), seen.perDevice.end(), 0);
}

std::vector<unsigned char> digitalReport() {
    std::vector<unsigned char> r(kReportLength - 1, 0);
    r[0] = 0x20;
    r[1] = 1;
    r[2] = 2;
    return r;
}

struct Percentiles {
    double p50, p99, max;
};
Percentiles percentiles(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back()};
}

// All devices but the last stream digital I/O reports from one thread while alive,
// at the most a full-speed interrupt endpoint moves: one report per
// device per millisecond.
class Streamers {
  public:
    Streamers(PortCollection& ports) {
        if (ports.size() < 2) return;
        thread_ = std::thread([this, &ports] {
            const auto r = digitalReport();
            auto tick = Clock::now();
            while (!stop_) {
                for (int i = 0; i + 1 < ports.size() && !stop_; ++i)
                    ports.port(i).sendInput(r.data(), r.size());
                tick += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(tick);
            }
        });
    }
    ~Streamers() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The last device's round trips (the highest serial, which a wait that
// favours low indices serves last): a report written at its end until the
// callback is entered, and a digital I/O job posted until its report is at
// the device.
void latency(int devices, int rounds, std::vector<std::string>& lines) {
    auto ports = std::make_shared<PortCollection>(devices, kReportLength);
    resetSeen();
    KOBManager manager(ports, events());
    manager.startWorker();
    waitFor([&] { return seen.arrived == devices; });
    const int last = devices - 1;
    const std::string serial = (last < 10 ? "P0" : "P") + std::to_string(last);
    Streamers streamers(*ports);
    std::vector<double> in, out;
    const auto report = digitalReport();
    unsigned char command[kReportLength];
    for (int k = 0; k < rounds; ++k) {
        std::uint64_t before;
        {
            std::lock_guard<std::mutex> guard(seen.lock);
            before = seen.perDevice[last];
        }
        const Clock::time_point start = Clock::now();
        ports->port(last).sendInput(report.data(), report.size());
        Clock::time_point entry;
        {
            std::unique_lock<std::mutex> guard(seen.lock);
            seen.changed.wait(guard, [&] { return seen.perDevice[last] > before; });
            entry = seen.lastEntry;
        }
        in.push_back(std::chrono::duration<double, std::micro>(entry - start).count());

        const Clock::time_point posted = Clock::now();
        manager.post([&manager, &serial] { manager.digitalIO(serial, 1, 1); });
        ports->port(last).receiveOutput(command, sizeof command);
        out.push_back(std::chrono::duration<double, std::micro>(Clock::now() - posted).count());
    }
    manager.stopWorker();
    const char* when = devices > 1 ? "streaming" : "idle";
    char line[200];
    const Percentiles a = percentiles(in), b = percentiles(out);
    std::snprintf(line, sizeof line,
                  "event_latency_%s: p50 %.1f us, p99 %.1f us, max %.1f us (goal idle: p50 < 20, "
                  "p99 < 200)",
                  when, a.p50, a.p99, a.max);
    lines.push_back(line);
    std::snprintf(line, sizeof line, "command_latency_%s: p50 %.1f us, p99 %.1f us, max %.1f us",
                  when, b.p50, b.p99, b.max);
    lines.push_back(line);
}

long contextSwitches(long tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    long total = 0;
    for (std::string line; std::getline(status, line);)
        if (line.find("ctxt_switches:") != std::string::npos)
            total += std::atol(line.c_str() + line.find(':') + 1);
    return total;
}

void idle(double seconds, std::vector<std::string>& lines) {
    auto ports = std::make_shared<PortCollection>(8, kReportLength);
    resetSeen();
    KOBManager manager(ports, events());
    manager.startWorker();
    waitFor([&] { return seen.arrived == 8; });
    std::atomic<long> tid{0};
    manager.post([&tid] { tid = static_cast<long>(syscall(SYS_gettid)); });
    while (!tid)
        std::this_thread::yield();
    // Let the job's own wake-up settle: the worker goes back to its wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long before = contextSwitches(tid);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long after = contextSwitches(tid);
    manager.stopWorker();
    char line[160];
    std::snprintf(line, sizeof line, "idle_worker_wakeups: %ld in %.1f s, 8 devices (goal 0)",
                  after - before, seconds);
    lines.push_back(line);
}

long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void scale(std::vector<std::string>& lines) {
    char line[200];
    for (const int devices : {63, 64}) {
        auto ports = std::make_shared<PortCollection>(devices, kReportLength);
        resetSeen();
        const long before = residentKilobytes();
        KOBManager manager(ports, events());
        const Clock::time_point start = Clock::now();
        manager.startWorker();
        Clock::time_point last;
        {
            std::unique_lock<std::mutex> guard(seen.lock);
            seen.changed.wait(guard, [&] { return seen.arrived == devices; });
            last = seen.lastArrival;
        }
        if (devices == 63) {
            const long after = residentKilobytes();
            std::snprintf(line, sizeof line, "scale_63_time_to_last_arrival: %.0f us",
                          std::chrono::duration<double, std::micro>(last - start).count());
            lines.push_back(line);
            std::snprintf(line, sizeof line, "scale_memory_per_device: %.1f KiB",
                          double(after - before) / devices);
            lines.push_back(line);
        } else {
            // The 64th is in the table and gets commands; its reports wait.
            const std::size_t listed = manager.listSerials().size();
            manager.post([&manager] { manager.digitalIO("P63", 1, 1); });
            unsigned char command[kReportLength];
            const bool commanded = ports->port(63).receiveOutput(command, sizeof command) > 0;
            const auto r = digitalReport();
            ports->port(63).sendInput(r.data(), r.size());
            ports->port(0).sendInput(r.data(), r.size());
            std::uint64_t served;
            {
                std::unique_lock<std::mutex> guard(seen.lock);
                seen.changed.wait(guard, [&] { return seen.perDevice[0] > 0; });
                served = seen.perDevice[63];
            }
            std::snprintf(line, sizeof line,
                          "scale_64th_device: listed %zu of 64, command received %s, reports "
                          "serviced %llu (expected: listed 64, received yes, serviced 0)",
                          listed, commanded ? "yes" : "no",
                          static_cast<unsigned long long>(served));
            lines.push_back(line);
        }
        manager.stopWorker();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10000;
    const double idleSeconds = argc > 2 ? std::atof(argv[2]) : 2.0;
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    std::vector<std::string> lines;
    latency(1, rounds, lines);
    latency(63, rounds, lines);
    idle(idleSeconds, lines);
    scale(lines);
    for (const auto& l : lines)
        std::printf("%s\n", l.c_str());
    return 0;
}
