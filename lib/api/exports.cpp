// The exported interface: the callback table and its forwarders, the
// lifetime exports, the device commands (each posts a job) and the table
// queries. No exception leaves an export.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "api/library.h"
#include "koblib.h"

namespace koblib {

namespace {

// The host's callbacks, slots 1 to 9; null drops the slot's events. Each
// slot is read at the moment of its event, so a later open takes effect at
// once.
struct CallbackTable {
    std::atomic<kob_status_cb> status{nullptr};
    std::atomic<kob_ir_sent_cb> irSent{nullptr};
    std::atomic<kob_ir_received_cb> irReceived{nullptr};
    std::atomic<kob_learn_cb> learn{nullptr};
    std::atomic<kob_digital_io_cb> digitalIO{nullptr};
    std::atomic<kob_modulation_cb> modulation{nullptr};
    std::atomic<kob_raw_learn_cb> rawLearn{nullptr};
    std::atomic<kob_wakeup_info_cb> wakeupInfo{nullptr};
    std::atomic<kob_button_cb> button{nullptr};
};
CallbackTable slots;

// The forwarders: internal event signature in, plain host call out.
ManagerEvents forwarders() {
    ManagerEvents e;
    e.onStatus = [](const std::string& serial, unsigned char code, const std::string& text) {
        if (auto cb = slots.status.load()) cb(serial.c_str(), code, text.c_str());
    };
    e.onIRSent = [](const std::string& serial, unsigned char status) {
        if (auto cb = slots.irSent.load()) cb(serial.c_str(), status);
    };
    e.onIRReceived = [](const std::string& serial, const std::string& text,
                        const unsigned int* words, unsigned int count) {
        if (auto cb = slots.irReceived.load()) cb(serial.c_str(), text.c_str(), words, count);
    };
    e.onModulation = [](const std::string& serial, unsigned int cycles, unsigned int total) {
        if (auto cb = slots.modulation.load()) cb(serial.c_str(), cycles, total);
    };
    // The host's learn callback takes the progress once: the second integer
    // of the internal event is left out.
    e.onLearn = [](const std::string& serial, int progress, int, const std::string& code) {
        if (auto cb = slots.learn.load()) cb(serial.c_str(), progress, code.c_str());
    };
    e.onDigitalIO = [](const std::string& serial, unsigned char first, unsigned char second) {
        if (auto cb = slots.digitalIO.load()) cb(serial.c_str(), first, second);
    };
    e.onRawLearn = [](const std::string& serial, unsigned int header, const unsigned int* words,
                      unsigned int count) {
        if (auto cb = slots.rawLearn.load()) cb(serial.c_str(), header, words, count);
    };
    e.onWakeupInfo = [](const std::string& serial, unsigned int header, const unsigned char* bytes,
                        unsigned int count) {
        if (auto cb = slots.wakeupInfo.load()) cb(serial.c_str(), header, bytes, count);
    };
    e.onButton = [](const std::string& serial, int b1, int b2, int b3, int b4) {
        if (auto cb = slots.button.load()) cb(serial.c_str(), b1, b2, b3, b4);
    };
    return e;
}

// The notifier thread's handle; all ones while none runs, 0 after a start
// that failed (kept until kob_close).
constexpr std::uintptr_t kNoNotifier = ~std::uintptr_t(0);
std::uintptr_t notifierHandle = kNoNotifier;
std::mutex lifetimeLock;  // open and close from several host threads
// Closes under way. A close holds lifetimeLock while it waits for the
// worker, which raises "KOB removed" meanwhile: an open from that callback
// must not wait for the lock.
std::atomic<int> closing{0};

DeviceNotifier& notifier() {
    static const std::unique_ptr<DeviceNotifier> instance = libraryDeviceNotifier();
    return *instance;
}

// Slots 1 to 5, which every open function sets.
void setFirstSlots(kob_status_cb status, kob_ir_sent_cb irSent, kob_ir_received_cb irReceived,
                   kob_learn_cb learn, kob_digital_io_cb digitalIO) {
    slots.status = status;
    slots.irSent = irSent;
    slots.irReceived = irReceived;
    slots.learn = learn;
    slots.digitalIO = digitalIO;
}

// Takes lifetimeLock for an open. On the worker (an open from inside a
// callback) it gives up while a close is under way, since that close waits
// for this very thread: the open is refused, and the library is closed
// when kob_close returns.
bool lockForOpen(std::unique_lock<std::mutex>& guard) {
    if (!libraryManager().onWorkerThread()) {
        guard.lock();
        return true;
    }
    while (!guard.try_lock()) {
        if (closing > 0) return false;
        std::this_thread::yield();  // another open holds it for a moment
    }
    if (closing == 0) return true;
    guard.unlock();
    return false;
}

template <typename Setter>
void* openLibrary(Setter setSlots) {
    try {
        std::unique_lock<std::mutex> guard(lifetimeLock, std::defer_lock);
        if (!lockForOpen(guard)) return nullptr;
        setSlots();
        libraryManager().startWorker();
        if (notifierHandle == kNoNotifier) {
            notifierHandle = notifier().start([] {
                KOBManager& manager = libraryManager();
                manager.post([&manager] { manager.scan(); });
            });
        }
        return reinterpret_cast<void*>(notifierHandle);
    } catch (...) {
        return nullptr;  // the worker thread could not be made
    }
}

// Posts a job for the worker unless the serial is null.
template <typename Job>
void postFor(const char* serial, Job job) {
    if (!serial) return;
    try {
        libraryManager().post([s = std::string(serial), job] { job(libraryManager(), s); });
    } catch (...) {
    }
}

}  // namespace

KOBManager& libraryManager() {
    static KOBManager manager(libraryDeviceSource(), forwarders());
    return manager;
}

namespace {
// Build the manager when the library is loaded, before any export runs.
const bool managerBuilt = (libraryManager(), true);
}  // namespace

}  // namespace koblib

using koblib::KOBManager;
using koblib::postFor;

extern "C" {

KOB_API void* KOB_CALL kob_open(kob_status_cb status_cb, kob_ir_sent_cb ir_sent_cb,
                                kob_ir_received_cb ir_received_cb, kob_learn_cb learn_cb,
                                kob_digital_io_cb digital_io_cb) {
    return koblib::openLibrary([&] {
        koblib::setFirstSlots(status_cb, ir_sent_cb, ir_received_cb, learn_cb, digital_io_cb);
        koblib::slots.rawLearn = nullptr;
    });
}

KOB_API void* KOB_CALL kob_open_ex(kob_status_cb status_cb, kob_ir_sent_cb ir_sent_cb,
                                   kob_ir_received_cb ir_received_cb, kob_learn_cb learn_cb,
                                   kob_digital_io_cb digital_io_cb, kob_modulation_cb modulation_cb,
                                   kob_raw_learn_cb raw_learn_cb, kob_wakeup_info_cb wakeup_info_cb,
                                   kob_button_cb button_cb) {
    return koblib::openLibrary([&] {
        koblib::setFirstSlots(status_cb, ir_sent_cb, ir_received_cb, learn_cb, digital_io_cb);
        koblib::slots.modulation = modulation_cb;
        koblib::slots.rawLearn = raw_learn_cb;
        koblib::slots.wakeupInfo = wakeup_info_cb;
        koblib::slots.button = button_cb;
    });
}

KOB_API void* KOB_CALL kob_open_no_cb(void) {
    return koblib::openLibrary([] {
        koblib::setFirstSlots(nullptr, nullptr, nullptr, nullptr, nullptr);
        koblib::slots.rawLearn = nullptr;
    });
}

KOB_API void KOB_CALL kob_close(void) {
    try {
        // From a callback this would wait for its own thread: do nothing.
        if (koblib::libraryManager().onWorkerThread()) return;
        struct Closing {
            Closing() { ++koblib::closing; }
            ~Closing() { --koblib::closing; }
        } mark;
        std::lock_guard<std::mutex> guard(koblib::lifetimeLock);
        if (koblib::notifierHandle != koblib::kNoNotifier) {
            koblib::notifier().stop(5000);
            koblib::notifierHandle = koblib::kNoNotifier;
        }
        koblib::libraryManager().stopWorker();
    } catch (...) {
    }
}

KOB_API void KOB_CALL kob_sendCCF(const char* serial, const char* code, unsigned char bitmask,
                                  unsigned char repeat) {
    const std::string text = code ? code : "";
    postFor(serial, [text, bitmask, repeat](KOBManager& m, const std::string& s) {
        m.sendCCF(s, text, bitmask, repeat);
    });
}

KOB_API void KOB_CALL kob_stopCCF(const char* serial) {
    postFor(serial, [](KOBManager& m, const std::string& s) { m.stopCCF(s); });
}

KOB_API void KOB_CALL kob_modulation(const char* serial, unsigned char on) {
    if (on)
        postFor(serial, [](KOBManager& m, const std::string& s) { m.modulationOn(s); });
    else
        postFor(serial, [](KOBManager& m, const std::string& s) { m.modulationOff(s); });
}

KOB_API void KOB_CALL kob_digitalIO(const char* serial, unsigned char cmd, unsigned char value) {
    postFor(serial,
            [cmd, value](KOBManager& m, const std::string& s) { m.digitalIO(s, cmd, value); });
}

KOB_API void KOB_CALL kob_raw_learn_start(const char* serial) {
    postFor(serial, [](KOBManager& m, const std::string& s) { m.rawLearnStart(s); });
}

KOB_API void KOB_CALL kob_raw_learn_stop(const char* serial) {
    postFor(serial, [](KOBManager& m, const std::string& s) { m.rawLearnStop(s); });
}

KOB_API void KOB_CALL kob_enable_wake_from_suspend(const char* serial) {
    postFor(serial, [](KOBManager& m, const std::string& s) { m.enableWakeFromSuspend(s); });
}

KOB_API void KOB_CALL kob_disable_wake_from_suspend(const char* serial) {
    postFor(serial, [](KOBManager& m, const std::string& s) { m.disableWakeFromSuspend(s); });
}

KOB_API void KOB_CALL kob_program_wake_from_suspend(const char* serial, int flag,
                                                    const unsigned char* data,
                                                    unsigned int length) {
    if (!data && length > 0) return;  // nothing readable to copy
    try {
        const std::string block(reinterpret_cast<const char*>(data), data ? length : 0);
        postFor(serial, [flag, block](KOBManager& m, const std::string& s) {
            m.programWakeFromSuspend(s, flag, block);
        });
    } catch (...) {
    }
}

KOB_API void KOB_CALL kob_request_wakeup_info(const char* serial, unsigned int value) {
    postFor(serial,
            [value](KOBManager& m, const std::string& s) { m.requestWakeupInfo(s, value); });
}

KOB_API void KOB_CALL kob_blink(const char* serial, int value) {
    postFor(serial, [value](KOBManager& m, const std::string& s) { m.blink(s, value); });
}

KOB_API void KOB_CALL kob_bootloader(const char* serial) {
    postFor(serial, [](KOBManager& m, const std::string& s) { m.bootloader(s); });
}

KOB_API void KOB_CALL kob_learnCCF(const char* serial, unsigned char start, int frequency) {
    if (!serial) return;
    try {
        if (start)
            koblib::libraryManager().learner().start(frequency, serial);
        else
            koblib::libraryManager().learner().stop();
    } catch (...) {
    }
}

KOB_API unsigned int KOB_CALL kob_list(char* buffer, unsigned int size) {
    std::string text;
    try {
        for (const std::string& serial : koblib::libraryManager().listSerials()) {
            if (!text.empty()) text += ",";
            text += serial;
        }
    } catch (...) {
        text.clear();
    }
    const auto length = static_cast<unsigned int>(text.size());
    if (buffer && length < size) std::memcpy(buffer, text.c_str(), length + 1);
    return length + 1;
}

KOB_API unsigned int KOB_CALL kob_version(const char* serial) {
    if (!serial) return 0;
    try {
        return koblib::libraryManager().version(serial);
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
