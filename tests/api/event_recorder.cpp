#include "event_recorder.h"

#include <utility>

namespace koblib {

namespace {

std::mutex installLock;
std::shared_ptr<EventRecorder> installed;

std::shared_ptr<EventRecorder> current() {
    std::lock_guard<std::mutex> guard(installLock);
    return installed;
}

// A callback's string as a std::string; a null pointer reads as empty and
// is counted by the caller.
std::string text(const char* s) {
    return s ? s : "";
}

}  // namespace

int RecordedEvents::countStatus(const std::string& serial, int code,
                                const std::string& statusText) const {
    int n = 0;
    for (const auto& e : status)
        if (e.serial == serial && e.code == code && e.text == statusText) ++n;
    return n;
}

void EventRecorder::install(std::shared_ptr<EventRecorder> recorder) {
    std::lock_guard<std::mutex> guard(installLock);
    installed = std::move(recorder);
}

template <typename Event, typename Hook>
void EventRecorder::record(Event event, std::vector<Event> RecordedEvents::*list, const char* slot,
                           const Hook& hook) {
    Hook run;
    std::function<void(const char*)> runSlot;
    {
        std::lock_guard<std::mutex> guard(lock_);
        run = hook;
        runSlot = slotHook_;
    }
    if (runSlot) runSlot(slot);
    if (run) run(event);
    {
        std::lock_guard<std::mutex> guard(lock_);
        events_.sequence.push_back(std::string(slot) + ":" + event.serial);
        (events_.*list).push_back(std::move(event));
    }
    changed_.notify_all();
}

void KOB_CALL EventRecorder::onStatus(const char* serial, unsigned char code, const char* t) {
    auto r = current();
    if (!r) return;
    if (!serial || !t) r->noteNullPointer();
    r->record(StatusEvent{text(serial), code, text(t)}, &RecordedEvents::status, "status",
              r->statusHook_);
}

void KOB_CALL EventRecorder::onSent(const char* serial, unsigned char status) {
    auto r = current();
    if (!r) return;
    if (!serial) r->noteNullPointer();
    r->record(SentEvent{text(serial), status}, &RecordedEvents::sent, "sent", r->sentHook_);
}

void KOB_CALL EventRecorder::onReceived(const char* serial, const char* t,
                                        const unsigned int* words, unsigned int count) {
    auto r = current();
    if (!r) return;
    if (!serial || !t || (!words && count)) r->noteNullPointer();
    ReceivedEvent e{text(serial), text(t), {}};
    if (words) e.words.assign(words, words + count);
    r->record(std::move(e), &RecordedEvents::received, "received",
              std::function<void(const ReceivedEvent&)>());
}

void KOB_CALL EventRecorder::onLearn(const char* serial, int progress, const char* code) {
    auto r = current();
    if (!r) return;
    if (!serial || !code) r->noteNullPointer();
    r->record(LearnEvent{text(serial), progress, text(code)}, &RecordedEvents::learn, "learn",
              std::function<void(const LearnEvent&)>());
}

void KOB_CALL EventRecorder::onDigital(const char* serial, unsigned char first,
                                       unsigned char second) {
    auto r = current();
    if (!r) return;
    if (!serial) r->noteNullPointer();
    r->record(DigitalEvent{text(serial), first, second}, &RecordedEvents::digital, "digital",
              r->digitalHook_);
}

void KOB_CALL EventRecorder::onModulation(const char* serial, unsigned int cycles,
                                          unsigned int total) {
    auto r = current();
    if (!r) return;
    if (!serial) r->noteNullPointer();
    r->record(ModulationEvent{text(serial), cycles, total}, &RecordedEvents::modulation,
              "modulation", std::function<void(const ModulationEvent&)>());
}

void KOB_CALL EventRecorder::onRawLearn(const char* serial, unsigned int header,
                                        const unsigned int* words, unsigned int count) {
    auto r = current();
    if (!r) return;
    if (!serial || (!words && count)) r->noteNullPointer();
    RawLearnEvent e{text(serial), header, {}};
    if (words) e.words.assign(words, words + count);
    r->record(std::move(e), &RecordedEvents::rawLearn, "rawLearn",
              std::function<void(const RawLearnEvent&)>());
}

void KOB_CALL EventRecorder::onWakeup(const char* serial, unsigned int header,
                                      const unsigned char* bytes, unsigned int count) {
    auto r = current();
    if (!r) return;
    if (!serial || (!bytes && count)) r->noteNullPointer();
    WakeupEvent e{text(serial), header, {}};
    if (bytes) e.bytes.assign(bytes, bytes + count);
    r->record(std::move(e), &RecordedEvents::wakeup, "wakeup",
              std::function<void(const WakeupEvent&)>());
}

void KOB_CALL EventRecorder::onButton(const char* serial, int button1, int button2, int button3,
                                      int button4) {
    auto r = current();
    if (!r) return;
    if (!serial) r->noteNullPointer();
    r->record(ButtonEvent{text(serial), {button1, button2, button3, button4}},
              &RecordedEvents::button, "button", std::function<void(const ButtonEvent&)>());
}

void EventRecorder::noteNullPointer() {
    std::lock_guard<std::mutex> guard(lock_);
    ++events_.nullPointers;
}

bool EventRecorder::waitFor(const Predicate& predicate, std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, deadline, [&] { return predicate(events_); });
}

RecordedEvents EventRecorder::snapshot() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

void EventRecorder::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    events_ = RecordedEvents();
}

void EventRecorder::setStatusHook(std::function<void(const StatusEvent&)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    statusHook_ = std::move(hook);
}

void EventRecorder::setSentHook(std::function<void(const SentEvent&)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    sentHook_ = std::move(hook);
}

void EventRecorder::setDigitalHook(std::function<void(const DigitalEvent&)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    digitalHook_ = std::move(hook);
}

void EventRecorder::setSlotHook(std::function<void(const char*)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    slotHook_ = std::move(hook);
}

}  // namespace koblib
