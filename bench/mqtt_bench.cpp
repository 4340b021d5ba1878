// kob-mqtt through a real broker: a frame the virtual device hears -> its
// message at a subscriber (p50/p99); with 8 and 63 devices, frames per
// second through one bridge and the CPU per frame (the whole process, and
// the bridge's own threads: library worker, MQTT network), then a send
// message -> the code whole at the virtual device ("IR Sent" goes at once,
// air time 0) and -> its "sent" result. Starts its own mosquitto on a free
// port. Prints figures; nothing is asserted. Usage: koblib_mqtt_bench [ROUNDS]
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "bridge.h"
#include "koblib_codes.h"
#include "koblib_sim.h"

namespace {
using Clock = std::chrono::steady_clock;

int freePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

bool listening(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The threads of this process.
std::set<int> threads() {
    std::set<int> all;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') all.insert(std::atoi(e->d_name));
        closedir(d);
    }
    return all;
}

// The CPU seconds the given threads have run (those that still exist).
double threadSeconds(const std::set<int>& tids) {
    double total = 0;
    for (int tid : tids) {
        std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
        unsigned long long ns = 0;
        if (in >> ns) total += ns / 1e9;
    }
    return total;
}

std::string serialOf(int n) {
    char s[16];
    std::snprintf(s, sizeof s, "SIM-%04d", n);
    return s;
}

// The subscriber: counts messages per topic kind and remembers when the
// last one came.
struct Subscriber {
    std::mutex lock;
    std::condition_variable changed;
    long received = 0;
    long sent = 0;
    bool subscribed = false;
    Clock::time_point last;

    static void onMessage(mosquitto*, void* self, const mosquitto_message* m) {
        auto* s = static_cast<Subscriber*>(self);
        const std::string topic = m->topic;
        {
            std::lock_guard<std::mutex> guard(s->lock);
            s->last = Clock::now();
            if (topic.size() > 9 && topic.compare(topic.size() - 9, 9, "/received") == 0)
                ++s->received;
            else if (topic.size() > 5 && topic.compare(topic.size() - 5, 5, "/sent") == 0)
                ++s->sent;
        }
        s->changed.notify_all();
    }
    static void onSubscribe(mosquitto*, void* self, int, int, const int*) {
        auto* s = static_cast<Subscriber*>(self);
        {
            std::lock_guard<std::mutex> guard(s->lock);
            s->subscribed = true;
        }
        s->changed.notify_all();
    }
    // Waits until count(this) reaches want or the bound passes.
    template <typename Count>
    bool waitFor(Count count, long want, double seconds) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::duration<double>(seconds),
                                [&] { return count(*this) >= want; });
    }
};

void percentiles(const char* what, std::vector<double> us) {
    if (us.empty()) {
        std::printf("%s: no samples\n", what);
        return;
    }
    std::sort(us.begin(), us.end());
    std::printf("%s, %zu rounds: p50 %.0f us, p99 %.0f us, max %.0f us (goal p99 < 5000 us)\n",
                what, us.size(), us[us.size() / 2], us[us.size() * 99 / 100], us.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
    signal(SIGPIPE, SIG_IGN);
    char folder[] = "/tmp/kob-mqtt-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const int port = freePort();
    const std::string config = std::string(folder) + "/mosquitto.conf";
    // Run as root, the broker would switch to a user that cannot read this
    // folder: it stays who it is.
    const passwd* me = getpwuid(getuid());
    std::ofstream(config)
        << "user " << (me ? me->pw_name : "root") << "\nlistener " << port
        << " 127.0.0.1\nallow_anonymous true\npersistence false\nset_tcp_nodelay true\n";
    const pid_t broker = fork();
    if (broker == 0) {
        const std::string log = std::string(folder) + "/broker.log";
        freopen(log.c_str(), "w", stderr);
        freopen(log.c_str(), "a", stdout);
        execlp("mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
        execl("/usr/sbin/mosquitto", "mosquitto", "-c", config.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int result = 0;
    {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!listening(port) && Clock::now() < deadline)
            usleep(20000);
        if (!listening(port)) {
            std::printf("mosquitto did not start (is it installed?)\n");
            kill(broker, SIGTERM);
            waitpid(broker, nullptr, 0);
            return 1;
        }

        // An NEC frame, as the receiver reports it.
        kobc_code code;
        kobc_encode("NEC1", 4, KOBC_NONE, 8, KOBC_NONE, &code, nullptr, 0);
        std::vector<unsigned> words(300);
        std::size_t count = 0;
        kobc_frame_from_timings(code.durations, code.once_count, 40000, words.data(), words.size(),
                                &count);
        words.resize(count);

        for (int n = 2; n <= 8; ++n)
            kobsim_attach(serialOf(n).c_str(), 0x0100, 64);
        for (int n = 1; n <= 8; ++n)
            kobsim_configure(serialOf(n).c_str(), 0, 0);

        kobmqtt::BridgeConfig c;
        c.host = "127.0.0.1";
        c.port = port;
        c.node = "bench";
        c.discovery = false;
        c.finish();
        kobmqtt::Bridge bridge(c, [](const std::string&) {});
        // The threads the bridge starts (the library's worker and notifier,
        // the MQTT network thread; the virtual devices' readers of their
        // first connections, idle while frames come in) are its own.
        const std::set<int> beforeBridge = threads();
        bridge.start();
        bridge.waitConnected(20);
        std::set<int> bridgeThreads;
        for (int tid : threads())
            if (!beforeBridge.count(tid)) bridgeThreads.insert(tid);
        for (int n = 1; n <= 8; ++n)
            kobsim_configure(serialOf(n).c_str(), 0, 0);

        Subscriber sub;
        mosquitto_lib_init();
        mosquitto* client = mosquitto_new(nullptr, true, &sub);
        mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(client, &Subscriber::onMessage);
        mosquitto_subscribe_callback_set(client, &Subscriber::onSubscribe);
        mosquitto_connect(client, "127.0.0.1", port, 30);
        mosquitto_loop_start(client);
        mosquitto_subscribe(client, nullptr, "kob/bench/+/received", 0);
        mosquitto_subscribe(client, nullptr, "kob/bench/+/sent", 1);
        sub.waitFor([](Subscriber& s) { return s.subscribed ? 1L : 0L; }, 1, 20);
        // The bridge is up once a frame comes through.
        for (int k = 0; k < 100; ++k) {
            kobsim_receive("SIM-0008", words.data(), static_cast<unsigned>(words.size()), 38000);
            if (sub.waitFor([](Subscriber& s) { return s.received; }, 1, 0.2)) break;
        }

        // Latency of one frame at a time (on the highest serial).
        std::vector<double> latency;
        for (int k = 0; k < rounds; ++k) {
            long before;
            {
                std::lock_guard<std::mutex> guard(sub.lock);
                before = sub.received;
            }
            const auto start = Clock::now();
            kobsim_receive("SIM-0008", words.data(), static_cast<unsigned>(words.size()), 38000);
            if (!sub.waitFor([](Subscriber& s) { return s.received; }, before + 1, 5)) continue;
            std::lock_guard<std::mutex> guard(sub.lock);
            latency.push_back(std::chrono::duration<double, std::micro>(sub.last - start).count());
        }
        percentiles("frame heard -> message at a subscriber", latency);

        const std::string sendPayload = "{\"protocol\":\"NEC1\",\"device\":4,\"function\":8}";
        // Throughput: frames to every device as fast as they are taken.
        for (int devices : {8, 63}) {
            for (int n = 9; n <= devices; ++n) {
                kobsim_attach(serialOf(n).c_str(), 0x0100, 64);
                kobsim_configure(serialOf(n).c_str(), 0, 0);
            }
            const auto ready = Clock::now() + std::chrono::seconds(20);
            while (kob_list(nullptr, 0) < static_cast<unsigned>(devices * 9) &&
                   Clock::now() < ready)
                usleep(10000);
            long dropped0 = 0;
            for (int n = 1; n <= devices; ++n)
                dropped0 += kobsim_dropped(serialOf(n).c_str());
            long before;
            {
                std::lock_guard<std::mutex> guard(sub.lock);
                before = sub.received;
            }
            // At most a window of frames on their way, so that the virtual
            // devices' channels do not overflow: the sustained rate.
            const long frames = rounds * 5L;
            const long window = devices * 2L;
            const double cpu0 = cpuSeconds();
            const double bridge0 = threadSeconds(bridgeThreads);
            const auto start = Clock::now();
            for (long k = 0; k < frames; ++k) {
                if (!sub.waitFor([](Subscriber& s) { return s.received; }, before + k - window, 5))
                    break;
                kobsim_receive(serialOf(static_cast<int>(k % devices) + 1).c_str(), words.data(),
                               static_cast<unsigned>(words.size()), 38000);
            }
            sub.waitFor([](Subscriber& s) { return s.received; }, before + frames, 10);
            long dropped = -dropped0;
            for (int n = 1; n <= devices; ++n)
                dropped += kobsim_dropped(serialOf(n).c_str());
            Clock::time_point end;
            long got;
            {
                std::lock_guard<std::mutex> guard(sub.lock);
                end = sub.last;
                got = sub.received - before;
            }
            const double seconds = std::chrono::duration<double>(end - start).count();
            const double cpu = cpuSeconds() - cpu0;
            const double bridgeCpu = threadSeconds(bridgeThreads) - bridge0;
            std::printf(
                "%d devices: %ld frames -> %ld messages (%ld reports dropped by the virtual "
                "devices) in %.2f s: %.0f frames/s; CPU per frame %.1f us the bridge's threads, "
                "%.1f us the whole process (with the virtual devices and the subscriber)\n",
                devices, frames, got, dropped, seconds, got / seconds,
                bridgeCpu * 1e6 / std::max(got, 1L), cpu * 1e6 / std::max(got, 1L));

            // A send message -> the code at the virtual device, and -> its
            // "sent" result at the subscriber. The device's output log
            // tells when the last report of the code is in; with air time
            // 0 its "IR Sent" goes then.
            unsigned char drain[4096];
            const auto drained = [&] {
                std::size_t bytes = 0;
                for (unsigned n; (n = kobsim_outputs("SIM-0001", drain, sizeof drain)) > 0;)
                    bytes += n;
                return bytes;
            };
            std::vector<double> atDevice, sentLatency;
            std::size_t codeBytes = 0;
            for (int k = -1; k < rounds / 4 + 1; ++k) {
                drained();
                long before;
                {
                    std::lock_guard<std::mutex> guard(sub.lock);
                    before = sub.sent;
                }
                const auto start = Clock::now();
                mosquitto_publish(client, nullptr, "kob/bench/SIM-0001/send",
                                  static_cast<int>(sendPayload.size()), sendPayload.data(), 1,
                                  false);
                // The first round only learns how many bytes a code is.
                std::size_t bytes = 0;
                Clock::time_point in{};
                const auto giveUp = start + std::chrono::seconds(5);
                while (k >= 0 && bytes < codeBytes && Clock::now() < giveUp) {
                    bytes += drained();
                    in = Clock::now();
                    if (bytes < codeBytes) usleep(20);
                }
                if (!sub.waitFor([](Subscriber& s) { return s.sent; }, before + 1, 5)) continue;
                Clock::time_point result;
                {
                    std::lock_guard<std::mutex> guard(sub.lock);
                    result = sub.last;
                }
                if (k < 0) {
                    codeBytes = drained();
                    continue;
                }
                if (bytes >= codeBytes)
                    atDevice.push_back(
                        std::chrono::duration<double, std::micro>(in - start).count());
                sentLatency.push_back(
                    std::chrono::duration<double, std::micro>(result - start).count());
            }
            const std::string d = std::to_string(devices) + " devices: ";
            percentiles((d + "send message -> IR Sent at the virtual device").c_str(), atDevice);
            percentiles((d + "send message -> \"sent\" result at the subscriber").c_str(),
                        sentLatency);
            if (atDevice.empty() || sentLatency.empty()) result = 1;
        }

        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
        bridge.stop();
        if (latency.empty()) result = 1;
    }
    kill(broker, SIGTERM);
    waitpid(broker, nullptr, 0);
    const std::string cleanup = std::string("rm -rf ") + folder;
    if (std::system(cleanup.c_str()) != 0) result = 1;
    return result;
}
