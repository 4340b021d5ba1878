// The spine of the library: the device table keyed by serial, the job
// queue, and the worker thread that does all device work and raises every
// event. Host threads only post jobs or read the table under the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_collection.h"
#include "device/kob.h"
#include "ir/ccf_learn.h"
#include "os/event.h"
#include "os/thread_annotations.h"
#include "os/wait_set.h"

namespace koblib {

// The nine host-bound events, each wrapping a forwarder of the exported
// interface; all set, never empty.
struct ManagerEvents {
    std::function<void(const std::string&, unsigned char, const std::string&)> onStatus;
    std::function<void(const std::string&, unsigned char)> onIRSent;
    std::function<void(const std::string&, const std::string&, const unsigned int*, unsigned int)>
        onIRReceived;
    std::function<void(const std::string&, unsigned int, unsigned int)> onModulation;
    std::function<void(const std::string&, int, int, const std::string&)> onLearn;
    std::function<void(const std::string&, unsigned char, unsigned char)> onDigitalIO;
    std::function<void(const std::string&, unsigned int, const unsigned int*, unsigned int)>
        onRawLearn;
    std::function<void(const std::string&, unsigned int, const unsigned char*, unsigned int)>
        onWakeupInfo;
    std::function<void(const std::string&, int, int, int, int)> onButton;
};

class KOBManager {
  public:
    using Job = std::function<void()>;
    static constexpr int kBatchLimit = 50;

    KOBManager(std::shared_ptr<HIDCollection> collection, ManagerEvents events);
    // Stops a worker that still runs, as kob_close does.
    virtual ~KOBManager();
    KOBManager(const KOBManager&) = delete;
    KOBManager& operator=(const KOBManager&) = delete;

    // Queues a job for the worker; never waits for it.
    void post(Job job) EXCLUDES(lock);
    // Starts the worker if none runs. Throws std::system_error when the
    // thread cannot be made.
    void startWorker();
    // Sets the stop flag, wakes the worker and waits for it to end; every
    // device reports "KOB removed" meanwhile. Does nothing when no worker
    // runs, or when called on the worker itself (from a callback), which
    // would wait for its own end.
    void stopWorker();
    bool onWorkerThread() const;

    // Takes new devices into service (the scan job; the worker also runs
    // it when it starts). Worker thread only.
    void scan();

    // Table reads on the caller's thread, under the lock.
    std::vector<std::string> listSerials() EXCLUDES(lock);
    std::uint32_t version(const std::string& serial) EXCLUDES(lock);

    // The one learner of the process.
    CCFLearn& learner() { return *learn; }

    // Command jobs, run on the worker (command_jobs.cpp). "Serial or all":
    // the empty serial addresses every device; "exact": only the device
    // whose serial equals it.
    void sendCCF(const std::string& serial, const std::string& code, unsigned char bitmask,
                 unsigned char repeat);
    void stopCCF(const std::string& serial);
    void modulationOn(const std::string& serial);
    void modulationOff(const std::string& serial);
    void digitalIO(const std::string& serial, unsigned char cmd, unsigned char value);
    void rawLearnStart(const std::string& serial);
    void rawLearnStop(const std::string& serial);
    void enableWakeFromSuspend(const std::string& serial);
    void disableWakeFromSuspend(const std::string& serial);
    void programWakeFromSuspend(const std::string& serial, int flag, const std::string& block);
    void requestWakeupInfo(const std::string& serial, unsigned int value);
    void blink(const std::string& serial, int value);
    void bootloader(const std::string& serial);

  private:
    // The worker loop and the pieces it is made of; worker thread only.
    void run();
    void rebuildWaitHandles() EXCLUDES(lock);
    std::shared_ptr<KOB> findBySerial(const std::string& serial) EXCLUDES(lock);
    // The device waited on at that handle: a walk of the wait list (at
    // most 63 handles), not of the table.
    std::shared_ptr<KOB> findByReadEvent(Waitable handle);
    void remove(const std::string& serial) EXCLUDES(lock);

    // Devices a job addresses, in key order.
    std::vector<std::shared_ptr<KOB>> addressed(const std::string& serial, bool exact)
        EXCLUDES(lock);
    void writeCommand(const std::string& serial, bool exact, unsigned char command,
                      const unsigned char* payload, std::uint32_t length);
    void emptyTable() EXCLUDES(lock);

    void statusRelay(const std::string& serial, unsigned char code, const std::string& text);
    void irSentRelay(const std::string& serial, unsigned char status);
    void irReceivedRelay(const std::string& serial, const std::string& text,
                         const unsigned int* words, unsigned int count);
    void modulationRelay(const std::string& serial, unsigned int cycles, unsigned int total);

    // The wait list: the job event at 0, then the read events of the
    // devices with the 63 lowest serials, with the device beside each
    // (not an owner: the table owns). Worker thread only.
    Waitable waitHandles[kMaxWaitables];
    std::weak_ptr<KOB> waitDevices[kMaxWaitables];
    int waitCount = 0;
    WaitSet waitSet;
    std::shared_ptr<HIDCollection> collection;
    // Held only for moments: never while a job, a wait or a callback
    // runs. Only the worker changes the table.
    Mutex lock;
    std::map<std::string, std::shared_ptr<KOB>> devices GUARDED_BY(lock);
    std::list<Job> jobs GUARDED_BY(lock);
    // Written by startWorker and stopWorker on the host thread that opens
    // and closes the library.
    std::unique_ptr<std::thread> worker;
    std::atomic<std::thread::id> workerId{};
    Event jobEvent;
    std::atomic<bool> stopping{false};
    ManagerEvents events;             // set at construction, then only read
    std::unique_ptr<CCFLearn> learn;  // has its own lock
};

}  // namespace koblib
