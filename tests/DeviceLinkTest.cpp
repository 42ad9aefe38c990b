#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/MessageThreadLock.h"
#include "device/OneButtonAlert.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "device/Records.h"
#include "device/SendMsgHander.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TimeLimit.h"
#include "tests/support/TrafficSingletons.h"
#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

using namespace traffic;
using Log = std::vector<std::string>;
using Outcome = std::pair<juce::uint32, Log>;     // the state and what the user side heard

/** The whole device link on a virtual device, ticked by hand. The test is the user side on the hub: it logs
    connection events as c(onnected), d(isconnected) and i(gnored close), states and replies in full. */
struct DeviceLink : public ::testing::Test, public UpdateUIListener, public MIDIMessageListener
{
    void SetUp() override
    {
        setOneButtonAlertInterceptor ([] (auto&&...) {});
        hub->addUpdateListener (this);
        KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);
        manager().stopTimer();
        fsm().addMessageListener (this);
    }

    void TearDown() override    { deleteTrafficSingletons(); setOneButtonAlertInterceptor (nullptr); }

    MIDIManager& manager()      { return *MIDIManager::getInstance(); }
    MIDIUSBFsm& fsm()           { return manager().getStateMachine(); }
    MIDIPortPair& pair()        { return manager().getPortPair(); }
    juce::uint32 state()        { return fsm().getCurrentState(); }
    void closeDevice()          { KRMIDIDeviceManager::getInstance()->closeDevice(); }
    void tick (int count = 1)   { for (int i = 0; i < count; ++i) manager().timerCallback(); }
    void fire (int event)       { const auto m = frame(); fsm().fireEvent (event, const_cast<juce::MidiMessage*> (&m)); }
    void scan()                 { pair().close(); fsm().setCurrentState (stateSearching); tick(); }
    void connect()              { scan(); ASSERT_TRUE (state() == stateConnected && pair().hasOutput() && pair().hasInput()); take(); }
    static juce::MidiMessage frame()    { return toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }); }
    static constexpr juce::uint8 start[] = { 0x7E, 0x48, 0x01 };     // the frame's body, as the user side hands it over

    std::vector<Bytes> written()    { std::vector<Bytes> all; for (auto& w : device.getWrittenMessages()) all.push_back (bytesOf (w.message)); return all; }

    void deviceConnected() override                             { add ("c"); }
    void deviceDisconnected() override                          { add ("d"); }
    void deviceCloseIgnored() override                          { add ("i"); }
    void deviceState (int state, bool) override                 { add ("state " + std::to_string (state)); }
    void deviceReply (int n, const juce::uint8* d) override     { add ("reply " + hex (Bytes (d, d + n))); }
    void handleMidiMessage (const juce::MidiMessage&) override  { ++delivered; if (onDelivery) onDelivery(); }
    void add (const std::string& entry)                         { const std::lock_guard<std::mutex> g (lock); log.push_back (entry); }
    Log take()                                                  { const std::lock_guard<std::mutex> g (lock); return std::exchange (log, {}); }

    PresetManager* hub = PresetManager::getInstance();
    VirtualMidiDevice device;
    VirtualMidiDevice::ScopedInstall install { device };
    std::atomic<int> delivered { 0 };
    std::function<void()> onDelivery;
    std::mutex lock;
    Log log;
};

TEST_F (DeviceLink, EveryStateAndEventFollowsTheTransitionTable)
{
    // For events 0 to 7: the state after, the connection events, a frame written w, a message delivered m. Nested
    // events count: a send or delivery from busy ends in idle, a tick while searching connects. Others change nothing.
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
            device.clearWritten();
            fire (event);

            auto outcome = std::to_string (state());

            for (auto& entry : take())      // deliveries also come back as update replies
                outcome += entry.rfind ("reply", 0) == 0 ? "" : entry;

            outcome += std::string ((size_t) device.getNumWritten(), 'w') + std::string ((size_t) delivered.load(), 'm');
            EXPECT_EQ (outcome, juce::isPositiveAndBelow (event, 8) ? row[(size_t) event] : std::to_string (from)) << from << ", " << event;
        }
}

TEST_F (DeviceLink, ScanLooksForTheWordNorvoAndTellsTheSmallModelByTheOutputName)
{
    struct Row { juce::String output, input; int outputIndex, inputIndex, fullSize; };     // fullSize: 1 yes, 0 no, -1 left alone
    const std::vector<Row> rows
    {
        { "Norvo", "Norvo", 0, 0, 1 },          { "norvo", "NORVO", -1, -1, -1 },       { "Norvo Mini", "Piano", 0, -1, 0 },
        { "USB Norvo Mini 2", "Norvo", 0, 0, 0 }, { "Norvo mini", "Norvo", 0, 0, 1 },   { "Keys", "Norvo Mini", -1, 0, -1 },
    };

    for (const auto& row : rows)
    {
        VirtualMidiDevice named (row.output, row.input);
        const VirtualMidiDevice::ScopedInstall installNamed (named);
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

TEST_F (DeviceLink, APortThatCannotBeOpenedGetsOneAlertEachAndTheConnectionEventStillFollows)
{
    const juce::String occupied ("Device recognition failed, your Norvo may be occupied by other applications. Please try to close related applications and try again.");

    for (const auto& [output, input] : { std::pair (true, true), std::pair (true, false), std::pair (false, true) })
    {
        std::vector<juce::String> alerts;
        setOneButtonAlertInterceptor ([&] (auto& title, auto& message, auto icon, auto& button)
                                      { EXPECT_TRUE (message.isEmpty() && icon == juce::AlertWindow::WarningIcon && button == "OK"); alerts.push_back (title); });
        device.setRefuseOpen (output, input);
        scan();
        EXPECT_EQ (alerts, std::vector<juce::String> ((size_t) (output + input), occupied));
        EXPECT_EQ (take(), Log { "c" });
    }
}

TEST_F (DeviceLink, AfterADisconnectTicks1To25CloseThePortsAgainTick26SearchesAndTick27Scans)
{
    connect();
    device.unplug();
    tick (11);  // lost, then ten back-off ticks
    fsm().setCurrentState (stateConnected);
    tick();     // a second disconnect starts the count again
    device.plug();

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

TEST_F (DeviceLink, PresenceLooksForTheStoredInputNameAmongTheOutputsWithLetterCaseIgnored)
{
    // The ports' names, which of them stay listed, and whether the next tick finds the device gone.
    struct Row { juce::String output, input; bool outputListed, inputListed, lost; };
    const Row rows[] {
        { "Norvo", "Norvo", true, true, false },        { "Norvo", "Norvo", true, false, false },
        { "Norvo", "Norvo", false, true, true },        { "Norvo", "Norvo", false, false, true },
        { "Norvo A", "Norvo a", true, true, false },    { "Norvo Out", "Norvo In", true, true, true },
    };

    for (const auto& row : rows)
    {
        VirtualMidiDevice named (row.output, row.input);
        const VirtualMidiDevice::ScopedInstall installNamed (named);
        connect();
        named.setListed (row.outputListed, row.inputListed);
        tick();
        EXPECT_EQ (Outcome (state(), take()), row.lost ? Outcome (stateDisconnected, { "d" }) : Outcome (stateConnected, {}))
            << row.output << " / " << row.input << " listed " << row.outputListed << row.inputListed;
    }
}

TEST_F (DeviceLink, TheUserMessageGateStaysOpenAcrossDisconnectsAndClosesSoTheNextConnectionSendsAtOnce)
{
    connect();
    manager().isCanSendUserMsg = true;
    device.unplug();
    tick();                 // the device is lost
    device.plug();
    tick (27);              // the back-off, then the scan
    closeDevice();
    tick (27);
    EXPECT_TRUE (manager().isCanSendUserMsg);
    hub->sysExMessage (3, start, 1);
    EXPECT_EQ (written(), (std::vector<Bytes> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 } }));
    EXPECT_EQ (take(), (Log { "d", "c", "d", "c" }));
}

TEST_F (DeviceLink, MessagesFromAnyOtherInputThanTheOpenOneAreIgnored)
{
    connect();

    for (const auto& source : { juce::String ("another-input"), juce::String(), device.getOutputIdentifier(), device.getInputIdentifier() })
        fsm().handleIncomingMidiMessage (source, frame());

    EXPECT_EQ (std::make_pair (delivered.load(), state()), std::make_pair (1, (juce::uint32) stateIdle));
}

TEST_F (DeviceLink, TheDeviceManagerPrintsEachEventCallsItsListenersLastToFirstStartsThe100MsTickAndTakesModelTypes3And4AsKind7)
{
    struct Named : public MIDIDeviceInterfaceListener
    {
        Named (DeviceLink& t, std::string n) : test (t), name (std::move (n)) {}
        void deviceConnected() override     { test.add (name + "c"); }
        void deviceDisconnected() override  { test.add (name + "d"); }
        void deviceCloseIgnored() override  { test.add (name + "i"); }
        DeviceLink& test;
        std::string name;
    } a (*this, "a"), b (*this, "b");

    auto* devices = KRMIDIDeviceManager::getInstance();
    devices->addConnectionListener (&a);
    devices->addConnectionListener (&b);
    testing::internal::CaptureStdout();

    for (int event : { 0, 1, 2, 3, -1 })
        devices->conectEvent (event);

    EXPECT_EQ (testing::internal::GetCapturedStdout(), "conectevent event :0\nconectevent event :1\nconectevent event :2\n"
                                                       "conectevent event :3\nconectevent event :-1\n");
    EXPECT_EQ (take(), (Log { "bc", "ac", "c", "bd", "ad", "d", "bi", "ai", "i" }));   // the hub was added first

    deleteTrafficSingletons();      // a fresh one starts its tick
    KRMIDIDeviceManager::getInstance();
    EXPECT_EQ (manager().getTimerInterval(), 100);
    manager().stopTimer();
    EXPECT_EQ (pair().getSendTimeLimit(), 5000);

    for (auto [type, kind] : { std::pair (0, 2), { 1, 2 }, { 2, 2 }, { 3, 7 }, { 4, 7 }, { 5, 2 }, { -1, 2 }, { 0xFFFF, 2 } })
    {
        ConstVar::getInstance()->deviceKind = 7;
        KRMIDIDeviceManager::getInstance()->setDeviceType (type);
        EXPECT_EQ (ConstVar::getInstance()->deviceKind.load(), kind) << type;
    }
}

TEST_F (DeviceLink, ClosingWhileADeliveryWaitsForTheMessageThreadDoesNotDeadlock)
{
    connect();
    std::atomic<int> entered { 0 }, gained { 0 };
    onDelivery = [&] { ++entered; const MessageThreadLock lock; gained += lock.lockWasGained() ? 1 : 0; };
    device.sendToHost (frame());

    while (entered == 0)    // the delivery now waits for this thread, which runs no message loop
        std::this_thread::yield();

    runWithinSeconds (5, "closeDevice", [this] { closeDevice(); });
    EXPECT_TRUE (device.waitUntilDelivered());
    EXPECT_EQ (std::make_pair (gained.load(), device.getNumOpenInputs()), std::make_pair (0, 0));

    connect();      // once the close is over, deliveries get the lock again
    device.sendToHost (frame());
    EXPECT_TRUE (pumpMessagesUntil ([&] { return gained.load() == 1; }));
}

TEST_F (DeviceLink, AtMostFiveSendsAreInFlightAndThePairMayGoWhileTheyRun)
{
    connect();
    device.setWriteBlocked (true);

    for (int i = 0; i < 6; ++i)
        pair().sendMessage (frame());

    EXPECT_EQ (pair().getSendsInFlight(), 5);
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device.getNumBlockedWrites() == 5; }));
    MIDIManager::deleteInstance();
    device.setWriteBlocked (false);
    EXPECT_TRUE (pumpMessagesUntil ([&] { return device.getNumOpenOutputs() == 0; }));     // released by the last sender
    EXPECT_EQ (device.getNumWritten(), 5);
}

// A send thread holds its place until the time limit; the state machine's send closes the ports, and from
// within a delivery it stops the input at once and deletes it later, on the message thread.
TEST_F (DeviceLink, AWriteThatThrowsIsSwallowedOnASendThreadAndClosesThePortsWhenTheStateMachineSendsEvenWithinADelivery)
{
    connect();
    pair().setSendTimeLimit (50);
    device.setThrowOnWrite (true);
    const auto sentAt = juce::Time::getMillisecondCounterHiRes();
    pair().sendMessage (frame());     // an escaping exception would end the process

    EXPECT_EQ (pair().getSendsInFlight(), 1);
    EXPECT_TRUE (pumpMessagesUntil ([&] { return pair().getSendsInFlight() == 0; }));
    EXPECT_GE (juce::Time::getMillisecondCounterHiRes() - sentAt, 50.0);
    EXPECT_TRUE (pair().hasOutput());

    fsm().setCurrentState (stateIdle);
    fire (evSendSysEx);
    EXPECT_TRUE (state() == stateIdle && ! pair().hasInput() && ! pair().hasOutput());
    tick();
    EXPECT_EQ (Outcome (state(), take()), Outcome (stateDisconnected, { "d" }));

    connect();
    onDelivery = [this] { fire (evSendSysEx); };
    device.sendToHost (frame());
    ASSERT_TRUE (device.waitUntilDelivered());
    EXPECT_FALSE (pair().hasInput());
    EXPECT_EQ (std::make_pair (device.getNumStartedInputs(), device.getNumOpenInputs()), std::make_pair (0, 1));
    EXPECT_TRUE (pumpMessagesUntil ([&] { return device.getNumOpenInputs() == 0; }));
}

TEST_F (DeviceLink, TheDeviceStateRequestSendsBothFramesASecondAfterConnectionAnd200MsApartBothAnswersArriveAndAPendingOneDiesWithTheManager)
{
    tick();
    const auto connectedAt = juce::Time::getMillisecondCounterHiRes();
    manager().sendDeviceState();    // as the user side does on connection
    testing::internal::CaptureStdout();
    const auto bothWritten = pumpMessagesUntil ([&] { return device.getNumWritten() == 2; }, 4000);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "set isCanSendUserMsg:1 \n21,25,7E,4D,5A,2D,0A,11,04,00,00,00,00,01,02,00,00,00,00,00,\n"
                                                       "ADDR_SYS_SOFTWARE_STATE:21,25,7e,4d,5a,2d,0a,11, 12,00,00,00, \n");
    ASSERT_TRUE (bothWritten);
    EXPECT_TRUE (state() == stateConnected && manager().isCanSendUserMsg);     // the frames bypass the state machine

    const auto frames = device.getWrittenMessages();
    EXPECT_EQ (written(), (std::vector<Bytes> { concat ({ signature, { 0x11, 4, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0xF7 } }),
                                                concat ({ signature, { 0x11, 0x12, 0, 0, 0, 0xF7 } }) }));
    EXPECT_GE (frames[0].timeMs - connectedAt, 990.0);
    EXPECT_GE (frames[1].timeMs - connectedAt, 1190.0);     // 200 ms after the first was handed over

    device.sendToHost (toMessage (chunk (8, 0, { 0x01, 0x20, 0x04, 0x00, 3, 0, 0, 0 })));     // record 0x2001: state 3
    device.sendToHost (DeviceStateResponder::makeSystemReply (3, std::nullopt));
    ASSERT_TRUE (pumpMessagesUntil ([&] { const std::lock_guard<std::mutex> g (lock); return log.size() == 3; }));
    EXPECT_EQ (take(), (Log { "c", "state 3", "state 3" }));

    manager().sendDeviceState();    // still pending when the manager goes: dropped
    deleteTrafficSingletons();
    testing::internal::CaptureStdout();
    pumpMessagesFor (MIDIManager::deviceStateDelayMs + 200);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
}

// Update messages go out only once user messages are allowed; record requests leave through the pump; the jump sends two frames and closes.
TEST_F (DeviceLink, UserTrafficLeavesAsItsFramesAndUpdateRepliesComeBackRaw)
{
    connect();
    hub->sysExMessage (3, start, 1);    // dropped: user messages are not allowed yet
    manager().isCanSendUserMsg = true;
    hub->sysExMessage (3, start, 1);
    hub->sysExMessage (0, start, 1);
    hub->requestRecord2002();
    SendMsgHander::getInstance()->requestRecord1006();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device.getNumWritten() == 4; }));

    device.sendToHost (toMessage ({ 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 }));
    ASSERT_TRUE (device.waitUntilDelivered());
    hub->softwareJump();
    EXPECT_EQ (take(), (Log { "reply f0 7e 48 04 7f f7", "d" }));

    EXPECT_EQ (written(), (std::vector<Bytes> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 }, { 0xF0, 0xF7 },
                                              concat ({ signature, { 0x11, 4, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 0, 0xF7 } }),
                                              concat ({ signature, { 0x11, 4, 0, 0, 0, 0, 6, 1, 0, 0, 0, 0, 0, 0xF7 } }),
                                              concat ({ signature, { 0x12, 4, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0xF7 } }),
                                              concat ({ signature, { 0x12, 0x12, 0, 0x20, 0, 0xF7 } }) }));
}

// Replies are walked on the MIDI input thread while the message thread changes the list.
TEST (Hub, ListenersAreCalledNewestFirstMayChangeTheListDuringAWalkAndAreNeverCalledAfterTheirRemoval)
{
    struct Listener : public UpdateUIListener
    {
        Listener (Log& l, std::string n) : log (l), name (std::move (n)) {}
        void deviceConnected() override                         { log.push_back (name); if (onCall) onCall(); }
        void deviceReply (int, const juce::uint8*) override     { ++calls; juce::Thread::yield(); ++calls; }    // plain: overlapping calls race

        Log& log;
        std::string name;
        std::function<void()> onCall;
        int calls = 0;
    };

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

TEST (Hub, SendsGoToTheSendersRepliesToTheListenersOtherDirectionsNowhereAndTheStateFlagIsAlwaysFalse)
{
    struct Both : public UpdateUIListener, public SendMsgListener
    {
        void sendSysEx (const juce::uint8* d, int n) override       { log.push_back ("send " + std::to_string (n) + (d == bytes ? "" : " copied")); }
        void deviceReply (int n, const juce::uint8* d) override     { log.push_back ("reply " + std::to_string (n) + (d == bytes ? "" : " copied")); }
        void deviceState (int s, bool flag) override                { log.push_back ("state " + std::to_string (s) + (flag ? " true" : " false")); }
        const juce::uint8 bytes[5] = { 0xF0, 0x7E, 0x48, 0x04, 0x7F };
        Log log;
    } both;

    PresetManager hub;
    hub.addUpdateListener (&both);
    hub.addSendListener (&both);

    for (int direction : { 1, 0, 2, -1 })
        hub.sysExMessage (5, both.bytes, direction);

    for (int state : { 1, 3 })
        hub.deviceState (state);

    EXPECT_EQ (both.log, (Log { "send 5", "reply 5", "state 1 false", "state 3 false" }));
}

static Bytes record (int type, const Bytes& payload, int length)    { return concat ({ { (juce::uint8) type, (juce::uint8) (type >> 8), (juce::uint8) length, (juce::uint8) (length >> 8) }, payload }); }
static Bytes record (int type, const Bytes& payload)                { return record (type, payload, (int) payload.size()); }

/** A transport and a record dispatcher whose frames, pauses and results are logged in order.
    Received bytes are handed over in a buffer of exactly their size, so that reading past them shows. */
struct Wire : public ::testing::Test, public COMMIntf, public MIDIReciverListener, public DataListener
{
    Wire()              { transport.addReceiver (this); dispatcher.addListener (this); }
    ~Wire() override    { deleteTrafficSingletons(); }     // record 0x2001 builds the device link

    int send (const juce::Array<juce::uint8>& f, int n) override    { add ("send", Bytes (f.begin(), f.begin() + n)); return n; }
    void programChange (const juce::uint8* d, int n) override       { add ("program", Bytes (d, d + n)); }
    void controlChange (const juce::uint8* d, int n) override       { add ("control", Bytes (d, d + n)); }
    void handlePacket (const juce::uint8* d, int n) override        { add ("packet", Bytes (d, d + n)); }
    void systemReply (const juce::uint8* d, int n) override         { add ("system", Bytes (d, d + n)); }
    void sysExReply (const juce::uint8* d, int n) override          { add ("update", Bytes (d, d + n)); }
    void sendProgress (int offset, int total) override              { add ("progress " + std::to_string (offset) + "/" + std::to_string (total)); }
    void deviceState (int state) override                           { add ("state " + std::to_string (state) + " kind " + std::to_string (ConstVar::getInstance()->deviceKind)); }

    void packetDecoded (int length, int value1, int value2, juce::Array<int> types, int) override
    {
        add ("decoded " + std::to_string (length) + " " + std::to_string (value1) + " " + std::to_string (value2));
        for (auto type : types) log.back() += " " + juce::String::toHexString (type).toStdString();
    }

   #define NORVO_KEEP(id) \
    void receivedRecord##id (const void* r, int zero) override  { add ("record" + std::to_string (zero), Bytes ((const juce::uint8*) r, (const juce::uint8*) r + sizeof (Records::Record##id))); }

    NORVO_KEEP (0000) NORVO_KEEP (0002) NORVO_KEEP (0005) NORVO_KEEP (0006) NORVO_KEEP (0007) NORVO_KEEP (0008) NORVO_KEEP (0009)
    NORVO_KEEP (000A) NORVO_KEEP (000B) NORVO_KEEP (000C) NORVO_KEEP (000D) NORVO_KEEP (000E) NORVO_KEEP (000F) NORVO_KEEP (0010)
    NORVO_KEEP (0013) NORVO_KEEP (0014) NORVO_KEEP (0015) NORVO_KEEP (0016) NORVO_KEEP (1000) NORVO_KEEP (1001) NORVO_KEEP (1002)
    NORVO_KEEP (1004) NORVO_KEEP (1005) NORVO_KEEP (1007) NORVO_KEEP (1008) NORVO_KEEP (1009) NORVO_KEEP (100B) NORVO_KEEP (100C)
    NORVO_KEEP (100D) NORVO_KEEP (100E) NORVO_KEEP (100F) NORVO_KEEP (1011) NORVO_KEEP (2003) NORVO_KEEP (2005) NORVO_KEEP (2006)
   #undef NORVO_KEEP

    void add (const std::string& what, const Bytes& bytes = {})
    {
        log.push_back (bytes.empty() ? what : what + " " + hex (bytes));
        lockHeld.push_back (juce::MessageManager::getInstance()->currentThreadHasLockedMessageManager());
    }

    void enqueue (const Bytes& m)       { transport.enqueueMessage (juce::Array<juce::uint8> (m.data(), (int) m.size())); }
    void pump (int ticks = 200)         { for (int i = 0; i < ticks; ++i) transport.sendPump(); }

    template <typename Receive>
    void handOver (const Bytes& bytes, Receive&& receive)   { const auto exact = std::make_unique<juce::uint8[]> (bytes.size()); std::copy (bytes.begin(), bytes.end(), exact.get()); receive (exact.get(), (int) bytes.size()); }

    void receive (const Bytes& m)       { handOver (m, [this] (auto* d, int n) { transport.onReceive (d, n); }); }
    void dispatch (const Bytes& p)      { handOver (p, [this] (auto* d, int n) { dispatcher.getReceiver().handlePacket (d, n); }); }

    /** Runs the work on a stand-in for the MIDI input thread, which must wait for the message loop to finish it. */
    void runOnInputThreadUnderTheMessageManagerLock (const std::function<void()>& work)
    {
        std::atomic<bool> done { false };
        std::thread input ([&] { work(); done = true; });
        std::this_thread::sleep_for (std::chrono::milliseconds (100));
        EXPECT_FALSE (done);    // this thread runs no message loop meanwhile
        EXPECT_TRUE (pumpMessagesUntil ([&] { return done.load(); }));
        input.join();
    }

    Log log;
    std::vector<bool> lockHeld;     // for each entry of the log
    CPackTrans transport { this, [this] (int ms) { add ("sleep " + std::to_string (ms)); } };
    ReceivedMsgHandle dispatcher;
};

/** The chunk of counting (total) at the offset, as the link is given it: without F0 and F7. */
static std::string sent (int total, int offset, int count)  { const auto f = chunk (total, offset, counting (count, offset)); return "send " + hex (Bytes (f.begin() + 1, f.end() - 1)); }

TEST_F (Wire, MessagesGoOutIn183ByteChunksWithTheirPausesUpTo16383Bytes)
{
    const std::map<int, Log> cases
    {
        { 0,   { sent (0, 0, 0), "progress 0/0", "sleep 5" } },
        { 183, { sent (183, 0, 183), "progress 183/183", "sleep 5" } },
        { 184, { sent (184, 0, 183), sent (184, 183, 1), "progress 184/184", "sleep 1000", "sleep 5" } },
        { 366, { sent (366, 0, 183), sent (366, 183, 183), "progress 366/366", "sleep 1000", "sleep 5" } },
        { 600, { sent (600, 0, 183), sent (600, 183, 183), "sleep 5", sent (600, 366, 183), "sleep 5", sent (600, 549, 51),
                 "progress 600/600", "sleep 1000", "sleep 5" } },
        { 16384, {} },      // cannot be framed: refused
    };

    for (auto& [size, expected] : cases)
    {
        log.clear();
        enqueue (counting (size));
        pump();
        EXPECT_EQ (log, expected) << size;
    }

    log.clear();
    enqueue (counting (16383));     // the longest: 90 chunks, the last of 96 bytes
    pump (300);
    ASSERT_EQ (log.size(), 90u + 88 + 3);   // the chunks, the pauses between them, the progress and the last pauses
    EXPECT_EQ (log[177], sent (16383, 89 * 183, 96));
}

TEST_F (Wire, AResetDropsTheQueueTheMessageUnderWayAndEveryHalfReceivedPacket)
{
    enqueue (counting (400));
    enqueue ({ 9, 9 });
    pump (2);                                               // the first chunk of 400 is out
    receive (chunk (400, 0, counting (183)));
    receive (chunk (10, 0, counting (4)));                  // another slot, half received

    transport.reset();
    log.clear();
    pump();
    receive (chunk (10, 4, counting (6, 4)));               // continues nothing any more
    receive (chunk (3, 0, counting (3)));
    EXPECT_EQ (log, (Log { "packet " + hex (counting (3)) }));
}

TEST_F (Wire, DeviceCommandThreeDropsTheQueuedMessagesWhileTheCurrentOneGoesOn)
{
    enqueue (counting (400));
    enqueue ({ 9, 9 });
    pump (2);

    runOnInputThreadUnderTheMessageManagerLock ([this] { receive (concat ({ signature, { 0x03, 0xF7 } })); });

    log.clear();
    pump();
    EXPECT_EQ (log, (Log { sent (400, 183, 183), "sleep 5", sent (400, 366, 34), "progress 400/400", "sleep 1000", "sleep 5" }));
}

TEST_F (Wire, IncomingMessagesAreClassifiedWithoutReadingPastTheirEnd)
{
    const auto reply = concat ({ signature, { 0x11, 0x12, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00, 0xF7 } });
    const auto empty = chunk (0, 0, {});

    // A message, how many of its bytes arrive, and what it is taken for: the first test that matches.
    std::vector<std::tuple<Bytes, long, std::string>> cases
    {
        { { 0xB3, 0x07, 0x64 }, 3, "control" }, { { 0xC1, 0x05 }, 2, "program" }, { { 0x90, 0x3C }, 2, "" }, { { 0xF0, 0x7E }, 2, "" },
        { { 0xF0, 0x7E, 0x48, 0xF7 }, 4, "update" }, { { 0xF0, 0x7E, 0x48, 0, 0, 0, 0, 0, 0, 0x12, 0, 0, 0, 1, 0xF7 }, 15, "update" },
        { { 0xF0, 0x7E, 0x47, 0xF7 }, 4, "" }, { { 0xF0, 0x7E, 0x49, 0, 0, 0, 0, 0, 0, 0x12, 0, 0, 0, 1, 0xF7 }, 15, "system" },
        { reply, 15, "system" }, { reply, 16, "system" }, { reply, 17, "" }, { empty, 14, "packet" },
    };

    for (long length = 1; length < 14; ++length)    // an empty chunk cut short
        cases.emplace_back (empty, length, "");

    for (auto& [message, length, kind] : cases)
    {
        log.clear();
        const Bytes received (message.begin(), message.begin() + length);
        receive (received);
        EXPECT_EQ (log, kind.empty() ? Log() : Log { kind == "packet" ? kind : kind + " " + hex (received) }) << hex (received);
    }
}

TEST_F (Wire, ChunksAreReassembledOnlyInOrderAndWithin16384Bytes)
{
    receive (chunk (400, 0, counting (183)));
    receive (chunk (400, 200, counting (100, 183)));        // wrong offset
    receive (chunk (401, 183, counting (183, 183)));        // right offset, other total
    receive (chunk (50, 10, counting (40)));                // continues nothing
    receive (chunk (400, 183, counting (183, 183)));
    auto last = chunk (400, 366, counting (34, 366));
    last.insert (last.end() - 1, 0x0E);                     // an odd nibble is ignored
    receive (last);

    const int total = 16383, lastOffset = 89 * 183;         // a last chunk that would end past the buffer is dropped

    for (int offset = 0; offset < lastOffset; offset += 183)
        receive (chunk (total, offset, counting (183, offset)));

    receive (chunk (total, lastOffset, counting (total - lastOffset + 2, lastOffset)));
    receive (chunk (total, lastOffset, counting (total - lastOffset, lastOffset)));
    EXPECT_EQ (log, (Log { "packet " + hex (counting (400)), "packet " + hex (counting (total)) }));

    receive (chunk (0, 0, {}));                             // the ring's current slot is free: needs no new one
    EXPECT_EQ (log.size(), 3u);
}

TEST_F (Wire, APacketThatNeverCompletesGivesUpItsSlotWhenTheRingComesRound)
{
    const Bytes foreign { 0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x07, 0x00, 0x00, 0x00, 0x01, 0x02, 0xF7 };
    const std::map<std::string, Bytes> stuck
    {
        { "interrupted two-chunk packet", chunk (300, 0, counting (183)) },
        { "1 MiB SysEx", chunk (20, 0, counting (1 << 19)) },
        { "foreign 16-byte SysEx", foreign },
    };

    Log good;

    for (int i = 0; i < 200; ++i)
        good.push_back ("packet " + hex (counting (3, 0, i)));

    for (auto& [kind, bytes] : stuck)
    {
        log.clear();
        receive (bytes);

        for (int i = 0; i < 200; ++i)
            receive (chunk (3, 0, counting (3, 0, i)));

        EXPECT_EQ (log, good) << kind;
    }
}

TEST_F (Wire, EveryRecordTypeDeliversItsFixedLayoutCopyOrZerosWhileDataIsDisabled)
{
    // Type, payload size, bytes never copied (payload offset, count), whether the length is the one received.
    struct Layout { int type, size; std::vector<std::pair<int, int>> skipped; bool lengthAsReceived = false; };
    const std::vector<Layout> layouts
    {
        { 0x0000, 4, {} },             { 0x0002, 88, { { 15, 1 } } },   { 0x0005, 12, { { 2, 2 } } },   { 0x0006, 4, {} },
        { 0x0007, 20, { { 2, 2 } } },  { 0x0008, 16, { { 15, 1 } } },   { 0x0009, 20, { { 2, 2 } } },   { 0x000A, 20, { { 2, 2 } } },
        { 0x000B, 44, { { 2, 2 } } },  { 0x000C, 12, {} },              { 0x000D, 4, { { 3, 1 } } },    { 0x000E, 8, { { 2, 2 } } },
        { 0x000F, 8, { { 2, 2 }, { 6, 2 } } },                          { 0x0010, 4, {} },              { 0x0013, 4, { { 1, 3 } } },
        { 0x0014, 68, {} },            { 0x0015, 4, { { 2, 2 } } },     { 0x0016, 8, { { 1, 3 } } },    { 0x1000, 6, {} },
        { 0x1001, 4, {} },             { 0x1002, 8, { { 6, 2 } } },     { 0x1004, 124, {} },            { 0x1005, 8, { { 2, 2 } } },
        { 0x1007, 72, { { 56, 1 } } }, { 0x1008, 4, {} },               { 0x1009, 24, { { 2, 2 } } },   { 0x100B, 8, {}, true },
        { 0x100C, 20, { { 2, 2 } } },  { 0x100D, 20, { { 2, 2 } } },    { 0x100E, 40, { { 2, 2 } } },   { 0x100F, 4, {} },
        { 0x1011, 4, {}, true },       { 0x2003, 20, { { 2, 2 } } },    { 0x2005, 4, { { 2, 2 } } },    { 0x2006, 4, { { 3, 1 } } },
    };

    // Pass 1 puts 0xFFFF where 0x0002 maps it to 0 and where 0x000F keeps 11 bits of it; pass 2 disables data.
    for (int pass : { 0, 1, 2 })
        for (auto& layout : layouts)
        {
            ConstVar::getInstance()->dataEnabled = pass < 2;
            auto payload = counting (layout.size + 3);      // three bytes more than the layout, all present

            if (pass == 1)
                payload[0] = payload[1] = payload[4] = payload[5] = 0xFF;

            log.clear();
            dispatch (record (layout.type, payload));
            auto expected = record (layout.type, Bytes (payload.begin(), payload.begin() + layout.size),
                                    layout.lengthAsReceived ? layout.size + 3 : layout.size);

            for (auto [offset, count] : layout.skipped)
                std::fill_n (expected.begin() + 4 + offset, count, 0);

            if (pass == 1 && layout.type == 0x0002)
                expected[4] = expected[5] = 0;

            if (layout.type == 0x000F)
                expected[9] &= 0x07;

            if (pass == 2)
                std::fill (expected.begin() + 4, expected.end(), 0);

            EXPECT_EQ (log[0], "record0 " + hex (expected)) << std::hex << layout.type << " pass " << pass;
        }
}

TEST_F (Wire, RecordsAreTakenOnlyWhileHeaderPayloadAndLayoutLieInsideThePacket)
{
    ConstVar::getInstance()->dataEnabled = true;
    const auto packet = concat ({ record (0x0000, { 5, 0, 7, 0 }), record (0x1003, { 1, 2, 3 }), record (0x0006, { 1, 2, 3, 4 }),
                                  record (0x1004, counting (124)), record (0x0000, { 9, 0, 11, 0 }) });

    // From the end of each whole record on: the copies made (not of the unregistered 0x1003),
    // and the report: the values of the last type-0 record (-1 -2 without one), the types walked.
    const std::map<size_t, std::pair<size_t, std::string>> upTo { { 0, { 0, "-1 -2" } }, { 8, { 1, "7 5 0" } }, { 15, { 1, "7 5 0 1003" } },
                                                                  { 23, { 2, "7 5 0 1003 6" } }, { 151, { 3, "7 5 0 1003 6 1004" } },
                                                                  { 159, { 4, "11 9 0 1003 6 1004 0" } } };

    for (size_t cut = 0; cut <= packet.size(); ++cut)
    {
        log.clear();
        dispatch (Bytes (packet.begin(), packet.begin() + (long) cut));
        const auto& [copies, report] = std::prev (upTo.upper_bound (cut))->second;
        EXPECT_EQ (std::make_pair (log.size(), log.back()), std::make_pair (copies + 1, "decoded " + std::to_string (cut) + " " + report));
    }

    log.clear();    // a layout may read on into the next record, but not past the end of the packet
    dispatch (concat ({ record (0x0006, {}), record (0x0010, { 1, 2, 3, 4 }), record (0x0006, {}) }));
    EXPECT_EQ (log, (Log { "record0 06 00 04 00 10 00 04 00", "record0 10 00 04 00 01 02 03 04", "decoded 16 -1 -2 6 10" }));
}

TEST_F (Wire, ASystemReplyGivesTheStateAndItsLongFormTheKindFirst)
{
    // 15 bytes: the state; 16: the kind, then the state; another address or a short reply: nothing.
    const auto reply = concat ({ signature, { 0x11, 0x12, 0, 0, 0, 4, 7, 0xF7 } });
    auto otherAddress = reply;
    otherAddress[11] = 1;

    for (auto& [bytes, length] : std::vector<std::pair<Bytes, long>> { { reply, 15 }, { reply, 16 }, { otherAddress, 16 }, { reply, 12 } })
        handOver (Bytes (bytes.begin(), bytes.begin() + length), [this] (auto* d, int n) { dispatcher.getReceiver().systemReply (d, n); });

    EXPECT_EQ (log, (Log { "state 4 kind 2", "state 4 kind 7" }));
}

// Record 0x2001 sets the device kind from its model type before the state goes out.
TEST_F (Wire, RecordsAreDispatchedUnderTheMessageManagerLockAndTheModelComesBeforeTheState)
{
    KRMIDIDeviceManager::getInstance();     // built here, not on the input thread
    MIDIManager::getInstance()->stopTimer();
    ConstVar::getInstance()->dataEnabled = true;
    ConstVar::getInstance()->deviceKind = 7;

    runOnInputThreadUnderTheMessageManagerLock ([this] { dispatch (concat ({ record (0x2001, { 3, 0, 3, 0 }), record (0x0006, { 1, 2, 3, 4 }),
                                                                     record (0x2001, { 5, 0, 1, 0 }) })); });

    EXPECT_EQ (log, (Log { "state 3 kind 7", "record0 06 00 04 00 01 02 03 04", "state 5 kind 2", "decoded 24 -1 -2 2001 6 2001" }));
    EXPECT_EQ (lockHeld, std::vector<bool> (log.size(), true));
}
