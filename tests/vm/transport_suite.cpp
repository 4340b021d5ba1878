#include "transport_suite.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "koblib.h"
#include "koblib_codes.h"
#include "support/example_code.h"

namespace koblib::vm {

namespace {

using testing::kExampleCode;

std::vector<unsigned> codeWords() {
    std::vector<unsigned> words;
    std::istringstream in(kExampleCode);
    std::string word;
    while (in >> word)
        words.push_back(static_cast<unsigned>(std::stoul(word, nullptr, 16)));
    return words;
}

// What the device's receiver reports for the code sent with this repeat
// count and looped back: the once sequence, then the repeat sequence
// 1 + repeat times; each frame as 4 us ticks, led by the silence before
// it (0xFFFF before the first) and without its own last gap. The timings
// are the codes library's, as the device's.
std::vector<std::vector<unsigned>> loopedBackFrames(const std::vector<unsigned>& code,
                                                    unsigned repeat) {
    auto timings = std::make_unique<kobc_code>();
    if (kobc_ccf_parse_words(code.data(), code.size(), timings.get(), nullptr, 0) != KOBC_OK)
        return {};
    const int* once = timings->durations;
    const int* again = once + timings->once_count;
    std::vector<std::pair<const int*, std::size_t>> sequences{{once, timings->once_count}};
    for (unsigned k = 0; k <= repeat; ++k)
        sequences.emplace_back(again, timings->repeat_count);
    std::vector<std::vector<unsigned>> frames;
    long silence = 0xFFFFL * KOBC_TICK_US;
    for (const auto& [durations, count] : sequences) {
        if (count == 0) continue;  // a code without a once sequence
        std::vector<unsigned> frame(count + 1);
        std::size_t written = 0;
        kobc_frame_from_timings(durations, count, silence, frame.data(), frame.size(), &written);
        frame.resize(written);
        silence = std::labs(durations[count - 1]);
        frames.push_back(frame);
    }
    return frames;
}

std::string wordsText(const std::vector<unsigned>& words) {
    std::string text;
    char word[8];
    for (unsigned w : words) {
        std::snprintf(word, sizeof word, "%04X ", w);
        text += word;
    }
    return text;
}

// The hexadecimal dump of an unclaimed report: every payload byte as two
// digits and a blank, then a line end.
std::string dump(const std::vector<unsigned char>& payload) {
    std::string text;
    char byte[4];
    for (std::size_t k = 0; k < kReportBytes; ++k) {
        std::snprintf(byte, sizeof byte, "%02X ", k < payload.size() ? payload[k] : 0);
        text += byte;
    }
    return text + "\n";
}

}  // namespace

SyslogCapture& syslogCapture() {
    static SyslogCapture capture;
    return capture;
}

void LibraryTest::SetUp() {
    ASSERT_TRUE(syslogCapture().ok()) << "cannot bind /dev/log";
    syslogCapture().clear();
    recorder = std::make_shared<EventRecorder>();
    EventRecorder::install(recorder);
}

void LibraryTest::TearDown() {
    kob_close();
    EventRecorder::install(nullptr);
}

void LibraryTest::openLibrary() {
    ASSERT_NE(kob_open_ex(
                  &EventRecorder::onStatus, &EventRecorder::onSent, &EventRecorder::onReceived,
                  &EventRecorder::onLearn, &EventRecorder::onDigital, &EventRecorder::onModulation,
                  &EventRecorder::onRawLearn, &EventRecorder::onWakeup, &EventRecorder::onButton),
              nullptr);
}

bool LibraryTest::waitStatus(const std::string& serial, int code, const std::string& text,
                             int count) {
    return recorder->waitFor(
        [&](const RecordedEvents& e) { return e.countStatus(serial, code, text) >= count; },
        kDeadline);
}

std::string LibraryTest::listText() {
    const unsigned needed = kob_list(nullptr, 0);
    std::vector<char> buffer(needed + 1, '\x7F');
    const unsigned stored = kob_list(buffer.data(), static_cast<unsigned>(buffer.size()));
    EXPECT_EQ(stored, needed);
    return std::string(buffer.data());
}

void TransportTest::TearDown() {
    LibraryTest::TearDown();
    device.reset();
}

KernelKOB& TransportTest::plugAndWait(const std::string& serial, int arrival) {
    device = GetParam().plug(serial);
    EXPECT_TRUE(device->ok()) << device->error();
    EXPECT_TRUE(waitStatus(serial, 0, "KOB arrived", arrival))
        << "no \"KOB arrived\" for " << serial;
    return *device;
}

std::string transportName(const ::testing::TestParamInfo<Transport>& info) {
    return info.param.name;
}

void PrintTo(const Transport& transport, std::ostream* out) {
    *out << transport.name;
}

// A device plugged in while the library is open is noticed through the
// udev monitor; it is listed under its USB serial with its release number;
// a later open finds it by enumeration alone.
TEST_P(TransportTest, HotPluggedDeviceIsListedWithItsSerialAndVersion) {
    openLibrary();
    EXPECT_EQ(listText(), "");
    plugAndWait("VM-ARRIVE-1");
    EXPECT_EQ(listText(), "VM-ARRIVE-1");
    EXPECT_EQ(kob_list(nullptr, 0), 12u);
    EXPECT_EQ(kob_version("VM-ARRIVE-1"), GetParam().version);
    EXPECT_EQ(kob_version("VM-ARRIVE"), 0u);

    kob_close();
    EXPECT_EQ(recorder->snapshot().countStatus("VM-ARRIVE-1", 1, "KOB removed"), 1);
    EXPECT_EQ(listText(), "");
    openLibrary();
    EXPECT_TRUE(waitStatus("VM-ARRIVE-1", 0, "KOB arrived", 2));
    EXPECT_EQ(listText(), "VM-ARRIVE-1");
}

// The example code goes out as IR-send reports that reach the device whole
// (report ID 0 and the command first, each once); the device's completion
// and the frames it hears back, three input reports each, reach the host.
TEST_P(TransportTest, ExampleCodeIsSentCompletedAndHeardBack) {
    openLibrary();
    KernelKOB& kob = plugAndWait("VM-SEND-1");
    const std::vector<unsigned> code = codeWords();
    ASSERT_EQ(code.size(), 140u);

    kob_sendCCF("VM-SEND-1", kExampleCode, 0x05, 1);
    ASSERT_TRUE(
        recorder->waitFor([](const RecordedEvents& e) { return !e.sent.empty(); }, kDeadline))
        << "no completion";
    const auto frames = loopedBackFrames(code, 1);
    ASSERT_TRUE(recorder->waitFor(
        [&](const RecordedEvents& e) { return e.received.size() >= frames.size(); }, kDeadline))
        << "frames heard back: " << recorder->snapshot().received.size();

    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.sent.size(), 1u);
    EXPECT_EQ(events.sent[0].serial, "VM-SEND-1");
    EXPECT_EQ(events.sent[0].status, 0);
    ASSERT_EQ(events.received.size(), frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        EXPECT_EQ(events.received[k].serial, "VM-SEND-1");
        EXPECT_EQ(events.received[k].words, frames[k]) << "frame " << k;
        EXPECT_EQ(events.received[k].text, wordsText(frames[k])) << "frame " << k;
    }

    // 140 words in reports of 64 bytes on the wire: 29 + 30 + 30 + 30 + 21.
    const auto reports = kob.firmware().takeOutputs();
    ASSERT_EQ(reports.size(), 5u);
    std::vector<unsigned> sent;
    for (std::size_t k = 0; k < reports.size(); ++k) {
        const auto& r = reports[k];
        ASSERT_EQ(r.size(), kReportBytes + 1) << "report " << k;
        EXPECT_EQ(r[0], 0x00);
        EXPECT_EQ(r[1], 0x0E) << "report " << k;
        EXPECT_EQ(r[2], (k == 0 ? 0x01 : 0x00) | (k == 4 ? 0x02 : 0x00)) << "report " << k;
        std::size_t at = 4;
        if (k == 0) {
            EXPECT_EQ(r[4], 1);     // repeat
            EXPECT_EQ(r[5], 0x05);  // bitmask
            at = 6;
        }
        for (; at + 1 < 4u + r[3] && at + 1 < r.size(); at += 2)
            sent.push_back((r[at] << 8) | r[at + 1]);
    }
    EXPECT_EQ(sent, code);
    for (std::size_t length : kob.outputLengths())
        EXPECT_EQ(length, kReportBytes);
}

// Digital I/O commands reach the device as [0, 0x20, cmd, value] and its
// answer comes back with both bytes, zero bytes included.
TEST_P(TransportTest, DigitalIORoundTrip) {
    openLibrary();
    KernelKOB& kob = plugAndWait("VM-DIO-1");
    const struct {
        unsigned char cmd, value;
    } cases[] = {{0x2C, 0x05}, {0x00, 0x00}, {0xFF, 0x80}, {0x00, 0xFE}, {0x01, 0x00}};
    std::size_t n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "cmd " << int(c.cmd) << " value " << int(c.value));
        kob_digitalIO("VM-DIO-1", c.cmd, c.value);
        ++n;
        ASSERT_TRUE(recorder->waitFor(
            [&](const RecordedEvents& e) { return e.digital.size() >= n; }, kDeadline));
        const DigitalEvent e = recorder->snapshot().digital.back();
        EXPECT_EQ(e.serial, "VM-DIO-1");
        EXPECT_EQ(e.first, c.cmd);
        EXPECT_EQ(e.second, c.value);
        const auto reports = kob.firmware().takeOutputs();
        ASSERT_EQ(reports.size(), 1u);
        ASSERT_EQ(reports[0].size(), kReportBytes + 1);
        EXPECT_EQ(reports[0][0], 0x00);
        EXPECT_EQ(reports[0][1], 0x20);
        EXPECT_EQ(reports[0][2], c.cmd);
        EXPECT_EQ(reports[0][3], c.value);
    }
    for (std::size_t length : kob.outputLengths())
        EXPECT_EQ(length, kReportBytes);
}

// Input reports whose first byte is 0 (no report kind) reach the host
// whole: not taken for a report ID, not shifted, not dropped.
TEST_P(TransportTest, InputReportStartingWithZeroArrivesWhole) {
    openLibrary();
    KernelKOB& kob = plugAndWait("VM-ZERO-1");
    const std::vector<std::vector<unsigned char>> payloads = {
        {0x00, 0x5A, 0x00, 0xA5}, {0x00}, {0x00, 0x00, 0x0A, 0x01}};
    for (const auto& payload : payloads)
        ASSERT_TRUE(kob.firmware().sendRaw(payload.data(), payload.size()));
    ASSERT_TRUE(recorder->waitFor(
        [&](const RecordedEvents& e) { return e.status.size() >= 1 + payloads.size(); },
        kDeadline));
    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.status.size(), 1 + payloads.size());
    for (std::size_t k = 0; k < payloads.size(); ++k) {
        EXPECT_EQ(events.status[1 + k].serial, "VM-ZERO-1");
        EXPECT_EQ(events.status[1 + k].code, 2);
        EXPECT_EQ(events.status[1 + k].text, dump(payloads[k])) << "report " << k;
    }
}

// Unplugging makes the pending read fail with EIO; the device is removed
// from the table and reported once.
TEST_P(TransportTest, UnplugFailsTheReadWithEIOAndRemovesTheDevice) {
    openLibrary();
    KernelKOB& kob = plugAndWait("VM-GONE-1");
    kob.unplug();
    EXPECT_TRUE(waitStatus("VM-GONE-1", 1, "KOB removed"));
    EXPECT_TRUE(syslogCapture().waitFor("HIDDevice (finishRead): Last Error: 5\n", kDeadline))
        << "no EIO from the read";
    EXPECT_EQ(listText(), "");
    EXPECT_EQ(kob_version("VM-GONE-1"), 0u);
    kob_close();
    EXPECT_EQ(recorder->snapshot().countStatus("VM-GONE-1", 1, "KOB removed"), 1);
}

// Replugged under the same serial (and likely the same hidraw name), the
// device is a new one: it arrives again and is served.
TEST_P(TransportTest, ReplugWithTheSameSerialIsServedAgain) {
    openLibrary();
    plugAndWait("VM-AGAIN-1");
    device->unplug();
    ASSERT_TRUE(waitStatus("VM-AGAIN-1", 1, "KOB removed"));
    device.reset();
    plugAndWait("VM-AGAIN-1", 2);
    EXPECT_EQ(listText(), "VM-AGAIN-1");
    kob_digitalIO("VM-AGAIN-1", 0x12, 0x34);
    ASSERT_TRUE(
        recorder->waitFor([](const RecordedEvents& e) { return !e.digital.empty(); }, kDeadline));
    EXPECT_EQ(recorder->snapshot().digital[0].first, 0x12);
    EXPECT_EQ(recorder->snapshot().digital[0].second, 0x34);
}

}  // namespace koblib::vm
