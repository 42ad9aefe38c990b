#include "device/PresetManager.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <thread>

static bool waitUntil (const std::function<bool()>& condition)
{
    for (int i = 0; i < 2000 && ! condition(); ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));

    return condition();
}

TEST (FirmwareUpdateRoad, AReplyIsHandledWhileAResentStartIsStillBeingWritten)
{
    // A write that fails closes the port pair, which waits for the input thread's delivery:
    // so the message thread must not hold the engine while it writes START.
    UpdateRoad road;
    ASSERT_TRUE (road.connect());
    road.peer.stayQuietAt (VirtualUpdatePeer::Step::start, 2);
    ASSERT_TRUE (road.start (FirmwareFileBuilder()));
    road.device.setWriteBlocked (true);

    std::thread device ([&road]
    {
        waitUntil ([&road] { return road.device.getNumBlockedWrites() > 0; });
        road.device.sendToHost (juce::MidiMessage::createSysExMessage ("\x7E\x48\x06", 3));   // abort
        EXPECT_TRUE (road.device.waitUntilDelivered (2000));
        road.device.setWriteBlocked (false);
    });

    road.expire();
    device.join();
    EXPECT_EQ (road.engine->getUpdatingState(), FirmwareUpdate::idleState);
}

TEST (FirmwareUpdateRoad, AnEngineBeingDeletedIgnoresTheRepliesThatStillArrive)
{
    struct Gate : public UpdateUIListener   // runs before the engine and holds a reply until its destructor has begun
    {
        void deviceReply (int, const juce::uint8*) override   { entered = true; waitUntil ([this] { return engine->getReplyTimeout() == 0; }); }
        FirmwareUpdate* engine = nullptr;
        std::atomic<bool> entered { false };
    } gate;

    UpdateRoad road;
    ASSERT_TRUE (road.connect());
    road.peer.stayQuietAt (VirtualUpdatePeer::Step::start);
    ASSERT_TRUE (road.start (FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (8))));
    gate.engine = road.engine.get();
    PresetManager::getInstance()->addUpdateListener (&gate);
    road.peer.sendWithheldReply();
    ASSERT_TRUE (waitUntil ([&gate] { return gate.entered.load(); }));
    road.engine.reset();
    PresetManager::getInstance()->removeUpdateListener (&gate);
    ASSERT_TRUE (road.device.waitUntilDelivered());
    EXPECT_EQ (road.device.getNumWritten(), 1);   // START only
}
