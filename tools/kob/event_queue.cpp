#include "event_queue.h"

#include "koblib.h"

namespace kob {

EventQueue& EventQueue::instance() {
    static EventQueue queue;
    return queue;
}

void EventQueue::push(Event event) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back(std::move(event));
    }
    changed_.notify_all();
}

bool EventQueue::pop(Event& event, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_until(guard, deadline, [this] { return !events_.empty(); });
    if (events_.empty()) return false;
    event = std::move(events_.front());
    events_.pop_front();
    return true;
}

namespace {

void post(Event::Kind kind, const char* serial, std::string text = {},
          std::vector<std::uint32_t> words = {}, std::vector<long> values = {}) {
    EventQueue::instance().push(
        Event{kind, serial ? serial : "", std::move(text), std::move(words), std::move(values)});
}

std::vector<std::uint32_t> copyWords(const unsigned int* words, unsigned int count) {
    return words ? std::vector<std::uint32_t>(words, words + count) : std::vector<std::uint32_t>{};
}

void KOB_CALL onStatus(const char* serial, unsigned char code, const char* text) {
    post(Event::kStatus, serial, text ? text : "", {}, {code});
}
void KOB_CALL onIRSent(const char* serial, unsigned char status) {
    post(Event::kIRSent, serial, {}, {}, {status});
}
void KOB_CALL onReceived(const char* serial, const char*, const unsigned int* words,
                         unsigned int count) {
    post(Event::kReceived, serial, {}, copyWords(words, count));
}
void KOB_CALL onLearn(const char* serial, int progress, const char* code) {
    post(Event::kLearn, serial, code ? code : "", {}, {progress});
}
void KOB_CALL onDigitalIO(const char* serial, unsigned char first, unsigned char second) {
    post(Event::kDigitalIO, serial, {}, {}, {first, second});
}
void KOB_CALL onModulation(const char* serial, unsigned int cycles, unsigned int total) {
    post(Event::kModulation, serial, {}, {}, {static_cast<long>(cycles), static_cast<long>(total)});
}
void KOB_CALL onRawLearn(const char* serial, unsigned int header, const unsigned int* words,
                         unsigned int count) {
    post(Event::kRawLearn, serial, {}, copyWords(words, count), {static_cast<long>(header)});
}
void KOB_CALL onWakeupInfo(const char* serial, unsigned int header, const unsigned char* bytes,
                           unsigned int count) {
    std::vector<std::uint32_t> data;
    if (bytes) data.assign(bytes, bytes + count);
    post(Event::kWakeupInfo, serial, {}, std::move(data), {static_cast<long>(header)});
}
void KOB_CALL onButtons(const char* serial, int b1, int b2, int b3, int b4) {
    post(Event::kButtons, serial, {}, {}, {b1, b2, b3, b4});
}

}  // namespace

void EventQueue::openLibrary() {
    kob_open_ex(onStatus, onIRSent, onReceived, onLearn, onDigitalIO, onModulation, onRawLearn,
                onWakeupInfo, onButtons);
}

}  // namespace kob
