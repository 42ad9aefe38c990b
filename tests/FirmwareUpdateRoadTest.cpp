#include "device/ConstVar.h"
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

TEST (FirmwareUpdateRoad, TheDeviceReassemblesEverySectionByteForByte)
{
    struct Case { const char* port; int blockSize, refusedBlocks; std::vector<std::pair<int, size_t>> sections; };
    const Case cases[] = {
        { "Norvo", 64, 2, { { 0x00, 300 }, { 0x01, 64 }, { 0x02, 1000 }, { 0x10, 129 }, { 0x11, 77 } } },
        { "Norvo Mini MIDI 1", 64, 0, { { 0x00, 200 }, { 0x01, 3 * 64 }, { 0x02, 3 * 64 + 1 }, { 0x10, 65 } } },
        { "Norvo", 16, 0, {} },
        { "Norvo", 1, 0, { { 0x00, 40 }, { 0x02, 9 }, { 0x11, 300 } } },   // block indexes past 127
        { "Norvo", 255, 1, { { 0x00, 255 * 4 }, { 0x01, 1 }, { 0x10, 256 }, { 0x11, 254 } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.blockSize);
        UpdateRoad road (c.port);
        road.peer.setBlockSize (c.blockSize);
        road.peer.setFault (VirtualUpdatePeer::Step::block, VirtualUpdatePeer::Fault::refuse, c.refusedBlocks, 5);
        ASSERT_TRUE (road.connect());
        FirmwareFileBuilder file;
        file.model (ConstVar::getInstance()->isFullSizeModel ? "MZ-70" : "MZ-9");

        for (auto [id, size] : c.sections)
            file.section (id, FirmwareFileBuilder::pattern (size, id));

        ASSERT_TRUE (road.start (file));
        ASSERT_TRUE (road.waitFor (updateFinished));
        EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString ("; ");
        EXPECT_EQ (road.engine->blocksDone.load(), (juce::uint32) road.engine->totalBlocks.load());
        const auto sections = road.peer.getSections();
        ASSERT_EQ (sections.size(), c.sections.size());

        for (size_t i = 0; i < sections.size(); ++i)
            EXPECT_EQ (sections[i].data, FirmwareFileBuilder::pattern (c.sections[i].second, c.sections[i].first)) << i;
    }
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
        void deviceReply (int, const juce::uint8*) override
        {
            entered = true;
            waitUntil ([this] { return engine->getReplyTimeout() == 0; });
        }

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
