// Runs the upgrade exports of the Windows build under Wine against a
// virtual bootloader: makes the bootloader on a pseudo-terminal, links
// the Wine prefix's COM9 and COM12 to it, starts koblib_upgrade_probe.exe and checks
// what it reports and what the bootloader received.
//
//   koblib_upgrade_wine_driver RUN_WINE WINDOWS_BUILD_DIR TEST_DATA_DIR
//
// Exit 0 when every check passes, 1 otherwise, 77 (skipped) when there is
// no Windows build or no Wine.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "virtual_bootloader.h"

namespace {

namespace fs = std::filesystem;
using koblib_sim::BootloaderConfig;
using koblib_sim::Fault;
using koblib_sim::FaultKind;

constexpr int kSkipped = 77;

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok) ++failures;
}

// The probe under Wine, with pipes to its standard input and output.
class Probe {
  public:
    Probe(const std::string& runWine, const std::string& exe) {
        int toChild[2];
        int fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            execl(runWine.c_str(), runWine.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }

    ~Probe() {
        if (in_ >= 0) close(in_);
        if (out_ >= 0) close(out_);
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    // The next line of output (without its line end) within timeout; false
    // at the end of the output or on time-out.
    bool readLine(std::string& line, std::chrono::seconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd entry{out_, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            const ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Sends one request and returns the answer line that starts with
    // keyword; lines printed before it (by the library) go to printed.
    std::string request(const std::string& text, const std::string& keyword,
                        std::string* printed = nullptr) {
        const std::string line = text + "\n";
        if (write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "";
        std::string answer;
        while (readLine(answer, std::chrono::seconds(300))) {
            if (answer.rfind(keyword + " ", 0) == 0) return answer.substr(keyword.size() + 1);
            std::printf("  probe: %s\n", answer.c_str());
            if (printed != nullptr) *printed += answer + "\n";
        }
        return "";
    }

    // Exit status of the probe once its output has ended.
    int finish() {
        close(in_);
        in_ = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool started() const { return pid_ > 0 && out_ >= 0; }

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::string buffer_;
};

std::string winePrefix() {
    if (const char* prefix = std::getenv("KOBLIB_WINEPREFIX")) return prefix;
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr ? tmp : "/tmp") + "/koblib-wineprefix-" +
           std::to_string(getuid());
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

int result(const std::string& answer) {
    return answer.empty() ? 999 : std::atoi(answer.c_str());
}

BootloaderConfig withFault(FaultKind kind, char command, int occurrence) {
    BootloaderConfig config;
    config.faults.push_back(Fault{kind, command, occurrence});
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s RUN_WINE WINDOWS_BUILD_DIR TEST_DATA_DIR\n", argv[0]);
        return 2;
    }
    const std::string runWine = argv[1];
    const std::string exe = std::string(argv[2]) + "/bin/koblib_upgrade_probe.exe";
    const std::string data = argv[3];
    if (std::string(argv[2]).empty() || !fs::exists(exe)) {
        std::printf("no Windows x86_64 build with %s: skipped\n", exe.c_str());
        return kSkipped;
    }

    koblib_sim::VirtualBootloader sim;
    Probe probe(runWine, exe);
    std::string line;
    if (!probe.started() || !probe.readLine(line, std::chrono::seconds(600)) || line != "ready") {
        const int status = probe.finish();
        std::printf("the probe did not start (status %d)\n", status);
        return status == kSkipped ? kSkipped : 1;
    }

    // The prefix exists now; its COM9 and COM12 become the virtual
    // bootloader (a port above COM9 opens only through its device path).
    const fs::path link = fs::path(winePrefix()) / "dosdevices" / "com9";
    const fs::path highLink = fs::path(winePrefix()) / "dosdevices" / "com12";
    std::error_code ignored;
    for (const fs::path& each : {link, highLink}) {
        fs::remove(each, ignored);
        fs::create_symlink(sim.portPath(), each);
    }
    std::printf("COM9, COM12 -> %s\n", sim.portPath().c_str());

    check(result(probe.request("is_kob COM12", "is_kob")) == 0, "is_kob COM12 gives 0");
    check(result(probe.request("upgrade COM12 Z:" + data + "/random_a.hex", "upgrade")) == 0,
          "upgrade through COM12 gives 0");
    check(sim.waitUntil([](const koblib_sim::BootloaderModel& m) { return m.left(); },
                        std::chrono::seconds(60)),
          "the upgrade through COM12 ended with \"E\"");
    sim.reset({});

    check(result(probe.request("is_kob COM9", "is_kob")) == 0, "is_kob COM9 gives 0");
    check(result(probe.request("is_kob \\\\.\\COM9", "is_kob")) == 0, "is_kob \\\\.\\COM9 gives 0");
    check(result(probe.request("is_kob COM42", "is_kob")) == -1, "is_kob of a missing port: -1");

    // A 28 KiB firmware made by objcopy, end to end.
    sim.reset({});
    const auto firmware = readFile(data + "/firmware28k.bin");
    const auto begin = std::chrono::steady_clock::now();
    const std::string answer =
        probe.request("upgrade \\\\.\\COM9 Z:" + data + "/firmware28k.hex", "upgrade");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    check(result(answer) == 0, "28 KiB upgrade through \\\\.\\COM9 gives 0 (got " +
                                   std::to_string(result(answer)) + ")");
    std::printf("28 KiB upgrade under Wine: %.3f s, %.0f bytes/s\n", seconds,
                firmware.size() / seconds);
    check(answer.size() > 6 && answer.compare(answer.size() - 6, 6, "1,100;") == 0,
          "progress ends with (1, 100)");
    check(sim.waitUntil([](const koblib_sim::BootloaderModel& m) { return m.left(); },
                        std::chrono::seconds(60)),
          "the bootloader received \"E\"");
    const auto flash = sim.snapshot().flash();
    check(firmware.size() == 0x7000 && std::equal(firmware.begin(), firmware.end(), flash.begin()),
          "the flash equals the firmware");

    // Faults, through the short port name.
    const std::string small = "Z:" + data + "/random_a.hex";
    struct Case {
        const char* what;
        BootloaderConfig config;
        int expected;
    };
    BootloaderConfig zero;
    zero.blockSize = 0;
    const Case cases[] = {
        {"no answer to \"b\": -4", withFault(FaultKind::kNoAnswer, 'b', 1), -4},
        {"block size 0: -4", zero, -4},
        {"final answer not CR: -6", withFault(FaultKind::kWrongLastByte, 'B', 1), -6},
        {"corrupted read-back byte: -7", withFault(FaultKind::kWrongFirstByte, 'g', 2), -7},
        {"short read-back: -7", withFault(FaultKind::kShortAnswer, 'g', 1), -7},
    };
    for (const Case& c : cases) {
        sim.reset(c.config);
        std::string printed;
        const std::string got = probe.request("upgrade COM9 " + small, "upgrade", &printed);
        check(result(got) == c.expected, std::string(c.what) + " (got " + got.substr(0, 3) + ")");
        if (c.expected == -6) {
            check(printed.find("kob_write_block returned false") != std::string::npos,
                  "the write failure is printed");
        }
        // The probe's next request reaches the bootloader after anything
        // the failed upgrade sent: no "E" may come before it.
        check(result(probe.request("is_kob COM9", "is_kob")) == 0, "probe after the fault");
        check(!sim.snapshot().left(), std::string(c.what) + ": no \"E\" sent");
    }

    // A firmware file cut short (no end-of-file record) is refused with
    // nothing sent after the block-size query.
    {
        sim.reset({});
        const auto whole = readFile(data + "/random_a.hex");
        const std::string cut = data + "/random_a_cut.hex";
        std::ofstream(cut, std::ios::binary)
            .write(reinterpret_cast<const char*>(whole.data()),
                   static_cast<std::streamsize>(whole.size() / 2));
        check(result(probe.request("upgrade COM12 Z:" + cut, "upgrade")) == -5,
              "a file cut short: -5");
        check(result(probe.request("is_kob COM12", "is_kob")) == 0, "probe after the cut file");
        check(sim.snapshot().received() == "bS", "a file cut short: nothing but \"b\" sent");
        fs::remove(cut, ignored);
    }

    sim.reset(withFault(FaultKind::kShortAnswer, 'S', 1));
    check(result(probe.request("is_kob COM9", "is_kob")) == -1, "six characters: is_kob -1");

    const std::string list = probe.request("list", "list");
    check(!list.empty(), "the port list answers (" + list + ")");

    probe.request("quit", "none");
    check(probe.finish() == 0, "the probe ends cleanly");
    fs::remove(link, ignored);
    fs::remove(highLink, ignored);
    std::printf("%s\n", failures == 0 ? "all checks passed" : "some checks FAILED");
    return failures == 0 ? 0 : 1;
}
