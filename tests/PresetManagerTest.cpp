#include "device/PresetManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    using Log = std::vector<std::string>;

    struct UiRecorder : public UpdateUIListener
    {
        UiRecorder (Log& logToUse, std::string nameToUse) : log (logToUse), name (std::move (nameToUse)) {}

        void deviceConnected() override         { log.push_back (name + " connected"); }
        void deviceDisconnected() override      { log.push_back (name + " disconnected"); }
        void deviceCloseIgnored() override      { log.push_back (name + " closeIgnored"); }

        void deviceState (int state, bool flag) override
        {
            log.push_back (name + " state " + std::to_string (state) + (flag ? " true" : " false"));
        }

        void deviceReply (int length, const juce::uint8* data) override
        {
            log.push_back (name + " reply " + std::to_string (length));
            lastData = data;
        }

        Log& log;
        std::string name;
        const juce::uint8* lastData = nullptr;
    };

    struct SendRecorder : public SendMsgListener
    {
        SendRecorder (Log& logToUse, std::string nameToUse) : log (logToUse), name (std::move (nameToUse)) {}

        void requestRecord2002() override   { log.push_back (name + " request2002"); }
        void closeDevice() override         { log.push_back (name + " close"); }
        void softwareJump() override        { log.push_back (name + " jump"); }

        void sendSysEx (const juce::uint8* data, int length) override
        {
            log.push_back (name + " sysEx " + std::to_string (length));
            lastData = data;
        }

        Log& log;
        std::string name;
        const juce::uint8* lastData = nullptr;
    };

    struct Hub : public ::testing::Test
    {
        PresetManager hub;
        Log log;
    };
}

TEST_F (Hub, ConnectionEventsReachUpdateListenersNewestFirstAndSetTheState)
{
    UiRecorder mainComponent (log, "main"), engine (log, "engine");
    hub.addUpdateListener (&mainComponent);
    hub.addUpdateListener (&engine);
    hub.addUpdateListener (&mainComponent);

    EXPECT_EQ (hub.getConnectionState(), 0);
    hub.deviceConnected();
    EXPECT_EQ (hub.getConnectionState(), 1);
    hub.deviceState (3);
    EXPECT_EQ (hub.getConnectionState(), 2);
    hub.deviceDisconnected();
    EXPECT_EQ (hub.getConnectionState(), 4);
    hub.deviceCloseIgnored();
    EXPECT_EQ (hub.getConnectionState(), 4);
    hub.deviceConnected();
    EXPECT_EQ (hub.getConnectionState(), 1);

    EXPECT_EQ (log, (Log { "engine connected", "main connected",
                           "engine state 3 false", "main state 3 false",
                           "engine disconnected", "main disconnected",
                           "engine closeIgnored", "main closeIgnored",
                           "engine connected", "main connected" }));
}

TEST_F (Hub, SysExTowardTheDeviceGoesToSendersAndFromTheDeviceToUpdateListeners)
{
    const juce::uint8 bytes[] = { 0x7E, 0x48, 0x01, 0x02, 0x03 };

    hub.sysExMessage (5, bytes, 1);     // no sender yet: nothing happens

    UiRecorder listener (log, "ui");
    SendRecorder sender (log, "sender");
    hub.addUpdateListener (&listener);
    hub.addSendListener (&sender);

    hub.sysExMessage (5, bytes, 1);
    hub.sysExMessage (5, bytes, 0);
    hub.sysExMessage (5, bytes, 2);
    hub.sysExMessage (5, bytes, -1);

    EXPECT_EQ (log, (Log { "sender sysEx 5", "ui reply 5" }));
    EXPECT_EQ (sender.lastData, bytes);
    EXPECT_EQ (listener.lastData, bytes);
    EXPECT_FALSE (hub.isRequestHandled());
}

TEST_F (Hub, RequestsGoToEverySenderAndMarkTheRequestHandled)
{
    SendRecorder first (log, "first"), second (log, "second");
    hub.addSendListener (&first);
    hub.addSendListener (&second);

    hub.softwareJump();
    EXPECT_EQ (log, (Log { "second jump", "first jump", "second close", "first close" }));
    EXPECT_TRUE (hub.isRequestHandled());

    log.clear();
    hub.requestRecord2002();
    hub.closeDevice();
    EXPECT_EQ (log, (Log { "second request2002", "first request2002", "second close", "first close" }));

    PresetManager other;
    other.sendProgress (4, 4);
    EXPECT_TRUE (other.isRequestHandled());
    EXPECT_EQ (other.getConnectionState(), 0);
}

TEST_F (Hub, ListenerMayRemoveItselfOrOthersDuringAWalk)
{
    struct Leaver : public UiRecorder
    {
        using UiRecorder::UiRecorder;

        void deviceConnected() override
        {
            UiRecorder::deviceConnected();

            for (auto* other : toRemove)
                hub->removeUpdateListener (other);
        }

        PresetManager* hub = nullptr;
        std::vector<UpdateUIListener*> toRemove;
    };

    UiRecorder a (log, "a"), c (log, "c"), d (log, "d");
    Leaver b (log, "b");
    b.hub = &hub;
    b.toRemove = { &b, &d };

    for (UpdateUIListener* l : std::initializer_list<UpdateUIListener*> { &a, &b, &c, &d })
        hub.addUpdateListener (l);

    hub.deviceConnected();
    EXPECT_EQ (log, (Log { "d connected", "c connected", "b connected", "a connected" }));

    // One that has not been called yet and is removed is not called.
    log.clear();
    b.toRemove = { &b, &c };
    hub.addUpdateListener (&b);     // now a, c, b
    hub.deviceConnected();
    EXPECT_EQ (log, (Log { "b connected", "a connected" }));

    log.clear();
    hub.deviceConnected();
    EXPECT_EQ (log, (Log { "a connected" }));
}

TEST_F (Hub, ListenerAddedDuringAWalkIsNotCalledInIt)
{
    struct Adder : public UiRecorder
    {
        using UiRecorder::UiRecorder;
        void deviceDisconnected() override { UiRecorder::deviceDisconnected(); hub->addUpdateListener (newcomer); }
        PresetManager* hub = nullptr;
        UpdateUIListener* newcomer = nullptr;
    };

    Adder adder (log, "adder");
    UiRecorder newcomer (log, "new");
    adder.hub = &hub;
    adder.newcomer = &newcomer;
    hub.addUpdateListener (&adder);

    hub.deviceDisconnected();
    EXPECT_EQ (log, (Log { "adder disconnected" }));
    hub.deviceDisconnected();
    EXPECT_EQ (log, (Log { "adder disconnected", "new disconnected", "adder disconnected" }));
}

//==============================================================================
// Replies are walked on the MIDI input thread while the message thread adds and
// deletes listeners: a listener that has been removed must never be called again.
TEST_F (Hub, RemovedListenerIsNeverCalledAfterItsRemovalReturns)
{
    struct Counting : public UpdateUIListener
    {
        void deviceReply (int, const juce::uint8*) override
        {
            ++calls;
            juce::Thread::yield();
            ++calls;
        }

        int calls = 0;      // deliberately plain: a call after deletion is an error under the sanitizers
    };

    std::atomic<bool> stop { false };
    const juce::uint8 reply[] = { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 };

    std::thread input ([&]
    {
        while (! stop)
            hub.sysExMessage (6, reply, 0);
    });

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
