#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/PresetManager.h"
#include "device/SendMsgHander.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficBytes.h"
#include "tests/support/TrafficSingletons.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace traffic;
using Log = std::vector<std::string>;

namespace
{
    /** An update listener and sender that logs its calls under its name, and may run a
        change of the hub's lists in each.
    */
    struct Recorder : public UpdateUIListener,
                      public SendMsgListener
    {
        Recorder (Log& l, std::string n) : log (l), name (std::move (n)) {}

        void deviceConnected() override                     { add ("connected"); }
        void deviceDisconnected() override                  { add ("disconnected"); }
        void deviceCloseIgnored() override                  { add ("closeIgnored"); }
        void deviceState (int state, bool flag) override    { add ("state " + std::to_string (state) + (flag ? " true" : " false")); }
        void deviceReply (int n, const juce::uint8* d) override     { add ("reply " + std::to_string (n)); data = d; }
        void sendSysEx (const juce::uint8* d, int n) override       { add ("sysEx " + std::to_string (n)); data = d; }
        void requestRecord2002() override                   { add ("request2002"); }
        void closeDevice() override                         { add ("close"); }
        void softwareJump() override                        { add ("jump"); }
        void add (const std::string& what)                  { log.push_back (name + " " + what); if (onCall) onCall(); }

        Log& log;
        std::string name;
        const juce::uint8* data = nullptr;
        std::function<void()> onCall;
    };

    struct Hub : public ::testing::Test
    {
        PresetManager hub;
        Log log;
    };
}

TEST_F (Hub, EventsAndRepliesReachTheUpdateListenersAndRequestsTheSendersNewestFirst)
{
    const juce::uint8 bytes[] = { 0x7E, 0x48, 0x01, 0x02, 0x03 };
    hub.sysExMessage (5, bytes, 1);             // no sender yet: nothing happens
    Recorder main (log, "main"), engine (log, "engine");

    for (auto* recorder : { &main, &engine, &main })    // held once
    {
        hub.addUpdateListener (recorder);
        hub.addSendListener (recorder);
    }

    std::vector<int> states;

    for (auto& event : std::vector<std::function<void()>> { [&] { hub.deviceConnected(); }, [&] { hub.deviceState (3); },
                                                            [&] { hub.deviceDisconnected(); }, [&] { hub.deviceCloseIgnored(); } })
    {
        event();
        states.push_back (hub.getConnectionState());
    }

    for (int direction : { 1, 0, 2, -1 })       // toward the device, from it, nowhere
        hub.sysExMessage (5, bytes, direction);

    hub.softwareJump();
    hub.requestRecord2002();
    hub.closeDevice();

    EXPECT_EQ (states, (std::vector<int> { 1, 2, 4, 4 }));
    EXPECT_EQ (log, (Log { "engine connected", "main connected", "engine state 3 false", "main state 3 false", "engine disconnected",
                           "main disconnected", "engine closeIgnored", "main closeIgnored", "engine sysEx 5", "main sysEx 5", "engine reply 5",
                           "main reply 5", "engine jump", "main jump", "engine close", "main close", "engine request2002",
                           "main request2002", "engine close", "main close" }));
    EXPECT_TRUE (main.data == bytes && engine.data == bytes);
}

TEST_F (Hub, ListenersMayChangeTheListDuringAWalk)
{
    Recorder a (log, "a"), b (log, "b"), c (log, "c"), d (log, "d"), newcomer (log, "new");

    for (auto* listener : { &a, &b, &c, &d })
        hub.addUpdateListener (listener);

    // b leaves with d, called already, and adds a newcomer, not called in this walk.
    b.onCall = [&] { hub.removeUpdateListener (&b); hub.removeUpdateListener (&d); hub.addUpdateListener (&newcomer); };
    hub.deviceConnected();
    // The newcomer leaves with c, which has not been called yet and is not.
    newcomer.onCall = [&] { hub.removeUpdateListener (&newcomer); hub.removeUpdateListener (&c); };
    hub.deviceConnected();

    EXPECT_EQ (log, (Log { "d connected", "c connected", "b connected", "a connected", "new connected", "a connected" }));
}

// Replies are walked on the MIDI input thread while the message thread adds and removes
// listeners: once its removal has returned, a listener is never called again.
TEST_F (Hub, ARemovedListenerIsNeverCalledAfterItsRemovalReturns)
{
    struct Counting : public UpdateUIListener
    {
        void deviceReply (int, const juce::uint8*) override     { ++calls; juce::Thread::yield(); ++calls; }
        int calls = 0;      // plain on purpose: an overlapping call is a race for the sanitizers
    };

    std::atomic<bool> stop { false };
    const juce::uint8 reply[] = { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 };
    std::thread input ([&] { while (! stop) hub.sysExMessage (6, reply, 0); });

    for (int i = 0; i < 2000; ++i)
    {
        auto listener = std::make_unique<Counting>();
        hub.addUpdateListener (listener.get());
        juce::Thread::yield();
        hub.removeUpdateListener (listener.get());
        EXPECT_EQ (listener->calls % 2, 0);
    }

    stop = true;
    input.join();
}

//==============================================================================
/** The whole device link on a virtual device, with a user side on the hub that asks for the
    device state on connection as the main component does.
*/
struct Traffic : public ::testing::Test,
                 public UpdateUIListener
{
    Traffic()
    {
        deleteTrafficSingletons();
        hub = PresetManager::getInstance();
        hub->addUpdateListener (this);
        KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);
        MIDIManager::getInstance()->stopTimer();    // ticks by hand
    }

    ~Traffic() override     { deleteTrafficSingletons(); }

    void deviceConnected() override                     { add ("connected"); MIDIManager::getInstance()->sendDeviceState(); }
    void deviceState (int state, bool) override         { add ("state " + std::to_string (state)); }
    void deviceDisconnected() override                  { add ("disconnected"); }
    void deviceReply (int n, const juce::uint8* d) override     { add ("reply " + juce::String::toHexString (d, n).toStdString()); }
    void add (const std::string& entry)                 { const std::lock_guard<std::mutex> guard (lock); log.push_back (entry); }
    Log take()                                          { const std::lock_guard<std::mutex> guard (lock); return std::exchange (log, {}); }

    VirtualMidiDevice device;
    VirtualMidiDevice::ScopedInstall install { device };
    DeviceStateResponder responder { device, 3 };
    PresetManager* hub = nullptr;
    std::mutex lock;
    Log log;
};

TEST_F (Traffic, AConnectedDeviceIsAskedForItsStateASecondLaterAndTheAnswersReachTheUserSide)
{
    MIDIManager::getInstance()->timerCallback();
    const auto connectedAt = juce::Time::getMillisecondCounterHiRes();
    EXPECT_EQ (take(), (Log { "connected" }));
    ASSERT_TRUE (pumpMessagesUntil ([&] { const std::lock_guard<std::mutex> guard (lock); return log.size() == 2; }, 4000));

    const auto frames = device.getWrittenMessages();
    ASSERT_EQ (frames.size(), 2u);
    EXPECT_TRUE (DeviceStateResponder::isInformationRequest (frames[0].message));
    EXPECT_TRUE (DeviceStateResponder::isStateRead (frames[1].message));
    EXPECT_GE (frames[0].timeMs - connectedAt, 990.0);
    EXPECT_EQ (take(), (Log { "state 3", "state 3" }));     // from record 0x2001 and from the system reply
    EXPECT_EQ (hub->getConnectionState(), 2);
}

// Update messages go out wrapped once user messages are allowed, their replies come back raw;
// record requests leave through the pump; the jump sends its two frames, prints one line and closes.
TEST_F (Traffic, UserSideTrafficLeavesAsItsFramesAndUpdateRepliesComeBackRaw)
{
    const juce::uint8 start[] = { 0x7E, 0x48, 0x01 };
    MIDIManager::getInstance()->timerCallback();
    hub->sysExMessage (3, start, 1);                    // dropped: user messages not allowed yet
    MIDIManager::getInstance()->isCanSendUserMsg = true;
    hub->sysExMessage (3, start, 1);
    hub->sysExMessage (0, start, 1);
    hub->requestRecord2002();
    SendMsgHander::getInstance()->requestRecord1006();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device.getNumWritten() == 4; }));
    EXPECT_TRUE (hub->isRequestHandled());              // the send progress reached the hub

    device.sendToHost (toMessage ({ 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 }));
    ASSERT_TRUE (device.waitUntilDelivered());
    EXPECT_EQ (take(), (Log { "connected", "reply f0 7e 48 04 7f f7" }));

    testing::internal::CaptureStdout();
    hub->softwareJump();
    EXPECT_EQ (testing::internal::GetCapturedStdout(),
               "ADDR_SYS_SOFTWARE_JUMP:21,25,7e,4d,5a,2d,0a,12, 12,00,20,00, \nconectevent event :1\n");

    std::vector<Bytes> written;

    for (auto& w : device.getWrittenMessages())
        written.push_back (bytesOf (w.message));

    EXPECT_EQ (written, (std::vector<Bytes> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 }, { 0xF0, 0xF7 },
        concat ({ signature, { 0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } }),
        concat ({ signature, { 0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } }),
        concat ({ signature, { 0x12, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } }),
        concat ({ signature, { 0x12, 0x12, 0x00, 0x20, 0x00, 0xF7 } }) }));
    EXPECT_FALSE (MIDIManager::getInstance()->getPortPair().hasOutput());
    EXPECT_EQ (take(), (Log { "disconnected" }));
}
