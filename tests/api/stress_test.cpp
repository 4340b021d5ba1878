// Stress: host threads post commands to virtual devices while devices are
// plugged in and out and the host closes and reopens the library. Bounded
// by counts, not by time; the figures are printed.
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "api_test.h"

namespace koblib {
namespace {

constexpr int kThreads = 8;
constexpr int kStable = 4;          // devices that stay attached
constexpr int kChurning = 4;        // devices plugged in and out
constexpr int kCommands = 200;      // per thread and device, below 256
constexpr int kFinalCommands = 20;  // per thread to each stable device, after the last open
constexpr int kPlugCycles = 60;     // detach + attach, in all
constexpr int kOpenCycles = 6;      // close + open of the library
constexpr unsigned char kFirstCommand = 0x40;  // thread t sends digital I/O command 0x40 + t

std::string stableSerial(int i) {
    return "STABLE-" + std::to_string(i);
}
std::string churnSerial(int i) {
    return "CHURN-" + std::to_string(i);
}

int threadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            n += entry->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}

// The values of (serial, command) in the order they came, from the output
// reports a device received or from the digital I/O events.
using Seen = std::map<std::pair<std::string, int>, std::vector<int>>;

// The values near position i, for a failure message.
std::string around(const std::vector<int>& values, std::size_t i) {
    std::string text;
    for (std::size_t k = i > 12 ? i - 12 : 0; k < values.size() && k < i + 12; ++k)
        text += " " + std::to_string(values[k]);
    return text;
}

// Each value at most once (each of 0 to total - 1 exactly once when
// complete), and rising, except where the device took the reports of one
// connection after those of the next: the virtual KOB-1 reads each
// connection on a thread of its own, so reports still buffered in the
// connection closed by kob_close may be taken after the first ones of the
// reopened library. Hardware takes every write before it returns; at most
// one such break per reopening is allowed here.
void expectInOrderOnce(const std::vector<int>& values, bool complete, int total,
                       const std::string& what, int reopenings) {
    std::vector<int> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end())
        << what << " repeated";
    if (complete) {
        ASSERT_EQ(values.size(), static_cast<std::size_t>(total)) << what;
        EXPECT_TRUE(sorted.empty() || sorted.back() == total - 1) << what;
    }
    int breaks = 0;
    std::size_t first = 0;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (values[i - 1] > values[i] && breaks++ == 0) first = i;
    }
    EXPECT_LE(breaks, reopenings) << what << " out of order at " << first << ":"
                                  << around(values, first);
}

TEST_F(ApiTest, HostThreadsPostWhileDevicesComeAndGoAndTheLibraryReopens) {
    detachSim();
    const int threadsBefore = threadCount();
    std::vector<DeviceOutputs*> stable;
    for (int i = 0; i < kStable; ++i)
        stable.push_back(&attach(stableSerial(i), 0x0200, 64));
    ASSERT_NE(openAll(), nullptr);
    for (int i = 0; i < kStable; ++i)
        ASSERT_TRUE(waitArrived(stableSerial(i)));
    const auto started = std::chrono::steady_clock::now();

    std::atomic<int> posted{0};
    auto host = [&](int t, int first, int count, bool churn) {
        const std::string mine = stableSerial(t % kStable);
        const std::string other = churnSerial(t % kChurning);
        for (int k = first; k < first + count; ++k) {
            kob_digitalIO(mine.c_str(), kFirstCommand + t, static_cast<unsigned char>(k));
            if (churn)
                kob_digitalIO(other.c_str(), kFirstCommand + t, static_cast<unsigned char>(k));
            posted += churn ? 2 : 1;
            if (k % 16 == 0) std::this_thread::yield();
        }
    };
    std::atomic<bool> hostsDone{false};
    int plugs = 0, opens = 0;
    std::thread plugger([&] {
        std::mt19937 random(7);
        std::vector<bool> in(kChurning, false);
        while (plugs < kPlugCycles || !hostsDone) {
            const int i = static_cast<int>(random() % kChurning);
            const std::string serial = churnSerial(i);
            if (in[i]) {
                kobsim_detach(serial.c_str());
                ++plugs;
            } else {
                kobsim_attach(serial.c_str(), 0x0300, 64);
                kobsim_configure(serial.c_str(), 1, 0);
            }
            in[i] = !in[i];
            if (plugs >= kPlugCycles && hostsDone) break;
            std::this_thread::yield();
        }
        for (int i = 0; i < kChurning; ++i)
            if (in[i]) kobsim_detach(churnSerial(i).c_str());
    });
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t)
        hosts.emplace_back(host, t, 0, kCommands, true);
    // The closes and opens spread over the posting.
    const int perCycle = kThreads * kCommands * 2 / (kOpenCycles + 1);
    while (opens < kOpenCycles) {
        while (posted < (opens + 1) * perCycle)
            std::this_thread::yield();
        kob_close();
        ASSERT_NE(openAll(), nullptr);
        ++opens;
        std::this_thread::yield();
    }
    for (auto& h : hosts)
        h.join();
    hostsDone = true;
    plugger.join();
    // After the last open: every answer comes back or is dropped by the
    // device for want of reading.
    std::map<std::string, unsigned int> droppedBefore;
    for (int i = 0; i < kStable; ++i)
        droppedBefore[stableSerial(i)] = kobsim_dropped(stableSerial(i).c_str());
    hosts.clear();
    for (int t = 0; t < kThreads; ++t)
        hosts.emplace_back(host, t, kCommands, kFinalCommands, false);
    for (auto& h : hosts)
        h.join();
    for (int i = 0; i < kStable; ++i)
        ASSERT_TRUE(fenceWrites(stableSerial(i)));
    const int lateExpected = kThreads / kStable * kFinalCommands;
    auto lateOf = [&](const RecordedEvents& e, const std::string& serial) {
        int n = 0;
        for (const DigitalEvent& d : e.digital)
            n += d.serial == serial && d.first >= kFirstCommand &&
                 d.first < kFirstCommand + kThreads && d.second >= kCommands;
        return n + static_cast<int>(kobsim_dropped(serial.c_str()) - droppedBefore[serial]);
    };
    EXPECT_TRUE(recorder->waitFor([&](const RecordedEvents& e) {
        for (int i = 0; i < kStable; ++i)
            if (lateOf(e, stableSerial(i)) < lateExpected) return false;
        return true;
    })) << "answers after the last open neither came nor were dropped";

    Seen arrived, answered;
    for (int i = 0; i < kStable; ++i)
        for (const Report& r : stable[i]->reports())
            if (r.size() > 3 && r[1] == 0x20 && r[2] >= kFirstCommand &&
                r[2] < kFirstCommand + kThreads)
                arrived[{stableSerial(i), r[2]}].push_back(r[3]);
    const RecordedEvents e = recorder->snapshot();
    for (const DigitalEvent& d : e.digital)
        if (d.first >= kFirstCommand && d.first < kFirstCommand + kThreads)
            answered[{d.serial, d.first}].push_back(d.second);
    const int total = kCommands + kFinalCommands;
    for (int t = 0; t < kThreads; ++t) {
        const std::string what = " thread " + std::to_string(t);
        const auto key = std::make_pair(stableSerial(t % kStable), kFirstCommand + t);
        // Commands reach a device that stays attached exactly once, in
        // order, through every close and open (queued jobs wait for the
        // next open).
        expectInOrderOnce(arrived[key], true, total, key.first + what, opens);
        // Answers come at most once and in order; those to the commands
        // after the last open all come.
        const std::vector<int>& got = answered[key];
        expectInOrderOnce(got, false, total, key.first + " answers" + what, opens);
        int late = 0;
        for (int v : got)
            late += v >= kCommands;
        EXPECT_LE(late, kFinalCommands) << key.first << what;
        expectInOrderOnce(answered[{churnSerial(t % kChurning), kFirstCommand + t}], false, total,
                          churnSerial(t % kChurning) + what, opens + plugs);
    }
    unsigned int dropped = 0;
    for (int i = 0; i < kStable; ++i)
        dropped += kobsim_dropped(stableSerial(i).c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "stress: %d commands, %zu digital events, %u reports dropped, %d attach/detach "
        "cycles, %d open/close cycles, %.1f s\n",
        posted.load(), e.digital.size(), dropped, plugs, opens, seconds);

    kob_close();
    for (int i = 0; i < kStable; ++i)
        kobsim_detach(stableSerial(i).c_str());
    // Every device that arrived was removed again.
    const RecordedEvents last = recorder->snapshot();
    for (int i = 0; i < kChurning; ++i)
        EXPECT_EQ(last.countStatus(churnSerial(i), 0, kArrived),
                  last.countStatus(churnSerial(i), 1, kRemoved));
    // No thread of the library or of a virtual device is left.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (threadCount() > threadsBefore && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_LE(threadCount(), threadsBefore);
}

}  // namespace
}  // namespace koblib
