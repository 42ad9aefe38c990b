#include "device/machine.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST (Machine, ListenersAreHeldOnceAndCalledFromTheLastToTheFirst)
{
    struct Listener : public MIDIDeviceListener
    {
        Listener (std::vector<int>& l, int i) : log (l), id (i) {}

        void conectEvent (int event) override
        {
            log.push_back (id * 10 + event);

            if (toAdd != nullptr)
                owner->addDeviceListener (std::exchange (toAdd, nullptr));
        }

        std::vector<int>& log;
        int id;
        machine* owner = nullptr;
        MIDIDeviceListener* toAdd = nullptr;
    };

    machine m;
    std::vector<int> log;
    Listener first (log, 1), second (log, 2), late (log, 9);
    first.owner = &m;
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
