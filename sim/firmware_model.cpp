#include "firmware_model.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>
#include <utility>

#include "device/command_reports.h"
#include "koblib_codes.h"

namespace koblib {

namespace {

using Clock = FirmwareModel::Clock;

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

// The timer that falls due first; of timers of one time, the one set first
// (min_element takes the first).
template <class Iterator>
Iterator earliestOf(Iterator begin, Iterator end) {
    return std::min_element(begin, end, [](const auto& a, const auto& b) { return a.at < b.at; });
}

void appendWord(std::vector<unsigned char>& bytes, std::uint32_t word) {
    bytes.push_back(static_cast<unsigned char>((word >> 8) & 0xFF));
    bytes.push_back(static_cast<unsigned char>(word & 0xFF));
}

}  // namespace

FirmwareModel::FirmwareModel(std::size_t payload) : payload_(payload) {}

bool FirmwareModel::command(const std::vector<unsigned char>& r, Clock::time_point now) {
    if (left_ || r.size() < 2) return false;
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
            if (flags & 0x02) goOnAir(now);
            break;
        }
        case command::kStop:
            stopTransmission(now);
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
        case command::kBootloader:
            left_ = true;
            return true;
        default:
            break;  // blink and anything else: logged only
    }
    return false;
}

void FirmwareModel::hear(Clock::time_point at, std::vector<std::uint32_t> ticks,
                         std::uint32_t carrierHz) {
    schedule(at, 0, [this, ticks = std::move(ticks), carrierHz] { receive(ticks, carrierHz); });
}

void FirmwareModel::sendRaw(Clock::time_point at, std::vector<unsigned char> payload) {
    schedule(at, 0, [this, payload = std::move(payload)] { queueInput(payload, true); });
}

void FirmwareModel::configure(bool loopback, unsigned airTimePercent) {
    loopback_ = loopback;
    airTimePercent_ = airTimePercent;
}

std::optional<Clock::time_point> FirmwareModel::nextTimer() const {
    if (timers_.empty()) return std::nullopt;
    return earliestOf(timers_.begin(), timers_.end())->at;
}

bool FirmwareModel::runDue(Clock::time_point now) {
    if (timers_.empty()) return false;
    const auto next = earliestOf(timers_.begin(), timers_.end());
    if (next->at > now) return false;
    auto action = std::move(next->action);
    timers_.erase(next);
    action();
    return true;
}

std::vector<FirmwareModel::Input> FirmwareModel::takeInputs() {
    std::vector<Input> taken;
    taken.swap(outbox_);
    return taken;
}

void FirmwareModel::schedule(Clock::time_point at, std::uint64_t transmission,
                             std::function<void()> action) {
    timers_.push_back(Timed{at, transmission, std::move(action)});
}

// The collected code goes on the air: the once sequence once, the repeat
// sequence 1 + repeat times; each frame is heard (with loopback) when it
// ends, and the transmission-finished report follows the last.
void FirmwareModel::goOnAir(Clock::time_point now) {
    const std::vector<std::uint32_t> words = sendWords_;
    const std::uint64_t tx = nextTransmission_++;
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
            if (loopback_) receive(ticks, hz);
        });
    }
    schedule(t, tx, [this, tx] {
        if (transmission_ == tx) transmission_ = 0;
        queueInput({report::kIRSent, 0x00});
    });
    airFreeAt_ = t;
}

void FirmwareModel::stopTransmission(Clock::time_point now) {
    if (transmission_ == 0) return;
    const std::uint64_t tx = transmission_;
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [tx](const Timed& timed) { return timed.transmission == tx; }),
                  timers_.end());
    transmission_ = 0;
    airFreeAt_ = now;
    queueInput({report::kIRSent, 0x01});
}

// The receiver reports a frame: its words; with carrier measurement on,
// the carrier of its first burst; with raw learning on, the raw words.
void FirmwareModel::receive(const std::vector<std::uint32_t>& ticks, std::uint32_t carrierHz) {
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

std::vector<std::vector<unsigned char>> FirmwareModel::messageReports(
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

void FirmwareModel::sendMessage(const std::vector<unsigned char>& head,
                                const std::vector<unsigned char>& data, std::size_t entryWidth) {
    bool first = true;
    for (const auto& report : messageReports(head, data, entryWidth, payload_)) {
        queueInput(report, first);
        first = false;
    }
}

void FirmwareModel::queueInput(const std::vector<unsigned char>& payload, bool first) {
    Input out;
    out.report.assign(payload_, 0);
    std::copy_n(payload.begin(), std::min<std::size_t>(payload.size(), payload_),
                out.report.begin());
    out.first = first;
    out.kept = first && !payload.empty() && payload[0] == report::kIRSent;
    outbox_.push_back(std::move(out));
}

}  // namespace koblib
