#include "device_outputs.h"

#include <thread>
#include <utility>

#include "koblib_sim.h"

namespace koblib {

DeviceOutputs::DeviceOutputs(std::string serial, unsigned int reportLength)
    : serial_(std::move(serial)), reportLength_(reportLength) {}

void DeviceOutputs::fetch() {
    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        const unsigned int n = kobsim_outputs(serial_.c_str(), buffer.data(),
                                              static_cast<unsigned int>(buffer.size()));
        if (n == 0) return;
        for (unsigned int at = 0; at < n; at += reportLength_) {
            const unsigned int end = at + reportLength_ < n ? at + reportLength_ : n;
            reports_.emplace_back(buffer.begin() + at, buffer.begin() + end);
        }
    }
}

std::vector<Report> DeviceOutputs::reports() {
    std::lock_guard<std::mutex> guard(lock_);
    fetch();
    return reports_;
}

bool DeviceOutputs::waitFor(const std::function<bool(const std::vector<Report>&)>& predicate,
                            std::chrono::milliseconds deadline) {
    // The virtual device offers no notice of a received report: poll.
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            fetch();
            if (predicate(reports_)) return true;
        }
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void DeviceOutputs::discard() {
    std::lock_guard<std::mutex> guard(lock_);
    fetch();
    reports_.clear();
}

Report head(const Report& report, std::size_t n) {
    return Report(report.begin(), report.begin() + (n < report.size() ? n : report.size()));
}

}  // namespace koblib
