#include "api_test.h"

#include "support/example_code.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace koblib {

const char* const kExampleCode = testing::kExampleCode;

const char* const kShortCode = "0000 006E 0000 0002 0156 00A9 0015 05EF";

std::vector<unsigned int> hexWords(const char* text) {
    std::vector<unsigned int> words;
    unsigned int word = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        int value = -1;
        if (c >= '0' && c <= '9') value = c - '0';
        if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        if (value < 0) continue;
        word = (word << 4) | static_cast<unsigned int>(value);
        if (++digits == 4) {
            words.push_back(word);
            word = 0;
            digits = 0;
        }
    }
    return words;
}

std::string wordText(const std::vector<unsigned int>& words) {
    std::string text;
    char buffer[8];
    for (unsigned int w : words) {
        std::snprintf(buffer, sizeof buffer, "%04X ", w);
        text += buffer;
    }
    return text;
}

void postEveryCommand(const char* serial) {
    const unsigned char block[] = {1, 2, 3};
    kob_sendCCF(serial, kShortCode, 1, 0);
    kob_stopCCF(serial);
    kob_modulation(serial, 1);
    kob_modulation(serial, 0);
    kob_digitalIO(serial, 0x01, 0x02);
    kob_raw_learn_start(serial);
    kob_raw_learn_stop(serial);
    kob_enable_wake_from_suspend(serial);
    kob_disable_wake_from_suspend(serial);
    kob_program_wake_from_suspend(serial, 0, block, sizeof block);
    kob_request_wakeup_info(serial, 0);
    kob_blink(serial, 1);
}

void ApiTest::SetUp() {
    recorder = std::make_shared<EventRecorder>();
    EventRecorder::install(recorder);
    outputs(kSimSerial).discard();
}

void ApiTest::TearDown() {
    kob_close();
    for (const auto& serial : attached_)
        kobsim_detach(serial.c_str());
    // "SIM-0001" back as the library starts with it, also when a failing
    // test sent it into its bootloader.
    if (kobsim_configure(kSimSerial, 1, 100) != 0) {
        EXPECT_TRUE(simDetached_) << kSimSerial << " left the bus";
        EXPECT_EQ(kobsim_attach(kSimSerial, kSimVersion, kSimPayload), 0);
    }
    EventRecorder::install(nullptr);
    EXPECT_EQ(recorder->snapshot().nullPointers, 0) << "a callback got a null pointer";
}

DeviceOutputs& ApiTest::attach(const std::string& serial, unsigned int version,
                               unsigned int payload, unsigned int airTimePercent) {
    EXPECT_EQ(kobsim_attach(serial.c_str(), version, payload), 0) << serial;
    attached_.push_back(serial);
    EXPECT_EQ(kobsim_configure(serial.c_str(), 1, airTimePercent), 0);
    auto& log = devices_[serial];
    log = std::make_unique<DeviceOutputs>(serial, payload + 1);
    return *log;
}

DeviceOutputs& ApiTest::outputs(const std::string& serial) {
    auto& log = devices_[serial];
    if (!log) log = std::make_unique<DeviceOutputs>(serial, kSimPayload + 1);
    return *log;
}

void ApiTest::detachSim() {
    ASSERT_EQ(kobsim_detach(kSimSerial), 0);
    simDetached_ = true;
}

void* ApiTest::openAll() {
    return kob_open_ex(EventRecorder::onStatus, EventRecorder::onSent, EventRecorder::onReceived,
                       EventRecorder::onLearn, EventRecorder::onDigital,
                       EventRecorder::onModulation, EventRecorder::onRawLearn,
                       EventRecorder::onWakeup, EventRecorder::onButton);
}

bool ApiTest::waitArrived(const std::string& serial) {
    return recorder->waitFor(
        [&](const RecordedEvents& e) { return e.countStatus(serial, 0, kArrived) > 0; });
}

bool ApiTest::waitRemoved(const std::string& serial) {
    return recorder->waitFor(
        [&](const RecordedEvents& e) { return e.countStatus(serial, 1, kRemoved) > 0; });
}

bool ApiTest::waitListed(const std::string& serial) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        char buffer[1024];
        if (kob_list(buffer, sizeof buffer) <= sizeof buffer) {
            // Compare whole names between the separators.
            const std::string text = std::string(",") + buffer + ",";
            if (text.find("," + serial + ",") != std::string::npos) return true;
        }
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

namespace {
bool isFence(const Report& r) {
    return r.size() > 2 && r[1] == 0x20 && r[2] == kFenceCommand;
}
}  // namespace

bool ApiTest::fenceWrites(const std::string& serial) {
    const unsigned char value = ++nextFence_;
    kob_digitalIO(serial.c_str(), kFenceCommand, value);
    return outputs(serial).waitFor([value](const std::vector<Report>& reports) {
        for (const auto& r : reports)
            if (isFence(r) && r[3] == value) return true;
        return false;
    });
}

bool ApiTest::fence(const std::string& serial) {
    // The device drops an answer the library has no room for, and counts
    // it: then the fence is sent again (its answer still comes after every
    // report before it).
    for (int attempt = 0; attempt < 20; ++attempt) {
        const unsigned dropped = kobsim_dropped(serial.c_str());
        if (!fenceWrites(serial)) return false;
        const unsigned char value = nextFence_;
        const auto answered = [&](const RecordedEvents& e) {
            for (const auto& d : e.digital)
                if (d.serial == serial && d.first == kFenceCommand && d.second == value)
                    return true;
            return false;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool lost = false;
        while (!lost && std::chrono::steady_clock::now() < deadline) {
            if (recorder->waitFor(answered, std::chrono::milliseconds(100))) return true;
            lost = kobsim_dropped(serial.c_str()) != dropped;
        }
        if (!lost) return false;
    }
    return false;
}

std::vector<Report> ApiTest::commands(const std::string& serial) {
    std::vector<Report> kept;
    for (auto& r : outputs(serial).reports())
        if (!isFence(r)) kept.push_back(std::move(r));
    return kept;
}

}  // namespace koblib
