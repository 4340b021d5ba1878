// Event latency inside the VM, printed (never asserted): from the moment
// the device side hands an input report to the kernel to the moment the
// host has it, through KOBLIB (kob_digital_io_cb on its worker thread) and,
// on the same device in the same run, through the system's generic HID
// access library (libhidapi-hidraw.so.0, hid_read in a loop), for the uhid
// device and for the emulated USB device.
//
// Usage (inside the VM): vm_latency_bench [reports per measurement]
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gadget_kob.h"
#include "koblib.h"
#include "support/wait_until.h"
#include "uhid_kob.h"

namespace koblib::vm {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUp = 50;
constexpr std::chrono::seconds kDeadline{20};

// Send and receive times per sequence number; the number travels in the
// two bytes of a digital I/O report.
class LatencyProbe {
  public:
    explicit LatencyProbe(int count) : sent_(count), received_(count), count_(count) {}

    void noteSent(const unsigned char* report, std::size_t length) {
        const auto now = Clock::now();
        const int seq = sequence(report, length);
        if (seq >= 0) signal_.update([&] { sent_[seq] = now; });
    }
    void noteReceived(const unsigned char* report, std::size_t length) {
        const auto now = Clock::now();
        const int seq = sequence(report, length);
        if (seq < 0) return;
        signal_.update([&] {
            received_[seq] = now;
            ++arrived_;
        });
    }
    // Sends every report, each once the previous one has arrived; false
    // when one does not arrive before the deadline.
    bool run(KernelKOB& device) {
        for (int seq = 0; seq < count_; ++seq) {
            const unsigned char report[3] = {0x20, static_cast<unsigned char>(seq >> 8),
                                             static_cast<unsigned char>(seq)};
            if (!device.firmware().sendRaw(report, sizeof report)) return false;
            if (!signal_.waitFor([&] { return arrived_ > seq; }, kDeadline)) {
                std::printf("report %d did not arrive\n", seq);
                return false;
            }
        }
        return true;
    }
    // Latencies in microseconds, warm-up left out, sorted.
    std::vector<double> latencies() const {
        std::vector<double> us;
        for (int seq = kWarmUp; seq < count_; ++seq)
            us.push_back(
                std::chrono::duration<double, std::micro>(received_[seq] - sent_[seq]).count());
        std::sort(us.begin(), us.end());
        return us;
    }

  private:
    int sequence(const unsigned char* report, std::size_t length) const {
        if (length < 3 || report[0] != 0x20) return -1;
        const int seq = (report[1] << 8) | report[2];
        return seq < count_ ? seq : -1;
    }

    std::vector<Clock::time_point> sent_;
    std::vector<Clock::time_point> received_;
    const int count_;
    int arrived_ = 0;
    testing::Signal signal_;
};

struct Result {
    std::string transport;
    std::string reader;
    std::vector<double> us;  // sorted
    std::string note;
};

LatencyProbe* activeProbe = nullptr;
testing::Signal arrival;
bool arrived = false;

void KOB_CALL onStatus(const char*, unsigned char code, const char*) {
    if (code == 0) arrival.update([] { arrived = true; });
}

void KOB_CALL onDigital(const char*, unsigned char first, unsigned char second) {
    const unsigned char report[3] = {0x20, first, second};
    if (activeProbe) activeProbe->noteReceived(report, sizeof report);
}

Result measureKoblib(const std::string& transport, KernelKOB& device, int count) {
    Result result{transport, "KOBLIB", {}, ""};
    LatencyProbe probe(count);
    activeProbe = &probe;
    device.setInputObserver([&](const unsigned char* r, std::size_t n) { probe.noteSent(r, n); });
    // The device is there before the open: the first scan takes it.
    arrival.update([] { arrived = false; });
    if (!kob_open(&onStatus, nullptr, nullptr, nullptr, &onDigital)) {
        result.note = "kob_open failed";
    } else {
        if (!arrival.waitFor([] { return arrived; }, kDeadline))
            result.note = "device not taken into service";
        else if (probe.run(device))
            result.us = probe.latencies();
        else
            result.note = "a report was lost";
    }
    kob_close();
    device.setInputObserver(nullptr);
    activeProbe = nullptr;
    return result;
}

// The generic library's entry points, looked up at run time.
struct GenericHid {
    void* library = nullptr;
    int (*init)() = nullptr;
    void* (*openPath)(const char*) = nullptr;
    int (*readTimeout)(void*, unsigned char*, std::size_t, int) = nullptr;
    void (*close)(void*) = nullptr;
    int (*exit)() = nullptr;

    bool load() {
        library = dlopen("libhidapi-hidraw.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library) return false;
        init = reinterpret_cast<int (*)()>(dlsym(library, "hid_init"));
        openPath = reinterpret_cast<void* (*)(const char*)>(dlsym(library, "hid_open_path"));
        readTimeout = reinterpret_cast<int (*)(void*, unsigned char*, std::size_t, int)>(
            dlsym(library, "hid_read_timeout"));
        close = reinterpret_cast<void (*)(void*)>(dlsym(library, "hid_close"));
        exit = reinterpret_cast<int (*)()>(dlsym(library, "hid_exit"));
        return init && openPath && readTimeout && close && exit;
    }
};

Result measureGeneric(const std::string& transport, KernelKOB& device, GenericHid& hid, int count) {
    Result result{transport, "hidapi", {}, ""};
    const std::string node = device.waitForHidraw(kDeadline);
    if (hid.init() != 0) {
        result.note = "hid_init failed";
        return result;
    }
    void* handle = node.empty() ? nullptr : hid.openPath(node.c_str());
    if (!handle) {
        result.note = "hid_open_path(" + node + ") failed";
        hid.exit();
        return result;
    }
    LatencyProbe probe(count);
    device.setInputObserver([&](const unsigned char* r, std::size_t n) { probe.noteSent(r, n); });
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        unsigned char report[kReportBytes];
        while (!stop) {
            // The time-out only lets the loop see stop; a report ends the
            // wait at once.
            const int n = hid.readTimeout(handle, report, sizeof report, 100);
            if (n > 0) probe.noteReceived(report, static_cast<std::size_t>(n));
            if (n < 0) break;
        }
    });
    if (probe.run(device))
        result.us = probe.latencies();
    else
        result.note = "a report was lost";
    stop = true;
    reader.join();
    device.setInputObserver(nullptr);
    hid.close(handle);
    hid.exit();
    return result;
}

double percentile(const std::vector<double>& sorted, int p) {
    const std::size_t k = std::min(sorted.size() - 1, sorted.size() * p / 100);
    return sorted[k];
}

}  // namespace
}  // namespace koblib::vm

int main(int argc, char** argv) {
    using namespace koblib::vm;
    const char* inside = std::getenv("KOBLIB_VM");
    if (!inside || std::strcmp(inside, "1") != 0) {
        std::fprintf(stderr, "%s runs only inside the test VM (tests/vm/run_vm.sh)\n", argv[0]);
        return 77;
    }
    const int measured = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
    const int count = measured + kWarmUp;
    setvbuf(stdout, nullptr, _IOLBF, 0);

    GenericHid hid;
    const bool haveGeneric = hid.load();
    if (!haveGeneric) std::printf("libhidapi-hidraw.so.0 not available: KOBLIB figures only\n");

    std::vector<Result> results;
    bool failed = false;
    for (const std::string transport : {"uhid", "gadget"}) {
        std::unique_ptr<KernelKOB> device;
        if (transport == "uhid")
            device = std::make_unique<UhidKOB>("VM-BENCH-U");
        else
            device = std::make_unique<GadgetKOB>("VM-BENCH-G", 0x0100);
        if (!device->ok()) {
            std::printf("%s: %s\n", transport.c_str(), device->error().c_str());
            failed = true;
            continue;
        }
        results.push_back(measureKoblib(transport, *device, count));
        if (haveGeneric) results.push_back(measureGeneric(transport, *device, hid, count));
    }

    std::printf(
        "\nEvent latency, device-side report -> host, %d reports each after %d of warm-up,\n"
        "microseconds (qemu TCG: emulated time, compare the rows, not the machines)\n",
        measured, kWarmUp);
    std::printf("%-8s %-8s %9s %9s %9s %9s\n", "device", "reader", "p50", "p99", "min", "max");
    for (const Result& r : results) {
        if (r.us.empty()) {
            std::printf("%-8s %-8s %s\n", r.transport.c_str(), r.reader.c_str(), r.note.c_str());
            failed = true;
            continue;
        }
        std::printf("%-8s %-8s %9.1f %9.1f %9.1f %9.1f\n", r.transport.c_str(), r.reader.c_str(),
                    percentile(r.us, 50), percentile(r.us, 99), r.us.front(), r.us.back());
    }
    return failed ? 1 : 0;
}
