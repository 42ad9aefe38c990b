#include "device/machine.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST (Machine, RunsTheEntryForTheCurrentStateAfterMovingToItsNextState)
{
    machine m;
    void* seenTarget = nullptr;
    void* seenPayload = nullptr;
    juce::uint32 stateDuringAction = 99;
    int payload = 0;

    m.setTransition (0, 7, 4, [] (void*, void*) { FAIL() << "replaced entry ran"; });
    m.setTransition (0, 7, 3, [&] (void* target, void* p)
    {
        seenTarget = target;
        seenPayload = p;
        stateDuringAction = m.getCurrentState();
    });

    m.fireEvent (7, &payload);

    EXPECT_EQ (m.getCurrentState(), 3u);
    EXPECT_EQ (stateDuringAction, 3u);
    EXPECT_EQ (seenTarget, &m);
    EXPECT_EQ (seenPayload, &payload);
}

TEST (Machine, DropsEventsWithoutATransitionOrOutOfRange)
{
    machine m;
    int calls = 0;
    m.setTransition (1, 5, 2, [&] (void*, void*) { ++calls; });
    m.setTransition (0, 95, 1, [&] (void*, void*) { ++calls; });

    for (int event : { 5, 3, 8, 94, 96, 200, -1 })
        m.fireEvent (event, nullptr);

    EXPECT_EQ (m.getCurrentState(), 0u);
    EXPECT_EQ (calls, 0);

    m.fireEvent (95, nullptr);
    EXPECT_EQ (m.getCurrentState(), 1u);
    EXPECT_EQ (calls, 1);
}

TEST (Machine, NestedEventsRunAtOnceAgainstTheStateTheOuterTransitionSet)
{
    machine m;
    std::vector<std::string> calls;

    m.setTransition (0, 0, 1, [&] (void*, void*)
    {
        calls.push_back ("outer begins");
        m.fireEvent (6, nullptr);       // state 1 has this one
        m.fireEvent (6, nullptr);       // state 2 has not: dropped
        calls.push_back ("outer ends");
    });
    m.setTransition (1, 6, 2, [&] (void*, void*) { calls.push_back ("inner"); });
    m.setTransition (0, 6, 4, [&] (void*, void*) { calls.push_back ("wrong state"); });

    m.fireEvent (0, nullptr);

    EXPECT_EQ (m.getCurrentState(), 2u);
    EXPECT_EQ (calls, (std::vector<std::string> { "outer begins", "inner", "outer ends" }));
}

TEST (Machine, ALongActionDoesNotHoldUpEventsOnAnotherThread)
{
    machine m;
    std::atomic<bool> slowActionRunning { false }, release { false }, otherActionRan { false };

    m.setTransition (0, 1, 0, [&] (void*, void*)
    {
        slowActionRunning = true;
        while (! release)
            std::this_thread::yield();
    });
    m.setTransition (0, 2, 0, [&] (void*, void*) { otherActionRan = true; });

    std::thread slow ([&] { m.fireEvent (1, nullptr); });

    while (! slowActionRunning)
        std::this_thread::yield();

    m.fireEvent (2, nullptr);
    EXPECT_TRUE (otherActionRan);

    release = true;
    slow.join();
}

TEST (Machine, ListenersAreHeldOnceAndCalledFromTheLastToTheFirst)
{
    struct Listener : public MIDIDeviceListener
    {
        Listener (std::vector<int>& l, int i, machine* m = nullptr) : log (l), id (i), owner (m) {}

        void conectEvent (int event) override
        {
            log.push_back (id * 10 + event);

            if (owner != nullptr && toAdd != nullptr)
                owner->addDeviceListener (std::exchange (toAdd, nullptr));
        }

        std::vector<int>& log;
        int id;
        machine* owner;
        MIDIDeviceListener* toAdd = nullptr;
    };

    machine m;
    std::vector<int> log;
    Listener first (log, 1, &m), second (log, 2), late (log, 9);
    first.toAdd = &late;

    m.addDeviceListener (&first);
    m.addDeviceListener (&second);
    m.addDeviceListener (&first);
    EXPECT_EQ (m.getNumDeviceListeners(), 2);

    m.notifyDeviceListeners (2);                        // first adds late during the walk
    EXPECT_EQ (log, (std::vector<int> { 22, 12 }));

    log.clear();
    m.notifyDeviceListeners (1);
    EXPECT_EQ (log, (std::vector<int> { 91, 21, 11 }));
}
