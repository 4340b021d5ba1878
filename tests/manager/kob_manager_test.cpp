// The manager with its worker over devices of the virtual bus (or a
// collection of the test's own), without the exported interface.
#include "manager/kob_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "port_collection.h"
#include "support/wait_until.h"
#include "virtual_bus.h"

namespace koblib {
namespace {

using std::string;

class ManagerTest : public ::testing::Test {
  protected:
    ManagerTest() : bus(std::make_shared<VirtualBus>()) {}

    void make(std::shared_ptr<HIDCollection> collection = nullptr) {
        ManagerEvents e;
        e.onStatus = [this](const string& serial, unsigned char code, const string& text) {
            signal.update(
                [&] { status.push_back(serial + "|" + std::to_string(code) + "|" + text); });
        };
        e.onIRSent = [](const string&, unsigned char) {};
        e.onIRReceived = [this](const string& serial, const string&, const unsigned int*,
                                unsigned int) {
            signal.update([&] { received.push_back(serial); });
        };
        e.onModulation = [](const string&, unsigned int, unsigned int) {};
        e.onLearn = [](const string&, int, int, const string&) {};
        e.onDigitalIO = [this](const string& serial, unsigned char high, unsigned char low) {
            signal.update([&] {
                digital.push_back(serial);
                sequences[serial].push_back(high << 8 | low);
            });
        };
        e.onRawLearn = [](const string&, unsigned int, const unsigned int*, unsigned int) {};
        e.onWakeupInfo = [](const string&, unsigned int, const unsigned char*, unsigned int) {};
        e.onButton = [](const string&, int, int, int, int) {};
        manager = std::make_unique<KOBManager>(collection ? collection : bus, e);
    }

    void TearDown() override {
        if (manager) manager->stopWorker();
    }

    // Posts a job that records its number when it runs.
    void postNumbered(int n) {
        manager->post([this, n] { signal.update([&] { ran.push_back(n); }); });
    }

    bool waitStatus(const string& entry) {
        return signal.waitFor([&] {
            for (const auto& s : status)
                if (s == entry) return true;
            return false;
        });
    }

    testing::Signal signal;
    std::vector<string> status, received, digital;
    std::vector<int> ran;
    std::map<string, std::vector<int>> sequences;  // digital I/O values per device
    std::shared_ptr<VirtualBus> bus;
    std::unique_ptr<KOBManager> manager;
};

TEST_F(ManagerTest, FiftyOneJobsRunFiftyThenReportAndTheLastAtTheNextWakeUp) {
    make();
    for (int n = 0; n < 51; ++n)
        postNumbered(n);
    manager->startWorker();
    ASSERT_TRUE(waitStatus("|1|Message loop exceeded 50 items"));
    {
        std::lock_guard<std::mutex> guard(signal.lock());
        ASSERT_EQ(ran.size(), 50u);
        for (int n = 0; n < 50; ++n)
            EXPECT_EQ(ran[n], n);
    }
    postNumbered(51);  // the next wake-up runs the one left and the new one
    ASSERT_TRUE(signal.waitFor([&] { return ran.size() == 52; }));
    EXPECT_EQ(ran[50], 50);
    EXPECT_EQ(ran[51], 51);
}

TEST_F(ManagerTest, ExactlyFiftyJobsStillReportTheLimit) {
    make();
    for (int n = 0; n < 50; ++n)
        postNumbered(n);
    manager->startWorker();
    ASSERT_TRUE(waitStatus("|1|Message loop exceeded 50 items"));
    EXPECT_EQ(ran.size(), 50u);
}

TEST_F(ManagerTest, JobsFromSeveralThreadsKeepEachThreadsOrder) {
    make();
    manager->startWorker();
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([this, t] {
            for (int k = 0; k < kEach; ++k)
                postNumbered(t * 1000 + k);
        });
    for (auto& poster : posters)
        poster.join();
    // A full batch leaves the rest for the next wake-up: wake the worker
    // until everything has run.
    for (int poke = 0; poke < 200 && !signal.waitFor([&] { return ran.size() == kThreads * kEach; },
                                                     std::chrono::milliseconds(100));
         ++poke)
        manager->post([] {});
    ASSERT_EQ(ran.size(), static_cast<std::size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (int n : ran)
        EXPECT_EQ(n % 1000, next[n / 1000]++);
}

TEST_F(ManagerTest, AJobThatThrowsDoesNotEndTheWorker) {
    make();
    manager->startWorker();
    manager->post([] { throw std::runtime_error("boom"); });
    postNumbered(1);
    ASSERT_TRUE(signal.waitFor([&] { return ran.size() == 1; }));
}

TEST_F(ManagerTest, ScanArrivalListVersionAndRemovalOnDetach) {
    bus->attach("B2", 0x0201);
    bus->attach("A1", 0x0107);
    make();
    manager->startWorker();
    ASSERT_TRUE(waitStatus("A1|0|KOB arrived"));
    ASSERT_TRUE(waitStatus("B2|0|KOB arrived"));
    EXPECT_EQ(manager->listSerials(), (std::vector<string>{"A1", "B2"}));
    EXPECT_EQ(manager->version("A1"), 0x0107u);
    EXPECT_EQ(manager->version("C3"), 0u);

    bus->detach("A1");  // noticed through the failing read, without a scan
    ASSERT_TRUE(waitStatus("A1|1|KOB removed"));
    ASSERT_TRUE(signal.waitFor([&] { return manager->listSerials().size() == 1; }));

    // A second scan finds only known devices and reports nothing new.
    manager->post([this] { manager->scan(); });
    manager->post([this] { manager->scan(); });
    postNumbered(0);
    ASSERT_TRUE(signal.waitFor([&] { return ran.size() == 1; }));
    EXPECT_EQ(std::count(status.begin(), status.end(), "B2|0|KOB arrived"), 1);
}

TEST_F(ManagerTest, StopReportsRemovalOfEveryDeviceBeforeItReturns) {
    bus->attach("A1", 1);
    bus->attach("B2", 1);
    make();
    manager->startWorker();
    ASSERT_TRUE(waitStatus("B2|0|KOB arrived"));
    manager->stopWorker();
    std::lock_guard<std::mutex> guard(signal.lock());
    EXPECT_EQ(status.back(), "B2|1|KOB removed");
    EXPECT_EQ(status[status.size() - 2], "A1|1|KOB removed");
    EXPECT_TRUE(manager->listSerials().empty());
}

TEST_F(ManagerTest, StopFromTheWorkerItselfReturnsAtOnce) {
    make();
    manager->startWorker();
    std::atomic<bool> returned{false};
    manager->post([&] {
        manager->stopWorker();
        returned = true;
    });
    postNumbered(1);  // the worker still runs after the job
    ASSERT_TRUE(signal.waitFor([&] { return ran.size() == 1; }));
    EXPECT_TRUE(returned);
}

TEST_F(ManagerTest, JobsPostedWhileStoppedRunAfterTheFirstScanOfTheNextStart) {
    bus->attach("A1", 1);
    make();
    manager->post([this] { manager->digitalIO("A1", 1, 2); });
    manager->startWorker();
    ASSERT_TRUE(signal.waitFor([&] { return digital.size() == 1; }));
    EXPECT_EQ(digital[0], "A1");
}

// Two devices with one serial: only the first in enumeration order is
// served.
class TwoWithOneSerial : public HIDCollection {
  public:
    TwoWithOneSerial() : first("S", 1, 8), second("S", 2, 8) {}
    std::vector<std::shared_ptr<HIDDevice>> getDevices() override {
        return {first.open(), second.open()};
    }
    VirtualKOB first, second;
};

TEST_F(ManagerTest, OfTwoDevicesWithOneSerialOnlyTheFirstIsServed) {
    auto collection = std::make_shared<TwoWithOneSerial>();
    make(collection);
    manager->startWorker();
    ASSERT_TRUE(waitStatus("S|0|KOB arrived"));
    EXPECT_EQ(manager->version("S"), 1u);
    manager->post([this] { manager->blink("S", 5); });
    ASSERT_TRUE(collection->first.waitForOutputs(1, std::chrono::seconds(20)));
    manager->stopWorker();
    EXPECT_TRUE(collection->second.takeOutputs().empty());
    EXPECT_EQ(std::count(status.begin(), status.end(), "S|0|KOB arrived"), 1);
}

TEST_F(ManagerTest, SixtyFourDevicesAllReceiveCommandsButOnlySixtyThreeAreRead) {
    std::vector<string> serials;
    for (int k = 0; k < 64; ++k) {
        char name[8];
        std::snprintf(name, sizeof name, "D%02d", k);
        serials.push_back(name);
        ASSERT_TRUE(bus->attach(name, 1, 8));
    }
    make();
    manager->startWorker();
    ASSERT_TRUE(signal.waitFor([&] { return status.size() == 64; }));
    manager->post([this] { manager->blink("", 1); });
    for (const auto& serial : serials)
        ASSERT_TRUE(bus->find(serial)->waitForOutputs(1, std::chrono::seconds(20))) << serial;

    // Every device sends a frame; the one with the highest serial is not
    // waited on, so its report is never collected.
    for (const auto& serial : serials)
        bus->find(serial)->receiveFrame({100, 20, 30}, 38000);
    ASSERT_TRUE(signal.waitFor([&] { return received.size() == 63; }));
    postNumbered(0);
    ASSERT_TRUE(signal.waitFor([&] { return ran.size() == 1; }));
    EXPECT_EQ(std::count(received.begin(), received.end(), "D63"), 0);
    EXPECT_EQ(std::count(received.begin(), received.end(), "D62"), 1);
}

// One device has a long backlog when another's report comes in: the other
// is served before the backlog is through (with the lowest ready device
// always first it would wait for all of it), and each device's reports
// arrive in order.
TEST_F(ManagerTest, ADeviceWithABacklogDoesNotHoldBackAnother) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows worker's wait reports the lowest signalled device";
#endif
    auto ports = std::make_shared<PortCollection>(2, 64);
    make(ports);
    auto send = [&](int device, int n) {
        std::vector<unsigned char> r(63, 0);
        r[0] = 0x20;
        r[1] = static_cast<unsigned char>(n >> 8);
        r[2] = static_cast<unsigned char>(n);
        return ports->port(device).sendInput(r.data(), r.size());
    };
    constexpr int kBacklog = 100;  // fits the channel's buffer
    for (int n = 0; n < kBacklog; ++n)
        ASSERT_EQ(send(0, n), VirtualPort::Delivery::kSent);
    ASSERT_EQ(send(1, 0), VirtualPort::Delivery::kSent);
    manager->startWorker();
    ASSERT_TRUE(signal.waitFor([&] { return digital.size() == kBacklog + 1; }));
    std::lock_guard<std::mutex> guard(signal.lock());
    const auto other = std::find(digital.begin(), digital.end(), "P01") - digital.begin();
    EXPECT_LT(other, kBacklog / 2) << "reports of the backlog served before the other device's";
    for (const auto& entry : sequences)
        for (std::size_t k = 0; k < entry.second.size(); ++k)
            ASSERT_EQ(entry.second[k], int(k)) << entry.first << " report " << k;
}

}  // namespace
}  // namespace koblib
