// Records every host callback the library makes, for tests that drive the
// library through its exports. The callbacks are plain functions that report
// to the one recorder installed at the moment; a test installs its own
// recorder, so events of earlier tests never reach it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "koblib.h"

namespace koblib {

struct StatusEvent {
    std::string serial;
    int code;
    std::string text;
};
struct SentEvent {
    std::string serial;
    int status;
};
struct ReceivedEvent {
    std::string serial;
    std::string text;
    std::vector<unsigned int> words;
};
struct LearnEvent {
    std::string serial;
    int progress;
    std::string code;
};
struct DigitalEvent {
    std::string serial;
    int first;
    int second;
};
struct ModulationEvent {
    std::string serial;
    unsigned int cycles;
    unsigned int total;
};
struct RawLearnEvent {
    std::string serial;
    unsigned int header;
    std::vector<unsigned int> words;
};
struct WakeupEvent {
    std::string serial;
    unsigned int header;
    std::vector<unsigned char> bytes;
};
struct ButtonEvent {
    std::string serial;
    int buttons[4];
};

// Everything recorded so far, per callback slot, in arrival order.
struct RecordedEvents {
    std::vector<StatusEvent> status;
    std::vector<SentEvent> sent;
    std::vector<ReceivedEvent> received;
    std::vector<LearnEvent> learn;
    std::vector<DigitalEvent> digital;
    std::vector<ModulationEvent> modulation;
    std::vector<RawLearnEvent> rawLearn;
    std::vector<WakeupEvent> wakeup;
    std::vector<ButtonEvent> button;
    // Every event of every slot as "slot:serial" in arrival order, for
    // checks of the order between slots.
    std::vector<std::string> sequence;
    // Null serials or texts handed to a callback (the library promises
    // none).
    int nullPointers = 0;

    int countStatus(const std::string& serial, int code, const std::string& text) const;
};

class EventRecorder {
  public:
    using Predicate = std::function<bool(const RecordedEvents&)>;

    // Makes recorder the one the callbacks below report to; null drops
    // every event from now on.
    static void install(std::shared_ptr<EventRecorder> recorder);

    // The plain host callbacks, one per slot.
    static void KOB_CALL onStatus(const char* serial, unsigned char code, const char* text);
    static void KOB_CALL onSent(const char* serial, unsigned char status);
    static void KOB_CALL onReceived(const char* serial, const char* text, const unsigned int* words,
                                    unsigned int count);
    static void KOB_CALL onLearn(const char* serial, int progress, const char* code);
    static void KOB_CALL onDigital(const char* serial, unsigned char first, unsigned char second);
    static void KOB_CALL onModulation(const char* serial, unsigned int cycles, unsigned int total);
    static void KOB_CALL onRawLearn(const char* serial, unsigned int header,
                                    const unsigned int* words, unsigned int count);
    static void KOB_CALL onWakeup(const char* serial, unsigned int header,
                                  const unsigned char* bytes, unsigned int count);
    static void KOB_CALL onButton(const char* serial, int button1, int button2, int button3,
                                  int button4);

    // Waits until predicate holds for the recorded events; false when the
    // deadline passes first.
    bool waitFor(const Predicate& predicate,
                 std::chrono::milliseconds deadline = std::chrono::seconds(10));
    RecordedEvents snapshot();
    void clear();

    // Hooks run inside the callback on the library's worker thread, before
    // the event is recorded, so a test that has seen the event also sees
    // everything its hook did.
    void setStatusHook(std::function<void(const StatusEvent&)> hook);
    void setSentHook(std::function<void(const SentEvent&)> hook);
    void setDigitalHook(std::function<void(const DigitalEvent&)> hook);
    // Runs inside every callback, before the slot's own hook, with the
    // slot's name ("status", "sent", ...).
    void setSlotHook(std::function<void(const char* slot)> hook);

  private:
    void noteNullPointer();
    template <typename Event, typename Hook>
    void record(Event event, std::vector<Event> RecordedEvents::*list, const char* slot,
                const Hook& hook);

    std::mutex lock_;
    std::condition_variable changed_;
    RecordedEvents events_;
    std::function<void(const StatusEvent&)> statusHook_;
    std::function<void(const SentEvent&)> sentHook_;
    std::function<void(const DigitalEvent&)> digitalHook_;
    std::function<void(const char*)> slotHook_;
};

}  // namespace koblib
