#include "ir/ccf_learn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace koblib {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A frame as the receive event writes it: the silence before it, then on,
// off, on, off, on (140, 560, 140, 280, 140 ticks).
constexpr const char* kFrameA = "2000 008C 0230 008C 0118 008C ";
// The same frame with lengths a little off.
constexpr const char* kFrameAJitter = "1F80 008A 0238 008F 0114 008B ";
// Another frame: 140, 1120, 140.
constexpr const char* kFrameB = "1000 008C 0460 008C ";
constexpr const char* kFrameC = "2000 008C 0118 008C 0230 008C ";
constexpr const char* kSerial = "KOB0001";

// At 38000 Hz: 140 ticks -> 0015, 560 -> 0055, 280 -> 002A, 1120 -> 00AA,
// and the mean gap 0x2000 = 8192 ticks -> 04DD.
constexpr const char* kPairsA = "0015 0055 0015 002A 0015 04DD";
constexpr const char* kPairsB = "0015 00AA 0015 04DD";

// Everything the learner calls, in order.
struct Recorder {
    std::vector<std::string> calls;  // "on S", "off S", "progress S P"
    std::vector<int> percents;
    std::vector<std::string> codes;  // codes of the progress reports that had one

    CCFLearn makeLearner() {
        return CCFLearn(
            [this](const std::string& serial, int percent, const std::string& code) {
                calls.push_back("progress " + serial + " " + std::to_string(percent));
                percents.push_back(percent);
                if (!code.empty()) codes.push_back(code);
            },
            [this](const std::string& serial) { calls.push_back("on " + serial); },
            [this](const std::string& serial) { calls.push_back("off " + serial); });
    }
};

class CCFLearnTest : public ::testing::Test {
  protected:
    Recorder rec;
    CCFLearn learner = rec.makeLearner();

    void frames(const char* text, int n, const std::string& serial = kSerial) {
        for (int i = 0; i < n; ++i)
            learner.onFrame(serial, text);
    }
    // n measurements of hz (as 1000 cycles over 1000 * hz).
    void measurements(std::uint32_t hz, int n) {
        for (int i = 0; i < n; ++i)
            learner.onModulation(kSerial, 1000, 1000 * hz);
    }
    int count(const std::string& call) const {
        return static_cast<int>(std::count(rec.calls.begin(), rec.calls.end(), call));
    }
};

TEST_F(CCFLearnTest, StartReportsNothing) {
    learner.start(38000, kSerial);
    EXPECT_THAT(rec.calls, IsEmpty());
}

TEST_F(CCFLearnTest, GivenFrequencyTenEqualFramesRepeatTheFrame) {
    learner.start(38000, kSerial);
    frames(kFrameA, 10);
    EXPECT_THAT(rec.percents, ElementsAre(55, 60, 65, 70, 75, 80, 85, 90, 95, 100));
    ASSERT_EQ(rec.codes.size(), 1u);
    EXPECT_EQ(rec.codes[0], std::string("0000 006E 0000 0003 ") + kPairsA);
    EXPECT_EQ(rec.calls.back(), std::string("off ") + kSerial);
    EXPECT_EQ(count(std::string("on ") + kSerial), 0);
}

TEST_F(CCFLearnTest, FramesWithLengthsALittleOffAreEqual) {
    learner.start(38000, kSerial);
    for (int i = 0; i < 5; ++i) {
        learner.onFrame(kSerial, kFrameA);
        learner.onFrame(kSerial, kFrameAJitter);
    }
    ASSERT_EQ(rec.codes.size(), 1u);
    EXPECT_THAT(rec.codes[0], ::testing::StartsWith("0000 006E 0000 0003 "));
}

TEST_F(CCFLearnTest, FirstFrameHeardBecomesTheOnceSequence) {
    learner.start(38000, kSerial);
    learner.onFrame(kSerial, kFrameB);
    frames(kFrameA, 10);
    // B alone, then B and A one each (the earlier wins), then A's matches.
    EXPECT_THAT(rec.percents, ElementsAre(55, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100));
    ASSERT_EQ(rec.codes.size(), 1u);
    EXPECT_EQ(rec.codes[0], std::string("0000 006E 0002 0003 ") + kPairsB + " " + kPairsA);
}

TEST_F(CCFLearnTest, MeasuredFrequencyAgreeingWithinOnePercent) {
    learner.start(0, kSerial);
    frames(kFrameA, 11);
    EXPECT_THAT(rec.percents, ElementsAre(5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 50));
    // Asked at the tenth equal frame and again at each evaluation.
    EXPECT_EQ(count(std::string("on ") + kSerial), 2);
    EXPECT_EQ(rec.calls[rec.calls.size() - 2], std::string("on ") + kSerial)
        << "modulation is asked for before the progress report";

    rec.percents.clear();
    measurements(38000, 9);
    EXPECT_THAT(rec.percents, ElementsAre(50, 51, 51, 52, 52, 53, 53, 54, 54));
    EXPECT_EQ(count(std::string("on ") + kSerial), 2) << "no longer asked once measured";
    EXPECT_THAT(rec.codes, IsEmpty());

    ::testing::internal::CaptureStdout();
    measurements(38000, 1);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(rec.percents.back(), 100);
    ASSERT_EQ(rec.codes.size(), 1u);
    EXPECT_EQ(rec.codes[0], std::string("0000 006E 0000 0003 ") + kPairsA);
    std::string expected;
    for (int i = 0; i < 10; ++i)
        expected += "38000\n";
    expected += "stddev = 0.000000, mean = 38000.000000, x=0.000000\n";
    EXPECT_EQ(out, expected);
}

TEST_F(CCFLearnTest, MeasuredFrequencyWithSpreadFinishesBelowHundred) {
    learner.start(0, kSerial);
    frames(kFrameA, 10);
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) {
        learner.onModulation(kSerial, 100, 3700000);
        learner.onModulation(kSerial, 100, 3900000);
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    // Mean 38000, spread about 2.8 percent: confidence is the 10 kept.
    EXPECT_EQ(rec.percents.back(), 55);
    ASSERT_EQ(rec.codes.size(), 1u);
    EXPECT_THAT(rec.codes[0], ::testing::StartsWith("0000 006E 0000 0003 "));
    EXPECT_THAT(out, HasSubstr("mean = 38000.000000"));
}

TEST_F(CCFLearnTest, OutlierIsLeftOutOfTheMean) {
    learner.start(0, kSerial);
    frames(kFrameA, 10);
    ::testing::internal::CaptureStdout();
    measurements(50000, 9);
    measurements(100000, 1);  // rough mean 55000: 45000 away
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(rec.percents.back(), 100);
    ASSERT_EQ(rec.codes.size(), 1u);
    // 0x400000 / 50000 = 0x53.
    EXPECT_THAT(rec.codes[0], ::testing::StartsWith("0000 0053 0000 0003 "));
    EXPECT_THAT(out, ::testing::Not(HasSubstr("100000")));
}

TEST_F(CCFLearnTest, OutliersAreRemovedForGood) {
    learner.start(0, kSerial);
    learner.onFrame(kSerial, kFrameA);  // one frame: matches 1, 5 percent
    ::testing::internal::CaptureStdout();
    measurements(38000, 8);
    measurements(150000, 2);
    EXPECT_EQ(rec.percents.back(), 5 + 50) << "8 kept, in agreement";
    // 9 measurements left: fewer than 10, so none is averaged.
    measurements(38000, 1);
    EXPECT_EQ(rec.percents.back(), 5 + 4);
    measurements(38000, 1);
    EXPECT_EQ(rec.percents.back(), 5 + 50);
    ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(rec.codes, IsEmpty());
}

TEST_F(CCFLearnTest, AveragedFrequencyOfZeroDoesNotFinish) {
    learner.start(0, kSerial);
    frames(kFrameA, 10);
    ::testing::internal::CaptureStdout();
    measurements(0, 10);
    ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(rec.codes, IsEmpty());
    EXPECT_EQ(rec.percents.back(), 50 + 5);
}

// A carrier whose frequency word does not fit four hexadecimal digits, or
// that makes every on time 0 periods or a duration more than a word holds,
// writes no code: the run goes on short of 100 %.
TEST_F(CCFLearnTest, CarrierThatCannotBeWrittenMakesNoCode) {
    struct Case {
        std::int32_t hz;
        bool code;
    };
    for (const Case c : {Case{1, false}, Case{63, false}, Case{100, false}, Case{0x400001, false},
                         Case{2147483647, false}, Case{10000, true}, Case{500000, true}}) {
        SCOPED_TRACE(c.hz);
        Recorder r;
        CCFLearn l = r.makeLearner();
        l.start(c.hz, kSerial);
        for (int i = 0; i < 12; ++i)
            l.onFrame(kSerial, kFrameA);
        ASSERT_FALSE(r.percents.empty());
        EXPECT_EQ(r.codes.size(), c.code ? 1u : 0u);
        EXPECT_EQ(r.percents.back() == 100, c.code);
        for (const auto& code : r.codes)
            for (std::size_t at = 0, k = 0; at < code.size(); at += 5, ++k) {
                // Four digits a word; no burst of 0 periods after the header.
                EXPECT_TRUE(at + 4 == code.size() || code[at + 4] == ' ') << code;
                if (k >= 4 && k % 2 == 0) {
                    EXPECT_NE(code.compare(at, 4, "0000"), 0) << code;
                }
            }
    }
}

TEST_F(CCFLearnTest, ModulationWithoutCyclesIsIgnored) {
    learner.start(0, kSerial);
    learner.onModulation(kSerial, 0, 38000);
    EXPECT_THAT(rec.calls, IsEmpty());
}

TEST_F(CCFLearnTest, MeasurementWithoutFramesReportsNothing) {
    learner.start(0, kSerial);
    measurements(38000, 3);
    EXPECT_THAT(rec.calls, IsEmpty());
}

TEST_F(CCFLearnTest, FramesPastTheTwentiethAreDropped) {
    learner.start(38000, kSerial);
    for (int i = 0; i < 7; ++i) {
        learner.onFrame(kSerial, kFrameA);
        learner.onFrame(kSerial, kFrameB);
        if (i < 6) learner.onFrame(kSerial, kFrameC);
    }
    ASSERT_EQ(rec.percents.size(), 20u);
    EXPECT_EQ(rec.percents.back(), 35 + 50);
    frames(kFrameA, 5);
    EXPECT_EQ(rec.percents.size(), 20u);
    EXPECT_THAT(rec.codes, IsEmpty());
}

TEST_F(CCFLearnTest, EventsOfOtherDevicesAndWhileIdleChangeNothing) {
    frames(kFrameA, 10);
    measurements(38000, 10);
    EXPECT_THAT(rec.calls, IsEmpty());

    learner.start(38000, kSerial);
    frames(kFrameA, 10, "KOB0002");
    frames(kFrameA, 10, "kob0001");  // serials compare exactly
    learner.onModulation("KOB0002", 1000, 38000000);
    EXPECT_THAT(rec.calls, IsEmpty());
    learner.onFrame(kSerial, kFrameA);
    EXPECT_THAT(rec.percents, ElementsAre(55));
}

TEST_F(CCFLearnTest, StopEndsTheRunAndStopsMeasuring) {
    learner.start(0, kSerial);
    frames(kFrameA, 3);
    learner.stop();
    EXPECT_EQ(rec.calls.back(), std::string("off ") + kSerial);
    const std::size_t calls = rec.calls.size();
    frames(kFrameA, 10);
    measurements(38000, 10);
    EXPECT_EQ(rec.calls.size(), calls);
}

TEST_F(CCFLearnTest, FinishedRunIgnoresLaterFrames) {
    learner.start(38000, kSerial);
    frames(kFrameA, 10);
    const std::size_t calls = rec.calls.size();
    frames(kFrameA, 3);
    EXPECT_EQ(rec.calls.size(), calls);
}

TEST_F(CCFLearnTest, StartDiscardsTheLastRun) {
    learner.start(38000, kSerial);
    frames(kFrameA, 9);
    learner.start(38000, "KOB0002");
    frames(kFrameA, 1, "KOB0002");
    EXPECT_EQ(rec.percents.back(), 55);
    EXPECT_EQ(rec.calls.back(), "progress KOB0002 55");
}

TEST_F(CCFLearnTest, ARunMayBeRestartedFromTheProgressCallback) {
    int restarts = 0;
    CCFLearn* self = nullptr;
    CCFLearn restarting(
        [&](const std::string& serial, int, const std::string& code) {
            rec.calls.push_back("progress " + serial);
            if (!code.empty() && restarts++ == 0) self->start(38000, serial);
        },
        nullptr, nullptr);
    self = &restarting;
    restarting.start(38000, kSerial);
    for (int i = 0; i < 10; ++i)
        restarting.onFrame(kSerial, kFrameA);
    ASSERT_EQ(restarts, 1);
    // The run started from the callback is the one under way.
    rec.calls.clear();
    restarting.onFrame(kSerial, kFrameA);
    EXPECT_THAT(rec.calls, ElementsAre(std::string("progress ") + kSerial));
}

// A report of a run is made after the learner's lock is let go; a start
// from another thread in that window must not receive it afterwards. The
// window is held open by the modulation request that comes before the
// report of the tenth equal frame.
TEST(CCFLearn, RunStartedMeanwhileGetsNoReportOfTheLastOne) {
    std::vector<std::string> reports;
    bool startReturned = false;
    CCFLearn* self = nullptr;
    CCFLearn learner(
        [&](const std::string& serial, int percent, const std::string&) {
            reports.push_back(serial + " " + std::to_string(percent) +
                              (startReturned ? " after the start" : ""));
        },
        [&](const std::string&) {
            if (startReturned) return;
            std::thread host([&] { self->start(38000, "KOB0002"); });
            host.join();
            startReturned = true;
        },
        nullptr);
    self = &learner;
    learner.start(0, kSerial);
    for (int i = 0; i < 10; ++i)
        learner.onFrame(kSerial, kFrameA);
    ASSERT_TRUE(startReturned);
    ASSERT_EQ(reports.size(), 9u);
    EXPECT_EQ(reports.back(), std::string(kSerial) + " 45");
    // The new run is the one under way.
    learner.onFrame("KOB0002", kFrameA);
    EXPECT_EQ(reports.back(), "KOB0002 55 after the start");
}

TEST(CCFLearn, WorksAfterOperationsFromTwoThreads) {
    // Meant for sanitizer builds as much as for its result: the worker feeds
    // events while a host thread starts and stops runs.
    std::mutex codesLock;
    std::vector<std::string> codes;
    std::atomic<int> reports{0};
    std::atomic<int> finished{0};
    std::atomic<int> offs{0};
    CCFLearn learner(
        [&](const std::string&, int, const std::string& code) {
            ++reports;
            if (code.empty()) return;
            std::lock_guard<std::mutex> guard(codesLock);
            codes.push_back(code);
            ++finished;
        },
        nullptr, [&](const std::string&) { ++offs; });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done) {
            learner.onFrame(kSerial, kFrameA);
            learner.onModulation(kSerial, 1000, 38000000);
        }
    });
    // Even runs are left to finish, odd ones are stopped after a few
    // reports. The deadline only bounds a broken learner.
    constexpr int kRuns = 200;
    for (int i = 0; i < kRuns; ++i) {
        const int reportsBefore = reports;
        const int finishedBefore = finished;
        learner.start(38000, kSerial);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline &&
               (i % 2 == 0 ? finished == finishedBefore : reports < reportsBefore + 5)) {
            std::this_thread::yield();
        }
        learner.stop();
    }
    done = true;
    worker.join();

    EXPECT_GE(finished.load(), kRuns / 2);
    EXPECT_GE(offs.load(), kRuns);
    std::lock_guard<std::mutex> guard(codesLock);
    for (const std::string& code : codes) {
        ASSERT_EQ(code, std::string("0000 006E 0000 0003 ") + kPairsA);
    }
}

}  // namespace
}  // namespace koblib
