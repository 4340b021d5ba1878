// Protocol decoding: a mixed stream of received frames (every protocol,
// first frames and what is sent while held, with jitter, and noise) decoded
// with every protocol tried, as the tools do for each frame they hear.
// Prints frames per second and heap allocations per decode, then the
// share of random frames (random lengths and durations) that read as a
// protocol at all. Figures one per line, the goal beside each.
//
// Usage: koblib_protocol_decode_bench [CPU seconds, default 1] [random frames, default 1000000]
#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "koblib_codes.h"

namespace {

std::atomic<long> allocations{0};

// CPU time of this thread: the figure per core, however loaded the
// machine is.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    double unit() { return next() / 2147483648.0; }  // 0..1
    long below(long n) { return static_cast<long>(next() % static_cast<std::uint32_t>(n)); }

  private:
    std::uint64_t state_;
};

struct Frame {
    std::size_t begin, count;
};

// Frames as a receiver hands them over: no final space, each duration off
// by up to 10 %.
void addReceived(const int* durations, std::size_t count, Random& random, std::vector<int>& pool,
                 std::vector<Frame>& frames) {
    if (count % 2 == 0) --count;
    const std::size_t begin = pool.size();
    for (std::size_t i = 0; i < count; ++i)
        pool.push_back(static_cast<int>(std::lround(durations[i] * (0.9 + 0.2 * random.unit()))));
    frames.push_back({begin, count});
}

// Alternating durations, log-uniform over 50 us .. 20 ms, pulse first.
void randomFrame(Random& random, std::vector<int>& out) {
    const std::size_t count = 1 + static_cast<std::size_t>(random.below(200));
    out.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const int us = static_cast<int>(50 * std::exp(random.unit() * std::log(400.0)));
        out[i] = i % 2 == 0 ? us : -us;
    }
}

}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const long randomFrames = argc > 2 ? std::atol(argv[2]) : 1000000;
    Random random(2026);
    std::vector<int> pool;
    std::vector<Frame> frames;
    std::vector<int> noise;
    static kobc_code code;
    for (std::size_t p = 0; p < kobc_protocol_count(); ++p) {
        const kobc_protocol_info* info = kobc_protocol_at(p);
        for (int variant = 0; variant < 8; ++variant) {
            const long device = random.below(info->device_max + 1);
            const long function = random.below(info->function_max + 1);
            const long subdevice = info->subdevice_max == KOBC_NONE
                                       ? KOBC_NONE
                                       : random.below(info->subdevice_max + 1);
            const long toggle = info->toggle_max == KOBC_NONE ? KOBC_NONE : variant % 2;
            if (kobc_encode(info->name, device, subdevice, function, toggle, &code, nullptr, 0) !=
                KOBC_OK) {
                std::fprintf(stderr, "%s: cannot encode\n", info->name);
                return 1;
            }
            addReceived(code.durations, code.once_count, random, pool, frames);
            addReceived(code.durations + code.once_count, code.repeat_count, random, pool, frames);
        }
    }
    // A noise frame for every three protocol frames.
    const std::size_t coded = frames.size();
    for (std::size_t i = 0; i < coded / 3; ++i) {
        randomFrame(random, noise);
        frames.push_back({pool.size(), noise.size()});
        pool.insert(pool.end(), noise.begin(), noise.end());
    }

    kobc_match matches[8];
    std::size_t matched = 0;
    long decodes = 0;
    const long before = allocations.load();
    const double start = cpuSeconds();
    double elapsed = 0;
    do {
        for (const Frame& f : frames) {
            matched += kobc_decode(pool.data() + f.begin, f.count, 0, matches, 8) > 0;
            ++decodes;
        }
        elapsed = cpuSeconds() - start;
    } while (elapsed < seconds);
    const long allocated = allocations.load() - before;
    const double readShare = static_cast<double>(matched) / decodes;

    // Random frames: how many read as anything.
    long falseMatches = 0;
    double randomSeconds = 0;
    for (long i = 0; i < randomFrames; ++i) {
        randomFrame(random, noise);
        const double t = cpuSeconds();
        falseMatches += kobc_decode(noise.data(), noise.size(), 0, matches, 8) > 0;
        randomSeconds += cpuSeconds() - t;
    }

    std::printf("decode_stream: %zu frames (%zu coded by %zu protocols, %zu noise), %.1f %% read\n",
                frames.size(), coded, kobc_protocol_count(), frames.size() - coded,
                100 * readShare);
    std::printf("decode_frames_per_second: %.0f (CPU time; goal >= 200000 on one core)\n",
                decodes / elapsed);
    std::printf("decode_allocations_per_decode: %.4f (goal 0)\n",
                static_cast<double>(allocated) / decodes);
    std::printf("random_frames_per_second: %.0f\n", randomFrames / randomSeconds);
    std::printf("random_false_matches: %ld of %ld, 1 in %.0f (goal below 1 in 10000)\n",
                falseMatches, randomFrames,
                falseMatches ? static_cast<double>(randomFrames) / falseMatches : INFINITY);
    return 0;
}
