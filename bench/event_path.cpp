// Event path through the manager's worker: 1, 8 and 63 devices stream
// digital I/O reports or two-report IR messages into the host's
// callbacks. The device side writes straight into the channel ends (no
// firmware model), from two writer threads, so it costs one send per
// report. The same devices are then read by a thread per device with
// blocking reads, the way hosts write it over a blocking HID library, for
// the ratio of CPU per report. Prints figures, one per line, last.
//
// Usage: koblib_event_path [seconds per run, default 1] [device counts, default 1,8,63]
//                          [kinds: dio, ir or both (default)]
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "manager/kob_manager.h"
#include "port_collection.h"

using namespace koblib;

namespace {

// Heap allocations made on the thread that runs the callbacks.
std::atomic<std::uint64_t> workerAllocations{0};
thread_local bool countAllocations = false;

constexpr std::uint32_t kReportLength = 64;  // report-ID byte included
constexpr unsigned kIRWords = 61;            // 30 in the first report, 31 in the second

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// The reports of one event: a digital I/O report, or an IR message.
std::vector<std::vector<unsigned char>> eventReports(bool ir) {
    std::vector<unsigned char> first(kReportLength - 1, 0);
    if (!ir) {
        first[0] = 0x20;
        first[1] = 1;
        first[2] = 2;
        return {first};
    }
    std::vector<unsigned char> second(kReportLength - 1, 0);
    first[0] = 0x0A;
    first[1] = kIRWords;
    for (unsigned w = 0; w < kIRWords; ++w) {
        unsigned char* at = w < 30 ? &first[2 + 2 * w] : &second[2 * (w - 30)];
        at[0] = static_cast<unsigned char>(w >> 8);
        at[1] = static_cast<unsigned char>(w * 7 + 3);
    }
    return {first, second};
}

// Two threads write events into the devices' channel ends until stopped.
class Writers {
  public:
    Writers(PortCollection& bench, bool ir) : reports_(eventReports(ir)) {
        for (int t = 0; t < 2; ++t)
            threads_.emplace_back([this, &bench, t] {
                const int n = bench.size();
                while (!stop_) {
                    for (int i = t; i < n; i += 2)
                        for (const auto& r : reports_)
                            if (!send(bench.port(i), r)) return;
                }
                cpu_ = cpu_ + cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            });
    }
    // Stops them; their CPU seconds.
    double stop() {
        stop_ = true;
        for (auto& thread : threads_)
            thread.join();
        return cpu_;
    }
    std::size_t reportsPerEvent() const { return reports_.size(); }

  private:
    // The channel drops what does not fit, as hidraw does; the writers wait
    // for room instead, so that every report of a message arrives. False
    // when the channel is gone or the writers are stopped.
    bool send(VirtualPort& port, const std::vector<unsigned char>& r) {
        for (;;) {
            const auto delivery = port.sendInput(r.data(), r.size());
            if (delivery == VirtualPort::Delivery::kSent) return true;
            if (delivery == VirtualPort::Delivery::kGone || stop_) return false;
            std::this_thread::yield();
        }
    }

    std::vector<std::vector<unsigned char>> reports_;
    std::atomic<bool> stop_{false};
    std::atomic<double> cpu_{0};
    std::vector<std::thread> threads_;
};

struct Figures {
    double eventsPerSecond = 0, workerMicrosPerReport = 0, allocationsPerEvent = 0, deviceShare = 0;
    std::uint64_t totalEvents = 0;  // over the worker's whole life
};

std::atomic<std::uint64_t> events{0};
std::atomic<int> arrived{0};
std::atomic<clockid_t> workerClock{};
std::atomic<bool> workerKnown{false};

void onEvent() {
    if (!workerKnown.load(std::memory_order_relaxed)) {
        clockid_t clock;
        pthread_getcpuclockid(pthread_self(), &clock);
        workerClock = clock;
        countAllocations = true;
        workerKnown = true;
    }
    events.fetch_add(1, std::memory_order_relaxed);
}

ManagerEvents benchEvents() {
    ManagerEvents e;
    e.onStatus = [](const std::string&, unsigned char code, const std::string&) {
        if (code == 0) ++arrived;
    };
    e.onIRSent = [](const std::string&, unsigned char) {};
    e.onIRReceived = [](const std::string&, const std::string&, const unsigned int*, unsigned int) {
        onEvent();
    };
    e.onModulation = [](const std::string&, unsigned int, unsigned int) {};
    e.onLearn = [](const std::string&, int, int, const std::string&) {};
    e.onDigitalIO = [](const std::string&, unsigned char, unsigned char) { onEvent(); };
    e.onRawLearn = [](const std::string&, unsigned int, const unsigned int*, unsigned int) {};
    e.onWakeupInfo = [](const std::string&, unsigned int, const unsigned char*, unsigned int) {};
    e.onButton = [](const std::string&, int, int, int, int) {};
    return e;
}

// A window of `seconds` after a short warm-up: events, the worker's CPU,
// and the worker's allocations over it.
template <typename WorkerCpu>
Figures measure(double seconds, std::size_t reportsPerEvent, WorkerCpu workerCpu,
                Writers& writers) {
    while (events.load() < 100)
        std::this_thread::yield();
    const auto t0 = std::chrono::steady_clock::now();
    const std::uint64_t e0 = events, a0 = workerAllocations;
    const double c0 = workerCpu();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const std::uint64_t e1 = events, a1 = workerAllocations;
    const double c1 = workerCpu();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double deviceCpu = writers.stop();
    Figures f;
    const double n = static_cast<double>(e1 - e0);
    f.eventsPerSecond = n / wall;
    f.workerMicrosPerReport = (c1 - c0) * 1e6 / (n * reportsPerEvent);
    f.allocationsPerEvent = (a1 - a0) / n;
    f.deviceShare = deviceCpu / (deviceCpu + (c1 - c0));
    return f;
}

Figures runWorker(int devices, bool ir, double seconds) {
    auto bench = std::make_shared<PortCollection>(devices, kReportLength);
    events = 0;
    arrived = 0;
    workerKnown = false;
    KOBManager manager(bench, benchEvents());
    manager.startWorker();
    while (arrived.load() < devices)
        std::this_thread::yield();
    Writers writers(*bench, ir);
    const Figures f = measure(
        seconds, writers.reportsPerEvent(), [] { return cpuSeconds(workerClock.load()); }, writers);
    manager.stopWorker();
    Figures whole = f;
    whole.totalEvents = events;
    return whole;
}

// The baseline: one thread per device, blocking reads, its own parsing
// of the report type.
Figures runThreadPerDevice(int devices, bool ir, double seconds) {
    PortCollection bench(devices, kReportLength);
    events = 0;
    std::atomic<bool> stop{false};
    std::atomic<double> readersCpu{0};
    std::vector<std::thread> readers;
    const auto hosts = bench.getDevices();
    for (auto& host : hosts) {
        const int fd = static_cast<int>(host->readEvent());
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        readers.emplace_back([&, fd] {
            unsigned char report[kReportLength];
            bool inMessage = false;
            while (!stop) {
                if (read(fd, report + 1, kReportLength - 1) <= 0) break;
                if (!ir || inMessage) events.fetch_add(1, std::memory_order_relaxed);
                if (ir) inMessage = !inMessage;
            }
            readersCpu = readersCpu + cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        });
    }
    Writers writers(bench, ir);
    Figures f;
    {
        while (events.load() < 100)
            std::this_thread::yield();
        const auto t0 = std::chrono::steady_clock::now();
        const std::uint64_t e0 = events;
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const std::uint64_t e1 = events;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        writers.stop();
        stop = true;
        for (int i = 0; i < bench.size(); ++i)
            bench.port(i).shutdown();  // ends the blocked reads
        for (auto& reader : readers)
            reader.join();
        const double n = static_cast<double>(e1 - e0);
        f.eventsPerSecond = n / wall;
        // The readers' CPU covers their whole life; scale it to the window
        // by the share of events inside it.
        f.workerMicrosPerReport =
            readersCpu * 1e6 / (static_cast<double>(events) * writers.reportsPerEvent());
    }
    return f;
}

std::vector<int> parseCounts(const char* text) {
    std::vector<int> counts;
    for (const char* p = text; *p;) {
        counts.push_back(std::atoi(p));
        while (*p && *p != ',')
            ++p;
        if (*p == ',') ++p;
    }
    return counts;
}

}  // namespace

void* operator new(std::size_t size) {
    if (countAllocations) workerAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const std::vector<int> counts = parseCounts(argc > 2 ? argv[2] : "1,8,63");
    // 63 devices need 4 descriptors each.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    std::vector<std::string> lines;
    char line[256];
    double perReport8 = 0, perReport63 = 0;
    const std::string kinds = argc > 3 ? argv[3] : "both";
    for (const bool ir : {false, true}) {
        const char* kind = ir ? "ir" : "dio";
        if (kinds != "both" && kinds != kind) continue;
        for (const int n : counts) {
            const Figures w = runWorker(n, ir, seconds);
            const Figures b = runThreadPerDevice(n, ir, seconds);
            const double reports = w.eventsPerSecond * (ir ? 2 : 1);
            if (!ir && n == 8) perReport8 = w.workerMicrosPerReport;
            if (!ir && n == 63) perReport63 = w.workerMicrosPerReport;
            std::snprintf(line, sizeof line,
                          "%s_%d_reports_per_s: %.0f reports/s (goal at 63: >= 500000 worker "
                          "capacity)",
                          kind, n, reports);
            lines.push_back(line);
            std::snprintf(line, sizeof line,
                          "%s_%d_worker_capacity: %.0f reports/s (1 / worker CPU per report)", kind,
                          n, 1e6 / w.workerMicrosPerReport);
            lines.push_back(line);
            std::snprintf(line, sizeof line, "%s_%d_worker_cpu_per_report: %.3f us (goal < 2)",
                          kind, n, w.workerMicrosPerReport);
            lines.push_back(line);
            std::snprintf(line, sizeof line,
                          "%s_%d_allocations_per_event: %.3f (goal 0 for one-report events)", kind,
                          n, w.allocationsPerEvent);
            lines.push_back(line);
            std::snprintf(line, sizeof line, "%s_%d_worker_events_total: %llu", kind, n,
                          static_cast<unsigned long long>(w.totalEvents));
            lines.push_back(line);
            std::snprintf(line, sizeof line, "%s_%d_device_side_cpu_share: %.0f %%", kind, n,
                          w.deviceShare * 100);
            lines.push_back(line);
            std::snprintf(line, sizeof line,
                          "%s_%d_thread_per_device_cpu_per_report: %.3f us (ratio to worker "
                          "%.2f)",
                          kind, n, b.workerMicrosPerReport,
                          b.workerMicrosPerReport / w.workerMicrosPerReport);
            lines.push_back(line);
        }
    }
    if (perReport8 > 0 && perReport63 > 0) {
        std::snprintf(line, sizeof line, "dio_cpu_per_report_63_over_8: %.2f (goal <= 1.2)",
                      perReport63 / perReport8);
        lines.push_back(line);
    }
    for (const auto& l : lines)
        std::printf("%s\n", l.c_str());
    return 0;
}
