#include "device/ConstVar.h"
#include "device/FsmActions.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/MessageThreadLock.h"
#include "device/OneButtonAlert.h"
#include "tests/support/DeviceLinkSingletons.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficBytes.h"
#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

#include <future>

using namespace traffic;
using Events = std::vector<int>;

/** A fresh device link on a virtual device, ticked by hand, with alerts counted instead of
    shown. Connection events are recorded as 0 connected, 1 disconnected, 2 close ignored
    (they come on the message thread); deliveries are counted and run onDelivery.
*/
struct DeviceLink : public ::testing::Test,
                    public MIDIDeviceInterfaceListener,
                    public MIDIMessageListener
{
    void SetUp() override
    {
        useDevice ("Norvo", "Norvo");
        setOneButtonAlertInterceptor ([this] (auto&&...) { ++alerts; });
        KRMIDIDeviceManager::getInstance()->addConnectionListener (this);
        manager().stopTimer();
        fsm().addMessageListener (this);
    }

    void TearDown() override
    {
        deleteDeviceLinkSingletons();
        setOneButtonAlertInterceptor (nullptr);
    }

    VirtualMidiDevice& useDevice (const juce::String& output, const juce::String& input)
    {
        install.reset();
        device = std::make_unique<VirtualMidiDevice> (output, input);
        install = std::make_unique<VirtualMidiDevice::ScopedInstall> (*device);
        return *device;
    }

    MIDIManager& manager()      { return *MIDIManager::getInstance(); }
    MIDIUSBFsm& fsm()           { return manager().getStateMachine(); }
    MIDIPortPair& pair()        { return manager().getPortPair(); }
    juce::uint32 state()        { return fsm().getCurrentState(); }
    void closeDevice()          { KRMIDIDeviceManager::getInstance()->closeDevice(); }
    Events takeEvents()         { return std::exchange (events, {}); }
    void send()                 { const auto m = frame(); fsm().fireEvent (evSendSysEx, const_cast<juce::MidiMessage*> (&m)); }
    void tick (int count = 1)   { for (int i = 0; i < count; ++i) manager().timerCallback(); }

    void connect()
    {
        pair().close();
        fsm().setCurrentState (stateSearching);
        tick();
        ASSERT_EQ (state(), stateConnected);
        ASSERT_TRUE (pair().hasOutput() && pair().hasInput());
        takeEvents();
    }

    static juce::MidiMessage frame()    { return toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }); }

    static bool waitUntil (const std::function<bool()>& condition)      // without running the message loop
    {
        for (int i = 0; i < 1000 && ! condition(); ++i)
            juce::Thread::sleep (3);

        return condition();
    }

    void deviceConnected() override     { events.push_back (0); }
    void deviceDisconnected() override  { events.push_back (1); }
    void deviceCloseIgnored() override  { events.push_back (2); }
    void handleMidiMessage (const juce::MidiMessage&) override  { ++delivered; if (onDelivery) onDelivery(); }

    std::unique_ptr<VirtualMidiDevice::ScopedInstall> install;
    std::unique_ptr<VirtualMidiDevice> device;
    Events events;
    int alerts = 0;
    std::atomic<int> delivered { 0 };
    std::function<void()> onDelivery;
};

//==============================================================================
TEST_F (DeviceLink, EveryStateAndEventFollowsTheTransitionTable)
{
    // Only the pairs that change something, nested events included (a send or delivery from
    // busy or idle ends in idle, a tick while searching connects); the rest change nothing.
    using Outcome = std::tuple<juce::uint32, Events, int, int>;    // state, connection events, written, delivered
    const std::map<std::pair<juce::uint32, int>, Outcome> changes
    {
        { { stateSearching, evPortsFound }, { stateConnected, { 0 }, 0, 0 } },
        { { stateSearching, evTick },       { stateConnected, { 0 }, 0, 0 } },
        { { stateConnected, evDeviceLost }, { stateDisconnected, { 1 }, 0, 0 } },
        { { stateConnected, evCloseDevice }, { stateDisconnected, { 1 }, 0, 0 } },
        { { stateConnected, evMidiIn },     { stateIdle, {}, 0, 1 } },
        { { stateConnected, evSendSysEx },  { stateConnected, {}, 1, 0 } },
        { { stateBusy, evCloseDevice },     { stateBusy, { 2 }, 0, 0 } },
        { { stateBusy, evMidiIn },          { stateIdle, {}, 0, 1 } },
        { { stateBusy, evSendSysEx },       { stateIdle, {}, 1, 0 } },
        { { stateBusy, evDone },            { stateIdle, {}, 0, 0 } },
        { { stateIdle, evDeviceLost },      { stateDisconnected, { 1 }, 0, 0 } },
        { { stateIdle, evCloseDevice },     { stateDisconnected, { 1 }, 0, 0 } },
        { { stateIdle, evMidiIn },          { stateIdle, {}, 0, 1 } },
        { { stateIdle, evSendSysEx },       { stateIdle, {}, 1, 0 } },
        { { stateDisconnected, evDone },    { stateSearching, {}, 0, 0 } },
    };

    for (juce::uint32 from = stateSearching; from <= stateDisconnected; ++from)
        for (int event : { 0, 1, 2, 3, 4, 5, 6, 7, -1, 8, 95, 96, 1000 })
        {
            SCOPED_TRACE ("state " + std::to_string (from) + ", event " + std::to_string (event));
            connect();

            if (from == stateDisconnected)
                closeDevice();
            else if (from == stateSearching)    // ports closed, but where the scan would find them
                pair().close(), pair().setOutputDevice (0, "Norvo"), pair().setInputDevice (0, "Norvo");

            fsm().setCurrentState (from);
            takeEvents();
            delivered = 0;
            device->clearWritten();

            const auto message = frame();
            fsm().fireEvent (event, event == evMidiIn || event == evSendSysEx ? const_cast<juce::MidiMessage*> (&message) : nullptr);

            const auto change = changes.find ({ from, event });
            const Outcome unchanged { from, {}, 0, 0 };
            EXPECT_EQ (Outcome (state(), takeEvents(), device->getNumWritten(), delivered.load()),
                       change != changes.end() ? change->second : unchanged);
        }
}

TEST_F (DeviceLink, ScanTakesTheFirstPortsNamedNorvoAndTellsTheSmallModelByItsOutputName)
{
    // fullSize: 1 full-size model, 0 the small one, -1 left as it was
    struct Row { juce::String output, input; juce::StringArray others; bool connects; juce::String outputTaken, inputTaken; int fullSize; };
    const std::vector<Row> rows
    {
        { "Norvo 2", "Norvo 2", { "Synth", "norvo low", "NORVO", "Norvo 1" }, true, "Norvo 1", "Norvo 1", 1 },
        { "Norvo Mini", "Piano", {}, false, "Norvo Mini", "", 0 },      // no input: remembered, not opened
        { "USB Norvo Mini 2", "Norvo", {}, true, "USB Norvo Mini 2", "Norvo", 0 },
        { "Norvo MiniX", "Norvo", {}, true, "Norvo MiniX", "Norvo", 0 },
        { "Mini Norvo", "Norvo", {}, true, "Mini Norvo", "Norvo", 1 },
        { "Norvo mini", "Norvo", {}, true, "Norvo mini", "Norvo", 1 },
        { "Something", "Norvo Mini", {}, false, "", "Norvo Mini", -1 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.output);
        useDevice (row.output, row.input).setOtherPorts (row.others, row.others);
        auto& vars = *ConstVar::getInstance();
        vars.isFullSizeModel = row.fullSize == 0;
        vars.deviceKind = 7;
        pair().close();
        fsm().setCurrentState (stateSearching);
        tick();

        EXPECT_EQ (state(), row.connects ? stateConnected : stateSearching);
        EXPECT_EQ (takeEvents(), row.connects ? Events { 0 } : Events {});
        EXPECT_EQ (pair().getOutputName(), row.outputTaken);
        EXPECT_EQ (pair().getInputName(), row.inputTaken);
        EXPECT_EQ (pair().hasOutput(), row.connects);
        EXPECT_EQ (vars.isFullSizeModel, row.fullSize < 0 ? false : row.fullSize == 1);     // false before when left
        EXPECT_EQ (vars.deviceKind, 2);
    }
}

TEST_F (DeviceLink, PresenceLooksForTheInputNameAmongTheOutputsAndTheBackOffLasts26Ticks)
{
    useDevice ("Norvo Out", "Norvo In").setOtherPorts ({ "NORVO IN" }, {});
    connect();
    tick (3);   // the input's name, in any letter case, among the outputs: present
    EXPECT_EQ (state(), stateConnected);

    device->setOtherPorts ({}, {});     // the input is still listed, but no output has its name
    tick (11);
    fsm().setCurrentState (stateConnected);
    tick();     // a second disconnect starts the count again
    EXPECT_EQ (takeEvents(), (Events { 1, 1 }));

    for (int t = 1; t <= 25; ++t)
    {
        pair().setOutputDevice (3, "stale");
        tick();
        ASSERT_EQ (state(), stateDisconnected) << "tick " << t;
        ASSERT_EQ (pair().getOutputIndex(), -1) << "tick " << t;
    }

    tick();
    EXPECT_EQ (state(), stateSearching);
    tick();
    EXPECT_EQ (state(), stateConnected);
}

TEST_F (DeviceLink, ACloseWhileBusyOrAThrowingSendClosesThePortsAndTheNextTickDisconnects)
{
    for (bool throwing : { false, true })
    {
        connect();
        fsm().setCurrentState (throwing ? stateIdle : stateBusy);
        device->setThrowOnWrite (throwing);
        throwing ? send() : closeDevice();
        EXPECT_EQ (state(), throwing ? stateIdle : stateBusy);
        EXPECT_FALSE (pair().hasInput() || pair().hasOutput());

        fsm().fireEvent (evDone, nullptr);
        tick();
        EXPECT_EQ (state(), stateDisconnected);
        EXPECT_EQ (takeEvents(), throwing ? Events { 1 } : (Events { 2, 1 }));
    }
}

TEST_F (DeviceLink, APortThatDoesNotOpenShowsAnAlertAndSendsAreDroppedWithoutIt)
{
    device->setRefuseOpen (true, false);
    tick();
    EXPECT_EQ (state(), stateConnected);
    EXPECT_EQ (takeEvents(), Events { 0 });
    EXPECT_EQ (alerts, 1);

    manager().isCanSendUserMsg = true;
    send();
    pair().sendMessage (frame());
    EXPECT_EQ (pair().getSendsInFlight(), 0);
    EXPECT_EQ (device->getNumWritten(), 0);

    device->setRefuseOpen (true, true);
    pair().close();
    fsm().setCurrentState (stateSearching);
    tick();
    EXPECT_EQ (alerts, 3);
}

//==============================================================================
TEST_F (DeviceLink, AtMostFiveSendsAreInFlightAndAWatcherGivesUpAFailedWriteAtItsTimeLimit)
{
    connect();
    device->setWriteBlocked (true);

    for (int i = 0; i < 6; ++i)
        pair().sendMessage (frame());

    EXPECT_EQ (pair().getSendsInFlight(), 5);
    ASSERT_TRUE (waitUntil ([&] { return device->getNumBlockedWrites() == 5; }));
    device->setWriteBlocked (false);
    ASSERT_TRUE (waitUntil ([&] { return pair().getSendsInFlight() == 0; }));
    EXPECT_EQ (device->getNumWritten(), 5);

    // A write that throws on its own thread is swallowed and holds its place until the limit.
    pair().setSendTimeLimit (50);
    device->setThrowOnWrite (true);
    const auto start = juce::Time::getMillisecondCounter();
    pair().sendMessage (frame());
    ASSERT_TRUE (waitUntil ([&] { return pair().getSendsInFlight() == 0; }));
    EXPECT_GE (juce::Time::getMillisecondCounter() - start, 50u);
    EXPECT_EQ (device->getNumStopBackgroundThreadCalls(), 1);
    EXPECT_TRUE (pair().hasOutput());
}

TEST_F (DeviceLink, ClosingOrDeletingThePairWhileSendsAreInFlightIsSafe)
{
    connect();
    device->setWriteBlocked (true);

    for (int i = 0; i < 5; ++i)
        pair().sendMessage (frame());

    pair().close();
    MIDIManager::deleteInstance();      // with five sends still running
    device->setWriteBlocked (false);
    EXPECT_TRUE (device->waitForWritten (5));
    EXPECT_TRUE (waitUntil ([&] { return device->getNumOpenOutputs() == 0; }));     // released by the last sender
}

//==============================================================================
TEST_F (DeviceLink, ClosingWhileADeliveryWaitsForTheMessageThreadDoesNotDeadlock)
{
    connect();
    std::atomic<int> entered { 0 }, gained { 0 };
    onDelivery = [&] { ++entered; const MessageThreadLock lock; gained += lock.lockWasGained() ? 1 : 0; };
    device->sendToHost (frame());

    while (entered == 0)    // the delivery now waits for this thread, which runs no message loop
        std::this_thread::yield();

    std::promise<void> closed;
    std::thread watchdog ([done = closed.get_future()]
    {
        if (done.wait_for (std::chrono::seconds (5)) != std::future_status::ready)
            std::abort();   // deadlocked
    });

    closeDevice();
    closed.set_value();
    watchdog.join();
    EXPECT_TRUE (device->waitUntilDelivered());
    EXPECT_EQ (gained.load(), 0);
    EXPECT_EQ (device->getNumOpenInputs(), 0);

    connect();     // once the close is over, deliveries get the lock again
    device->sendToHost (frame());
    EXPECT_TRUE (pumpMessagesUntil ([&] { return gained.load() == 1; }));
}

TEST_F (DeviceLink, NoDeliveryReachesTheMachineOnceThePortsAreClosedNorFromAnotherInput)
{
    for (int round = 0; round < 20; ++round)
    {
        connect();

        for (int i = 0; i < 200; ++i)
            device->sendToHost (frame());

        while (delivered.load() == 0)
            std::this_thread::yield();

        pair().close();
        const auto afterClose = delivered.load();
        EXPECT_TRUE (device->waitUntilDelivered());
        EXPECT_EQ (delivered.exchange (0), afterClose) << "round " << round;
        pumpMessagesFor (1);
    }

    connect();
    fsm().getPortCallback()->handleIncomingMidiMessage ("virtual-in-before-0", frame());
    fsm().getPortCallback()->handleIncomingMidiMessage (device->getInputIdentifier().toUpperCase(), frame());
    EXPECT_EQ (delivered.load(), 0);
}

TEST_F (DeviceLink, AWriteThatFailsInADeliveryStopsTheInputAtOnceAndDeletesItLaterOnTheMessageThread)
{
    connect();
    device->setThrowOnWrite (true);
    onDelivery = [this] { send(); };
    device->sendToHost (frame());
    ASSERT_TRUE (device->waitUntilDelivered());

    EXPECT_FALSE (pair().hasInput());
    EXPECT_EQ (device->getNumStartedInputs(), 0);
    EXPECT_EQ (device->getNumOpenInputs(), 1);
    EXPECT_TRUE (pumpMessagesUntil ([&] { return device->getNumOpenInputs() == 0; }));
    tick();
    EXPECT_EQ (state(), stateDisconnected);
}

//==============================================================================
TEST_F (DeviceLink, TheDeviceStateRequestSendsBothFrames200MsApartAndOpensTheGateForGood)
{
    const std::string dumps = "set isCanSendUserMsg:1 \n21,25,7E,4D,5A,2D,0A,11,04,00,00,00,00,01,02,00,00,00,00,00,\n"
                              "ADDR_SYS_SOFTWARE_STATE:21,25,7e,4d,5a,2d,0a,11, 12,00,00,00, \n";

    for (bool withPorts : { false, true })
    {
        if (withPorts)
            connect();

        testing::internal::CaptureStdout();
        const auto handedOver = juce::Time::getMillisecondCounterHiRes();
        manager().sendDeviceStateNow();
        EXPECT_EQ (testing::internal::GetCapturedStdout(), dumps);
        EXPECT_TRUE (manager().isCanSendUserMsg);
        EXPECT_EQ (device->waitForWritten (2, 500), withPorts);

        for (auto& written : device->getWrittenMessages())
            EXPECT_GE (written.timeMs - handedOver, written.message.getRawDataSize() == 14 ? 200.0 : 0.0);
    }

    const auto written = device->getWrittenMessages();
    ASSERT_EQ (written.size(), 2u);
    EXPECT_EQ (bytesOf (written[0].message), concat ({ signature, { 0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02,
                                                                    0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } }));
    EXPECT_EQ (bytesOf (written[1].message), concat ({ signature, { 0x11, 0x12, 0x00, 0x00, 0x00, 0xF7 } }));
    EXPECT_EQ (state(), stateConnected);    // the frames bypass the state machine

    // The gate stays open across a disconnect: a send goes straight out on reconnection.
    closeDevice();
    connect();
    device->clearWritten();
    send();
    EXPECT_EQ (device->getNumWritten(), 1);
}

TEST_F (DeviceLink, APendingDeviceStateRequestIsDroppedWhenTheManagerGoesAway)
{
    manager().sendDeviceState();
    deleteDeviceLinkSingletons();

    testing::internal::CaptureStdout();
    pumpMessagesFor (MIDIManager::deviceStateDelayMs + 200);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
}
