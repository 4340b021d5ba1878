// Event latency through KOBLIB_SIM: from a report the virtual device sends
// to the host's callback, p50 and p99 over many reports. Prints figures.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "koblib_sim.h"

namespace {
using Clock = std::chrono::steady_clock;
std::mutex lock;
std::condition_variable arrived;
int answers = 0;

void KOB_CALL onDigitalIO(const char*, unsigned char, unsigned char) {
    {
        std::lock_guard<std::mutex> guard(lock);
        ++answers;
    }
    arrived.notify_one();
}
void KOB_CALL onStatus(const char*, unsigned char code, const char*) {
    if (code == 0) onDigitalIO(nullptr, 0, 0);
}
}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    kob_open(onStatus, nullptr, nullptr, nullptr, onDigitalIO);
    {
        std::unique_lock<std::mutex> guard(lock);
        arrived.wait(guard, [] { return answers > 0; });  // the device is in service
    }
    std::vector<double> micros;
    const unsigned char report[] = {0x20, 1, 2};
    for (int k = 0; k < rounds; ++k) {
        int before;
        {
            std::lock_guard<std::mutex> guard(lock);
            before = answers;
        }
        const auto start = Clock::now();
        kobsim_input("SIM-0001", report, sizeof report);
        std::unique_lock<std::mutex> guard(lock);
        arrived.wait(guard, [&] { return answers > before; });
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    kob_close();
    std::sort(micros.begin(), micros.end());
    std::printf(
        "virtual device report -> host callback, %d reports: p50 %.1f us, p99 %.1f us, max %.1f "
        "us\n",
        rounds, micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back());
    return 0;
}
