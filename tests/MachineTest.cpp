#include "device/machine.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace
{
    struct Recorder
    {
        std::vector<juce::String> calls;

        TransitionAction record (const juce::String& name)
        {
            return [this, name] (void*, void* payload)
            {
                calls.push_back (name + (payload != nullptr ? "+" : ""));
            };
        }
    };
}

TEST (Machine, StartsInStateZeroWithAnEmptyTable)
{
    machine m;
    EXPECT_EQ (m.getCurrentState(), 0u);
    EXPECT_EQ (m.getStateCount(), 5u);
    EXPECT_EQ (m.getEventCount(), 96u);

    for (int event = 0; event < 96; ++event)
        m.fireEvent (event, nullptr);

    EXPECT_EQ (m.getCurrentState(), 0u);
}

TEST (Machine, MovesToTheNextStateAndRunsTheActionWithItsTargetAndPayload)
{
    machine m;
    void* seenTarget = nullptr;
    void* seenPayload = nullptr;
    juce::uint32 stateDuringAction = 99;

    m.setTransition (0, 7, 3, [&] (void* target, void* payload)
    {
        seenTarget = target;
        seenPayload = payload;
        stateDuringAction = m.getCurrentState();
    });

    int payload = 0;
    m.fireEvent (7, &payload);

    EXPECT_EQ (m.getCurrentState(), 3u);
    EXPECT_EQ (stateDuringAction, 3u);   // the state is set before the action runs
    EXPECT_EQ (seenTarget, &m);
    EXPECT_EQ (seenPayload, &payload);
}

TEST (Machine, DropsEventsWithoutATransitionOrOutOfRange)
{
    machine m;
    Recorder recorder;
    m.setTransition (1, 5, 2, recorder.record ("a"));
    m.setTransition (0, 95, 1, recorder.record ("last"));

    for (int event : { 5, 3, 8, 94, 96, 200, -1 })
        m.fireEvent (event, nullptr);

    EXPECT_EQ (m.getCurrentState(), 0u);
    EXPECT_TRUE (recorder.calls.empty());

    m.fireEvent (95, nullptr);
    EXPECT_EQ (m.getCurrentState(), 1u);
    EXPECT_EQ (recorder.calls, std::vector<juce::String> { "last" });
}

TEST (Machine, ASecondTransitionForTheSamePairReplacesTheFirst)
{
    machine m;
    Recorder recorder;
    m.setTransition (0, 1, 2, recorder.record ("first"));
    m.setTransition (0, 1, 4, recorder.record ("second"));

    m.fireEvent (1, nullptr);

    EXPECT_EQ (m.getCurrentState(), 4u);
    EXPECT_EQ (recorder.calls, std::vector<juce::String> { "second" });
}

TEST (Machine, NestedEventsRunAtOnceAgainstTheStateTheOuterTransitionSet)
{
    machine m;
    std::vector<juce::String> calls;

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
    EXPECT_EQ (calls, (std::vector<juce::String> { "outer begins", "inner", "outer ends" }));
}

TEST (Machine, ActionsOnTwoThreadsRunAtTheSameTime)
{
    // The lock covers only the lookup: a long action must not hold up another thread's event.
    machine m;
    std::atomic<bool> slowActionRunning { false }, releaseSlowAction { false }, otherActionRan { false };

    m.setTransition (0, 1, 0, [&] (void*, void*)
    {
        slowActionRunning = true;
        while (! releaseSlowAction)
            std::this_thread::yield();
    });
    m.setTransition (0, 2, 0, [&] (void*, void*) { otherActionRan = true; });

    std::thread slow ([&] { m.fireEvent (1, nullptr); });

    while (! slowActionRunning)
        std::this_thread::yield();

    m.fireEvent (2, nullptr);
    EXPECT_TRUE (otherActionRan);

    releaseSlowAction = true;
    slow.join();
}

namespace
{
    struct DeviceListener : public MIDIDeviceListener
    {
        DeviceListener (std::vector<int>& logToUse, int idToUse) : log (logToUse), id (idToUse) {}
        void conectEvent (int event) override   { log.push_back (id * 10 + event); }

        std::vector<int>& log;
        int id;
    };

    struct MessageListener : public MIDIMessageListener
    {
        void handleMidiMessage (const juce::MidiMessage& message) override  { sizes.push_back (message.getRawDataSize()); }
        std::vector<int> sizes;
    };
}

TEST (Machine, NotifiesListenersFromTheLastToTheFirstAndHoldsEachOnce)
{
    machine m;
    std::vector<int> log;
    DeviceListener first (log, 1), second (log, 2), third (log, 3);

    m.addDeviceListener (&first);
    m.addDeviceListener (&second);
    m.addDeviceListener (&first);
    m.addDeviceListener (&third);
    EXPECT_EQ (m.getNumDeviceListeners(), 3);

    m.notifyDeviceListeners (2);
    EXPECT_EQ (log, (std::vector<int> { 32, 22, 12 }));

    MessageListener messages;
    m.addMessageListener (&messages);
    m.addMessageListener (&messages);
    m.notifyMessageListeners (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100));
    EXPECT_EQ (messages.sizes, std::vector<int> { 3 });
}

TEST (Machine, AListenerAddedDuringAWalkIsNotCalledInIt)
{
    machine m;
    std::vector<int> log;
    DeviceListener late (log, 9);

    struct Adder : public MIDIDeviceListener
    {
        void conectEvent (int) override     { owner->addDeviceListener (toAdd); ++calls; }
        machine* owner = nullptr;
        MIDIDeviceListener* toAdd = nullptr;
        int calls = 0;
    } adder;

    adder.owner = &m;
    adder.toAdd = &late;
    m.addDeviceListener (&adder);

    m.notifyDeviceListeners (0);
    EXPECT_EQ (adder.calls, 1);
    EXPECT_TRUE (log.empty());

    m.notifyDeviceListeners (1);
    EXPECT_EQ (log, std::vector<int> { 91 });
    EXPECT_EQ (adder.calls, 2);
}
