// The OS primitives the worker sleeps in: manual-reset events, the wait
// over several of them, and the capture of the debug output.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "os/debug_output.h"
#include "os/event.h"

namespace koblib {
namespace {

constexpr int kGenerousMs = 10000;

TEST(Event, StaysSignalledUntilReset) {
    Event event;
    const Waitable w = event.waitable();
    EXPECT_EQ(waitAny(&w, 1, 0), kWaitTimedOut);  // created non-signalled
    event.set();
    EXPECT_EQ(waitAny(&w, 1, 0), 0);
    EXPECT_EQ(waitAny(&w, 1, 0), 0);  // manual reset: a wait does not consume it
    event.set();                      // setting twice needs one reset only
    event.reset();
    EXPECT_EQ(waitAny(&w, 1, 0), kWaitTimedOut);
    event.reset();  // resetting a reset event is harmless
    EXPECT_EQ(waitAny(&w, 1, 0), kWaitTimedOut);
}

TEST(WaitAny, ReturnsTheLowestSignalledIndex) {
    struct Case {
        std::vector<int> set;
        int expected;
    };
    const Case cases[] = {
        {{}, kWaitTimedOut}, {{2}, 2}, {{1, 2}, 1}, {{0, 3}, 0}, {{3}, 3}, {{3, 1}, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<Event>> events;
        std::vector<Waitable> waitables;
        for (int i = 0; i < 4; ++i) {
            events.emplace_back(new Event);
            waitables.push_back(events.back()->waitable());
        }
        for (int index : c.set)
            events[index]->set();
        EXPECT_EQ(waitAny(waitables.data(), 4, 0), c.expected) << "first set " << c.set.size();
    }
}

TEST(WaitAny, TakesSixtyFourWaitablesAndRefusesOtherCounts) {
    std::vector<std::unique_ptr<Event>> events;
    std::vector<Waitable> waitables;
    for (int i = 0; i < kMaxWaitables + 1; ++i) {
        events.emplace_back(new Event);
        waitables.push_back(events.back()->waitable());
    }
    events[63]->set();
    EXPECT_EQ(waitAny(waitables.data(), 64, 0), 63);
    events[64]->set();  // signalled, but beyond the limit
    EXPECT_EQ(waitAny(waitables.data(), 65, 0), kWaitFailed);
    EXPECT_EQ(waitAny(waitables.data(), 0, 0), kWaitFailed);
    EXPECT_EQ(waitAny(waitables.data(), -1, 0), kWaitFailed);
    events[63]->reset();
    EXPECT_EQ(waitAny(waitables.data(), 64, 0), kWaitTimedOut);
}

TEST(WaitAny, TimesOutWhenNothingIsSignalled) {
    Event first, second;
    const Waitable waitables[] = {first.waitable(), second.waitable()};
    EXPECT_EQ(waitAny(waitables, 2, 0), kWaitTimedOut);
    EXPECT_EQ(waitAny(waitables, 2, 20), kWaitTimedOut);
}

TEST(WaitAny, WakesWhenAnotherThreadSets) {
    Event idle, wake;
    const Waitable waitables[] = {idle.waitable(), wake.waitable()};
    std::thread setter([&] { wake.set(); });
    EXPECT_EQ(waitAny(waitables, 2, kGenerousMs), 1);
    setter.join();
}

TEST(DebugOutput, HookCapturesUntilRemoved) {
    std::vector<std::string> captured;
    setDebugOutputHook([&](const std::string& text) { captured.push_back(text); });
    debugOutput("HIDDevice (startRead): Last Error: 6\n");
    debugOutput("TOO LONG");
    setDebugOutputHook(nullptr);
    debugOutput("not captured");  // goes to the system's output
    EXPECT_EQ(captured,
              (std::vector<std::string>{"HIDDevice (startRead): Last Error: 6\n", "TOO LONG"}));
}

}  // namespace
}  // namespace koblib
