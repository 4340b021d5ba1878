#include "virtual_kob.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <type_traits>

#include "device/command_reports.h"
#include "koblib_codes.h"
#include "os/signal_mask.h"
#include "virtual_port.h"

namespace koblib {

namespace {

using Clock = std::chrono::steady_clock;

// How often the firmware tries again to hand a held report to a host that
// had no room for it.
constexpr std::chrono::milliseconds kRetryHeld(2);
// The silence the receiver reports before the first frame it hears.
constexpr long kFirstSilenceUs = 0xFFFFL * KOBC_TICK_US;
// The device's words are the unsigned words KOBLIB_CODES reads and writes.
static_assert(std::is_same<std::uint32_t, unsigned>::value, "32-bit words are unsigned int");
// At most this many words go to the host in one receive report.
constexpr std::size_t kMaxReportWords = 255;

// The code the device collected, as timings by the one conversion of
// KOBLIB_CODES. The firmware sends what it has: pair counts larger than
// the words it holds are cut to them. A code it cannot read (no carrier,
// a burst of 0 periods) goes on the air as nothing.
bool codeTimings(std::vector<std::uint32_t> words, kobc_code& code) {
    if (words.size() < 4) return false;
    const std::size_t pairs = (words.size() - 4) / 2;
    words[2] = std::min<std::uint32_t>(words[2], static_cast<std::uint32_t>(pairs));
    words[3] = std::min<std::uint32_t>(words[3], static_cast<std::uint32_t>(pairs - words[2]));
    words.resize(4 + 2 * (words[2] + words[3]));
    return kobc_ccf_parse_words(words.data(), words.size(), &code, nullptr, 0) == KOBC_OK &&
           code.carrier_hz > 0;
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
    // Guarded by portsLock_: reports waiting for room, in order, and
    // whether the rest of the message being sent is left out.
    std::deque<std::vector<unsigned char>> held;
    bool discarding = false;
};

VirtualKOB::VirtualKOB(std::string serial, std::uint32_t version, std::uint32_t payload)
    : serial_(std::move(serial)), version_(version), payload_(payload) {
    firmware_ = startQuietThread<std::thread>(&VirtualKOB::firmwareLoop, this);
}

VirtualKOB::~VirtualKOB() {
    detach();
    {
        std::lock_guard<std::mutex> guard(stateLock_);
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
// are taken out under portsLock_ and joined after it is let go: an ending
// reader may still wait for stateLock_, whose holder may want portsLock_.
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
    MutexLock guard(portsLock_);
    inputSink_ = std::move(sink);
}

void VirtualKOB::firmwareLoop() {
    std::unique_lock<std::mutex> lock(stateLock_);
    for (;;) {
        if (holding_) retryHeld(lock);
        flushInputs(lock);
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
        if (!timers_.empty()) {
            auto next =
                std::min_element(timers_.begin(), timers_.end(),
                                 [](const Timed& a, const Timed& b) { return a.at < b.at; });
            if (next->at <= Clock::now()) {
                auto action = std::move(next->action);
                timers_.erase(next);
                action();
                continue;
            }
        }
        if (!inbox_.empty()) {
            std::vector<std::vector<unsigned char>> reports;
            reports.swap(inbox_);
            bool selfDetach = false;
            for (const auto& report : reports) {
                if (report.size() > 1 && report[1] == command::kBootloader) {
                    selfDetach = true;
                    break;  // the device has left; later reports are not heard
                }
                handleOutput(report);
            }
            if (selfDetach) {
                flushInputs(lock);  // the answers to earlier commands still go out
                auto listener = selfDetachListener_;
                lock.unlock();
                detach();
                if (listener) listener();
                lock.lock();
            }
            continue;
        }
        if (!timers_.empty()) {
            // Nothing is due (that ran above): sleep until the next timer.
            const auto at =
                std::min_element(timers_.begin(), timers_.end(),
                                 [](const Timed& a, const Timed& b) { return a.at < b.at; })
                    ->at;
            wake_.wait_until(lock, holding_ ? std::min(at, Clock::now() + kRetryHeld) : at);
            continue;
        }
        if (holding_)
            wake_.wait_for(lock, kRetryHeld);
        else
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
        case command::kIRSend: {
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
        case command::kStop:
            stopTransmission();
            break;
        case command::kModulationOn:
            measuring_ = true;
            break;
        case command::kModulationOff:
            measuring_ = false;
            break;
        case command::kRawLearnStart:
            rawLearning_ = true;
            break;
        case command::kRawLearnStop:
            rawLearning_ = false;
            break;
        case command::kDigitalIO:
            queueInput({report::kDigitalIO, at(2), at(3)});
            break;
        case command::kWakeEnable:
            wakeEnabled_ = at(2) != 0;
            break;
        case command::kWakeChunk:
        case command::kWakeChunkFlagged: {  // a chunk of wake block 0 / 1
            auto& block = wakeBlocks_[command - command::kWakeChunk];
            const std::size_t offset = at(2);
            const std::size_t length = at(3);
            if (offset == 0) block.clear();
            block.resize(offset + length, 0);
            for (std::size_t k = 0; k < length; ++k)
                block[offset + k] = at(4 + k);
            break;
        }
        case command::kWakeupInfo: {
            const unsigned char value = at(2);
            const auto& block = wakeBlocks_[value & 1];
            const std::size_t n = std::min<std::size_t>(block.size(), 255);
            sendMessage({report::kWakeupInfo, value, static_cast<unsigned char>(n)},
                        std::vector<unsigned char>(block.begin(), block.begin() + n), 1);
            break;
        }
        default:
            break;  // blink and anything else: logged only
    }
}

// The collected code goes on the air: the once sequence once, the repeat
// sequence 1 + repeat times; each frame is heard (with loopback) when it
// ends, and the transmission-finished report follows the last.
void VirtualKOB::goOnAir() {
    const std::vector<std::uint32_t> words = sendWords_;
    const std::uint64_t tx = nextTransmission_++;
    const auto now = Clock::now();
    Clock::time_point t = std::max(now, airFreeAt_);
    auto code = std::make_unique<kobc_code>();
    // Each frame as timings: the once sequence, the repeat sequence 1 +
    // repeat times.
    std::vector<std::pair<const int*, std::size_t>> frames;
    if (codeTimings(words, *code)) {
        if (code->once_count) frames.emplace_back(code->durations, code->once_count);
        for (unsigned k = 0; code->repeat_count && k < 1u + sendRepeat_; ++k)
            frames.emplace_back(code->durations + code->once_count, code->repeat_count);
    }
    transmission_ = tx;
    const double scale = airTimePercent_ / 100.0;
    const auto hz = static_cast<std::uint32_t>(std::lround(code->carrier_hz));
    long silenceUs = kFirstSilenceUs;
    for (const auto& [durations, count] : frames) {
        long long durationUs = 0;
        for (std::size_t k = 0; k < count; ++k)
            durationUs += std::abs(durations[k]);
        std::vector<std::uint32_t> ticks(count + 1);
        std::size_t written = 0;
        if (kobc_frame_from_timings(durations, count, silenceUs, ticks.data(), ticks.size(),
                                    &written) != KOBC_OK)
            written = 0;
        ticks.resize(std::min(written, kMaxReportWords));
        silenceUs = std::abs(durations[count - 1]);
        t += std::chrono::microseconds(static_cast<long long>(durationUs * scale));
        if (ticks.empty()) continue;
        schedule(t, tx, [this, ticks, hz] {
            if (loopback_) hear(ticks, hz);
        });
    }
    schedule(t, tx, [this, tx] {
        if (transmission_ == tx) transmission_ = 0;
        queueInput({report::kIRSent, 0x00});
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
    queueInput({report::kIRSent, 0x01});
}

// The receiver reports a frame: its words; with carrier measurement on,
// the carrier of its first burst; with raw learning on, the raw words.
void VirtualKOB::hear(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz) {
    const std::size_t n = std::min<std::size_t>(ticks.size(), 255);
    std::vector<unsigned char> data;
    for (std::size_t k = 0; k < n; ++k)
        appendWord(data, ticks[k] & 0xFFFF);
    sendMessage({report::kIRReceived, static_cast<unsigned char>(n)}, data, 2);
    if (measuring_ && n > 1 && carrierHz > 0) {
        const double cycles =
            std::min(65535.0, std::floor(ticks[1] * KOBC_TICK_US * carrierHz / 1e6 + 0.5));
        if (cycles > 0) {
            const auto total = static_cast<std::uint32_t>(std::llround(cycles * carrierHz));
            const auto c = static_cast<std::uint32_t>(cycles);
            queueInput({report::kModulation, 0x00, static_cast<unsigned char>(c >> 8),
                        static_cast<unsigned char>(c), static_cast<unsigned char>(total >> 24),
                        static_cast<unsigned char>(total >> 16),
                        static_cast<unsigned char>(total >> 8), static_cast<unsigned char>(total)});
        }
    }
    if (rawLearning_)
        sendMessage({report::kRawLearn, 0x00, static_cast<unsigned char>(n), 0x00}, data, 2);
}

std::vector<std::vector<unsigned char>> VirtualKOB::messageReports(
    const std::vector<unsigned char>& head, const std::vector<unsigned char>& data,
    std::size_t entryWidth, std::size_t payload) {
    std::vector<std::vector<unsigned char>> reports;
    std::vector<unsigned char> report(head.begin(), head.begin() + std::min(head.size(), payload));
    std::size_t pos = 0;
    for (;;) {
        // Whole entries only: the host never reads an entry split across
        // two reports.
        const std::size_t room = (payload - report.size()) / entryWidth * entryWidth;
        const std::size_t take = std::min(room, data.size() - pos);
        report.insert(report.end(), data.begin() + pos, data.begin() + pos + take);
        pos += take;
        report.resize(payload, 0);
        reports.push_back(std::move(report));
        if (pos >= data.size() || payload < entryWidth) return reports;
        report.clear();
    }
}

void VirtualKOB::sendMessage(const std::vector<unsigned char>& head,
                             const std::vector<unsigned char>& data, std::size_t entryWidth) {
    bool first = true;
    for (const auto& report : messageReports(head, data, entryWidth, payload_)) {
        queueInput(report, first);
        first = false;
    }
}

// Called with stateLock_ held: the report waits in the outbox until the
// firmware thread lets go of the lock.
void VirtualKOB::queueInput(const std::vector<unsigned char>& payload, bool first) {
    Outgoing out;
    out.report.assign(payload_, 0);
    std::copy_n(payload.begin(), std::min<std::size_t>(payload.size(), payload_),
                out.report.begin());
    out.first = first;
    out.kept = first && !payload.empty() && payload[0] == report::kIRSent;
    outbox_.push_back(std::move(out));
}

void VirtualKOB::flushInputs(std::unique_lock<std::mutex>& lock) {
    if (outbox_.empty()) return;
    std::vector<Outgoing> reports;
    reports.swap(outbox_);
    lock.unlock();
    for (const auto& report : reports)
        deliverInput(report);
    lock.lock();
}

// A host that has no room loses whole messages, never a part of one, and
// never the report that ends a transmission: as the firmware finishes
// a message it has begun and keeps its completion report until the host
// takes it (its endpoint holds a report until the host polls), those wait
// for room; a message that finds no room at its first report is
// discarded whole, and each of its reports counts as dropped.
void VirtualKOB::deliverInput(const Outgoing& out) {
    MutexLock guard(portsLock_);
    if (detached_) return;
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

void VirtualKOB::retryHeld(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    {
        MutexLock guard(portsLock_);
        bool still = false;
        for (auto& connection : connections_) {
            Connection& c = *connection;
            while (!c.held.empty() && !c.done) {
                const auto delivery =
                    c.port->sendInput(c.held.front().data(), c.held.front().size());
                if (delivery == VirtualPort::Delivery::kDropped) break;
                c.held.pop_front();  // sent, or the host has gone
            }
            if (c.done) c.held.clear();
            still = still || !c.held.empty();
        }
        holding_ = still && !detached_;
    }
    lock.lock();
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
    std::vector<unsigned char> bytes{report::kButtons, static_cast<unsigned char>(pairs.size())};
    for (const auto& pair : pairs) {
        bytes.push_back(pair.first);
        bytes.push_back(pair.second);
    }
    return sendRaw(bytes.data(), bytes.size());
}

bool VirtualKOB::sendRaw(const unsigned char* bytes, std::size_t length) {
    if (detached()) return false;
    std::vector<unsigned char> report(bytes, bytes + length);
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        schedule(Clock::now(), 0, [this, report] { queueInput(report, true); });
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
