// Bad input at every export: null, empty, megabyte and random arguments,
// counts above capacity, size 0 buffers; every export called from inside
// every callback; opening and closing from two threads at once. The
// library neither crashes nor hangs, keeps serving its devices and gives
// the fixed results.
#include <atomic>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "api_test.h"

namespace koblib {
namespace {

// One set of arguments for every export.
struct Args {
    const char* name;
    const char* serial;
    const char* text;
    const unsigned char* data;
    unsigned int length;
    char* buffer;
    unsigned int size;
    const unsigned int* words;
    unsigned int count;
};

void KOB_CALL onProgress(int, int) {}

// The 24 exports, each with the result it must give for any arguments
// that name no attached device and no port.
void callEveryExport(const Args& a, const std::function<void()>& reopen) {
    SCOPED_TRACE(a.name);
    kob_open(nullptr, nullptr, nullptr, nullptr, nullptr);
    kob_open_no_cb();
    kob_open_ex(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    reopen();  // kob_open_ex with the test's callbacks
    kob_sendCCF(a.serial, a.text, 0xFF, 0xFF);
    kob_stopCCF(a.serial);
    kob_modulation(a.serial, 1);
    kob_modulation(a.serial, 0);
    kob_digitalIO(a.serial, 0xFF, 0xFF);
    kob_raw_learn_start(a.serial);
    kob_raw_learn_stop(a.serial);
    kob_enable_wake_from_suspend(a.serial);
    kob_disable_wake_from_suspend(a.serial);
    kob_program_wake_from_suspend(a.serial, -1, a.data, a.length);
    kob_request_wakeup_info(a.serial, 0xFFFFFFFFu);
    kob_blink(a.serial, -1);
    kob_bootloader(a.serial);
    kob_learnCCF(a.serial, 1, -1);
    kob_learnCCF(a.serial, 0, 0);
    const unsigned int listed = kob_list(a.buffer, a.size);
    EXPECT_GE(listed, 1u);
    if (listed <= a.size) {
        EXPECT_EQ(std::strlen(a.buffer) + 1, listed);
    }
    EXPECT_EQ(kob_version(a.serial), 0u);
    EXPECT_EQ(kob_ir_compare(a.text, a.text), 1);  // a code matches itself
    char digest[40];
    EXPECT_EQ(kob_hash(a.words, a.count, a.buffer, a.size < 33 ? a.size : 32),
              a.size < 33 ? a.size : 32);
    EXPECT_EQ(kob_hash(a.words, a.count, digest, sizeof digest),
              a.words == nullptr && a.count > 0 ? sizeof digest : 0u);
    EXPECT_EQ(kob_upgrade(a.serial, a.text, onProgress), KOB_UPGRADE_PORT_FAILED);
    EXPECT_EQ(kob_upgrade_is_kob(a.serial), -1);
    const unsigned int ports = kob_upgrade_list_comports(a.buffer, a.size);
    if (ports < a.size) {
        EXPECT_EQ(std::strlen(a.buffer), ports);
    }
    kob_close();  // from a callback: nothing; else closes
    reopen();
}

class BadInputTest : public ApiTest {
  protected:
    std::function<void()> reopen() {
        return [this] { EXPECT_NE(openAll(), nullptr); };
    }
};

TEST_F(BadInputTest, EveryExportTakesBadArgumentsAndTheLibraryGoesOn) {
    DeviceOutputs& device = attach("BAD-1");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    const std::size_t mega = 4u << 20;
    const std::string hugeSerial(mega, 'S');
    std::string hugeText;
    while (hugeText.size() < mega)
        hugeText += "0000 006D 0022 0002 0156 00AB ";
    std::vector<unsigned char> hugeData(mega, 0x5A);
    std::vector<unsigned int> hugeWords(mega, 0x0155);
    std::mt19937 random(13);
    std::string garbage(4096, '\0');
    for (char& c : garbage)
        c = static_cast<char>(1 + random() % 255);
    char one[1] = {'x'};
    char small[8];
    const Args table[] = {
        {"null", nullptr, nullptr, nullptr, 5, nullptr, 0, nullptr, 9},
        {"empty", "", "", hugeData.data(), 0, small, 0, hugeWords.data(), 0},
        {"huge", hugeSerial.c_str(), hugeText.c_str(), hugeData.data(),
         static_cast<unsigned int>(hugeData.size()), one, 1, hugeWords.data(),
         static_cast<unsigned int>(hugeWords.size())},
        {"garbage", garbage.c_str(), garbage.c_str(), hugeData.data(), 256, small, sizeof small,
         hugeWords.data(), 300},
    };
    for (const Args& args : table) {
        callEveryExport(args, reopen());
        ASSERT_TRUE(fence(device.serial())) << args.name;
    }
    // Each kob_close of the table took the device out and the reopening
    // brought it back; it is in service now.
    const RecordedEvents e = recorder->snapshot();
    EXPECT_EQ(e.countStatus(device.serial(), 0, kArrived),
              e.countStatus(device.serial(), 1, kRemoved) + 1);
    EXPECT_TRUE(e.sent.empty());  // no code ever went to a device
}

// The slots a test has seen events of.
std::set<std::string> slotsSeen(const RecordedEvents& e) {
    std::set<std::string> seen;
    for (const std::string& entry : e.sequence)
        seen.insert(entry.substr(0, entry.find(':')));
    return seen;
}

TEST_F(BadInputTest, EveryExportFromInsideEveryCallback) {
    DeviceOutputs& device = attach("REENTER-1");
    const std::string serial = device.serial();
    // Shared with the hook, which runs on the worker thread.
    struct Entered {
        std::mutex lock;
        std::set<std::string> slots;
        char buffer[64];
    };
    auto entered = std::make_shared<Entered>();
    // Once per slot, from inside the callback, every export with arguments
    // that reach no device; the slot's own events go on being recorded.
    recorder->setSlotHook([this, entered](const char* slot) {
        {
            std::lock_guard<std::mutex> guard(entered->lock);
            if (!entered->slots.insert(slot).second) return;
        }
        callEveryExport({slot, "NOBODY", kShortCode, nullptr, 0, entered->buffer,
                         sizeof entered->buffer, nullptr, 0},
                        [this] { openAll(); });
    });
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(serial));

    const std::vector<unsigned int> frame =
        hexWords("1000 0156 00A9 0015 003E 0015 0012 0015 003E 0015 0012 0015");
    const unsigned char block[] = {0x00, 0x7F};
    const unsigned char pairs[] = {1, 10};
    const unsigned char unknown[] = {0x11};
    const char* s = serial.c_str();
    kob_modulation(s, 1);
    kob_raw_learn_start(s);
    ASSERT_TRUE(fence(serial));
    kobsim_receive(s, frame.data(), static_cast<unsigned int>(frame.size()), 38000);
    kob_sendCCF(s, kShortCode, 1, 0);
    kob_program_wake_from_suspend(s, 1, block, sizeof block);
    kob_request_wakeup_info(s, 1);
    kobsim_buttons(s, pairs, 1);
    kobsim_input(s, unknown, sizeof unknown);
    std::set<std::string> slots = {"status",     "sent",     "received", "digital",
                                   "modulation", "rawLearn", "wakeup",   "button"};
    ASSERT_TRUE(recorder->waitFor([&](const RecordedEvents& e) { return slotsSeen(e) == slots; }))
        << "not every callback came back";
    // Learning last: the hooks above stop any learning run.
    kob_learnCCF(s, 1, 38000);
    ASSERT_TRUE(fence(serial));
    kobsim_receive(s, frame.data(), static_cast<unsigned int>(frame.size()), 38000);
    slots.insert("learn");
    ASSERT_TRUE(recorder->waitFor([&](const RecordedEvents& e) { return slotsSeen(e) == slots; }))
        << "no learning progress";
    recorder->setSlotHook(nullptr);
    kob_learnCCF(s, 0, 0);
    ASSERT_TRUE(fence(serial));
    EXPECT_EQ(recorder->snapshot().countStatus(serial, 1, kRemoved), 0);
}

TEST_F(BadInputTest, CloseWithoutOpenTwiceAndOpenCloseFromTwoThreads) {
    kob_close();
    kob_close();
    DeviceOutputs& device = attach("RACE-1");
    std::atomic<bool> go{false};
    auto churn = [&] {
        while (!go)
            std::this_thread::yield();
        for (int i = 0; i < 20; ++i) {
            openAll();
            kob_close();
        }
    };
    std::thread a(churn), b(churn);
    go = true;
    a.join();
    b.join();
    // Every arrival was matched by a removal, and the library opens again.
    RecordedEvents e = recorder->snapshot();
    EXPECT_EQ(e.countStatus(device.serial(), 0, kArrived),
              e.countStatus(device.serial(), 1, kRemoved));
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(fence(device.serial()));
    kob_close();
    kob_close();
    e = recorder->snapshot();
    EXPECT_EQ(e.countStatus(device.serial(), 0, kArrived),
              e.countStatus(device.serial(), 1, kRemoved));
}

}  // namespace
}  // namespace koblib
