// The worker's job queue seen from outside: batches of at most 50 jobs per
// pass, posting order across host threads, and jobs posted while closed.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "api_test.h"

namespace koblib {
namespace {

constexpr unsigned char kBlink = 0x27;

// Jobs queued while the library is closed are all there when the first
// pass after the open begins its batch.
class BatchLimitTest : public ApiTest, public ::testing::WithParamInterface<int> {};

TEST_P(BatchLimitTest, FirstPassRunsFiftyJobsReportsAndLeavesTheRestForTheNextWakeUp) {
    const int jobs = GetParam();
    DeviceOutputs& device = attach("BATCH-" + std::to_string(jobs));
    for (int k = 0; k < jobs; ++k)
        kob_blink(device.name(), k);

    // Inside the report the worker is still in the pass that ran the batch:
    // what the device has received then is what that batch wrote.
    // (Hook state is shared: the hook may outlive this body until the
    // library is closed.)
    auto atReport = std::make_shared<std::vector<Report>>();
    auto snapped = std::make_shared<bool>(false);
    recorder->setStatusHook([atReport, snapped, &device](const StatusEvent& e) {
        if (e.text != kBatchLimit || *snapped) return;
        *snapped = true;
        device.waitForCount(50);
        *atReport = device.reports();
    });
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) {
        return e.countStatus("", 1, kBatchLimit) > 0;
    })) << "no batch report";

    ASSERT_EQ(atReport->size(), 50u);
    for (int k = 0; k < 50; ++k) {
        EXPECT_EQ(head((*atReport)[k], 3), (Report{0x00, kBlink, static_cast<unsigned char>(k)}))
            << "job " << k;
    }

    // A later post wakes the worker: what was left runs first, then the post.
    ASSERT_TRUE(fence(device.serial()));
    const auto all = commands(device.serial());
    ASSERT_EQ(all.size(), static_cast<std::size_t>(jobs));
    for (int k = 0; k < jobs; ++k)
        EXPECT_EQ(head(all[k], 3), (Report{0x00, kBlink, static_cast<unsigned char>(k)}));
    const auto reports = device.reports();
    EXPECT_EQ(head(reports.back(), 2), (Report{0x00, 0x20}));  // the fence came last

    const RecordedEvents events = recorder->snapshot();
    EXPECT_EQ(events.countStatus("", 1, kBatchLimit), 1) << "the second pass ran fewer than 50";
    // The report names no device and comes after the device's arrival.
    const auto arrived =
        std::find(events.sequence.begin(), events.sequence.end(), "status:" + device.serial());
    const auto limit = std::find(events.sequence.begin(), events.sequence.end(), "status:");
    EXPECT_LT(arrived - events.sequence.begin(), limit - events.sequence.begin());
}

INSTANTIATE_TEST_SUITE_P(JobsQueuedWhileClosed, BatchLimitTest, ::testing::Values(50, 51));

TEST_F(ApiTest, JobsPostedFromSeveralThreadsKeepEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 100;
    DeviceOutputs& device = attach("ORDER-1");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    // All threads start posting at once.
    std::mutex gateLock;
    std::condition_variable gateOpened;
    bool go = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            {
                std::unique_lock<std::mutex> guard(gateLock);
                gateOpened.wait(guard, [&] { return go; });
            }
            for (int k = 0; k < kPerThread; ++k)
                kob_digitalIO(device.name(), static_cast<unsigned char>(t),
                              static_cast<unsigned char>(k));
        });
    }
    {
        std::lock_guard<std::mutex> guard(gateLock);
        go = true;
    }
    gateOpened.notify_all();
    for (auto& thread : threads)
        thread.join();

    const std::size_t total = kThreads * kPerThread;
    ASSERT_TRUE(device.waitForCount(total));
    // The device drops the answers the library does not read in time, as
    // a real one does; each of them is counted.
    ASSERT_TRUE(recorder->waitFor([&](const RecordedEvents& e) {
        return e.digital.size() + kobsim_dropped(device.name()) >= total;
    }));

    // Written reports: each thread's values in its own order, nothing lost,
    // nothing doubled; answers likewise, but for the dropped ones.
    std::vector<int> writtenNext(kThreads, 0);
    for (const auto& r : device.reports()) {
        ASSERT_EQ(r[1], 0x20);
        ASSERT_LT(r[2], kThreads);
        EXPECT_EQ(r[3], writtenNext[r[2]]) << "thread " << int(r[2]);
        writtenNext[r[2]] = r[3] + 1;
    }
    std::vector<int> answeredNext(kThreads, 0);
    for (const auto& d : recorder->snapshot().digital) {
        ASSERT_EQ(d.serial, device.serial());
        ASSERT_LT(d.first, kThreads);
        EXPECT_GE(d.second, answeredNext[d.first]) << "thread " << d.first;
        answeredNext[d.first] = d.second + 1;
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(writtenNext[t], kPerThread);
    EXPECT_EQ(recorder->snapshot().digital.size() + kobsim_dropped(device.name()), total);
    EXPECT_EQ(device.reports().size(), total);
}

TEST_F(ApiTest, CommandPostedBeforeOpenReachesDevicePresentAtOpen) {
    // Posted before this process has opened the library (each test runs in
    // a process of its own natively) or at least while it is closed.
    kob_digitalIO(kSimSerial, 0x11, 0x22);
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.digital.empty(); }));

    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.digital.size(), 1u);
    EXPECT_EQ(events.digital[0].serial, kSimSerial);
    EXPECT_EQ(events.digital[0].first, 0x11);
    EXPECT_EQ(events.digital[0].second, 0x22);
    // The job ran after the first scan had taken the device into service.
    ASSERT_GE(events.sequence.size(), 2u);
    EXPECT_EQ(events.sequence[0], std::string("status:") + kSimSerial);
    EXPECT_EQ(events.countStatus(kSimSerial, 0, kArrived), 1);

    const auto reports = outputs(kSimSerial).reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(head(reports[0], 4), (Report{0x00, 0x20, 0x11, 0x22}));
}

}  // namespace
}  // namespace koblib
