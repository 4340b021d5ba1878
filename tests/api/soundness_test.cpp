// The library and its virtual devices under load: open/command/close
// rounds, command floods that outrun the host's reading, and the exports
// called from inside the callbacks that kob_close raises.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "api_test.h"

namespace koblib {
namespace {

// Answers to the flood commands carry their index: first 0x40 + k / 256,
// second k % 256; the fences (0xEE) stay out of the range.
constexpr int kFloodBase = 0x40;
int floodIndex(const DigitalEvent& d) {
    return d.first >= kFloodBase && d.first < kFloodBase + 4
               ? (d.first - kFloodBase) * 256 + d.second
               : -1;
}
void flood(const char* serial, int count) {
    for (int k = 0; k < count; ++k)
        kob_digitalIO(serial, static_cast<unsigned char>(kFloodBase + k / 256),
                      static_cast<unsigned char>(k % 256));
}
std::vector<int> floodAnswers(const RecordedEvents& e, const std::string& serial) {
    std::vector<int> indexes;
    for (const auto& d : e.digital)
        if (d.serial == serial && floodIndex(d) >= 0) indexes.push_back(floodIndex(d));
    return indexes;
}

TEST_F(ApiTest, ThousandOpenCommandCloseRoundsEachArriveAndLeave) {
    constexpr int kRounds = 1000;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_NE(openAll(), nullptr) << "round " << round;
        for (int k = 0; k < 5; ++k)
            kob_digitalIO(kSimSerial, 0x01, static_cast<unsigned char>(k));
        kob_close();
    }
    // The worker scans before it looks at the stop flag: every round took
    // the device in and let it go before kob_close returned.
    const RecordedEvents e = recorder->snapshot();
    EXPECT_EQ(e.countStatus(kSimSerial, 0, kArrived), kRounds);
    EXPECT_EQ(e.countStatus(kSimSerial, 1, kRemoved), kRounds);
}

// Every answer the device makes either reaches the host, in order, or is
// counted as dropped; none is lost or repeated, and the device goes on.
void expectAnsweredOrDropped(const std::shared_ptr<EventRecorder>& recorder,
                             const std::string& serial, int sent) {
    std::vector<int> answers;
    const bool settled = recorder->waitFor(
        [&](const RecordedEvents& e) {
            answers = floodAnswers(e, serial);
            return answers.size() + kobsim_dropped(serial.c_str()) >= static_cast<unsigned>(sent);
        },
        std::chrono::seconds(60));
    EXPECT_TRUE(settled) << serial << ": " << answers.size() << " answers, "
                         << kobsim_dropped(serial.c_str()) << " dropped of " << sent;
    EXPECT_EQ(answers.size() + kobsim_dropped(serial.c_str()), static_cast<unsigned>(sent))
        << serial;
    for (std::size_t k = 1; k < answers.size(); ++k)
        ASSERT_LT(answers[k - 1], answers[k]) << serial << " answer " << k;
}

TEST_F(ApiTest, CommandFloodNeverStallsTheDeviceOrTheLibrary) {
    DeviceOutputs& device = attach("FLOOD-1");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));
    constexpr int kCommands = 1000;
    flood(device.name(), kCommands);
    expectAnsweredOrDropped(recorder, device.serial(), kCommands);
    EXPECT_TRUE(fence(device.serial()));
}

TEST_F(ApiTest, DevicePluggedInWhileEveryChannelIsFullArrives) {
    const std::vector<std::string> serials{"FULL-1", "FULL-2", "FULL-3", "FULL-4",
                                           "FULL-5", "FULL-6", "FULL-7", "FULL-8"};
    for (const auto& serial : serials)
        attach(serial);
    ASSERT_NE(openAll(), nullptr);
    for (const auto& serial : serials)
        ASSERT_TRUE(waitArrived(serial));
    // Each command goes to every device: the answers outrun the one report
    // the worker reads between two batches of commands.
    constexpr int kCommands = 400;
    flood("", kCommands);
    attach("FULL-LATE");
    EXPECT_TRUE(waitArrived("FULL-LATE")) << "the device plugged in last never arrived";
    for (const auto& serial : serials)
        expectAnsweredOrDropped(recorder, serial, kCommands);
}

TEST_F(ApiTest, ReceivedFramesArriveWholeOnEveryReportLength) {
    // Odd payloads leave a byte over in every report; the largest frame
    // spans many reports on the shortest one.
    const unsigned payloads[] = {8, 9, 10, 63, 1023};
    std::vector<std::string> serials;
    for (unsigned payload : payloads) {
        serials.push_back("SPLIT-" + std::to_string(payload));
        attach(serials.back(), 0x0200, payload);
    }
    ASSERT_NE(openAll(), nullptr);
    for (const auto& serial : serials)
        ASSERT_TRUE(waitArrived(serial));
    for (unsigned count : {5u, 255u}) {
        std::vector<unsigned int> words(count);
        for (unsigned k = 0; k < count; ++k)
            words[k] = 0x1111u * (k % 15 + 1);
        // A frame the library has no room for is dropped whole and
        // counted; that device hears it again until it arrives.
        std::vector<std::string> pending = serials;
        for (int attempt = 0; !pending.empty(); ++attempt) {
            ASSERT_LT(attempt, 20) << pending.front() << " dropped every frame";
            std::map<std::string, unsigned> dropped;
            recorder->clear();
            for (const auto& serial : pending) {
                dropped[serial] = kobsim_dropped(serial.c_str());
                ASSERT_EQ(kobsim_receive(serial.c_str(), words.data(), count, 38000), 0);
            }
            std::vector<std::string> again;
            for (const auto& serial : pending) {
                ASSERT_TRUE(fence(serial)) << serial;
                std::vector<std::vector<unsigned int>> frames;
                for (const auto& r : recorder->snapshot().received)
                    if (r.serial == serial) frames.push_back(r.words);
                if (frames.empty() && kobsim_dropped(serial.c_str()) != dropped[serial]) {
                    again.push_back(serial);
                    continue;
                }
                ASSERT_EQ(frames.size(), 1u) << serial << ", " << count << " words";
                EXPECT_EQ(frames[0], words) << serial;
            }
            pending = again;
        }
    }
}

TEST_F(ApiTest, EveryExportIsCallableFromTheRemovalCallbackOfClose) {
    DeviceOutputs& device = attach("CB-CLOSE");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    struct Results {
        bool ran = false;
        void* opened[3] = {nullptr, nullptr, nullptr};
        unsigned listed = 0;
    };
    auto results = std::make_shared<Results>();
    recorder->setStatusHook([results](const StatusEvent& s) {
        if (s.serial != "CB-CLOSE" || s.code != 1 || results->ran) return;
        results->ran = true;
        // The opens are refused while the close runs; the rest do their
        // work or queue it.
        results->opened[0] = kob_open(EventRecorder::onStatus, nullptr, nullptr, nullptr, nullptr);
        results->opened[1] = kob_open_ex(EventRecorder::onStatus, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr);
        results->opened[2] = kob_open_no_cb();
        kob_close();
        const char* serial = "CB-CLOSE";
        postEveryCommand(serial);
        kob_learnCCF(serial, 1, 38000);
        kob_learnCCF(serial, 0, 0);
        char text[256];
        results->listed = kob_list(text, sizeof text);
        kob_version(serial);
        kob_ir_compare(kShortCode, kShortCode);
        const unsigned int words[] = {0x1000, 0x0156, 0x00A9};
        char digest[33];
        kob_hash(words, 3, digest, sizeof digest);
        kob_upgrade_is_kob("no-such-port");
        kob_upgrade(nullptr, nullptr, nullptr);
        kob_upgrade_list_comports(text, sizeof text);
    });
    kob_close();  // returning at all is the first check
    ASSERT_TRUE(results->ran);
    for (void* opened : results->opened)
        EXPECT_EQ(opened, nullptr);
    // The refused opens left the library closed.
    char text[16];
    EXPECT_EQ(kob_list(text, sizeof text), 1u);
    EXPECT_EQ(recorder->snapshot().countStatus("CB-CLOSE", 1, kRemoved), 1);

    // And it opens again as usual afterwards.
    recorder->setStatusHook(nullptr);
    recorder->clear();
    ASSERT_NE(openAll(), nullptr);
    EXPECT_TRUE(waitArrived(device.serial()));
}

}  // namespace
}  // namespace koblib
