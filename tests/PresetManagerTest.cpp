#include "device/PresetManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    using Log = std::vector<std::string>;

    /** An update listener and sender that logs under its name; may change the hub's lists in a call. */
    struct Recorder : public UpdateUIListener,
                      public SendMsgListener
    {
        Recorder (Log& logToUse, std::string nameToUse) : log (logToUse), name (std::move (nameToUse)) {}

        void deviceConnected() override                     { add ("connected"); }
        void deviceDisconnected() override                  { add ("disconnected"); }
        void deviceCloseIgnored() override                  { add ("closeIgnored"); }
        void deviceState (int state, bool flag) override    { add ("state " + std::to_string (state) + (flag ? " true" : " false")); }
        void deviceReply (int length, const juce::uint8* d) override   { add ("reply " + std::to_string (length)); data = d; }
        void requestRecord2002() override                   { add ("request2002"); }
        void closeDevice() override                         { add ("close"); }
        void softwareJump() override                        { add ("jump"); }
        void sendSysEx (const juce::uint8* d, int length) override     { add ("sysEx " + std::to_string (length)); data = d; }

        void add (const std::string& what)
        {
            log.push_back (name + " " + what);

            if (onCall)
                onCall();
        }

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

TEST_F (Hub, EventsReachUpdateListenersAndRequestsReachSendersNewestFirst)
{
    const juce::uint8 bytes[] = { 0x7E, 0x48, 0x01, 0x02, 0x03 };
    hub.sysExMessage (5, bytes, 1);             // no sender yet: nothing happens

    Recorder main (log, "main"), engine (log, "engine");
    hub.addUpdateListener (&main);
    hub.addUpdateListener (&engine);
    hub.addUpdateListener (&main);              // held once
    hub.addSendListener (&main);
    hub.addSendListener (&engine);

    std::vector<int> states;
    const std::vector<std::function<void()>> events { [&] { hub.deviceConnected(); }, [&] { hub.deviceState (3); },
                                                      [&] { hub.deviceDisconnected(); }, [&] { hub.deviceCloseIgnored(); } };

    for (auto& event : events)
    {
        event();
        states.push_back (hub.getConnectionState());
    }

    EXPECT_EQ (states, (std::vector<int> { 1, 2, 4, 4 }));
    EXPECT_EQ (std::exchange (log, {}), (Log { "engine connected", "main connected", "engine state 3 false", "main state 3 false",
                                               "engine disconnected", "main disconnected", "engine closeIgnored", "main closeIgnored" }));

    // Direction 1 goes to the senders, 0 to the update listeners, others nowhere.
    for (int direction : { 1, 0, 2, -1 })
        hub.sysExMessage (5, bytes, direction);

    hub.softwareJump();
    hub.requestRecord2002();
    hub.closeDevice();

    EXPECT_EQ (log, (Log { "engine sysEx 5", "main sysEx 5", "engine reply 5", "main reply 5", "engine jump", "main jump",
                           "engine close", "main close", "engine request2002", "main request2002", "engine close", "main close" }));
    EXPECT_EQ (main.data, bytes);
    EXPECT_EQ (engine.data, bytes);
}

TEST_F (Hub, ListenersMayChangeTheListDuringAWalk)
{
    Recorder a (log, "a"), b (log, "b"), c (log, "c"), d (log, "d");

    for (auto* listener : { &a, &b, &c, &d })
        hub.addUpdateListener (listener);

    // b leaves with d, which was called already, and adds a newcomer, not called in this walk.
    Recorder newcomer (log, "new");
    b.onCall = [&] { hub.removeUpdateListener (&b); hub.removeUpdateListener (&d); hub.addUpdateListener (&newcomer); };
    hub.deviceConnected();
    EXPECT_EQ (std::exchange (log, {}), (Log { "d connected", "c connected", "b connected", "a connected" }));

    // newcomer leaves with c, which has not been called yet and is not.
    newcomer.onCall = [&] { hub.removeUpdateListener (&newcomer); hub.removeUpdateListener (&c); };
    hub.deviceConnected();
    EXPECT_EQ (log, (Log { "new connected", "a connected" }));
}

// Replies are walked on the MIDI input thread while the message thread adds and deletes
// listeners: once its removal has returned, a listener is never called again.
TEST_F (Hub, RemovedListenerIsNeverCalledAfterItsRemovalReturns)
{
    struct Counting : public UpdateUIListener
    {
        void deviceReply (int, const juce::uint8*) override { ++calls; juce::Thread::yield(); ++calls; }
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
