// Learning end to end through KOBLIB_SIM: the virtual device loops the
// frames it sends back into its receiver and measures their carrier, and
// the library learns a code from them.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "koblib_codes.h"
#include "koblib_sim.h"
#include "support/example_code.h"
#include "support/wait_until.h"

namespace {

using koblib::testing::Signal;

const char* const kSerial = "SIM-0001";
using koblib::testing::kExampleCode;
// The carrier the device puts the example code on: that of its frequency
// word 0x6E.
constexpr int kCarrier = static_cast<int>(KOBC_CCF_CLOCK_HZ / 0x6E);

struct Recorder {
    Signal signal;
    std::vector<int> progress;
    std::string code;  // the finished code, once there is one
    std::vector<std::vector<unsigned int>> frames;
    std::vector<std::string> digests;
    int sent = 0;
    int measurements = 0;
};
Recorder* recorder = nullptr;

void KOB_CALL onStatus(const char*, unsigned char, const char*) {}
void KOB_CALL onSent(const char*, unsigned char) {
    recorder->signal.update([] { ++recorder->sent; });
}
void KOB_CALL onReceived(const char*, const char*, const unsigned int* words, unsigned int count) {
    char digest[33];
    kob_hash(words, count, digest, sizeof digest);
    recorder->signal.update([&] {
        recorder->frames.emplace_back(words, words + count);
        recorder->digests.emplace_back(digest);
    });
}
void KOB_CALL onLearn(const char*, int progress, const char* code) {
    recorder->signal.update([&] {
        recorder->progress.push_back(progress);
        if (code && *code) recorder->code = code;
    });
}
void KOB_CALL onModulation(const char*, unsigned int, unsigned int) {
    recorder->signal.update([] { ++recorder->measurements; });
}

class LearnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recorder = &rec;
        ASSERT_NE(kob_open_ex(onStatus, onSent, onReceived, onLearn, nullptr, onModulation, nullptr,
                              nullptr, nullptr),
                  nullptr);
        ASSERT_EQ(kobsim_configure(kSerial, 1, 0), 0);
        // The device is in service once it answers a command.
        ASSERT_TRUE(sendAndWait(kExampleCode, 0));
        reset();
    }
    void TearDown() override {
        kob_learnCCF(kSerial, 0, 0);
        kob_close();
        recorder = nullptr;
    }
    void reset() {
        rec.signal.update([&] {
            rec.progress.clear();
            rec.code.clear();
            rec.frames.clear();
            rec.digests.clear();
            rec.sent = 0;
            rec.measurements = 0;
        });
    }
    bool sendAndWait(const std::string& code, unsigned char repeat) {
        int before;
        {
            std::lock_guard<std::mutex> guard(rec.signal.lock());
            before = rec.sent;
        }
        kob_sendCCF(kSerial, code.c_str(), 1, repeat);
        return rec.signal.waitFor([&] { return rec.sent > before; });
    }
    bool waitForCode() {
        return rec.signal.waitFor([&] { return !rec.code.empty(); });
    }
    // Learns a code from the device's own loopback of `code`, sent with
    // repeat 9 (eleven frames: the once sequence, then ten repeats).
    std::string learnFromLoopback(const std::string& code, int frequency) {
        reset();
        kob_learnCCF(kSerial, 1, frequency);
        EXPECT_TRUE(sendAndWait(code, 9));
        EXPECT_TRUE(waitForCode());
        std::lock_guard<std::mutex> guard(rec.signal.lock());
        return rec.code;
    }
    Recorder rec;
};

std::vector<unsigned int> words(const std::string& code) {
    std::vector<unsigned int> out;
    for (std::size_t k = 0; k + 4 <= code.size(); k += 5)
        out.push_back(std::stoul(code.substr(k, 4), nullptr, 16));
    return out;
}

TEST_F(LearnTest, GivenFrequencyLearnsFromTheLoopbackAndTheLearnedCodeSendsTheSameShape) {
    const std::string learned = learnFromLoopback(kExampleCode, kCarrier);
    // The once and repeat frames fall into the same bins: the first frame
    // repeats and the once sequence is empty.
    // Learned on the carrier it went out on: the frequency word comes back.
    char start[16];
    std::snprintf(start, sizeof start, "0000 %04lX 0000 ", KOBC_CCF_CLOCK_HZ / kCarrier);
    ASSERT_EQ(learned.substr(0, 15), start);
    const auto w = words(learned);
    ASSERT_GE(w.size(), 4u);
    EXPECT_EQ(w[3], 34u);
    EXPECT_EQ(w.size(), 4u + 68u);
    std::vector<int> progress;
    std::vector<std::string> originalDigests;
    {
        std::lock_guard<std::mutex> guard(rec.signal.lock());
        progress = rec.progress;
        originalDigests = rec.digests;
    }
    ASSERT_EQ(progress.size(), 10u);  // the tenth equal frame finishes
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(progress[k], 55 + 5 * k);
    EXPECT_EQ(progress.back(), 100);

    // Sent back and learned again: the same code within the tolerance.
    const std::string relearned = learnFromLoopback(learned, kCarrier);
    EXPECT_EQ(kob_ir_compare(learned.c_str(), relearned.c_str()), 1) << learned << "\n"
                                                                     << relearned;
    // The frames of the learned code have the digest of the original's.
    std::lock_guard<std::mutex> guard(rec.signal.lock());
    ASSERT_FALSE(rec.digests.empty());
    for (const auto& digest : rec.digests)
        EXPECT_EQ(digest, originalDigests[0]);
}

TEST_F(LearnTest, MeasuredFrequencySwitchesMeasurementOnAndFinishesOnTheSecondSend) {
    const std::string given = learnFromLoopback(kExampleCode, kCarrier);
    reset();
    kob_learnCCF(kSerial, 1, 0);
    ASSERT_TRUE(sendAndWait(kExampleCode, 9));
    // Ten equal frames reach 50 and ask the device for measurements.
    ASSERT_TRUE(
        rec.signal.waitFor([&] { return !rec.progress.empty() && rec.progress.back() == 50; }));
    EXPECT_TRUE(rec.code.empty());
    // Wait until the device measures (its answer to a frame of its own).
    bool measuring = false;
    for (int k = 0; k < 100 && !measuring; ++k) {
        const unsigned int tick[] = {0xFFFF, 20, 20, 20};
        kobsim_receive(kSerial, tick, 4, kCarrier);
        measuring = rec.signal.waitFor([&] { return rec.measurements > 0; },
                                       std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(measuring);
    ASSERT_TRUE(sendAndWait(kExampleCode, 9));
    ASSERT_TRUE(waitForCode());
    std::lock_guard<std::mutex> guard(rec.signal.lock());
    EXPECT_EQ(rec.progress.back(), 100);  // all measurements agree
    EXPECT_EQ(kob_ir_compare(given.c_str(), rec.code.c_str()), 1) << given << "\n" << rec.code;
}

TEST_F(LearnTest, JitteredFramesLearnTheSameCode) {
    const std::string clean = learnFromLoopback(kExampleCode, kCarrier);
    std::vector<std::vector<unsigned int>> frames;
    {
        std::lock_guard<std::mutex> guard(rec.signal.lock());
        frames = rec.frames;
    }
    ASSERT_GE(frames.size(), 10u);
    reset();
    kob_learnCCF(kSerial, 1, kCarrier);
    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> jitter(-0.02, 0.02);
    for (const auto& frame : frames) {
        std::vector<unsigned int> noisy;
        for (unsigned int tick : frame) {
            const double v = tick * (1.0 + jitter(random));
            noisy.push_back(v > 0xFFFF ? 0xFFFFu : static_cast<unsigned int>(v + 0.5));
        }
        ASSERT_EQ(kobsim_receive(kSerial, noisy.data(), static_cast<unsigned int>(noisy.size()),
                                 kCarrier),
                  0);
    }
    ASSERT_TRUE(waitForCode());
    std::lock_guard<std::mutex> guard(rec.signal.lock());
    EXPECT_EQ(kob_ir_compare(clean.c_str(), rec.code.c_str()), 1) << clean << "\n" << rec.code;
}

// The learn callback restarts learning at once; the library must not
// deadlock on its own learner.
bool restarted = false;
void KOB_CALL onLearnRestarting(const char* serial, int progress, const char* code) {
    if (code && *code && !restarted) {
        restarted = true;
        kob_learnCCF(serial, 1, kCarrier);
    }
    onLearn(serial, progress, code);
}

TEST_F(LearnTest, ACallbackMayStartTheNextRun) {
    restarted = false;
    kob_open_ex(onStatus, onSent, onReceived, onLearnRestarting, nullptr, onModulation, nullptr,
                nullptr, nullptr);
    const std::string first = learnFromLoopback(kExampleCode, kCarrier);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(restarted);
    // The restarted run is live: the next loopback completes it.
    const std::string second = learnFromLoopback(kExampleCode, kCarrier);
    EXPECT_EQ(kob_ir_compare(first.c_str(), second.c_str()), 1);
}

}  // namespace
