// The device object over a virtual KOB-1, through the same HIDDevice code
// and channel that the library uses.
#include "device/kob.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ir/hex_words.h"
#include "koblib_codes.h"
#include "os/debug_output.h"
#include "support/example_code.h"
#include "support/wait_until.h"
#include "virtual_kob.h"

namespace koblib {
namespace {

using testing::kExampleCode;

std::vector<unsigned int> words(const char* code) {
    std::vector<std::uint32_t> w(kCodeWords);
    w.resize(readHexWords(w.data(), w.size(), code));
    return std::vector<unsigned int>(w.begin(), w.end());
}

struct Events {
    std::vector<std::string> status;
    std::vector<std::pair<std::string, int>> sent;
    std::vector<std::vector<unsigned int>> received;
    std::vector<std::string> texts;
};

// A KOB over a fresh virtual device, serviced on the test's thread the way
// the worker does it.
class KOBTest : public ::testing::Test {
  protected:
    void open(std::uint32_t payload = 64) {
        device = std::make_unique<VirtualKOB>("K1", 0x0100, payload);
        device->configure(true, 0);
        KOBCallbacks callbacks;
        callbacks.status = [this](const std::string& serial, unsigned char code,
                                  const std::string& text) {
            signal.update(
                [&] { events.status.push_back(serial + "|" + std::to_string(code) + "|" + text); });
        };
        callbacks.irSent = [this](const std::string& serial, unsigned char status) {
            signal.update([&] { events.sent.emplace_back(serial, status); });
        };
        callbacks.irReceived = [this](const std::string&, const std::string& text,
                                      const unsigned int* w, unsigned int count) {
            signal.update([&] {
                events.received.emplace_back(w, w + count);
                events.texts.push_back(text);
            });
        };
        kob = std::make_unique<KOB>(device->open(), callbacks);
        ASSERT_TRUE(kob->serviceRead());  // starts the first read
    }

    // Services reads until done() holds; false when the deadline passes or
    // the device is gone.
    bool pump(const std::function<bool()>& done, int deadlineMs = 20000) {
        const Waitable event = kob->getDevice()->readEvent();
        // A deadline on the clock, not a count of waits: a full channel
        // holds far more reports than one per wait.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> guard(signal.lock());
                if (done()) return true;
            }
            if (waitAny(&event, 1, 50) == 0 && !kob->serviceRead()) return false;
        }
        std::lock_guard<std::mutex> guard(signal.lock());
        return done();
    }

    // The output reports the device has received, once count have arrived.
    std::vector<std::vector<unsigned char>> outputs(std::size_t count = 0) {
        EXPECT_TRUE(device->waitForOutputs(count, std::chrono::seconds(20)));
        return device->takeOutputs();
    }

    void TearDown() override {
        kob.reset();
        device.reset();
        setDebugOutputHook(nullptr);
    }

    testing::Signal signal;
    Events events;
    std::unique_ptr<VirtualKOB> device;
    std::unique_ptr<KOB> kob;
};

// Expected receiver words for one frame of burst pairs by the CCF clock:
// periods to whole microseconds, then to ticks, each to the nearest.
std::vector<unsigned int> heardTicks(const std::vector<unsigned int>& pairs, unsigned frequencyWord,
                                     unsigned silence) {
    std::vector<unsigned int> ticks{silence};
    const double periodUs = frequencyWord * 1e6 / KOBC_CCF_CLOCK_HZ;
    for (std::size_t k = 0; k + 1 < pairs.size(); ++k) {
        const double us = std::floor(pairs[k] * periodUs + 0.5);
        ticks.push_back(static_cast<unsigned int>(std::floor(us / KOBC_TICK_US + 0.5)));
    }
    return ticks;
}

TEST_F(KOBTest, ExampleCodeGoesOutDecodesAndLoopsBack) {
    open();
    const auto code = words(kExampleCode);
    ASSERT_EQ(code.size(), 140u);
    kob->sendIR(code.data(), code.size(), 2, 0);
    EXPECT_TRUE(kob->isSending());
    ASSERT_TRUE(pump([&] { return events.sent.size() == 1 && events.received.size() == 2; }));
    EXPECT_EQ(events.sent[0], std::make_pair(std::string("K1"), 0));
    EXPECT_FALSE(kob->isSending());

    // The reports: 29 words in the first, 30 in each later one (L = 65).
    const auto reports = outputs();
    ASSERT_EQ(reports.size(), 5u);
    std::vector<unsigned int> decoded;
    for (std::size_t r = 0; r < reports.size(); ++r) {
        const auto& report = reports[r];
        ASSERT_EQ(report.size(), 65u);
        EXPECT_EQ(report[0], 0);
        EXPECT_EQ(report[1], 0x0E);
        const unsigned char flags = (r == 0 ? 0x01 : 0) | (r + 1 == reports.size() ? 0x02 : 0);
        EXPECT_EQ(report[2], flags) << "report " << r;
        std::size_t pos = r == 0 ? 6 : 4;
        if (r == 0) {
            EXPECT_EQ(report[4], 0);  // repeat
            EXPECT_EQ(report[5], 2);  // bitmask
        }
        for (; pos < 4u + report[3]; pos += 2)
            decoded.push_back(report[pos] << 8 | report[pos + 1]);
    }
    EXPECT_EQ(decoded, code);

    // Once sequence, then the repeat sequence once (repeat 0): two frames.
    const std::vector<unsigned int> once(code.begin() + 4, code.begin() + 72);
    const std::vector<unsigned int> repeat(code.begin() + 72, code.end());
    const auto first = heardTicks(once, 0x6E, 0xFFFF);
    EXPECT_EQ(events.received[0], first);
    const unsigned lastOff = heardTicks({once.back(), 0}, 0x6E, 0)[1];
    EXPECT_EQ(events.received[1], heardTicks(repeat, 0x6E, lastOff));
    char start[32];
    std::snprintf(start, sizeof start, "%04X %04X %04X ", first[0], first[1], first[2]);
    EXPECT_EQ(events.texts[0].substr(0, 15), start);
    EXPECT_EQ(events.texts[0].size(), 5 * first.size());
}

TEST_F(KOBTest, SecondCodeWaitsForTheFirstCompletion) {
    open();
    device->configure(false, 100);  // real air time: the first code stays on the air a while
    const auto a = words("0000 006E 0000 0001 0010 0020");
    const auto b = words("0000 006E 0000 0001 0030 0040");
    kob->sendIR(a.data(), a.size(), 1, 0);
    kob->sendIR(b.data(), b.size(), 1, 0);
    EXPECT_EQ(kob->queuedCodes(), 1u);  // written only after a completion report
    ASSERT_TRUE(pump([&] { return events.sent.size() == 2; }));
    EXPECT_EQ(kob->queuedCodes(), 0u);
    EXPECT_FALSE(kob->isSending());
    const auto reports = outputs();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][15], 0x10);  // a's first burst
    EXPECT_EQ(reports[1][15], 0x30);  // then b's
}

TEST_F(KOBTest, CodeWithoutWordsIsDroppedAndBlocksNothing) {
    open();
    kob->sendIR(nullptr, 0, 1, 0);
    EXPECT_FALSE(kob->isSending());
    const auto code = words("0000 006E 0000 0001 0010 0020");
    kob->sendIR(code.data(), code.size(), 1, 0);
    ASSERT_TRUE(pump([&] { return events.sent.size() == 1; }));
}

TEST_F(KOBTest, StopEndsTheTransmissionWithStatusOne) {
    open();
    device->configure(true, 100);
    const auto code = words(kExampleCode);
    kob->sendIR(code.data(), code.size(), 1, 200);  // ~25 s on the air
    kob->writeReport(nullptr, 0, 0x10);
    ASSERT_TRUE(pump([&] { return events.sent.size() == 1; }));
    EXPECT_EQ(events.sent[0].second, 1);
}

TEST_F(KOBTest, UnknownReportTypeBecomesStatusTwoWithItsDump) {
    open(8);
    const unsigned char report[] = {0x11, 0xAB};
    device->sendRaw(report, sizeof report);
    ASSERT_TRUE(pump([&] { return !events.status.empty(); }));
    EXPECT_EQ(events.status[0], "K1|2|11 AB 00 00 00 00 00 00 \n");
}

TEST_F(KOBTest, ContinuationStartingWithDigitalIOTypeStaysIRData) {
    open(8);
    // 5 words announced: 3 in the first report, 2 more in the next, whose
    // first byte is 0x20.
    const unsigned char first[] = {0x0A, 5, 0, 1, 0, 2, 0, 3};
    const unsigned char second[] = {0x20, 0x04, 0, 5};
    device->sendRaw(first, sizeof first);
    device->sendRaw(second, sizeof second);
    ASSERT_TRUE(pump([&] { return events.received.size() == 1; }));
    EXPECT_EQ(events.received[0], (std::vector<unsigned int>{1, 2, 3, 0x2004, 5}));
}

TEST_F(KOBTest, DetachFailsTheReadAndDestructionReportsRemoval) {
    open();
    std::vector<std::string> captured;
    setDebugOutputHook([&](const std::string& text) { captured.push_back(text); });
    const auto code = words(kExampleCode);
    device->configure(false, 100);
    kob->sendIR(code.data(), code.size(), 1, 10);
    kob->sendIR(code.data(), code.size(), 1, 0);  // queued, never sent
    device->detach();
    EXPECT_FALSE(pump([] { return false; }));
    EXPECT_TRUE(events.status.empty());
    kob.reset();
    ASSERT_EQ(events.status.size(), 1u);
    EXPECT_EQ(events.status[0], "K1|1|KOB removed");
    ASSERT_FALSE(captured.empty());
    EXPECT_EQ(captured[0].rfind("HIDDevice (finishRead): Last Error: ", 0), 0u);
}

TEST_F(KOBTest, ShortOutputReportsRefuseCodesInsteadOfLooping) {
    open(4);  // L = 5: no word fits after the 4 header bytes of the first report
    std::vector<std::string> captured;
    setDebugOutputHook([&](const std::string& text) { captured.push_back(text); });
    const auto code = words("0000 006E 0000 0001 0010 0020");
    kob->sendIR(code.data(), code.size(), 1, 0);
    EXPECT_FALSE(kob->isSending());
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_NE(captured[0].find("too short"), std::string::npos);
}

TEST_F(KOBTest, OversizedCommandIsCaughtAndReported) {
    open(8);
    std::vector<std::string> captured;
    setDebugOutputHook([&](const std::string& text) { captured.push_back(text); });
    const unsigned char payload[8] = {};
    EXPECT_NO_THROW(kob->writeReport(payload, sizeof payload, 0x20));
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0], "Too much data for buffer");
    EXPECT_TRUE(outputs().empty());
}

TEST_F(KOBTest, WakeCodeRoundTripThroughTheDevice) {
    open(16);  // chunks of L - 4 = 13 bytes
    std::string block;
    for (int k = 0; k < 40; ++k)
        block.push_back(static_cast<char>(k * 7));
    kob->sendWakeCode(1, block);
    const auto chunks = outputs(4);
    ASSERT_EQ(chunks.size(), 4u);  // 13 + 13 + 13 + 1
    for (const auto& chunk : chunks)
        EXPECT_EQ(chunk[1], 0x25);
    EXPECT_EQ(chunks[3][2], 39);
    EXPECT_EQ(chunks[3][3], 1);
}

// A host that does not read in time: the device drops whole frames, never
// a part of one, and keeps the report that ends a transmission, so that the
// device object is not left sending and the next code goes out.
class KOBWithFullChannel : public KOBTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(KOBWithFullChannel, LosesWholeFramesAndNoCompletion) {
    open(GetParam());
    device->configure(false, 0);
    std::vector<std::uint32_t> frame(255);
    for (std::size_t k = 0; k < frame.size(); ++k)
        frame[k] = static_cast<std::uint32_t>(0x0101 * (k % 200 + 1));
    // Frames until the channel is full and the device starts to drop.
    int heard = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (device->dropped() == 0 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(device->receiveFrame(frame, 38000));
        ++heard;
        std::this_thread::yield();
    }
    ASSERT_GT(device->dropped(), 0u);
    const auto code = words("0000 006E 0000 0001 0010 0020");
    kob->sendIR(code.data(), code.size(), 1, 0);
    kob->sendIR(code.data(), code.size(), 1, 0);
    ASSERT_TRUE(pump([&] { return events.sent.size() == 2; }))
        << events.sent.size() << " completions, " << device->dropped() << " reports dropped";
    EXPECT_FALSE(kob->isSending());
    const std::vector<unsigned int> expected(frame.begin(), frame.end());
    std::lock_guard<std::mutex> guard(signal.lock());
    EXPECT_GT(events.received.size(), 0u);
    EXPECT_LT(events.received.size(), static_cast<std::size_t>(heard));
    for (const auto& received : events.received)
        ASSERT_EQ(received, expected);
    EXPECT_TRUE(events.status.empty());  // no tail of a frame read as a report of its own
}

INSTANTIATE_TEST_SUITE_P(Payloads, KOBWithFullChannel, ::testing::Values(8u, 64u, 1023u));

}  // namespace
}  // namespace koblib
