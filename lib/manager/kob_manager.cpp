#include "manager/kob_manager.h"

#include <exception>
#include <utility>

#include "os/debug_output.h"
#include "os/signal_mask.h"

namespace koblib {

KOBManager::KOBManager(std::shared_ptr<HIDCollection> source, ManagerEvents managerEvents)
    : collection(std::move(source)), events(std::move(managerEvents)) {
    learn = std::make_unique<CCFLearn>(
        [this](const std::string& serial, int progress, const std::string& text) {
            events.onLearn(serial, progress, progress, text);
        },
        [this](const std::string& serial) { post([this, serial] { modulationOn(serial); }); },
        [this](const std::string& serial) { post([this, serial] { modulationOff(serial); }); });
}

KOBManager::~KOBManager() {
    stopWorker();
}

void KOBManager::post(Job job) {
    MutexLock guard(lock);
    jobs.push_front(std::move(job));
    jobEvent.set();
}

void KOBManager::startWorker() {
    if (worker) return;
    stopping = false;
    {
        const SignalsBlocked blocked;  // the worker blocks every signal
        worker = std::make_unique<std::thread>(&KOBManager::run, this);
    }
}

void KOBManager::stopWorker() {
    if (!worker || onWorkerThread()) return;
    stopping = true;
    jobEvent.set();
    worker->join();
    worker.reset();
}

bool KOBManager::onWorkerThread() const {
    return workerId.load() == std::this_thread::get_id();
}

void KOBManager::run() {
    workerId = std::this_thread::get_id();
    rebuildWaitHandles();
    scan();
    while (!stopping) {
        // Of several ready devices the wait reports each in turn, so one
        // device that is always ready cannot keep the others waiting.
        const int index = waitSet.wait();
        if (index >= 1 && index < waitCount) {
            std::shared_ptr<KOB> device = findByReadEvent(waitHandles[index]);
            if (device && !device->serviceRead()) {
                remove(device->getDevice()->getSerial());
                rebuildWaitHandles();
            }
            // For a removed device, letting go here runs its destructor,
            // which reports "KOB removed".
        }
        jobEvent.reset();

        int ran = 0;
        MutexLock guard(lock);
        while (!jobs.empty() && ran < kBatchLimit) {
            Job job = std::move(jobs.back());
            jobs.pop_back();
            guard.unlock();
            try {
                job();
            } catch (const std::exception& error) {
                debugOutput(std::string("KOBLIB job failed: ") + error.what() + "\n");
            } catch (...) {
                debugOutput("KOBLIB job failed\n");
            }
            ++ran;
            job = nullptr;
            guard.lock();
        }
        guard.unlock();
        if (ran == kBatchLimit) events.onStatus("", 1, "Message loop exceeded 50 items");
    }
    emptyTable();
    workerId = std::thread::id();
}

void KOBManager::scan() {
    const std::vector<std::shared_ptr<HIDDevice>> present = collection->getDevices();
    bool entered = false;
    for (const auto& hid : present) {
        const std::string serial = hid->getSerial();
        if (findBySerial(serial)) continue;  // served already, or a second device with its serial
        KOBCallbacks callbacks;
        callbacks.status = [this](const std::string& s, unsigned char code, const std::string& t) {
            statusRelay(s, code, t);
        };
        callbacks.irSent = [this](const std::string& s, unsigned char status) {
            irSentRelay(s, status);
        };
        callbacks.irReceived = [this](const std::string& s, const std::string& text,
                                      const unsigned int* words, unsigned int count) {
            irReceivedRelay(s, text, words, count);
        };
        callbacks.modulation = [this](const std::string& s, unsigned int cycles,
                                      unsigned int total) { modulationRelay(s, cycles, total); };
        callbacks.digitalIO = events.onDigitalIO;
        callbacks.rawLearn = events.onRawLearn;
        callbacks.wakeup = events.onWakeupInfo;
        callbacks.button = events.onButton;
        auto device = std::make_shared<KOB>(hid, std::move(callbacks));
        if (!hid->startRead()) continue;  // released at once: "KOB removed", tried again later
        device->setReadPending(true);
        {
            MutexLock guard(lock);
            devices[serial] = device;
        }
        entered = true;
        events.onStatus(serial, 0, "KOB arrived");
    }
    if (entered) rebuildWaitHandles();
}

void KOBManager::rebuildWaitHandles() {
    waitHandles[0] = jobEvent.waitable();
    waitCount = 1;
    MutexLock guard(lock);
    for (const auto& entry : devices) {
        if (waitCount >= kMaxWaitables) break;
        waitDevices[waitCount] = entry.second;
        waitHandles[waitCount++] = entry.second->getDevice()->readEvent();
    }
    for (int i = waitCount; i < kMaxWaitables; ++i)
        waitDevices[i].reset();
    waitSet.assign(waitHandles, waitCount);
}

std::shared_ptr<KOB> KOBManager::findBySerial(const std::string& serial) {
    MutexLock guard(lock);
    const auto it = devices.find(serial);
    return it == devices.end() ? nullptr : it->second;
}

std::shared_ptr<KOB> KOBManager::findByReadEvent(Waitable handle) {
    // The wait list is in key order, so the first match is the first
    // device in key order with that read event.
    for (int i = 1; i < waitCount; ++i)
        if (waitHandles[i] == handle) return waitDevices[i].lock();
    return nullptr;
}

void KOBManager::remove(const std::string& serial) {
    std::shared_ptr<KOB> gone;  // destroyed after the lock is let go
    MutexLock guard(lock);
    const auto it = devices.find(serial);
    if (it == devices.end()) return;
    gone = std::move(it->second);
    devices.erase(it);
}

void KOBManager::emptyTable() {
    std::map<std::string, std::shared_ptr<KOB>> gone;
    {
        MutexLock guard(lock);
        gone.swap(devices);
    }
    // Each device reports "KOB removed" as it goes, in key order, with no
    // lock held.
    while (!gone.empty())
        gone.erase(gone.begin());
    rebuildWaitHandles();
}

std::vector<std::string> KOBManager::listSerials() {
    MutexLock guard(lock);
    std::vector<std::string> serials;
    for (const auto& entry : devices)
        serials.push_back(entry.second->getDevice()->getSerial());
    return serials;
}

std::uint32_t KOBManager::version(const std::string& serial) {
    MutexLock guard(lock);
    for (const auto& entry : devices)
        if (entry.first == serial) return entry.second->getDevice()->versionNumber();
    return 0;
}

void KOBManager::statusRelay(const std::string& serial, unsigned char code,
                             const std::string& text) {
    events.onStatus(serial, code, text);
}

void KOBManager::irSentRelay(const std::string& serial, unsigned char status) {
    events.onIRSent(serial, status);
}

void KOBManager::irReceivedRelay(const std::string& serial, const std::string& text,
                                 const unsigned int* words, unsigned int count) {
    learn->onFrame(serial, text);
    events.onIRReceived(serial, text, words, count);
}

void KOBManager::modulationRelay(const std::string& serial, unsigned int cycles,
                                 unsigned int total) {
    learn->onModulation(serial, cycles, total);
    events.onModulation(serial, cycles, total);
}

}  // namespace koblib
