#include "kob_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include <lirc_driver.h>

#include "device_lists.h"
#include "koblib.h"
#include "pulse_code.h"

static const logchannel_t logchannel = LOG_DRIVER;

namespace koblirc {

namespace {

// Emitters a KOB-1 has (the bits of kob_sendCCF's bitmask).
constexpr unsigned kEmitterCount = 8;
// How long a send waits beyond its own air time for "IR Sent".
constexpr auto kSentGrace = std::chrono::seconds(2);
// Frames heard this long after a code's "IR Sent" are its echo: the device
// hears what it sends.
constexpr auto kEchoWindow = std::chrono::milliseconds(200);
// How long after init a send waits for the device to be found: lircd
// initialises the driver when a client connects and sends at once.
constexpr auto kFirstScanWait = std::chrono::seconds(2);

// A device path that names no serial: none given, or LIRC's defaults.
bool namesSerial(const char* device) {
    return device && *device && std::strcmp(device, "auto") != 0 &&
           std::strcmp(device, "default") != 0 && device[0] != '/';
}

}  // namespace

KOBBridge& KOBBridge::instance() {
    static KOBBridge bridge;
    return bridge;
}

void KOBBridge::setOptionHook(OptionHook hook) {
    std::lock_guard<std::mutex> guard(lock_);
    optionHook_ = std::move(hook);
}

std::string KOBBridge::wantedSerial() const {
    if (!optionSerial_.empty()) return optionSerial_;
    return namesSerial(drv.device) ? drv.device : "";
}

int KOBBridge::open(const char* device) {
    return default_open(device);
}

int KOBBridge::init() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        log_perror_err("kob: pipe");
        return 0;
    }
    // The library's worker must never block on a reader that is slow.
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    {
        std::lock_guard<std::mutex> guard(lock_);
        readFd_ = fds[0];
        writeFd_ = fds[1];
        current_ = wantedSerial();
        present_ = false;
        open_ = true;
        openedAt_ = std::chrono::steady_clock::now();
        lastArrival_ = openedAt_;
        settled_ = false;
    }
    drv.fd = fds[0];
    // Arrivals may be reported before kob_open returns: no lock held here.
    if (!kob_open(&KOBBridge::onStatus, &KOBBridge::onSent, &KOBBridge::onReceived, nullptr,
                  nullptr))
        log_warn("kob: device-change notices could not be started");
    adoptFirstListed();
    return 1;
}

int KOBBridge::deinit() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!open_) return 1;
        open_ = false;
    }
    kob_close();
    std::lock_guard<std::mutex> guard(lock_);
    ::close(readFd_);
    ::close(writeFd_);
    readFd_ = writeFd_ = -1;
    present_ = false;
    awaiting_ = false;
    ++removals_;
    changed_.notify_all();
    drv.fd = -1;
    return 1;
}

int KOBBridge::close() {
    return deinit() ? 0 : 1;
}

void KOBBridge::adoptFirstListed() {
    const std::vector<std::string> serials = kob::listedSerials();
    const std::string first = serials.empty() ? std::string() : serials.front();
    std::lock_guard<std::mutex> guard(lock_);
    if (first.empty() || !wantedSerial().empty() || present_) return;
    current_ = first;
    present_ = true;
    log_notice("kob: using KOB %s", first.c_str());
    changed_.notify_all();
}

void KOBBridge::settle(std::unique_lock<std::mutex>& guard) {
    const auto bound = openedAt_ + kFirstScanWait;
    for (auto now = std::chrono::steady_clock::now(); open_ && now < bound;
         now = std::chrono::steady_clock::now()) {
        if (present_ && now - lastArrival_ >= kob::kDevicesSettle) break;
        changed_.wait_until(guard,
                            present_ ? std::min(bound, lastArrival_ + kob::kDevicesSettle) : bound);
    }
    settled_ = true;
    if (!open_ || !present_ || !wantedSerial().empty()) return;
    guard.unlock();  // the library is asked without lock_, as its callbacks take it
    const std::vector<std::string> serials = kob::listedSerials();
    guard.lock();
    if (serials.empty() || !open_ || !wantedSerial().empty() || current_ == serials.front()) return;
    current_ = serials.front();
    present_ = true;
    log_notice("kob: using KOB %s", current_.c_str());
}

void KOBBridge::onStatus(const char* serial, unsigned char code, const char* text) {
    KOBBridge& self = instance();
    bool lost = false;
    {
        std::lock_guard<std::mutex> guard(self.lock_);
        const bool quiet = !self.open_;  // every device leaves while closing
        if (code == 0) {
            log_notice("kob: KOB arrived: %s", serial);
            self.lastArrival_ = std::chrono::steady_clock::now();
            const bool wanted = self.wantedSerial().empty()
                                    ? !self.present_ || self.current_ == serial
                                    : self.current_ == serial;
            if (wanted && self.open_) {
                self.current_ = serial;
                self.present_ = true;
                log_notice("kob: using KOB %s", serial);
            }
        } else if (code == 1 && *serial) {
            if (quiet) {
                log_debug("kob: KOB removed: %s", serial);
            } else {
                log_notice("kob: KOB removed: %s", serial);
            }
            if (self.current_ == serial && self.present_) {
                self.present_ = false;
                ++self.removals_;
                lost = !quiet && self.wantedSerial().empty();
            }
        } else {
            log_debug("kob: %s: %s", serial, text);
        }
        self.changed_.notify_all();
    }
    if (lost) self.adoptFirstListed();
}

void KOBBridge::onSent(const char* serial, unsigned char status) {
    KOBBridge& self = instance();
    std::lock_guard<std::mutex> guard(self.lock_);
    if (self.current_ != serial) return;
    ++self.sentCount_;
    self.sentStatus_ = status;
    self.onAir_ = false;
    self.echoUntil_ = std::chrono::steady_clock::now() + kEchoWindow;
    self.changed_.notify_all();
}

void KOBBridge::onReceived(const char* serial, const char*, const unsigned int* words,
                           unsigned int count) {
    KOBBridge& self = instance();
    const std::vector<std::uint32_t> durations = frameToDurations(words, count);
    std::lock_guard<std::mutex> guard(self.lock_);
    if (!self.present_ || self.current_ != serial || self.writeFd_ < 0 || durations.empty()) return;
    // The device's echo of its own code would reach every client of the
    // LIRC program as a key press (and programs that act on key presses
    // would act on what was sent).
    if (!self.echo_ && (self.onAir_ || std::chrono::steady_clock::now() < self.echoUntil_)) {
        log_trace("kob: echo of the code sent dropped (%u words)", count);
        return;
    }
    // One write per frame: a frame of at most 255 words stays below
    // PIPE_BUF, so it goes in whole or not at all.
    const std::size_t bytes = durations.size() * sizeof(durations[0]);
    if (write(self.writeFd_, durations.data(), bytes) != static_cast<ssize_t>(bytes))
        log_warn("kob: frame of %u words dropped (reader behind)", count);
}

std::uint32_t KOBBridge::readData(std::uint32_t timeoutMicroseconds) {
    const int fd = drv.fd;
    if (fd < 0) return 0;
    pollfd p{fd, POLLIN, 0};
    const int ms = timeoutMicroseconds ? static_cast<int>((timeoutMicroseconds + 999) / 1000) : -1;
    int ready;
    do
        ready = poll(&p, 1, ms);
    while (ready < 0 && errno == EINTR);
    if (ready <= 0) return 0;
    std::uint32_t value = 0;
    if (read(fd, &value, sizeof value) != sizeof value) return 0;
    return value;
}

char* KOBBridge::receive(ir_remote* remotes) {
    if (!rec_buffer_clear()) return nullptr;
    return decode_all(remotes);
}

int KOBBridge::send(ir_remote* remote, ir_ncode* code) {
    if (!send_buffer_put(remote, code)) {
        log_error("kob: cannot encode %s", code && code->name ? code->name : "code");
        return 0;
    }
    const std::vector<std::uint32_t> durations(send_buffer_data(),
                                               send_buffer_data() + send_buffer_length());
    const std::uint32_t gap = remote->min_remaining_gap ? remote->min_remaining_gap : remote->gap;
    const std::string ccf = durationsToCCF(durations, remote->freq, gap);
    if (ccf.empty()) {
        log_error("kob: %s has %d times, more than a KOB-1 code holds",
                  code->name ? code->name : "code", send_buffer_length());
        return 0;
    }
    // The marks and spaces; the gap after them is the rest of the code.
    std::uint64_t pulsesMicroseconds = 0;
    for (const std::uint32_t us : durations)
        pulsesMicroseconds += us & kDurationMask;
    const std::uint64_t airMicroseconds = pulsesMicroseconds + gap;

    std::unique_lock<std::mutex> guard(lock_);
    if (!settled_) settle(guard);
    changed_.wait_until(guard, openedAt_ + kFirstScanWait, [&] { return present_ || !open_; });
    if (!open_ || !present_) {
        log_error("kob: cannot send: KOB %s is not attached",
                  current_.empty() ? "(any)" : current_.c_str());
        return 0;
    }
    const std::string serial = current_;
    if (!awaitLastCode(guard)) return 0;
    const std::uint64_t sent = sentCount_;
    const std::uint64_t removals = removals_;
    log_debug("kob: sending to %s (emitters 0x%02X): %s", serial.c_str(), emitters_, ccf.c_str());
    const auto posted = std::chrono::steady_clock::now();
    onAir_ = true;
    kob_sendCCF(serial.c_str(), ccf.c_str(), emitters_, 0);
    // Back to the LIRC program once the marks and spaces are on the air:
    // it times the gap before a repeat itself (with a timer signal that
    // must come while it waits for input), so waiting for the whole code
    // here would make every repeat late. The device's "IR Sent" for the
    // code is awaited before the next code goes out.
    const bool answered =
        changed_.wait_until(guard, posted + std::chrono::microseconds(pulsesMicroseconds),
                            [&] { return sentCount_ != sent || removals_ != removals; });
    if (answered && sentCount_ == sent) {
        log_error("kob: KOB %s left while sending", serial.c_str());
        return 0;
    }
    if (answered) {
        if (sentStatus_ != 0)
            log_warn("kob: %s reported IR Sent with status %u", serial.c_str(), sentStatus_);
        return 1;
    }
    awaiting_ = true;
    awaitedSerial_ = serial;
    awaitedCount_ = sent;
    awaitedRemovals_ = removals;
    awaitedBy_ = posted + std::chrono::microseconds(airMicroseconds) + kSentGrace;
    return 1;
}

bool KOBBridge::awaitLastCode(std::unique_lock<std::mutex>& guard) {
    if (!awaiting_) return true;
    awaiting_ = false;
    const bool done = changed_.wait_until(guard, awaitedBy_, [&] {
        return sentCount_ != awaitedCount_ || removals_ != awaitedRemovals_;
    });
    if (!done) {
        log_error("kob: no \"IR Sent\" from %s in time for the last code", awaitedSerial_.c_str());
        return false;
    }
    if (sentCount_ == awaitedCount_) {
        log_error("kob: KOB %s left while sending", awaitedSerial_.c_str());
        return false;
    }
    if (sentStatus_ != 0)
        log_warn("kob: %s reported IR Sent with status %u", awaitedSerial_.c_str(), sentStatus_);
    return true;
}

int KOBBridge::control(unsigned int cmd, void* arg) {
    if (cmd == DRVCTL_SET_OPTION) {
        const auto* option = static_cast<const option_t*>(arg);
        const std::string key = option->key;
        const std::string value = option->value;
        OptionHook hook;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (key == "serial") {
                optionSerial_ = value;
                if (!open_) current_ = value;
                return 0;
            }
            if (key == "echo") {
                if (value != "0" && value != "1") {
                    log_error("kob: echo:%s: give echo:0 or echo:1", value.c_str());
                    return DRV_ERR_BAD_VALUE;
                }
                echo_ = value == "1";
                return 0;
            }
            hook = optionHook_;
        }
        if (hook && hook(key, value)) return 0;
        log_error("kob: unknown option %s", key.c_str());
        return DRV_ERR_BAD_OPTION;
    }
    if (cmd == LIRC_SET_TRANSMITTER_MASK) {
        const std::uint32_t mask = *static_cast<const std::uint32_t*>(arg);
        // LIRC's convention: a mask beyond the emitters answers their number.
        if (mask == 0 || (mask >> kEmitterCount) != 0) return kEmitterCount;
        std::lock_guard<std::mutex> guard(lock_);
        emitters_ = static_cast<unsigned char>(mask);
        log_info("kob: emitters 0x%02X", emitters_);
        return 0;
    }
    return DRV_ERR_NOT_IMPLEMENTED;
}

}  // namespace koblirc
