// The callback table: every event kind reaches its own slot, and the open
// functions set exactly the slots they take.
#include <algorithm>

#include "api_test.h"

namespace koblib {
namespace {

// A frame as the receiver reports it: the silence before it, then on and
// off times, in 4 us ticks.
const std::vector<unsigned int> kFrame = {0x1000, 0x0156, 0x00A9, 0x0015, 0x003E, 0x0015,
                                          0x0012, 0x0015, 0x003E, 0x0015, 0x0012, 0x0015};

bool hasFrame(const RecordedEvents& e, const std::string& serial) {
    return std::any_of(e.received.begin(), e.received.end(), [&](const ReceivedEvent& r) {
        return r.serial == serial && r.words == kFrame;
    });
}

TEST_F(ApiTest, OpenExDeliversEveryEventKindToItsSlot) {
    const std::string serial = "EX-1";
    attach(serial);
    ASSERT_NE(openAll(), nullptr);
    // Slot 1: status.
    ASSERT_TRUE(waitArrived(serial));

    // Slots 2 and 3: a code goes out and is heard back.
    kob_sendCCF(serial.c_str(), kShortCode, 1, 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.sent.empty(); }));

    // Slot 5: digital I/O.
    kob_digitalIO(serial.c_str(), 0x2C, 0x05);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) {
        return std::any_of(e.digital.begin(), e.digital.end(),
                           [](const DigitalEvent& d) { return d.first == 0x2C; });
    }));

    // Slot 6: carrier measurements while measuring is on.
    kob_modulation(serial.c_str(), 1);
    ASSERT_TRUE(fence(serial));
    ASSERT_EQ(kobsim_receive(serial.c_str(), kFrame.data(),
                             static_cast<unsigned int>(kFrame.size()), 38000),
              0);
    ASSERT_TRUE(recorder->waitFor(
        [&](const RecordedEvents& e) { return !e.modulation.empty() && hasFrame(e, serial); }));
    kob_modulation(serial.c_str(), 0);

    // Slot 7: raw pulses while raw learning is on.
    kob_raw_learn_start(serial.c_str());
    ASSERT_TRUE(fence(serial));
    ASSERT_EQ(kobsim_receive(serial.c_str(), kFrame.data(),
                             static_cast<unsigned int>(kFrame.size()), 38000),
              0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.rawLearn.empty(); }));
    kob_raw_learn_stop(serial.c_str());

    // Slot 8: wake-up information.
    const unsigned char block[] = {0x00, 0x7F, 0xFF};
    kob_program_wake_from_suspend(serial.c_str(), 1, block, sizeof block);
    kob_request_wakeup_info(serial.c_str(), 1);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.wakeup.empty(); }));

    // Slot 9: buttons; the pair for button 7 is not a button of the device.
    const unsigned char pairs[] = {1, 10, 7, 99, 4, 40};
    ASSERT_EQ(kobsim_buttons(serial.c_str(), pairs, 3), 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.button.empty(); }));

    // Slot 1 again: a report of a type no parser claims, as a hex dump of
    // the whole payload.
    const unsigned char unknown[] = {0x11, 0x01, 0xAB};
    ASSERT_EQ(kobsim_input(serial.c_str(), unknown, sizeof unknown), 0);
    std::string dump = "11 01 AB ";
    for (int k = 3; k < 64; ++k)
        dump += "00 ";
    dump += "\n";
    ASSERT_TRUE(recorder->waitFor([&](const RecordedEvents& e) {
        return e.countStatus(serial, 2, dump) > 0;
    })) << "no status 2 with the dump";

    // Slot 4: a learning run with a given carrier reports its progress.
    kob_learnCCF(serial.c_str(), 1, 38000);
    ASSERT_EQ(kobsim_receive(serial.c_str(), kFrame.data(),
                             static_cast<unsigned int>(kFrame.size()), 38000),
              0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.learn.empty(); }));
    kob_learnCCF(serial.c_str(), 0, 0);
    ASSERT_TRUE(fence(serial));

    const RecordedEvents e = recorder->snapshot();
    ASSERT_EQ(e.sent.size(), 1u);
    EXPECT_EQ(e.sent[0].serial, serial);
    EXPECT_EQ(e.sent[0].status, 0);
    ASSERT_FALSE(e.received.empty());
    for (const auto& r : e.received) {
        EXPECT_EQ(r.serial, serial);
        EXPECT_EQ(r.text, wordText(r.words));
    }
    ASSERT_EQ(e.modulation.size(), 1u);
    EXPECT_EQ(e.modulation[0].serial, serial);
    ASSERT_GT(e.modulation[0].cycles, 0u);
    EXPECT_EQ(e.modulation[0].total / e.modulation[0].cycles, 38000u);
    ASSERT_EQ(e.rawLearn.size(), 1u);
    EXPECT_EQ(e.rawLearn[0].serial, serial);
    EXPECT_EQ(e.rawLearn[0].header, 0u);
    EXPECT_EQ(e.rawLearn[0].words, kFrame);
    ASSERT_EQ(e.wakeup.size(), 1u);
    EXPECT_EQ(e.wakeup[0].serial, serial);
    EXPECT_EQ(e.wakeup[0].header, 1u);
    EXPECT_EQ(e.wakeup[0].bytes, std::vector<unsigned char>(block, block + sizeof block));
    ASSERT_EQ(e.button.size(), 1u);
    EXPECT_EQ(e.button[0].serial, serial);
    EXPECT_EQ(std::vector<int>(e.button[0].buttons, e.button[0].buttons + 4),
              (std::vector<int>{10, 0, 0, 40}));
    ASSERT_FALSE(e.learn.empty());
    EXPECT_EQ(e.learn[0].serial, serial);
    EXPECT_GT(e.learn[0].progress, 0);
    EXPECT_LT(e.learn[0].progress, 100);
    EXPECT_EQ(e.learn[0].code, "");
    EXPECT_EQ(e.countStatus(serial, 2, dump), 1);
}

TEST_F(ApiTest, OpenWithNullReceiveCallbacksDropsThoseEventsAndKeepsTheOthers) {
    const std::string serial = "CB-NULL";
    attach(serial);
    // Every slot set first, as a host that used kob_open_ex before would.
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(serial));
    kob_close();
    recorder->clear();

    ASSERT_NE(kob_open(EventRecorder::onStatus, EventRecorder::onSent, nullptr, nullptr, nullptr),
              nullptr);
    ASSERT_TRUE(waitArrived(serial));
    kob_modulation(serial.c_str(), 1);
    kob_raw_learn_start(serial.c_str());
    kob_digitalIO(serial.c_str(), 0x01, 0x02);
    kob_learnCCF(serial.c_str(), 1, 38000);
    kob_sendCCF(serial.c_str(), kShortCode, 1, 0);
    // The device answers the digital I/O command at once and hears its
    // frame (with its carrier and raw data) before it reports the end of
    // the transmission: by then every one of those events has been handled.
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.sent.empty(); }));
    const unsigned char pairs[] = {3, 7};
    ASSERT_EQ(kobsim_buttons(serial.c_str(), pairs, 1), 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.button.empty(); }))
        << "kob_open cleared the button slot";
    kob_learnCCF(serial.c_str(), 0, 0);
    kob_modulation(serial.c_str(), 0);
    kob_raw_learn_stop(serial.c_str());

    const RecordedEvents e = recorder->snapshot();
    EXPECT_EQ(e.sent.size(), 1u);
    EXPECT_TRUE(e.received.empty()) << "slot 3 still set";
    EXPECT_TRUE(e.learn.empty()) << "slot 4 still set";
    EXPECT_TRUE(e.digital.empty()) << "slot 5 still set";
    EXPECT_TRUE(e.rawLearn.empty()) << "slot 7 not cleared";
    EXPECT_FALSE(e.modulation.empty()) << "slot 6 cleared";
    ASSERT_EQ(e.button.size(), 1u);
    EXPECT_EQ(e.button[0].buttons[2], 7);
}

TEST_F(ApiTest, OpenWithoutCallbacksClearsTheStatusSlotAndKeepsTheButtonSlot) {
    const std::string serial = "CB-NONE";
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(kSimSerial));
    kob_close();
    recorder->clear();

    ASSERT_NE(kob_open_no_cb(), nullptr);
    attach(serial);
    ASSERT_TRUE(waitListed(serial));
    const unsigned char pairs[] = {2, 5};
    ASSERT_EQ(kobsim_buttons(serial.c_str(), pairs, 1), 0);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.button.empty(); }));
    kob_close();

    const RecordedEvents e = recorder->snapshot();
    EXPECT_TRUE(e.status.empty()) << "status slot still set: " << e.status.front().text;
    ASSERT_EQ(e.button.size(), 1u);
    EXPECT_EQ(e.button[0].serial, serial);
    EXPECT_EQ(e.button[0].buttons[1], 5);
}

}  // namespace
}  // namespace koblib
