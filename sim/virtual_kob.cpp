#include "virtual_kob.h"

#include <algorithm>
#include <atomic>
#include <deque>

#include "device/command_reports.h"
#include "os/signal_mask.h"
#include "virtual_port.h"

namespace koblib {

namespace {

using Clock = std::chrono::steady_clock;

// How often the firmware tries again to hand a held report to a host that
// had no room for it.
constexpr std::chrono::milliseconds kRetryHeld(2);

}  // namespace

struct VirtualKOB::Connection {
    std::unique_ptr<VirtualPort> port;
    std::thread reader;
    std::atomic<bool> done{false};
    // Guarded by portsLock_: reports waiting for room, in order, and
    // whether the rest of the message being sent is left out.
    std::deque<std::vector<unsigned char>> held;
    bool discarding = false;
};

VirtualKOB::VirtualKOB(std::string serial, std::uint32_t version, std::uint32_t payload)
    : serial_(std::move(serial)), version_(version), payload_(payload), model_(payload) {
    firmware_ = startQuietThread<std::thread>(&VirtualKOB::firmwareLoop, this);
}

VirtualKOB::~VirtualKOB() {
    detach();
    {
        MutexLock guard(stateLock_);
        stopping_ = true;
    }
    wake_.notify_all();
    firmware_.join();
    reapConnections(true);  // detach() has shut every port: the readers end
}

std::shared_ptr<HIDDevice> VirtualKOB::open() {
    reapConnections(false);
    MutexLock guard(portsLock_);
    if (detached_) return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->port = std::make_unique<VirtualPort>(payload_ + 1, payload_ + 1);
    HIDIdentity identity;
    identity.valid = true;
    identity.vendorId = kKobVendorId;
    identity.productId = kKobProductId;
    identity.versionNumber = version_;
    identity.inputReportLength = payload_ + 1;
    identity.outputReportLength = payload_ + 1;
    identity.serialKnown = true;
    identity.serial = serial_;
    auto device = std::make_shared<HIDDevice>(connection->port->takeHostReadHandle(),
                                              connection->port->takeHostWriteHandle(), identity);
    Connection* raw = connection.get();
    connection->reader = startQuietThread<std::thread>(&VirtualKOB::readLoop, this, raw);
    connections_.push_back(std::move(connection));
    return device;
}

// Joins the readers of connections whose host end has gone (a scan opens
// a known device and closes it again at once), or of all connections. They
// are taken out under portsLock_ and joined after it is let go: no lock is
// held while a thread is joined.
void VirtualKOB::reapConnections(bool all) {
    std::list<std::unique_ptr<Connection>> ended;
    {
        MutexLock guard(portsLock_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            auto next = std::next(it);
            if (all || (*it)->done) ended.splice(ended.end(), connections_, it);
            it = next;
        }
    }
    for (auto& connection : ended)
        connection->reader.join();
}

void VirtualKOB::detach() {
    MutexLock guard(portsLock_);
    if (detached_) return;
    detached_ = true;
    for (auto& connection : connections_)
        connection->port->shutdown();
}

bool VirtualKOB::detached() const {
    MutexLock guard(portsLock_);
    return detached_;
}

void VirtualKOB::setSelfDetachListener(std::function<void()> listener) {
    MutexLock guard(stateLock_);
    selfDetachListener_ = std::move(listener);
}

void VirtualKOB::readLoop(Connection* connection) {
    std::vector<unsigned char> report(payload_ + 1 + 64);
    for (;;) {
        const int n = connection->port->receiveOutput(report.data(), report.size());
        if (n < 0) break;
        deliverOutput(report.data(), static_cast<std::size_t>(n));
    }
    connection->done = true;
    // The firmware thread joins it, so that no ended thread is left unjoined.
    {
        MutexLock guard(stateLock_);
        connectionEnded_ = true;
    }
    wake_.notify_all();
}

void VirtualKOB::deliverOutput(const unsigned char* report, std::size_t length) {
    std::vector<unsigned char> whole(report, report + length);
    {
        MutexLock guard(stateLock_);
        outputLog_.push_back(whole);
        inbox_.push_back(std::move(whole));
    }
    wake_.notify_all();
}

void VirtualKOB::setInputSink(InputSink sink) {
    MutexLock guard(portsLock_);
    inputSink_ = std::move(sink);
}

void VirtualKOB::firmwareLoop() {
    MutexLock lock(stateLock_);
    for (;;) {
        // Held reports, then what the firmware made, go out with stateLock_
        // let go (delivery takes portsLock_).
        const bool retry = holding_;
        const std::vector<FirmwareModel::Input> inputs = model_.takeInputs();
        if (retry || !inputs.empty()) {
            lock.unlock();
            if (retry) retryHeld();
            deliverInputs(inputs);
            lock.lock();
        }
        if (stopping_) return;
        if (connectionEnded_.exchange(false)) {
            // Not under stateLock_: an ending reader may still be waiting
            // for it.
            lock.unlock();
            reapConnections(false);
            lock.lock();
            continue;
        }
        // What fell due before the commands now waiting (a frame heard
        // before a command came in) goes out before their answers.
        const auto now = Clock::now();
        if (model_.runDue(now)) continue;
        if (!inbox_.empty()) {
            std::vector<std::vector<unsigned char>> reports;
            reports.swap(inbox_);
            bool selfDetach = false;
            for (const auto& report : reports)
                if (model_.command(report, now)) {
                    selfDetach = true;
                    break;  // the device has left; later reports are not heard
                }
            if (selfDetach) {
                // The answers to earlier commands still go out.
                const std::vector<FirmwareModel::Input> answers = model_.takeInputs();
                auto listener = selfDetachListener_;
                lock.unlock();
                deliverInputs(answers);
                detach();
                if (listener) listener();
                lock.lock();
            }
            continue;
        }
        if (const auto next = model_.nextTimer()) {
            // Nothing is due (that ran above): sleep until the next timer.
            lock.waitUntil(wake_, holding_ ? std::min(*next, Clock::now() + kRetryHeld) : *next);
            continue;
        }
        if (holding_)
            lock.waitFor(wake_, kRetryHeld);
        else
            lock.wait(wake_);
    }
}

// A host that has no room loses whole messages, never a part of one, and
// never the report that ends a transmission: as the firmware finishes
// a message it has begun and keeps its completion report until the host
// takes it (its endpoint holds a report until the host polls), those wait
// for room; a message that finds no room at its first report is
// discarded whole, and each of its reports counts as dropped.
void VirtualKOB::deliverInputs(const std::vector<FirmwareModel::Input>& inputs) {
    MutexLock guard(portsLock_);
    if (detached_) return;
    for (const auto& out : inputs) {
        for (auto& connection : connections_) {
            if (connection->done) continue;
            Connection& c = *connection;
            if (out.first) c.discarding = false;
            if (c.discarding) {
                ++dropped_;
                continue;
            }
            if (c.held.empty() && c.port->sendInput(out.report.data(), out.report.size()) !=
                                      VirtualPort::Delivery::kDropped)
                continue;
            if (out.first && !out.kept) {
                c.discarding = true;
                ++dropped_;
                continue;
            }
            c.held.push_back(out.report);
            holding_ = true;
        }
        if (inputSink_) inputSink_(out.report.data(), out.report.size());
    }
}

void VirtualKOB::retryHeld() {
    MutexLock guard(portsLock_);
    bool still = false;
    for (auto& connection : connections_) {
        Connection& c = *connection;
        while (!c.held.empty() && !c.done) {
            const auto delivery = c.port->sendInput(c.held.front().data(), c.held.front().size());
            if (delivery == VirtualPort::Delivery::kDropped) break;
            c.held.pop_front();  // sent, or the host has gone
        }
        if (c.done) c.held.clear();
        still = still || !c.held.empty();
    }
    holding_ = still && !detached_;
}

bool VirtualKOB::receiveFrame(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz) {
    if (detached()) return false;
    {
        MutexLock guard(stateLock_);
        model_.hear(Clock::now(), ticks, carrierHz);
    }
    wake_.notify_all();
    return true;
}

bool VirtualKOB::pressButtons(const std::vector<std::pair<unsigned char, unsigned char>>& pairs) {
    std::vector<unsigned char> bytes{report::kButtons, static_cast<unsigned char>(pairs.size())};
    for (const auto& pair : pairs) {
        bytes.push_back(pair.first);
        bytes.push_back(pair.second);
    }
    return sendRaw(bytes.data(), bytes.size());
}

bool VirtualKOB::sendRaw(const unsigned char* bytes, std::size_t length) {
    if (detached()) return false;
    {
        MutexLock guard(stateLock_);
        model_.sendRaw(Clock::now(), std::vector<unsigned char>(bytes, bytes + length));
    }
    wake_.notify_all();
    return true;
}

std::vector<std::vector<unsigned char>> VirtualKOB::takeOutputs(std::size_t maxBytes) {
    MutexLock guard(stateLock_);
    std::vector<std::vector<unsigned char>> taken;
    std::size_t bytes = 0;
    std::size_t k = 0;
    for (; k < outputLog_.size() && bytes + outputLog_[k].size() <= maxBytes; ++k) {
        bytes += outputLog_[k].size();
        taken.push_back(std::move(outputLog_[k]));
    }
    outputLog_.erase(outputLog_.begin(), outputLog_.begin() + k);
    return taken;
}

bool VirtualKOB::waitForOutputs(std::size_t count, std::chrono::milliseconds deadline) {
    const auto until = Clock::now() + deadline;
    MutexLock guard(stateLock_);
    while (outputLog_.size() < count)
        if (guard.waitUntil(wake_, until) == std::cv_status::timeout)
            return outputLog_.size() >= count;
    return true;
}

void VirtualKOB::configure(bool loopback, unsigned airTimePercent) {
    MutexLock guard(stateLock_);
    model_.configure(loopback, airTimePercent);
}

}  // namespace koblib
