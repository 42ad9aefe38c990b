#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/MessageThreadLock.h"
#include "device/OneButtonAlert.h"
#include "device/PresetManager.h"
#include "device/SendMsgHander.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficSingletons.h"
#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

#include <future>

using namespace traffic;
using Log = std::vector<std::string>;
using Outcome = std::pair<juce::uint32, Log>;     // the state and what the user side heard

/** The whole device link on a virtual device, ticked by hand, alerts swallowed. The test is the
    user side on the hub: connection events are logged as c(onnected), d(isconnected) and
    i(gnored close), replies and states in full; deliveries to the state machine are counted.
*/
struct DeviceLink : public ::testing::Test,
                    public UpdateUIListener,
                    public MIDIMessageListener
{
    void SetUp() override
    {
        useDevice ("Norvo", "Norvo");
        setOneButtonAlertInterceptor ([] (auto&&...) {});
        hub->addUpdateListener (this);
        KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);
        manager().stopTimer();
        fsm().addMessageListener (this);
    }

    void TearDown() override    { deleteTrafficSingletons(); setOneButtonAlertInterceptor (nullptr); }

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
    void tick (int count = 1)   { for (int i = 0; i < count; ++i) manager().timerCallback(); }
    void fire (int event)       { const auto m = frame(); fsm().fireEvent (event, const_cast<juce::MidiMessage*> (&m)); }
    void scan()                 { pair().close(); fsm().setCurrentState (stateSearching); tick(); }
    static juce::MidiMessage frame()    { return toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }); }

    void connect()
    {
        scan();
        ASSERT_TRUE (state() == stateConnected && pair().hasOutput() && pair().hasInput());
        take();
    }

    static bool waitUntil (const std::function<bool()>& condition)      // without running the message loop
    {
        for (int i = 0; i < 1000 && ! condition(); ++i)
            juce::Thread::sleep (3);

        return condition();
    }

    void deviceConnected() override                             { add ("c"); }
    void deviceDisconnected() override                          { add ("d"); }
    void deviceCloseIgnored() override                          { add ("i"); }
    void deviceState (int state, bool) override                 { add ("state " + std::to_string (state)); }
    void deviceReply (int n, const juce::uint8* d) override     { add ("reply " + hex (Bytes (d, d + n))); }
    void handleMidiMessage (const juce::MidiMessage&) override  { ++delivered; if (onDelivery) onDelivery(); }
    void add (const std::string& entry)                         { const std::lock_guard<std::mutex> g (lock); log.push_back (entry); }
    Log take()                                                  { const std::lock_guard<std::mutex> g (lock); return std::exchange (log, {}); }

    PresetManager* hub = PresetManager::getInstance();
    std::unique_ptr<VirtualMidiDevice::ScopedInstall> install;
    std::unique_ptr<VirtualMidiDevice> device;
    std::atomic<int> delivered { 0 };
    std::function<void()> onDelivery;
    std::mutex lock;
    Log log;
};

//==============================================================================
TEST_F (DeviceLink, EveryStateAndEventFollowsTheTransitionTable)
{
    // For events 0 to 7: the state after, the connection events, a frame written w, a message
    // delivered m. Nested events count: a send or delivery from busy ends in idle, a tick while
    // searching connects. Events out of range change nothing.
    const std::map<juce::uint32, std::array<std::string, 8>> table
    {
        { stateSearching,    { "1c", "0",  "0",  "0", "0",  "0",  "0", "1c" } },
        { stateConnected,    { "1",  "4d", "4d", "1", "3m", "1w", "1", "1" } },
        { stateBusy,         { "2",  "2",  "2i", "2", "3m", "3w", "3", "2" } },
        { stateIdle,         { "3",  "4d", "4d", "3", "3m", "3w", "3", "3" } },
        { stateDisconnected, { "4",  "4",  "4",  "4", "4",  "4",  "0", "4" } },
    };

    for (auto& [from, row] : table)
        for (int event : { 0, 1, 2, 3, 4, 5, 6, 7, -1, 8, 95, 96, 1000 })
        {
            connect();

            if (from == stateDisconnected)
                closeDevice();
            else if (from == stateSearching)    // the ports closed, but where the scan would find them
                pair().close(), pair().setOutputDevice (0, "Norvo"), pair().setInputDevice (0, "Norvo");

            fsm().setCurrentState (from);
            take();
            delivered = 0;
            device->clearWritten();
            fire (event);

            auto outcome = std::to_string (state());

            for (auto& entry : take())      // deliveries also come back as update replies
                outcome += entry.rfind ("reply", 0) == 0 ? "" : entry;

            outcome += std::string ((size_t) device->getNumWritten(), 'w') + std::string ((size_t) delivered.load(), 'm');
            EXPECT_EQ (outcome, juce::isPositiveAndBelow (event, 8) ? row[(size_t) event] : std::to_string (from)) << from << ", " << event;
        }

    // A message from any input but the open one fires nothing.
    fsm().getPortCallback()->handleIncomingMidiMessage ("other-Keys", frame());
    fsm().getPortCallback()->handleIncomingMidiMessage (device->getInputIdentifier().toUpperCase(), frame());
    EXPECT_EQ (delivered.load(), 0);
}

TEST_F (DeviceLink, ScanLooksForTheWordNorvoAndTellsTheSmallModelByTheOutputName)
{
    // fullSize: 1 the full-size model, 0 the small one, -1 left alone
    struct Row { juce::String output, input; int outputIndex, inputIndex, fullSize; };
    const std::vector<Row> rows
    {
        { "Norvo", "Norvo", 0, 0, 1 },          { "norvo", "NORVO", -1, -1, -1 },       { "Norvo Mini", "Piano", 0, -1, 0 },
        { "USB Norvo Mini 2", "Norvo", 0, 0, 0 }, { "Norvo mini", "Norvo", 0, 0, 1 },   { "Keys", "Norvo Mini", -1, 0, -1 },
    };

    for (const auto& row : rows)
    {
        useDevice (row.output, row.input);
        ConstVar::getInstance()->isFullSizeModel = row.fullSize != 1;
        ConstVar::getInstance()->deviceKind = 7;
        scan();

        const auto connects = row.outputIndex == 0 && row.inputIndex == 0;      // an output alone is remembered, not opened
        EXPECT_EQ (std::make_tuple (state(), take(), pair().hasOutput(), pair().getOutputIndex(), pair().getInputIndex()),
                   std::make_tuple ((juce::uint32) (connects ? stateConnected : stateSearching), connects ? Log { "c" } : Log(),
                                    connects, row.outputIndex, row.inputIndex)) << row.output;
        EXPECT_EQ (std::make_pair (ConstVar::getInstance()->isFullSizeModel.load(), ConstVar::getInstance()->deviceKind.load()),
                   std::make_pair (row.fullSize != 0, row.outputIndex + row.inputIndex > -2 ? 2 : 7)) << row.output;
    }
}

TEST_F (DeviceLink, AfterADisconnectTicks1To25CloseThePortsAgainTick26SearchesAndTick27Scans)
{
    connect();
    device->unplug();
    tick (11);
    fsm().setCurrentState (stateConnected);
    tick();     // a second disconnect starts the count again
    device->plug();

    for (int t = 1; t <= 25; ++t)
    {
        pair().setOutputDevice (3, "stale");
        tick();
        ASSERT_TRUE (state() == stateDisconnected && pair().getOutputIndex() == -1) << "tick " << t;
    }

    tick();
    EXPECT_EQ (state(), stateSearching);
    tick();
    EXPECT_EQ (Outcome (state(), take()), Outcome (stateConnected, { "d", "d", "c" }));
}

TEST_F (DeviceLink, ACloseWhileBusyOrAThrowingSendClosesThePortsAndTheNextTickDisconnects)
{
    for (bool throwing : { false, true })
    {
        connect();
        fsm().setCurrentState (throwing ? stateIdle : stateBusy);
        device->setThrowOnWrite (throwing);
        throwing ? fire (evSendSysEx) : closeDevice();
        EXPECT_EQ (state(), throwing ? stateIdle : stateBusy);
        EXPECT_FALSE (pair().hasInput() || pair().hasOutput());

        fsm().fireEvent (evDone, nullptr);
        tick();
        EXPECT_EQ (Outcome (state(), take()), Outcome (stateDisconnected, throwing ? Log { "d" } : Log { "i", "d" }));
    }
}

TEST_F (DeviceLink, AWriteThatFailsInADeliveryStopsTheInputAtOnceAndDeletesItLaterOnTheMessageThread)
{
    connect();
    device->setThrowOnWrite (true);
    onDelivery = [this] { fire (evSendSysEx); };
    device->sendToHost (frame());
    ASSERT_TRUE (device->waitUntilDelivered());

    EXPECT_FALSE (pair().hasInput());
    EXPECT_EQ (std::make_pair (device->getNumStartedInputs(), device->getNumOpenInputs()), std::make_pair (0, 1));
    EXPECT_TRUE (pumpMessagesUntil ([&] { return device->getNumOpenInputs() == 0; }));
    tick();
    EXPECT_EQ (state(), stateDisconnected);
}

TEST_F (DeviceLink, ClosingWhileADeliveryWaitsForTheMessageThreadDoesNotDeadlock)
{
    connect();
    std::atomic<int> entered { 0 }, gained { 0 };
    onDelivery = [&] { ++entered; const MessageThreadLock lock; gained += lock.lockWasGained() ? 1 : 0; };
    device->sendToHost (frame());

    while (entered == 0)    // the delivery now waits for this thread, which runs no message loop
        std::this_thread::yield();

    std::promise<void> closed;      // a watchdog: a deadlock would hang the close
    std::thread watchdog ([done = closed.get_future()] { if (done.wait_for (std::chrono::seconds (5)) != std::future_status::ready) std::abort(); });
    closeDevice();
    closed.set_value();
    watchdog.join();
    EXPECT_TRUE (device->waitUntilDelivered());
    EXPECT_EQ (std::make_pair (gained.load(), device->getNumOpenInputs()), std::make_pair (0, 0));

    connect();      // once the close is over, deliveries get the lock again
    device->sendToHost (frame());
    EXPECT_TRUE (pumpMessagesUntil ([&] { return gained.load() == 1; }));
}

//==============================================================================
TEST_F (DeviceLink, AtMostFiveSendsAreInFlightAndThePairMayGoWhileTheyRun)
{
    connect();
    device->setWriteBlocked (true);

    for (int i = 0; i < 6; ++i)
        pair().sendMessage (frame());

    EXPECT_EQ (pair().getSendsInFlight(), 5);
    ASSERT_TRUE (waitUntil ([&] { return device->getNumBlockedWrites() == 5; }));
    MIDIManager::deleteInstance();
    device->setWriteBlocked (false);
    EXPECT_TRUE (waitUntil ([&] { return device->getNumOpenOutputs() == 0; }));     // released by the last sender
    EXPECT_EQ (device->getNumWritten(), 5);
}

//==============================================================================
TEST_F (DeviceLink, TheDeviceStateRequestSendsBothFramesASecondAfterConnectionAnd200MsApartAndBothAnswersArrive)
{
    tick();
    const auto connectedAt = juce::Time::getMillisecondCounterHiRes();
    manager().sendDeviceState();    // as the user side does on connection
    testing::internal::CaptureStdout();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device->getNumWritten() == 2; }, 4000));
    EXPECT_EQ (state(), stateConnected);    // the frames bypass the state machine
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "set isCanSendUserMsg:1 \n21,25,7E,4D,5A,2D,0A,11,04,00,00,00,00,01,02,00,00,00,00,00,\n"
                                                       "ADDR_SYS_SOFTWARE_STATE:21,25,7e,4d,5a,2d,0a,11, 12,00,00,00, \n");

    const auto written = device->getWrittenMessages();
    EXPECT_EQ (bytesOf (written[0].message), concat ({ signature, { 0x11, 4, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0xF7 } }));
    EXPECT_EQ (bytesOf (written[1].message), concat ({ signature, { 0x11, 0x12, 0, 0, 0, 0xF7 } }));
    EXPECT_GE (written[0].timeMs - connectedAt, 990.0);
    EXPECT_GE (written[1].timeMs - written[0].timeMs, 200.0);
    EXPECT_TRUE (DeviceStateResponder::isInformationRequest (written[0].message) && DeviceStateResponder::isStateRead (written[1].message));

    device->sendToHost (toMessage (chunk (8, 0, { 0x01, 0x20, 0x04, 0x00, 3, 0, 0, 0 })));     // record 0x2001: state 3
    device->sendToHost (DeviceStateResponder::makeSystemReply (3, std::nullopt));
    ASSERT_TRUE (pumpMessagesUntil ([&] { const std::lock_guard<std::mutex> g (lock); return log.size() == 3; }));
    EXPECT_EQ (take(), (Log { "c", "state 3", "state 3" }));

    closeDevice();      // the gate stays open across a disconnect
    connect();
    device->clearWritten();
    fire (evSendSysEx);
    EXPECT_EQ (device->getNumWritten(), 1);
}

TEST_F (DeviceLink, APendingDeviceStateRequestIsDroppedWhenTheManagerGoesAway)
{
    manager().sendDeviceState();
    deleteTrafficSingletons();

    testing::internal::CaptureStdout();
    pumpMessagesFor (MIDIManager::deviceStateDelayMs + 200);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
}

// Update messages go out wrapped once user messages are allowed, their replies come back raw;
// record requests leave through the pump; the jump sends its two frames, prints one line and closes.
TEST_F (DeviceLink, UserTrafficLeavesAsItsFramesAndUpdateRepliesComeBackRaw)
{
    const juce::uint8 start[] = { 0x7E, 0x48, 0x01 };
    connect();
    hub->sysExMessage (3, start, 1);    // dropped: user messages are not allowed yet
    manager().isCanSendUserMsg = true;
    hub->sysExMessage (3, start, 1);
    hub->sysExMessage (0, start, 1);
    hub->requestRecord2002();
    SendMsgHander::getInstance()->requestRecord1006();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device->getNumWritten() == 4; }));

    device->sendToHost (toMessage ({ 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 }));
    ASSERT_TRUE (device->waitUntilDelivered());
    testing::internal::CaptureStdout();
    hub->softwareJump();
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "ADDR_SYS_SOFTWARE_JUMP:21,25,7e,4d,5a,2d,0a,12, 12,00,20,00, \nconectevent event :1\n");
    EXPECT_EQ (take(), (Log { "reply f0 7e 48 04 7f f7", "d" }));

    std::vector<Bytes> written;

    for (auto& w : device->getWrittenMessages())
        written.push_back (bytesOf (w.message));

    EXPECT_EQ (written, (std::vector<Bytes> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 }, { 0xF0, 0xF7 },
                                              concat ({ signature, { 0x11, 4, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 0, 0xF7 } }),
                                              concat ({ signature, { 0x11, 4, 0, 0, 0, 0, 6, 1, 0, 0, 0, 0, 0, 0xF7 } }),
                                              concat ({ signature, { 0x12, 4, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0xF7 } }),
                                              concat ({ signature, { 0x12, 0x12, 0, 0x20, 0, 0xF7 } }) }));
}

//==============================================================================
namespace
{
    struct Listener : public UpdateUIListener
    {
        Listener (Log& l, std::string n) : log (l), name (std::move (n)) {}
        void deviceConnected() override                         { log.push_back (name); if (onCall) onCall(); }
        void deviceReply (int, const juce::uint8*) override     { ++calls; juce::Thread::yield(); ++calls; }

        Log& log;
        std::string name;
        std::function<void()> onCall;
        int calls = 0;      // plain on purpose: an overlapping call is a race for the sanitizers
    };
}

TEST (Hub, ListenersAreCalledNewestFirstAndMayChangeTheListDuringAWalk)
{
    PresetManager hub;
    Log log;
    Listener a (log, "a"), b (log, "b"), c (log, "c"), d (log, "d"), newcomer (log, "new");

    for (auto* listener : { &a, &b, &c, &d, &a })    // held once
        hub.addUpdateListener (listener);

    // b leaves with d, called already, and adds a newcomer, not called in this walk; then the
    // newcomer leaves with c, which has not been called yet and is not.
    b.onCall = [&] { hub.removeUpdateListener (&b); hub.removeUpdateListener (&d); hub.addUpdateListener (&newcomer); };
    hub.deviceConnected();
    newcomer.onCall = [&] { hub.removeUpdateListener (&newcomer); hub.removeUpdateListener (&c); };
    hub.deviceConnected();
    EXPECT_EQ (log, (Log { "d", "c", "b", "a", "new", "a" }));
}

// Replies are walked on the MIDI input thread while the message thread adds and removes
// listeners: once its removal has returned, a listener is never called again.
TEST (Hub, ARemovedListenerIsNeverCalledAfterItsRemovalReturns)
{
    PresetManager hub;
    Log log;
    std::atomic<bool> stop { false };
    const juce::uint8 reply[] = { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 };
    std::thread input ([&] { while (! stop) hub.sysExMessage (6, reply, 0); });

    for (int i = 0; i < 2000; ++i)
    {
        auto listener = std::make_unique<Listener> (log, "");
        hub.addUpdateListener (listener.get());
        juce::Thread::yield();
        hub.removeUpdateListener (listener.get());
        EXPECT_EQ (listener->calls % 2, 0);
    }

    stop = true;
    input.join();
}
