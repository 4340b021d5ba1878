// The OS primitives the worker sleeps in: manual-reset events, the wait
// over several of them, and the capture of the debug output.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "os/debug_output.h"
#include "os/event.h"
#include "os/wait_set.h"

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

// For each subset of 4 events that is set: every set index and no other
// is reported (on Linux each once in turn, before any comes again; on
// Windows the lowest), a reset one is no longer reported, and a set
// assigned anew starts from the new indices.
TEST(WaitSet, ReportsTheSignalledEachInTurn) {
    std::vector<std::unique_ptr<Event>> events;
    std::vector<Waitable> waitables;
    for (int i = 0; i < 4; ++i) {
        events.emplace_back(new Event);
        waitables.push_back(events.back()->waitable());
    }
    WaitSet set;
    EXPECT_EQ(set.wait(0), kWaitFailed);  // empty
    EXPECT_THROW(set.assign(waitables.data(), kMaxWaitables + 1), std::length_error);
    for (unsigned mask = 1; mask < 16; ++mask) {
        set.assign(waitables.data(), 4);
        std::set<int> expected;
        for (int i = 0; i < 4; ++i) {
            if (mask & (1u << i)) {
                events[i]->set();
                expected.insert(i);
            } else {
                events[i]->reset();
            }
        }
        std::set<int> seen;
        for (std::size_t k = 0; k < expected.size(); ++k)
            seen.insert(set.wait(0));
#ifdef _WIN32
        EXPECT_EQ(seen, std::set<int>{*expected.begin()}) << "mask " << mask;
#else
        EXPECT_EQ(seen, expected) << "mask " << mask;
#endif
    }
    for (auto& event : events)
        event->reset();
    set.assign(waitables.data() + 2, 2);  // indices now count from the third
    events[3]->set();
    EXPECT_EQ(set.wait(kGenerousMs), 1);
    events[3]->reset();
    set.assign(waitables.data(), 4);
    EXPECT_EQ(set.wait(0), kWaitTimedOut);
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
