#include "device/ConstVar.h"
#include "device/FsmActions.h"
#include "tests/support/DeviceLinkFixture.h"

namespace
{
    const juce::MidiMessage sysEx (std::initializer_list<juce::uint8> bytes)
    {
        const std::vector<juce::uint8> data (bytes);
        return juce::MidiMessage (data.data(), (int) data.size());
    }

    struct Outcome
    {
        juce::uint32 state;
        std::vector<int> connectionEvents;
        int written;
        int delivered;

        bool operator== (const Outcome& other) const
        {
            return state == other.state && connectionEvents == other.connectionEvents
                && written == other.written && delivered == other.delivered;
        }
    };

    std::ostream& operator<< (std::ostream& os, const Outcome& o)
    {
        os << "state " << o.state << ", events [";

        for (auto e : o.connectionEvents)
            os << e << " ";

        return os << "], written " << o.written << ", delivered " << o.delivered;
    }
}

class ConnectionStateMachine : public DeviceLinkFixture
{
protected:
    /** Puts the machine into a state with the device connected and its ports open. */
    void enterState (juce::uint32 target)
    {
        if (state() != stateConnected)
        {
            // Back to a clean connection: close, wait out the back-off, scan.
            KRMIDIDeviceManager::getInstance()->closeDevice();
            fsm().fireEvent (evDone, nullptr);
            tick (backOffTicks + 1);
            fsm().setCurrentState (stateSearching);
            tick();
        }

        ASSERT_EQ (state(), stateConnected);

        if (target == stateDisconnected)
            KRMIDIDeviceManager::getInstance()->closeDevice();   // also zeroes the back-off count
        else
            fsm().setCurrentState (target);

        ASSERT_EQ (state(), target);
        takeConnectionEvents();
        takeDelivered();
        device->clearWritten();
    }

    Outcome fire (int event)
    {
        const auto message = sysEx ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 });
        const auto needsPayload = event == evMidiIn || event == evSendSysEx;
        fsm().fireEvent (event, needsPayload ? const_cast<juce::MidiMessage*> (&message) : nullptr);

        return { state(), takeConnectionEvents(), device->getNumWritten(), (int) takeDelivered().size() };
    }
};

TEST_F (ConnectionStateMachine, EveryStateAndEventFollowsTheTransitionTable)
{
    enum { searching, connected, busy, idle, disconnected };
    const std::vector<int> none;

    // What each (state, event) leads to, with the device present and both ports open.
    // Nested events count: a send or delivery from busy or idle ends in idle, a tick while
    // searching finds the device and connects.
    struct Row { juce::uint32 from; int event; Outcome expected; };
    const std::vector<Row> table
    {
        { searching, evPortsFound,  { connected,    { 0 }, 0, 0 } },
        { searching, evDeviceLost,  { searching,    none,  0, 0 } },
        { searching, evCloseDevice, { searching,    none,  0, 0 } },
        { searching, 3,             { searching,    none,  0, 0 } },
        { searching, evMidiIn,      { searching,    none,  0, 0 } },
        { searching, evSendSysEx,   { searching,    none,  0, 0 } },
        { searching, evDone,        { searching,    none,  0, 0 } },
        { searching, evTick,        { connected,    { 0 }, 0, 0 } },

        { connected, evPortsFound,  { connected,    none,  0, 0 } },
        { connected, evDeviceLost,  { disconnected, { 1 }, 0, 0 } },
        { connected, evCloseDevice, { disconnected, { 1 }, 0, 0 } },
        { connected, 3,             { connected,    none,  0, 0 } },
        { connected, evMidiIn,      { idle,         none,  0, 1 } },
        { connected, evSendSysEx,   { connected,    none,  1, 0 } },
        { connected, evDone,        { connected,    none,  0, 0 } },
        { connected, evTick,        { connected,    none,  0, 0 } },

        { busy,      evPortsFound,  { busy,         none,  0, 0 } },
        { busy,      evDeviceLost,  { busy,         none,  0, 0 } },
        { busy,      evCloseDevice, { busy,         { 2 }, 0, 0 } },
        { busy,      3,             { busy,         none,  0, 0 } },
        { busy,      evMidiIn,      { idle,         none,  0, 1 } },
        { busy,      evSendSysEx,   { idle,         none,  1, 0 } },
        { busy,      evDone,        { idle,         none,  0, 0 } },
        { busy,      evTick,        { busy,         none,  0, 0 } },

        { idle,      evPortsFound,  { idle,         none,  0, 0 } },
        { idle,      evDeviceLost,  { disconnected, { 1 }, 0, 0 } },
        { idle,      evCloseDevice, { disconnected, { 1 }, 0, 0 } },
        { idle,      3,             { idle,         none,  0, 0 } },
        { idle,      evMidiIn,      { idle,         none,  0, 1 } },
        { idle,      evSendSysEx,   { idle,         none,  1, 0 } },
        { idle,      evDone,        { idle,         none,  0, 0 } },
        { idle,      evTick,        { idle,         none,  0, 0 } },

        { disconnected, evPortsFound,  { disconnected, none, 0, 0 } },
        { disconnected, evDeviceLost,  { disconnected, none, 0, 0 } },
        { disconnected, evCloseDevice, { disconnected, none, 0, 0 } },
        { disconnected, 3,             { disconnected, none, 0, 0 } },
        { disconnected, evMidiIn,      { disconnected, none, 0, 0 } },
        { disconnected, evSendSysEx,   { disconnected, none, 0, 0 } },
        { disconnected, evDone,        { searching,    none, 0, 0 } },
        { disconnected, evTick,        { disconnected, none, 0, 0 } },
    };

    connect();

    for (const auto& row : table)
    {
        SCOPED_TRACE ("state " + std::to_string (row.from) + ", event " + std::to_string (row.event));
        enterState (row.from);

        if (row.from == searching)
        {
            portPair().close();
            fsm().setCurrentState (stateSearching);
            // The scan fills the indexes that a direct evPortsFound opens.
            if (row.event == evPortsFound)
                portPair().setOutputDevice (0, "Norvo"), portPair().setInputDevice (0, "Norvo");
        }

        EXPECT_EQ (fire (row.event), row.expected);
    }

    for (auto event : { 8, 50, 95, 96, 1000 })
        for (juce::uint32 from : { stateConnected, stateBusy, stateIdle })
        {
            enterState (from);
            EXPECT_EQ (fire (event), (Outcome { from, none, 0, 0 }));
        }
}

TEST_F (ConnectionStateMachine, ScanTakesTheFirstOutputAndInputNamedNorvoInListOrder)
{
    auto& d = useDevice ("Norvo Second", "Norvo In");
    d.setOtherOutputs ({ "Synth", "norvo lower case", "Norvo First" }, { "Norvo Last" });
    d.setOtherInputs ({ "NORVO", "Keyboard" });

    tick();

    EXPECT_EQ (portPair().getOutputIndex(), 2);
    EXPECT_EQ (portPair().getOutputName(), "Norvo First");
    EXPECT_EQ (portPair().getInputIndex(), 2);
    EXPECT_EQ (portPair().getInputName(), "Norvo In");
    EXPECT_EQ (state(), stateConnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 0 });
}

TEST_F (ConnectionStateMachine, AnOutputWithoutAnInputKeepsSearching)
{
    auto& d = useDevice ("Norvo", "Piano");
    d.setOtherOutputs ({ "Synth" });

    tick();

    EXPECT_EQ (state(), stateSearching);
    EXPECT_EQ (portPair().getOutputIndex(), 1);
    EXPECT_EQ (portPair().getOutputName(), "Norvo");
    EXPECT_EQ (portPair().getInputIndex(), -1);
    EXPECT_EQ (portPair().getInputName(), "");
    EXPECT_FALSE (portPair().hasOutput());
    EXPECT_TRUE (takeConnectionEvents().empty());

    // Once the input turns up, the next tick connects.
    useDevice ("Norvo", "Norvo");
    tick();
    EXPECT_EQ (state(), stateConnected);
}

TEST_F (ConnectionStateMachine, ScanSetsTheDeviceKindAndTheModelFlagOnlyWhenItFindsAnOutput)
{
    auto* vars = ConstVar::getInstance();
    vars->deviceKind = 7;
    vars->isFullSizeModel = false;

    useDevice ("Something else", "Norvo Mini MIDI 1");
    tick();
    EXPECT_FALSE (vars->isFullSizeModel);
    EXPECT_EQ (vars->deviceKind, 2);   // the input alone was found

    // The flag is set before the ports open: a refused open still counts.
    useDevice ("Norvo MIDI 1", "Norvo MIDI 1").setRefuseOutputOpen (true);
    vars->deviceKind = 7;
    tick();
    EXPECT_TRUE (vars->isFullSizeModel);
    EXPECT_EQ (vars->deviceKind, 2);
}

TEST_F (ConnectionStateMachine, OnlyTheWordsNorvoMiniTogetherMakeTheSmallModel)
{
    auto* vars = ConstVar::getInstance();
    const std::vector<std::pair<juce::String, bool>> names { { "Norvo Mini",        false },
                                                             { "USB Norvo Mini 2",  false },
                                                             { "Norvo MiniX",       false },
                                                             { "Mini Norvo",        true },
                                                             { "Norvo mini",        true },
                                                             { "Norvo  Mini",       true } };

    for (const auto& [name, fullSize] : names)
    {
        useDevice (name, "Piano");   // no input: the scan sets the flag and keeps searching
        vars->isFullSizeModel = ! fullSize;
        tick();
        EXPECT_EQ (vars->isFullSizeModel, fullSize) << name;
    }
}

TEST_F (ConnectionStateMachine, PresenceIsJudgedByTheInputNameAmongTheOutputs)
{
    auto& d = useDevice ("Norvo Out", "Norvo MIDI 1");
    d.setOtherOutputs ({}, { "NORVO MIDI 1" });
    tick();
    ASSERT_EQ (state(), stateConnected);
    takeConnectionEvents();

    // The stored input name, in any letter case, among the output names: present.
    tick (3);
    EXPECT_EQ (state(), stateConnected);
    EXPECT_TRUE (takeConnectionEvents().empty());

    // The input and an output are still listed, but no output has the input's name: gone.
    d.setOtherOutputs ({}, { "Norvo MIDI 2" });
    tick();
    EXPECT_EQ (state(), stateDisconnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 1 });
    EXPECT_EQ (portPair().getInputIndex(), -1);
    EXPECT_FALSE (portPair().hasOutput());
    EXPECT_FALSE (portPair().hasInput());
}

TEST_F (ConnectionStateMachine, BackOffClosesAgainOnTicks1To25MovesOnTick26AndScansOnTick27)
{
    connect();
    device->unplug();
    tick();
    ASSERT_EQ (state(), stateDisconnected);
    device->plug();

    for (int t = 1; t <= 25; ++t)
    {
        // Anything put into the pair meanwhile is closed again by the next tick.
        portPair().setOutputDevice (3, "stale");
        tick();
        ASSERT_EQ (state(), stateDisconnected) << "tick " << t;
        ASSERT_EQ (portPair().getOutputIndex(), -1) << "tick " << t;
    }

    tick();   // 26
    EXPECT_EQ (state(), stateSearching);
    EXPECT_EQ (device->getNumOpenInputs(), 0);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 1 });

    tick();   // 27: the first scan
    EXPECT_EQ (state(), stateConnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 0 });
}

TEST_F (ConnectionStateMachine, ADisconnectRestartsTheBackOffCount)
{
    connect();
    KRMIDIDeviceManager::getInstance()->closeDevice();
    tick (10);
    ASSERT_EQ (state(), stateDisconnected);

    // Back to connected by hand, then a second disconnect: 26 full ticks again.
    fsm().setCurrentState (stateConnected);
    KRMIDIDeviceManager::getInstance()->closeDevice();
    tick (25);
    EXPECT_EQ (state(), stateDisconnected);
    tick();
    EXPECT_EQ (state(), stateSearching);
}

TEST_F (ConnectionStateMachine, ACloseWhileBusyIsIgnoredUntilTheDeliveryEndsThenTheNextTickDisconnects)
{
    connect();
    fsm().setCurrentState (stateBusy);

    KRMIDIDeviceManager::getInstance()->closeDevice();
    EXPECT_EQ (state(), stateBusy);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 2 });
    EXPECT_FALSE (portPair().hasInput());
    EXPECT_FALSE (portPair().hasOutput());

    fsm().fireEvent (evDone, nullptr);
    EXPECT_EQ (state(), stateIdle);

    tick();
    EXPECT_EQ (state(), stateDisconnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 1 });
}

TEST_F (ConnectionStateMachine, AThrowingSendClosesThePortsAndStillEndsTheSend)
{
    connect();
    fsm().setCurrentState (stateIdle);
    device->setThrowOnWrite (true);

    send (sysEx ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));

    EXPECT_EQ (state(), stateIdle);
    EXPECT_FALSE (portPair().hasOutput());
    EXPECT_FALSE (portPair().hasInput());
    EXPECT_EQ (portPair().getInputIndex(), -1);
    EXPECT_TRUE (takeConnectionEvents().empty());

    tick();
    EXPECT_EQ (state(), stateDisconnected);
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 1 });
}
