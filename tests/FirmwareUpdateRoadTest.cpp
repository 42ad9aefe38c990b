#include "device/ConstVar.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    using Step = VirtualUpdatePeer::Step;

    struct Section
    {
        int id;
        size_t size;
    };

    FirmwareFileBuilder fileWith (const char* model, const std::vector<Section>& sections)
    {
        FirmwareFileBuilder builder;
        builder.model (model).version (2, 0, 7, 1);
        int seed = 1;

        for (const auto& s : sections)
            builder.section (s.id, FirmwareFileBuilder::pattern (s.size, seed++));

        return builder;
    }

    /** The payloads that must arrive: sections with data only (the tables list them in transfer order). */
    std::vector<juce::MemoryBlock> expectedPayloads (const std::vector<Section>& sections)
    {
        std::vector<juce::MemoryBlock> result;

        for (size_t i = 0; i < sections.size(); ++i)
            if (sections[i].size > 0)
                result.push_back (FirmwareFileBuilder::pattern (sections[i].size, (int) i + 1));

        return result;
    }

    struct WholeUpdate
    {
        const char* name;
        const char* port;
        const char* model;
        std::vector<Section> sections;
        int blockSize;
        std::vector<int> selects;
    };

    void PrintTo (const WholeUpdate& update, std::ostream* os)   { *os << update.name; }

    const WholeUpdate wholeUpdates[] = {
        { "FullSizeFiveSections", "Norvo", "MZ-70",
          { { 0x00, 300 }, { 0x01, 64 }, { 0x02, 1000 }, { 0x10, 129 }, { 0x11, 77 } }, 64,
          { 0x00, 0x01, 0x02, 0x10, 0x11 } },
        { "MiniFourSectionsOfExactBlocksAndOneByteMore", "Norvo Mini MIDI 1", "MZ-9",
          { { 0x00, 200 }, { 0x01, 3 * 64 }, { 0x02, 3 * 64 + 1 }, { 0x10, 65 } }, 64,
          { 0x00, 0x01, 0x02, 0x10, 0x11 } },
        { "AllSectionsEmpty", "Norvo", "MZ-70",
          { { 0x00, 0 }, { 0x01, 0 }, { 0x02, 0 }, { 0x10, 0 }, { 0x11, 0 } }, 64,
          { 0x00 } },
        { "FirstAndFourthSectionOnly", "Norvo", "MZ-70",
          { { 0x00, 100 }, { 0x10, 100 } }, 16,
          { 0x00, 0x01, 0x11 } },
        { "BlockSizeOneAndIndexesPast127", "Norvo", "MZ-70",
          { { 0x00, 40 }, { 0x02, 9 }, { 0x11, 300 } }, 1,
          { 0x00, 0x01, 0x10 } },
        { "BlockSize255", "Norvo", "MZ-70",
          { { 0x00, 255 * 4 }, { 0x01, 1 }, { 0x10, 256 }, { 0x11, 254 } }, 255,
          { 0x00, 0x01, 0x02, 0x11 } },
    };

    class FirmwareUpdateRoad : public ::testing::TestWithParam<WholeUpdate> {};
}

//==============================================================================
TEST_P (FirmwareUpdateRoad, DeviceReassemblesEveryPayloadByteForByte)
{
    const auto& c = GetParam();
    UpdateRoad road (c.port);
    road.peer.setBlockSize (c.blockSize);
    ASSERT_TRUE (road.connect());
    EXPECT_EQ (ConstVar::getInstance()->isFullSizeModel.load(), std::string (c.model) == "MZ-70");

    ASSERT_TRUE (road.start (fileWith (c.model, c.sections)));
    ASSERT_TRUE (road.waitFor (updateFinished));

    EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString ("; ");
    EXPECT_EQ (road.peer.getVersion(), juce::MemoryBlock ("\x02\x00\x07\x01", 4));
    EXPECT_EQ (road.peer.getCount (Step::start), 1);
    EXPECT_EQ (road.peer.getCount (Step::metadata), 1);
    EXPECT_EQ (road.peer.getSelects(), c.selects);

    const auto expected = expectedPayloads (c.sections);
    const auto sections = road.peer.getSections();
    ASSERT_EQ (sections.size(), expected.size());

    for (size_t i = 0; i < sections.size(); ++i)
        EXPECT_TRUE (sections[i].ended && sections[i].data == expected[i]) << "section " << i;

    int blocks = 0;

    for (const auto& s : c.sections)
        blocks += (int) ((s.size + (size_t) c.blockSize - 1) / (size_t) c.blockSize);

    EXPECT_EQ (road.peer.getCount (Step::block), blocks);
    EXPECT_EQ (road.engine->totalBlocks.load(), blocks);
    EXPECT_EQ (road.engine->blocksDone.load(), (juce::uint32) blocks);

    // The device gets 30 ms after the version message before the first select.
    const auto written = road.device.getWrittenMessages();
    ASSERT_GE (written.size(), 3u);
    EXPECT_EQ (written[1].message.getRawData()[3], 0x0B);
    EXPECT_GE (written[2].timeMs - written[1].timeMs, 29.0);

    const auto codes = road.target.drain();
    EXPECT_EQ (std::count (codes.begin(), codes.end(), (int) updateProgress), blocks + (int) expected.size());
    EXPECT_EQ (codes.back(), updateFinished);
}

INSTANTIATE_TEST_SUITE_P (Files, FirmwareUpdateRoad, ::testing::ValuesIn (wholeUpdates),
                          [] (const auto& info) { return std::string (info.param.name); });

//==============================================================================
/** A fresh road for each case, and a file of two sections of three blocks each:
    START, version, select, header, 3 blocks, section end, select, header, 3 blocks,
    section end, select, section end, end, metadata.
*/
class FirmwareUpdateRoadFaults : public ::testing::Test
{
protected:
    void SetUp() override                 { ASSERT_TRUE (reconnect()); }

    bool reconnect()
    {
        road.reset();
        road = std::make_unique<UpdateRoad>();
        road->peer.setBlockSize (4);
        return road->connect();
    }

    bool start()                          { return road->start (fileWith ("MZ-70", { { 0x00, 10 }, { 0x10, 9 } })); }

    void expectIdleAfter (int code)
    {
        ASSERT_TRUE (road->waitFor (code));
        EXPECT_EQ (road->engine->getUpdatingState(), FirmwareUpdate::idleState);
        EXPECT_EQ (road->engine->getReplyTimeout(), 0);
    }

    std::unique_ptr<UpdateRoad> road;
};

TEST_F (FirmwareUpdateRoadFaults, RefusedBlocksAreResentAndTheDataStillArrivesIntact)
{
    // An acceptance ends a run of refusals: two, then one more in the same section.
    road->peer.refuseBlock (1, 2);
    road->peer.refuseBlock (2, 1);
    ASSERT_TRUE (start());
    ASSERT_TRUE (road->waitFor (updateFinished));

    EXPECT_EQ (road->peer.getCount (Step::block), 6 + 3);
    EXPECT_TRUE (road->peer.getErrors().isEmpty()) << road->peer.getErrors().joinIntoString ("; ");

    const auto sections = road->peer.getSections();
    ASSERT_EQ (sections.size(), 2u);
    EXPECT_EQ (sections[0].data, FirmwareFileBuilder::pattern (10, 1));
    EXPECT_EQ (sections[1].data, FirmwareFileBuilder::pattern (9, 2));
}

TEST_F (FirmwareUpdateRoadFaults, RefusalsAndBadRepliesEndTheUpdateAndNothingMoreIsSent)
{
    struct Case { const char* what; std::function<void (VirtualUpdatePeer&)> arrange; int written; };

    const Case cases[] = {
        { "38-byte START reply",     [] (auto& p) { p.setStartReplyLength (38); },     1 },
        { "block size 0",            [] (auto& p) { p.setBlockSize (0); },             1 },
        { "select refused",          [] (auto& p) { p.refuseStep (Step::select); },     3 },
        { "section end refused",     [] (auto& p) { p.refuseStep (Step::sectionEnd); }, 8 },
        { "block refused 3 + 1",     [] (auto& p) { p.refuseBlock (2, 100); },          7 + 3 },
        { "end reply of command 08", [] (auto& p) { p.setEndReplyCommand (0x08); },     17 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ASSERT_TRUE (reconnect());
        c.arrange (road->peer);
        ASSERT_TRUE (start());
        expectIdleAfter (updateFailed);
        ASSERT_TRUE (road->device.waitUntilDelivered());
        EXPECT_EQ (road->device.getNumWritten(), c.written);
    }
}

TEST_F (FirmwareUpdateRoadFaults, SilenceEndsTheUpdateAtTheFourthExpiry)
{
    // START is sent again at each of the first three expiries, then 260; elsewhere 261.
    // A refused header is reported at once, and then the silence that follows ends the update.
    struct Case { Step step; int state; bool refuse; };
    const Case cases[] = {
        { Step::start, 0, false }, { Step::select, 1, false }, { Step::header, 2, false }, { Step::header, 2, true },
        { Step::sectionEnd, 4, false }, { Step::end, 5, false }, { Step::metadata, 7, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.state);
        ASSERT_TRUE (reconnect());
        c.refuse ? road->peer.refuseStep (c.step) : road->peer.stayQuietAt (c.step, 4);
        ASSERT_TRUE (start());
        ASSERT_TRUE (c.refuse ? road->waitFor (sectionRefused) : road->waitForState (c.state));

        for (int i = 0; i < 3; ++i)
            road->expire();

        EXPECT_EQ (road->engine->getUpdatingState(), c.state);
        EXPECT_EQ (road->peer.getCount (Step::start), c.state == 0 ? 4 : 1);

        road->expire();
        expectIdleAfter (c.state == 0 ? updateFailed : updateTimedOut);
        EXPECT_EQ (road->peer.getCount (Step::block), c.state < 4 ? 0 : c.state == 4 ? 3 : 6);
    }
}

TEST_F (FirmwareUpdateRoadFaults, AbortReplyEndsTheUpdateInEveryStateAndWhenIdle)
{
    const std::pair<Step, int> quietSteps[] = {
        { Step::start, 0 }, { Step::select, 1 }, { Step::header, 2 }, { Step::block, 3 },
        { Step::sectionEnd, 4 }, { Step::end, 5 }, { Step::metadata, 7 },
    };

    for (const auto& [step, state] : quietSteps)
    {
        SCOPED_TRACE (state);
        road->target.drain();
        road->peer.stayQuietAt (step);
        ASSERT_TRUE (start());
        ASSERT_TRUE (road->waitForState (state));
        road->peer.sendAbort();
        expectIdleAfter (updateFailed);
    }

    road->target.drain();
    road->peer.sendAbort();
    expectIdleAfter (updateFailed);
}

TEST_F (FirmwareUpdateRoadFaults, SilenceAfterABlockFailsAtEachExpiryAndALateAcceptanceCarriesOn)
{
    road->peer.stayQuietAt (Step::block);
    ASSERT_TRUE (start());
    ASSERT_TRUE (pumpMessagesUntil ([&] { return road->peer.getCount (Step::block) == 1; }));

    road->expire();
    road->expire();
    EXPECT_EQ (road->target.drain(), (std::vector<int> { 240, 240, 241, updateFailed, updateFailed }));
    EXPECT_EQ (road->engine->getUpdatingState(), 3);

    road->peer.sendWithheldReply();
    ASSERT_TRUE (road->waitFor (updateFinished));
    EXPECT_TRUE (road->peer.getErrors().isEmpty()) << road->peer.getErrors().joinIntoString ("; ");
    EXPECT_EQ (road->peer.getSections().size(), 2u);
}

TEST_F (FirmwareUpdateRoadFaults, AReplyIsHandledWhileAResentStartIsStillBeingWritten)
{
    // A write that fails closes the port pair, which waits for the input thread's delivery:
    // so the message thread must not hold the engine while it writes, or the two wait forever.
    road->peer.stayQuietAt (Step::start, 100);
    ASSERT_TRUE (start());
    road->device.setWriteBlocked (true);

    std::atomic<bool> delivered { false };
    std::thread device ([&]
    {
        for (int i = 0; i < 2000 && road->device.getNumBlockedWrites() == 0; ++i)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));

        road->peer.sendAbort();
        delivered = road->device.waitUntilDelivered (2000);
        road->device.setWriteBlocked (false);
    });

    road->expire();
    device.join();

    EXPECT_TRUE (delivered);
    EXPECT_EQ (road->engine->getUpdatingState(), FirmwareUpdate::idleState);
    EXPECT_TRUE (road->waitFor (updateFailed));
}

TEST_F (FirmwareUpdateRoadFaults, ADeviceOneReplyOutOfStepEndsTheUpdateWithoutHanging)
{
    for (int variant = 0; variant < 2; ++variant)
    {
        road->target.drain();
        road->peer.setAnswerVersion (variant == 0);
        road->peer.setAnswerEveryHeader (variant == 1);

        ASSERT_TRUE (road->start (fileWith ("MZ-70", { { 0x00, 10 }, { 0x11, 9 } })));
        ASSERT_TRUE (road->waitFor (updateFailed));

        // The answer to the end message comes one step late, to an idle engine.
        ASSERT_TRUE (pumpMessagesUntil ([&] { return road->peer.getCount (Step::end) == variant + 1; }));
        ASSERT_TRUE (road->device.waitUntilDelivered());
        EXPECT_EQ (road->engine->getUpdatingState(), FirmwareUpdate::idleState);
    }
}
