#include "sim_control.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include <lirc_driver.h>

#include "kob_bridge.h"
#include "koblib_sim.h"

static const logchannel_t logchannel = LOG_DRIVER;

namespace koblirc {

namespace {

bool writeOutputs(const std::string& serial, const std::string& file) {
    std::string hex;
    std::vector<unsigned char> buffer(1 << 16);
    for (unsigned n; (n = kobsim_outputs(serial.c_str(), buffer.data(), buffer.size())) > 0;) {
        char digits[3];
        for (unsigned k = 0; k < n; ++k) {
            std::snprintf(digits, sizeof digits, "%02X", buffer[k]);
            hex += digits;
        }
    }
    const std::string partial = file + ".part";
    FILE* out = std::fopen(partial.c_str(), "w");
    if (!out) return false;
    const bool written = std::fprintf(out, "%s\n", hex.c_str()) >= 0;
    return (std::fclose(out) == 0) && written && std::rename(partial.c_str(), file.c_str()) == 0;
}

// A received word: decimal or 0x-prefixed hexadecimal, or (hex) 1 to 4
// hexadecimal digits as kob listen prints them; at most 0xFFFF.
bool readWord(const std::string& text, bool hex, unsigned& word) {
    std::string digits = text;
    int base = hex ? 16 : 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
        base = 16;
    }
    const char* allowed = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of(allowed) != std::string::npos)
        return false;
    const unsigned long value = std::stoul(digits, nullptr, base);
    if (value > 0xFFFF) return false;
    word = static_cast<unsigned>(value);
    return true;
}

}  // namespace

SimControl::SimControl() {
    KOBBridge::instance().setOptionHook([this](const std::string& key, const std::string& value) {
        return key == "control" && listen(value);
    });
    // For the LIRC programs that take no driver options (irrecord).
    if (const char* path = std::getenv("KOB_SIM_CONTROL")) {
        if (*path) listen(path);
    }
}

SimControl::~SimControl() {
    if (!reader_.joinable()) return;
    (void)!write(stop_[1], "x", 1);
    reader_.join();
    close(stop_[0]);
    close(stop_[1]);
    close(fifo_);
}

bool SimControl::listen(const std::string& path) {
    if (reader_.joinable()) return false;
    if (mkfifo(path.c_str(), 0666) != 0 && errno != EEXIST) {
        log_perror_err("kob_sim: mkfifo %s", path.c_str());
        return false;
    }
    // Read and write, so that the FIFO never reads end-of-file between
    // writers.
    fifo_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fifo_ < 0 || pipe2(stop_, O_CLOEXEC) != 0) {
        log_perror_err("kob_sim: open %s", path.c_str());
        return false;
    }
    {
        // The LIRC program's signals (lircd's repeat timer) are not for
        // this thread.
        sigset_t all, saved;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &saved);
        reader_ = std::thread(&SimControl::loop, this);
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }
    log_info("kob_sim: control FIFO %s", path.c_str());
    return true;
}

void SimControl::loop() {
    std::string pending;
    char chunk[4096];
    for (;;) {
        pollfd fds[2] = {{fifo_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        const ssize_t n = read(fifo_, chunk, sizeof chunk);
        if (n <= 0) continue;
        pending.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!run(line)) log_error("kob_sim: control command failed: %s", line.c_str());
        }
    }
}

bool SimControl::run(const std::string& line) {
    std::istringstream in(line);
    std::string command, serial;
    if (!(in >> command >> serial)) return false;
    if (command == "receive" || command == "receive-hex") {
        unsigned hz;
        if (!(in >> hz)) return false;
        std::vector<unsigned> words;
        for (std::string text; in >> text;) {
            unsigned word;
            if (!readWord(text, command == "receive-hex", word)) {
                log_error("kob_sim: \"%s\" is not a word (%s)", text.c_str(),
                          command == "receive-hex" ? "1 to 4 hexadecimal digits"
                                                   : "decimal, or hexadecimal after 0x");
                return false;
            }
            words.push_back(word);
        }
        return kobsim_receive(serial.c_str(), words.data(), words.size(), hz) == 0;
    }
    if (command == "attach") return kobsim_attach(serial.c_str(), 0x0100, 64) == 0;
    if (command == "detach") return kobsim_detach(serial.c_str()) == 0;
    if (command == "configure") {
        int loopback;
        unsigned airTime;
        return (in >> loopback >> airTime) &&
               kobsim_configure(serial.c_str(), loopback, airTime) == 0;
    }
    if (command == "outputs") {
        std::string file;
        return (in >> file) && writeOutputs(serial, file);
    }
    return false;
}

// The kob_sim driver listens for commands once control:PATH is given.
static SimControl simControl;

}  // namespace koblirc
