#include "device/ConstVar.h"
#include "device/FsmActions.h"
#include "tests/support/DeviceLinkFixture.h"

// State, connection events, frames written, messages delivered.
using Outcome = std::tuple<juce::uint32, std::vector<int>, int, int>;

class ConnectionStateMachine : public DeviceLinkFixture
{
protected:
    /** Puts the machine into a state with the device present; in searching the ports are closed. */
    void enterState (juce::uint32 target)
    {
        if (state() != stateConnected)
        {
            closeDevice();
            fsm().fireEvent (evDone, nullptr);
            tick (backOffTicks + 1);
            fsm().setCurrentState (stateSearching);
            tick();
        }

        ASSERT_EQ (state(), stateConnected);

        if (target == stateDisconnected)
            closeDevice();      // also zeroes the back-off count
        else if (target == stateSearching)
            portPair().close();

        fsm().setCurrentState (target);
        takeConnectionEvents();
        takeDelivered();
        device->clearWritten();
    }

    Outcome fire (int event)
    {
        const auto message = frame();
        const auto needsPayload = event == evMidiIn || event == evSendSysEx;
        fsm().fireEvent (event, needsPayload ? const_cast<juce::MidiMessage*> (&message) : nullptr);
        return { state(), takeConnectionEvents(), device->getNumWritten(), (int) takeDelivered().size() };
    }
};

TEST_F (ConnectionStateMachine, EveryStateAndEventFollowsTheTransitionTable)
{
    // Only the pairs that change something; every other event 0-7 leaves all as it was.
    // Nested events count: a send or delivery from busy or idle ends in idle, a tick while
    // searching finds the device and connects.
    struct Row { juce::uint32 from; int event; Outcome expected; };
    const std::vector<Row> changes
    {
        { stateSearching, evPortsFound,     { stateConnected,    { 0 }, 0, 0 } },
        { stateSearching, evTick,           { stateConnected,    { 0 }, 0, 0 } },
        { stateConnected, evDeviceLost,     { stateDisconnected, { 1 }, 0, 0 } },
        { stateConnected, evCloseDevice,    { stateDisconnected, { 1 }, 0, 0 } },
        { stateConnected, evMidiIn,         { stateIdle,         {},    0, 1 } },
        { stateConnected, evSendSysEx,      { stateConnected,    {},    1, 0 } },
        { stateBusy, evCloseDevice,         { stateBusy,         { 2 }, 0, 0 } },
        { stateBusy, evMidiIn,              { stateIdle,         {},    0, 1 } },
        { stateBusy, evSendSysEx,           { stateIdle,         {},    1, 0 } },
        { stateBusy, evDone,                { stateIdle,         {},    0, 0 } },
        { stateIdle, evDeviceLost,          { stateDisconnected, { 1 }, 0, 0 } },
        { stateIdle, evCloseDevice,         { stateDisconnected, { 1 }, 0, 0 } },
        { stateIdle, evMidiIn,              { stateIdle,         {},    0, 1 } },
        { stateIdle, evSendSysEx,           { stateIdle,         {},    1, 0 } },
        { stateDisconnected, evDone,        { stateSearching,    {},    0, 0 } },
    };

    connect();

    for (juce::uint32 from = stateSearching; from <= stateDisconnected; ++from)
        for (int event : { 0, 1, 2, 3, 4, 5, 6, 7, -1, 8, 50, 95, 96, 1000 })
        {
            SCOPED_TRACE ("state " + std::to_string (from) + ", event " + std::to_string (event));
            enterState (from);

            // The scan fills the indexes that a direct evPortsFound opens.
            if (from == stateSearching && event == evPortsFound)
                portPair().setOutputDevice (0, "Norvo"), portPair().setInputDevice (0, "Norvo");

            Outcome expected { from, {}, 0, 0 };

            for (const auto& row : changes)
                if (row.from == from && row.event == event)
                    expected = row.expected;

            EXPECT_EQ (fire (event), expected);
        }
}

TEST_F (ConnectionStateMachine, ScanTakesTheFirstOutputAndInputNamedNorvoInListOrder)
{
    const auto plugIn = [this] (const juce::String& inputName)
    {
        auto& d = useDevice ("Norvo Second", inputName);
        d.setOtherOutputs ({ "Synth", "norvo lower case", "Norvo First" });
        d.setOtherInputs ({ "NORVO", "Keyboard" });
        tick();
    };

    // An output without an input: remembered but not opened, and the search goes on.
    plugIn ("Piano");
    EXPECT_EQ (state(), stateSearching);
    EXPECT_EQ (portPair().getOutputIndex(), 2);
    EXPECT_EQ (portPair().getInputIndex(), -1);
    EXPECT_FALSE (portPair().hasOutput());
    EXPECT_TRUE (takeConnectionEvents().empty());

    plugIn ("Norvo In");
    EXPECT_EQ (portPair().getOutputIndex(), 2);
    EXPECT_EQ (portPair().getOutputName(), "Norvo First");
    EXPECT_EQ (portPair().getInputIndex(), 2);
    EXPECT_EQ (portPair().getInputName(), "Norvo In");
    EXPECT_EQ (state(), stateConnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 0 });
}

TEST_F (ConnectionStateMachine, ScanSetsTheKindAndOnlyTheWordsNorvoMiniMakeTheSmallModel)
{
    auto* vars = ConstVar::getInstance();

    struct Row { juce::String output, input; bool refuseOpen; bool flagBefore, flagAfter; };
    const std::vector<Row> rows
    {
        { "Norvo Mini",        "Piano", false, true,  false },   // no input: sets the flag, keeps searching
        { "USB Norvo Mini 2",  "Piano", false, true,  false },
        { "Norvo MiniX",       "Piano", false, true,  false },
        { "Mini Norvo",        "Piano", false, false, true },
        { "Norvo mini",        "Piano", false, false, true },
        { "Norvo  Mini",       "Piano", false, false, true },
        { "Something else",    "Norvo Mini MIDI 1", false, false, false },  // no output: flag left alone
        { "Norvo MIDI 1",      "Norvo MIDI 1", true, false, true },         // set before a refused open
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.output);
        useDevice (row.output, row.input).setRefuseOutputOpen (row.refuseOpen);
        vars->isFullSizeModel = row.flagBefore;
        vars->deviceKind = 7;
        fsm().setCurrentState (stateSearching);
        tick();
        EXPECT_EQ (vars->isFullSizeModel, row.flagAfter);
        EXPECT_EQ (vars->deviceKind, 2);
    }
}

TEST_F (ConnectionStateMachine, PresenceIsJudgedByTheInputNameAmongTheOutputs)
{
    auto& d = useDevice ("Norvo Out", "Norvo MIDI 1");
    d.setOtherOutputs ({ "NORVO MIDI 1" });
    connect();

    tick (3);   // the input's name, in any letter case, among the outputs: present
    EXPECT_EQ (state(), stateConnected);
    EXPECT_TRUE (takeConnectionEvents().empty());

    // The input and an output are still listed, but no output has the input's name: gone.
    d.setOtherOutputs ({ "Norvo MIDI 2" });
    tick();
    EXPECT_EQ (state(), stateDisconnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 1 });
    EXPECT_EQ (portPair().getInputIndex(), -1);
    EXPECT_FALSE (portPair().hasOutput() || portPair().hasInput());
}

TEST_F (ConnectionStateMachine, BackOffClosesAgainOnTicks1To25MovesOnTick26AndScansOnTick27)
{
    connect();
    closeDevice();
    tick (10);

    // A second disconnect starts the count again.
    fsm().setCurrentState (stateConnected);
    device->unplug();
    tick();
    ASSERT_EQ (state(), stateDisconnected);
    device->plug();

    for (int t = 1; t <= 25; ++t)
    {
        portPair().setOutputDevice (3, "stale");    // closed again by the next tick
        tick();
        ASSERT_EQ (state(), stateDisconnected) << "tick " << t;
        ASSERT_EQ (portPair().getOutputIndex(), -1) << "tick " << t;
    }

    tick();   // 26
    EXPECT_EQ (state(), stateSearching);
    EXPECT_EQ (device->getNumOpenInputs(), 0);
    EXPECT_EQ (takeConnectionEvents(), (std::vector<int> { 1, 1 }));

    tick();   // 27: the first scan
    EXPECT_EQ (state(), stateConnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 0 });
}

TEST_F (ConnectionStateMachine, ACloseWhileBusyClosesThePortsAndTheNextTickAfterTheDeliveryDisconnects)
{
    connect();
    fsm().setCurrentState (stateBusy);

    closeDevice();
    EXPECT_EQ (state(), stateBusy);
    EXPECT_FALSE (portPair().hasInput() || portPair().hasOutput());

    fsm().fireEvent (evDone, nullptr);
    tick();
    EXPECT_EQ (state(), stateDisconnected);
    EXPECT_EQ (takeConnectionEvents(), (std::vector<int> { 2, 1 }));
}

TEST_F (ConnectionStateMachine, AThrowingSendClosesThePortsAndStillEndsTheSend)
{
    connect();
    fsm().setCurrentState (stateIdle);
    device->setThrowOnWrite (true);

    send (frame());
    EXPECT_EQ (state(), stateIdle);
    EXPECT_FALSE (portPair().hasOutput() || portPair().hasInput());
    EXPECT_TRUE (takeConnectionEvents().empty());

    tick();
    EXPECT_EQ (state(), stateDisconnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 1 });
}
