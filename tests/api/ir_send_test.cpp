// Sending IR codes: the IR-send reports a device receives, the completion
// and the frames its receiver hears back (the virtual device loops what it
// sends back into its receiver), one code on the air at a time.
#include <algorithm>
#include <ostream>

#include "api_test.h"

namespace koblib {
namespace {

constexpr unsigned char kIRSend = 0x0E;

// The words carried by a sequence of IR-send reports, checking the framing
// on the way: flags, byte counts, and repeat and bitmask in the first.
std::vector<unsigned int> wordsOf(const std::vector<Report>& reports, unsigned char repeat,
                                  unsigned char bitmask) {
    std::vector<unsigned int> words;
    for (std::size_t k = 0; k < reports.size(); ++k) {
        const Report& r = reports[k];
        EXPECT_EQ(r[0], 0x00);
        EXPECT_EQ(r[1], kIRSend);
        const unsigned char flags =
            (k == 0 ? 0x01 : 0x00) | (k + 1 == reports.size() ? 0x02 : 0x00);
        EXPECT_EQ(r[2], flags) << "report " << k;
        std::size_t at = 4;
        if (k == 0) {
            EXPECT_EQ(r[4], repeat);
            EXPECT_EQ(r[5], bitmask);
            at = 6;
        }
        const std::size_t end = 4 + r[3];
        EXPECT_EQ((end - at) % 2, 0u);
        for (; at + 1 < end && at + 1 < r.size(); at += 2)
            words.push_back((r[at] << 8) | r[at + 1]);
    }
    return words;
}

std::vector<ReceivedEvent> receivedBy(const RecordedEvents& events, const std::string& serial) {
    std::vector<ReceivedEvent> frames;
    for (const auto& e : events.received)
        if (e.serial == serial) frames.push_back(e);
    return frames;
}

TEST_F(ApiTest, ExampleCodeGoesOutAsIRSendReportsAndComesBackThroughTheReceiver) {
    DeviceOutputs& device = attach("IR-EXAMPLE");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    kob_sendCCF(device.name(), kExampleCode, 2, 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.sent.empty(); }));

    // 140 words in reports of 65 bytes: 29, 30, 30, 30 and 21 words.
    const auto reports = commands(device.serial());
    ASSERT_EQ(reports.size(), 5u);
    const unsigned char counts[] = {60, 60, 60, 60, 42};
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(reports[k].size(), 65u);
        EXPECT_EQ(reports[k][3], counts[k]) << "report " << k;
    }
    EXPECT_EQ(wordsOf(reports, 0, 2), hexWords(kExampleCode));

    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.sent.size(), 1u);
    EXPECT_EQ(events.sent[0].serial, device.serial());
    EXPECT_EQ(events.sent[0].status, 0);

    // The once frame and one repeat frame, each longer than one report,
    // heard before the device reported the end of the transmission.
    const auto frames = receivedBy(events, device.serial());
    ASSERT_EQ(frames.size(), 2u);
    for (const auto& frame : frames) {
        EXPECT_GT(frame.words.size(), 31u);
        EXPECT_EQ(frame.text, wordText(frame.words));
    }
    const auto sentAt =
        std::find(events.sequence.begin(), events.sequence.end(), "sent:" + device.serial());
    EXPECT_EQ(std::count(events.sequence.begin(), sentAt, "received:" + device.serial()), 2);
}

TEST_F(ApiTest, EmptySerialSendsTheCodeToEveryDevice) {
    attach("IR-ALL-A");
    attach("IR-ALL-B");
    ASSERT_EQ(kobsim_configure(kSimSerial, 1, 0), 0);
    ASSERT_NE(openAll(), nullptr);
    for (const char* serial : {"IR-ALL-A", "IR-ALL-B", kSimSerial})
        ASSERT_TRUE(waitArrived(serial));

    kob_sendCCF("", kShortCode, 1, 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return e.sent.size() >= 3; }));
    for (const char* serial : {"IR-ALL-A", "IR-ALL-B", kSimSerial}) {
        const auto reports = commands(serial);
        ASSERT_EQ(reports.size(), 1u) << serial;
        EXPECT_EQ(head(reports[0], 6), (Report{0x00, kIRSend, 0x03, 18, 0x00, 0x01})) << serial;
        EXPECT_EQ(wordsOf(reports, 0, 1), hexWords(kShortCode));
    }
}

TEST_F(ApiTest, SecondCodeGoesOutOnlyAfterTheFirstIsFinished) {
    DeviceOutputs& device = attach("IR-QUEUE", 0x0200, 64, 100);
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    // Inside the first completion the second code must not have been
    // written yet: the device holds the first code's reports only.
    auto atFirst = std::make_shared<std::vector<Report>>();
    auto seen = std::make_shared<int>(0);
    recorder->setSentHook([atFirst, seen, &device](const SentEvent&) {
        if ((*seen)++ != 0) return;
        device.waitForCount(5);
        *atFirst = device.reports();
    });
    kob_sendCCF(device.name(), kExampleCode, 1, 0);
    kob_sendCCF(device.name(), kExampleCode, 4, 1);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return e.sent.size() >= 2; },
                                  std::chrono::seconds(30)));

    ASSERT_EQ(atFirst->size(), 5u) << "the second code was written while the first was on the air";
    EXPECT_EQ(wordsOf(*atFirst, 0, 1), hexWords(kExampleCode));
    const auto reports = commands(device.serial());
    ASSERT_EQ(reports.size(), 10u);
    EXPECT_EQ(wordsOf(std::vector<Report>(reports.begin() + 5, reports.end()), 1, 4),
              hexWords(kExampleCode));
    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.sent.size(), 2u);
    EXPECT_EQ(events.sent[0].status, 0);
    EXPECT_EQ(events.sent[1].status, 0);
}

struct EmptyCode {
    const char* name;
    const char* code;
};

std::ostream& operator<<(std::ostream& out, const EmptyCode& c) {
    return out << (c.code ? std::string("\"") + c.code + "\"" : std::string("null"));
}

class EmptyCodeTest : public ApiTest, public ::testing::WithParamInterface<EmptyCode> {};

TEST_P(EmptyCodeTest, CodeWithoutWordsIsDroppedAndDoesNotHoldBackLaterCodes) {
    const std::string serial = std::string("IR-EMPTY-") + GetParam().name;
    attach(serial);
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(serial));

    kob_sendCCF(serial.c_str(), GetParam().code, 1, 0);
    kob_sendCCF(serial.c_str(), kShortCode, 3, 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.sent.empty(); }))
        << "the code after the empty one never went out";
    ASSERT_TRUE(fence(serial));

    const auto reports = commands(serial);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(head(reports[0], 6), (Report{0x00, kIRSend, 0x03, 18, 0x00, 0x03}));
    EXPECT_EQ(recorder->snapshot().sent.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Codes, EmptyCodeTest,
                         ::testing::Values(EmptyCode{"Null", nullptr}, EmptyCode{"Empty", ""},
                                           EmptyCode{"Blanks", "    "},
                                           EmptyCode{"NoDigits", "xyz-"},
                                           EmptyCode{"ShortOfAWord", "0A1"}),
                         [](const ::testing::TestParamInfo<EmptyCode>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ApiTest, StopDuringALongTransmissionEndsItWithStatusOne) {
    DeviceOutputs& device = attach("IR-STOP", 0x0200, 64, 100);
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    // 256 repeats of the example code keep the air busy for half a minute.
    kob_sendCCF(device.name(), kExampleCode, 1, 255);
    ASSERT_TRUE(device.waitForCount(5));
    kob_stopCCF(device.name());
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.sent.empty(); }));

    // The device is free again: the next code goes out and completes.
    ASSERT_EQ(kobsim_configure(device.name(), 1, 0), 0);
    kob_sendCCF(device.name(), kShortCode, 1, 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return e.sent.size() >= 2; }));

    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.sent.size(), 2u);
    EXPECT_EQ(events.sent[0].status, 1);
    EXPECT_EQ(events.sent[1].status, 0);
    const auto reports = commands(device.serial());
    ASSERT_EQ(reports.size(), 7u);
    EXPECT_EQ(head(reports[5], 2), (Report{0x00, 0x10}));
    EXPECT_EQ(head(reports[6], 3), (Report{0x00, kIRSend, 0x03}));
}

}  // namespace
}  // namespace koblib
