#include "session.h"

#include <cstring>
#include <sstream>

#include "device_lists.h"
#include "ir_code.h"
#include "koblib.h"
#include "simulation.h"

namespace kob {

std::atomic<bool> interrupted{false};

Clock::time_point after(double seconds) {
    return Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
}

std::string seconds(double s) {
    std::ostringstream text;
    text << s << " s";
    return text.str();
}

namespace {

std::string joined(const std::vector<std::string>& serials) {
    std::string text;
    for (const auto& serial : serials)
        text += (text.empty() ? "" : ", ") + serial;
    return text;
}

}  // namespace

Session::Session(Simulation& sim) : sim_(sim) {
    sim_.prepare();
    EventQueue::openLibrary();
    sim_.start();
}

Session::~Session() {
    sim_.stop();
    kob_close();
}

bool Session::next(Event& event, Clock::time_point deadline) {
    if (!held_.empty()) {
        event = std::move(held_.front());
        held_.erase(held_.begin());
        return true;
    }
    // Short waits so that Ctrl-C is seen at once.
    while (!interrupted) {
        const auto slice = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
        if (EventQueue::instance().pop(event, slice)) return true;
        if (Clock::now() >= deadline) return false;
    }
    return false;
}

std::vector<std::string> Session::devices(double waitSeconds) {
    const auto deadline = after(waitSeconds);
    auto quietFrom = Clock::now();
    for (Event event; !interrupted;) {
        const auto now = Clock::now();
        if (now >= deadline) break;
        if (!listedSerials().empty() && now - quietFrom >= kDevicesSettle) break;
        const auto until = std::min(deadline, now + std::chrono::milliseconds(50));
        if (!EventQueue::instance().pop(event, until)) continue;
        if (event.kind == Event::kStatus && event.values[0] == 0) quietFrom = Clock::now();
        held_.push_back(std::move(event));
    }
    if (interrupted) throw Interrupted("stopped while waiting for devices");
    return listedSerials();
}

std::vector<std::string> Session::targets(const std::string& serial, double waitSeconds) {
    const auto serials = devices(waitSeconds);
    if (serials.empty()) throw Failure("no device attached (waited " + seconds(waitSeconds) + ")");
    if (serial.empty()) return serials;
    for (const auto& s : serials)
        if (s == serial) return {s};
    throw Failure("no device " + serial + " (attached: " + joined(serials) + ")");
}

std::string Session::oneDevice(const std::string& serial, double waitSeconds) {
    const auto serials = targets(serial, waitSeconds);
    if (serials.size() > 1)
        throw UsageError("several devices (" + joined(serials) + "): choose one with --serial");
    return serials.front();
}

}  // namespace kob
