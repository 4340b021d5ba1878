#include "virtual_kob.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "virtual_port.h"

namespace koblib {

namespace {

using Clock = std::chrono::steady_clock;

// Pronto's frequency unit: f = 4145146 / word Hz (0.241246 us per unit).
constexpr double kProntoClock = 4145146.0;
constexpr double kTickMicroseconds = 4.0;

std::uint32_t toTicks(double microseconds) {
    const double ticks = std::floor(microseconds / kTickMicroseconds + 0.5);
    return ticks > 0xFFFF ? 0xFFFFu : static_cast<std::uint32_t>(ticks);
}

void appendWord(std::vector<unsigned char>& bytes, std::uint32_t word) {
    bytes.push_back(static_cast<unsigned char>((word >> 8) & 0xFF));
    bytes.push_back(static_cast<unsigned char>(word & 0xFF));
}

}  // namespace

struct VirtualKOB::Connection {
    std::unique_ptr<VirtualPort> port;
    std::thread reader;
    std::atomic<bool> done{false};
};

VirtualKOB::VirtualKOB(std::string serial, std::uint32_t version, std::uint32_t payload)
    : serial_(std::move(serial)), version_(version), payload_(payload) {
    firmware_ = std::thread(&VirtualKOB::firmwareLoop, this);
}

VirtualKOB::~VirtualKOB() {
    detach();
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        stopping_ = true;
    }
    wake_.notify_all();
    firmware_.join();
    std::lock_guard<std::mutex> guard(portsLock_);
    for (auto& connection : connections_) {
        connection->port->shutdown();
        connection->reader.join();
    }
}

std::shared_ptr<HIDDevice> VirtualKOB::open() {
    std::lock_guard<std::mutex> guard(portsLock_);
    if (detached_) return nullptr;
    reapConnections();
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
    connection->reader = std::thread(&VirtualKOB::readLoop, this, raw);
    connections_.push_back(std::move(connection));
    return device;
}

// Joins the readers of connections whose host end has gone (a scan opens
// a known device and closes it again at once).
void VirtualKOB::reapConnections() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->done) {
            (*it)->reader.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void VirtualKOB::detach() {
    std::lock_guard<std::mutex> guard(portsLock_);
    if (detached_) return;
    detached_ = true;
    for (auto& connection : connections_) connection->port->shutdown();
}

bool VirtualKOB::detached() const {
    std::lock_guard<std::mutex> guard(portsLock_);
    return detached_;
}

void VirtualKOB::setSelfDetachListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> guard(stateLock_);
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
        std::lock_guard<std::mutex> guard(stateLock_);
        connectionEnded_ = true;
    }
    wake_.notify_all();
}

void VirtualKOB::deliverOutput(const unsigned char* report, std::size_t length) {
    std::vector<unsigned char> whole(report, report + length);
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        outputLog_.push_back(whole);
        inbox_.push_back(std::move(whole));
    }
    wake_.notify_all();
}

void VirtualKOB::setInputSink(InputSink sink) {
    std::lock_guard<std::mutex> guard(portsLock_);
    inputSink_ = std::move(sink);
}

void VirtualKOB::firmwareLoop() {
    std::unique_lock<std::mutex> lock(stateLock_);
    for (;;) {
        if (stopping_) return;
        if (connectionEnded_.exchange(false)) {
            // Not under stateLock_: an ending reader may still be waiting
            // for it.
            lock.unlock();
            {
                std::lock_guard<std::mutex> guard(portsLock_);
                reapConnections();
            }
            lock.lock();
            continue;
        }
        if (!inbox_.empty()) {
            std::vector<std::vector<unsigned char>> reports;
            reports.swap(inbox_);
            bool selfDetach = false;
            for (const auto& report : reports) {
                if (report.size() > 1 && report[1] == 0xFE) {
                    selfDetach = true;
                    break;  // the device has left; later reports are not heard
                }
                handleOutput(report);
            }
            if (selfDetach) {
                auto listener = selfDetachListener_;
                lock.unlock();
                detach();
                if (listener) listener();
                lock.lock();
            }
            continue;
        }
        if (!timers_.empty()) {
            auto next = std::min_element(timers_.begin(), timers_.end(),
                                         [](const Timed& a, const Timed& b) { return a.at < b.at; });
            if (next->at <= Clock::now()) {
                auto action = std::move(next->action);
                timers_.erase(next);
                action();
                continue;
            }
            const auto at = next->at;
            wake_.wait_until(lock, at);
            continue;
        }
        wake_.wait(lock);
    }
}

void VirtualKOB::schedule(Clock::time_point at, std::uint64_t transmission,
                          std::function<void()> action) {
    // Timers of one time keep their order: min_element takes the first.
    timers_.push_back(Timed{at, transmission, std::move(action)});
}

void VirtualKOB::handleOutput(const std::vector<unsigned char>& r) {
    if (r.size() < 2) return;
    const unsigned char command = r[1];
    auto at = [&](std::size_t i) -> unsigned char { return i < r.size() ? r[i] : 0; };
    switch (command) {
        case 0x0E: {  // IR-send sequence
            const unsigned char flags = at(2);
            std::size_t count = at(3);
            std::size_t pos = 4;
            if (flags & 0x01) {
                sendWords_.clear();
                sendRepeat_ = at(4);
                pos = 6;
                count = count >= 2 ? count - 2 : 0;
            }
            for (std::size_t k = 0; k + 2 <= count && pos + 1 < r.size(); k += 2, pos += 2)
                sendWords_.push_back((std::uint32_t(r[pos]) << 8) | r[pos + 1]);
            if (flags & 0x02) goOnAir();
            break;
        }
        case 0x10: stopTransmission(); break;
        case 0x0C: measuring_ = true; break;
        case 0x0D: measuring_ = false; break;
        case 0x21: rawLearning_ = true; break;
        case 0x22: rawLearning_ = false; break;
        case 0x20: sendInput({0x20, at(2), at(3)}); break;
        case 0x23: wakeEnabled_ = at(2) != 0; break;
        case 0x24:
        case 0x25: {  // a chunk of wake block 0 / 1
            auto& block = wakeBlocks_[command - 0x24];
            const std::size_t offset = at(2);
            const std::size_t length = at(3);
            if (offset == 0) block.clear();
            block.resize(offset + length, 0);
            for (std::size_t k = 0; k < length; ++k) block[offset + k] = at(4 + k);
            break;
        }
        case 0x26: {
            const unsigned char value = at(2);
            const auto& block = wakeBlocks_[value & 1];
            const std::size_t n = std::min<std::size_t>(block.size(), 255);
            sendMessage({0x26, value, static_cast<unsigned char>(n)},
                         std::vector<unsigned char>(block.begin(), block.begin() + n));
            break;
        }
        default: break;  // blink and anything else: logged only
    }
}

// The collected code goes on the air: the once sequence once, the repeat
// sequence 1 + repeat times; each frame is heard (with loopback) when it
// ends, and 0x0F follows the last.
void VirtualKOB::goOnAir() {
    const std::vector<std::uint32_t> words = sendWords_;
    const std::uint64_t tx = nextTransmission_++;
    const auto now = Clock::now();
    Clock::time_point t = std::max(now, airFreeAt_);
    const double f = words.size() > 1 && words[1] ? kProntoClock / words[1] : 0.0;
    std::vector<std::vector<std::uint32_t>> frames;  // burst pairs in carrier periods
    if (f > 0 && words.size() >= 4) {
        const std::size_t pairs = (words.size() - 4) / 2;
        const std::size_t once = std::min<std::size_t>(words[2], pairs);
        const std::size_t repeat = std::min<std::size_t>(words[3], pairs - once);
        if (once) frames.emplace_back(words.begin() + 4, words.begin() + 4 + 2 * once);
        for (unsigned k = 0; repeat && k < 1u + sendRepeat_; ++k)
            frames.emplace_back(words.begin() + 4 + 2 * once, words.begin() + 4 + 2 * (once + repeat));
    }
    transmission_ = tx;
    const double scale = airTimePercent_ / 100.0;
    const double periodUs = f > 0 ? 1e6 / f : 0.0;
    std::uint32_t previousOff = 0xFFFF;
    for (const auto& frame : frames) {
        double durationUs = 0;
        std::vector<std::uint32_t> ticks{previousOff};
        for (std::size_t k = 0; k < frame.size(); ++k) {
            durationUs += frame[k] * periodUs;
            if (k + 1 < frame.size() && ticks.size() < 255) ticks.push_back(toTicks(frame[k] * periodUs));
        }
        previousOff = toTicks(frame.back() * periodUs);
        t += std::chrono::microseconds(static_cast<long long>(durationUs * scale));
        const std::uint32_t hz = static_cast<std::uint32_t>(std::lround(f));
        schedule(t, tx, [this, ticks, hz] {
            if (loopback_) hear(ticks, hz);
        });
    }
    schedule(t, tx, [this, tx] {
        if (transmission_ == tx) transmission_ = 0;
        sendInput({0x0F, 0x00});
    });
    airFreeAt_ = t;
}

void VirtualKOB::stopTransmission() {
    if (transmission_ == 0) return;
    const std::uint64_t tx = transmission_;
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [tx](const Timed& timed) { return timed.transmission == tx; }),
                  timers_.end());
    transmission_ = 0;
    airFreeAt_ = Clock::now();
    sendInput({0x0F, 0x01});
}

// The receiver reports a frame: 0x0A with its words; with carrier
// measurement on, 0x0B for its first burst; with raw learning on, 0x0C.
void VirtualKOB::hear(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz) {
    const std::size_t n = std::min<std::size_t>(ticks.size(), 255);
    std::vector<unsigned char> data;
    for (std::size_t k = 0; k < n; ++k) appendWord(data, ticks[k] & 0xFFFF);
    sendMessage({0x0A, static_cast<unsigned char>(n)}, data);
    if (measuring_ && n > 1 && carrierHz > 0) {
        const double cycles = std::min(65535.0, std::floor(ticks[1] * kTickMicroseconds *
                                                               carrierHz / 1e6 + 0.5));
        if (cycles > 0) {
            const auto total = static_cast<std::uint32_t>(std::llround(cycles * carrierHz));
            const auto c = static_cast<std::uint32_t>(cycles);
            sendInput({0x0B, 0x00, static_cast<unsigned char>(c >> 8),
                       static_cast<unsigned char>(c), static_cast<unsigned char>(total >> 24),
                       static_cast<unsigned char>(total >> 16),
                       static_cast<unsigned char>(total >> 8), static_cast<unsigned char>(total)});
        }
    }
    if (rawLearning_) sendMessage({0x0C, 0x00, static_cast<unsigned char>(n), 0x00}, data);
}

// A message of one or more reports: the head and data in the first, the
// rest of the data from offset 0 of the following ones.
void VirtualKOB::sendMessage(const std::vector<unsigned char>& head,
                             const std::vector<unsigned char>& data) {
    std::vector<unsigned char> bytes(head);
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::size_t pos = 0;
    do {
        const std::size_t take = std::min<std::size_t>(payload_, bytes.size() - pos);
        sendInput(std::vector<unsigned char>(bytes.begin() + pos, bytes.begin() + pos + take));
        pos += take;
    } while (pos < bytes.size());
}

bool VirtualKOB::sendInput(const std::vector<unsigned char>& payload) {
    std::vector<unsigned char> report(payload_, 0);
    std::copy_n(payload.begin(), std::min<std::size_t>(payload.size(), payload_), report.begin());
    std::lock_guard<std::mutex> guard(portsLock_);
    if (detached_) return false;
    for (auto& connection : connections_)
        if (!connection->done) connection->port->sendInput(report.data(), report.size());
    if (inputSink_) inputSink_(report.data(), report.size());
    return true;
}

bool VirtualKOB::receiveFrame(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz) {
    if (detached()) return false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        schedule(Clock::now(), 0, [this, ticks, carrierHz] { hear(ticks, carrierHz); });
    }
    wake_.notify_all();
    return true;
}

bool VirtualKOB::pressButtons(const std::vector<std::pair<unsigned char, unsigned char>>& pairs) {
    std::vector<unsigned char> report{0x10, static_cast<unsigned char>(pairs.size())};
    for (const auto& pair : pairs) {
        report.push_back(pair.first);
        report.push_back(pair.second);
    }
    return sendRaw(report.data(), report.size());
}

bool VirtualKOB::sendRaw(const unsigned char* bytes, std::size_t length) {
    if (detached()) return false;
    std::vector<unsigned char> report(bytes, bytes + length);
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        schedule(Clock::now(), 0, [this, report] { sendInput(report); });
    }
    wake_.notify_all();
    return true;
}

std::vector<std::vector<unsigned char>> VirtualKOB::takeOutputs(std::size_t maxBytes) {
    std::lock_guard<std::mutex> guard(stateLock_);
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
    std::unique_lock<std::mutex> guard(stateLock_);
    return wake_.wait_for(guard, deadline, [&] { return outputLog_.size() >= count; });
}

void VirtualKOB::configure(bool loopback, unsigned airTimePercent) {
    std::lock_guard<std::mutex> guard(stateLock_);
    loopback_ = loopback;
    airTimePercent_ = airTimePercent;
}

}  // namespace koblib
