#include "device/ConstVar.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
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

    /** The payloads that must arrive, in transfer order: sections with data only. */
    std::vector<juce::MemoryBlock> expectedPayloads (const std::vector<Section>& sections)
    {
        std::vector<std::pair<int, juce::MemoryBlock>> byId;
        int seed = 1;

        for (const auto& s : sections)
        {
            auto payload = FirmwareFileBuilder::pattern (s.size, seed++);

            if (s.size > 0)
                byId.emplace_back (s.id, payload);
        }

        std::stable_sort (byId.begin(), byId.end(), [] (auto& a, auto& b) { return a.first < b.first; });

        std::vector<juce::MemoryBlock> result;

        for (auto& p : byId)
            result.push_back (p.second);

        return result;
    }

    int blocksFor (const std::vector<Section>& sections, int blockSize)
    {
        int total = 0;

        for (const auto& s : sections)
            total += (int) ((s.size + (size_t) blockSize - 1) / (size_t) blockSize);

        return total;
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
        { "MiniFourSections", "Norvo Mini MIDI 1", "MZ-9",
          { { 0x00, 200 }, { 0x01, 3 }, { 0x02, 500 }, { 0x10, 65 } }, 64,
          { 0x00, 0x01, 0x02, 0x10, 0x11 } },
        { "AllSectionsEmpty", "Norvo", "MZ-70",
          { { 0x00, 0 }, { 0x01, 0 }, { 0x02, 0 }, { 0x10, 0 }, { 0x11, 0 } }, 64,
          { 0x00 } },
        { "FirstAndFourthSectionOnly", "Norvo", "MZ-70",
          { { 0x00, 100 }, { 0x10, 100 } }, 16,
          { 0x00, 0x01, 0x11 } },
        { "ExactBlocksAndOneByteMore", "Norvo Mini", "MZ-9",
          { { 0x01, 3 * 64 }, { 0x02, 3 * 64 + 1 } }, 64,
          { 0x00, 0x02, 0x10 } },
        { "BlockIndexesPastOneHundredAndTwentySeven", "Norvo", "MZ-70",
          { { 0x11, 300 } }, 1,
          { 0x00 } },
        { "BlockSizeOne", "Norvo", "MZ-70",
          { { 0x00, 40 }, { 0x02, 9 }, { 0x11, 5 } }, 1,
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
    {
        EXPECT_TRUE (sections[i].ended);
        EXPECT_EQ (sections[i].data, expected[i]) << "section " << i;
    }

    const auto blocks = blocksFor (c.sections, c.blockSize);
    EXPECT_EQ (road.peer.getCount (Step::block), blocks);
    EXPECT_EQ (road.engine->totalBlocks.load(), blocks);
    EXPECT_EQ (road.engine->blocksDone.load(), (juce::uint32) blocks);

    // The device gets 30 ms after the version message before the first select.
    const auto written = road.device.getWrittenMessages();
    ASSERT_GE (written.size(), 3u);
    EXPECT_EQ (written[1].message.getRawData()[3], 0x0B);
    EXPECT_EQ (written[2].message.getRawData()[3], 0x7F);
    EXPECT_GE (written[2].timeMs - written[1].timeMs, 29.0);

    const auto codes = road.target.drain();
    EXPECT_EQ (std::count (codes.begin(), codes.end(), (int) updateProgress), blocks + (int) expected.size());
    EXPECT_EQ (codes.front(), updateStarted);
    EXPECT_EQ (codes.back(), updateFinished);
}

INSTANTIATE_TEST_SUITE_P (Files, FirmwareUpdateRoad, ::testing::ValuesIn (wholeUpdates),
                          [] (const auto& info) { return std::string (info.param.name); });

//==============================================================================
class FirmwareUpdateRoadFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        road.peer.setBlockSize (4);
        ASSERT_TRUE (road.connect());
    }

    FirmwareFileBuilder file() const
    {
        return fileWith ("MZ-70", { { 0x00, 10 }, { 0x10, 9 } });
    }

    void startAndReach (int state)
    {
        ASSERT_TRUE (road.start (file()));
        ASSERT_TRUE (road.waitForState (state)) << "state " << state << " not reached";
    }

    void expectIdleAfter (int code)
    {
        ASSERT_TRUE (road.waitFor (code));
        EXPECT_EQ (road.engine->getUpdatingState(), FirmwareUpdate::idleState);
        EXPECT_EQ (road.engine->getReplyTimeout(), 0);
    }

    UpdateRoad road;
};

TEST_F (FirmwareUpdateRoadFaults, RefusedBlockIsResentAndTheDataStillArrivesIntact)
{
    // An acceptance ends a run of refusals: two, then one more in the same section.
    road.peer.refuseBlock (1, 2);
    road.peer.refuseBlock (2, 1);
    ASSERT_TRUE (road.start (file()));
    ASSERT_TRUE (road.waitFor (updateFinished));

    EXPECT_EQ (road.peer.getRefusals(), 3);
    EXPECT_EQ (road.peer.getCount (Step::block), 6 + 3);
    EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString ("; ");

    const auto expected = expectedPayloads ({ { 0x00, 10 }, { 0x10, 9 } });
    ASSERT_EQ (road.peer.getSections().size(), 2u);
    EXPECT_EQ (road.peer.getSections()[0].data, expected[0]);
    EXPECT_EQ (road.peer.getSections()[1].data, expected[1]);
}

TEST_F (FirmwareUpdateRoadFaults, AnyReplyAfterThreeRefusalsOfABlockFails)
{
    road.peer.refuseBlock (2, 100);
    ASSERT_TRUE (road.start (file()));
    expectIdleAfter (updateFailed);

    // The block went out four times in all: three resends, the fourth reply ends it.
    EXPECT_EQ (road.peer.getCount (Step::block), 2 + 4);
    EXPECT_EQ (road.peer.getCount (Step::sectionEnd), 0);
}

TEST_F (FirmwareUpdateRoadFaults, RefusedHeaderReportsTheSectionThenTimesOut)
{
    road.peer.refuseStep (Step::header);
    ASSERT_TRUE (road.start (file()));
    ASSERT_TRUE (road.waitFor (sectionRefused));
    EXPECT_EQ (road.engine->getUpdatingState(), 2);

    for (int i = 0; i < 3; ++i)
        road.expire();

    EXPECT_EQ (road.engine->getUpdatingState(), 2);
    road.expire();
    expectIdleAfter (updateTimedOut);
    EXPECT_EQ (road.peer.getCount (Step::block), 0);
}

TEST_F (FirmwareUpdateRoadFaults, RefusedSelectOrSectionEndFails)
{
    road.peer.refuseStep (Step::select);
    ASSERT_TRUE (road.start (file()));
    expectIdleAfter (updateFailed);
    EXPECT_EQ (road.peer.getCount (Step::header), 0);

    road.target.drain();
    road.peer.refuseStep (Step::sectionEnd);
    ASSERT_TRUE (road.start (file()));
    expectIdleAfter (updateFailed);
    EXPECT_EQ (road.peer.getCount (Step::sectionEnd), 1);
    EXPECT_EQ (road.peer.getSelects(), (std::vector<int> { 0x00 }));
}

TEST_F (FirmwareUpdateRoadFaults, AbortReplyEndsTheUpdateInEveryState)
{
    const std::pair<Step, int> quietSteps[] = {
        { Step::start, 0 }, { Step::select, 1 }, { Step::header, 2 }, { Step::block, 3 },
        { Step::sectionEnd, 4 }, { Step::end, 5 },
    };

    for (const auto& [step, state] : quietSteps)
    {
        road.target.drain();
        road.peer.stayQuietAt (step);
        startAndReach (state);
        road.peer.sendAbort();
        expectIdleAfter (updateFailed);
    }

    // Finished, then idle.
    for (int state : { 7, FirmwareUpdate::idleState })
    {
        road.target.drain();

        if (state == 7)
        {
            ASSERT_TRUE (road.start (file()));
            ASSERT_TRUE (road.waitFor (updateFinished));
        }

        road.peer.sendAbort();
        expectIdleAfter (updateFailed);
    }
}

TEST_F (FirmwareUpdateRoadFaults, BadStartRepliesFailWithoutSendingMore)
{
    for (int length : { 38, 39 })
    {
        road.target.drain();
        road.peer.setStartReplyLength (length);
        road.peer.setBlockSize (length == 38 ? 4 : 0);
        ASSERT_TRUE (road.start (file()));
        expectIdleAfter (updateFailed);

        EXPECT_EQ (road.peer.getCount (Step::version), 0);
        EXPECT_EQ (road.peer.getCount (Step::select), 0);
    }
}

TEST_F (FirmwareUpdateRoadFaults, SilenceAtStartSendsItFourTimesThenFails)
{
    road.peer.stayQuietAt (Step::start, 100);
    ASSERT_TRUE (road.start (file()));
    ASSERT_TRUE (road.device.waitForWritten (1));
    EXPECT_EQ (road.engine->getReplyTimeout(), FirmwareUpdate::startTimeoutMs);

    for (int i = 0; i < 3; ++i)
        road.expire();

    EXPECT_TRUE (road.device.waitForWritten (4));
    EXPECT_EQ (road.peer.getCount (Step::start), 4);

    road.expire();
    expectIdleAfter (updateFailed);
    EXPECT_EQ (road.peer.getCount (Step::start), 4);
}

TEST_F (FirmwareUpdateRoadFaults, AReplyIsHandledWhileAResentStartIsStillBeingWritten)
{
    // A write that fails closes the port pair, which waits for the input thread's delivery:
    // so the message thread must not hold the engine while it writes, or the two wait forever.
    road.peer.stayQuietAt (Step::start, 100);
    ASSERT_TRUE (road.start (file()));
    road.device.setWriteBlocked (true);

    std::atomic<bool> delivered { false };
    std::thread device ([&]
    {
        for (int i = 0; i < 2000 && road.device.getNumBlockedWrites() == 0; ++i)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));

        road.peer.sendAbort();
        delivered = road.device.waitUntilDelivered (2000);
        road.device.setWriteBlocked (false);
    });

    road.expire();
    device.join();

    EXPECT_TRUE (delivered);
    EXPECT_EQ (road.engine->getUpdatingState(), FirmwareUpdate::idleState);
    EXPECT_TRUE (road.waitFor (updateFailed));
}

TEST_F (FirmwareUpdateRoadFaults, SilenceInTheWaitingStatesTimesOutAfterFourExpiries)
{
    const std::pair<Step, int> quietSteps[] = {
        { Step::select, 1 }, { Step::header, 2 }, { Step::sectionEnd, 4 }, { Step::end, 5 }, { Step::metadata, 7 },
    };

    for (const auto& [step, state] : quietSteps)
    {
        road.target.drain();
        road.peer.stayQuietAt (step);
        startAndReach (state);

        if (state == 7)
        {
            ASSERT_TRUE (road.waitFor (updateFinished));
        }

        for (int i = 0; i < 3; ++i)
            road.expire();

        EXPECT_EQ (road.engine->getUpdatingState(), state);
        road.expire();
        expectIdleAfter (updateTimedOut);
    }
}

TEST_F (FirmwareUpdateRoadFaults, SilenceAfterABlockFailsAtEachExpiryAndALateAcceptanceCarriesOn)
{
    road.peer.stayQuietAt (Step::block);
    startAndReach (3);
    ASSERT_TRUE (pumpMessagesUntil ([&] { return road.peer.getCount (Step::block) == 1; }));

    road.expire();
    road.expire();
    EXPECT_EQ (road.target.drain(), (std::vector<int> { 240, 240, 241, updateFailed, updateFailed }));
    EXPECT_EQ (road.engine->getUpdatingState(), 3);

    road.peer.sendWithheldReply();
    ASSERT_TRUE (road.waitFor (updateFinished));
    EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString ("; ");
    EXPECT_EQ (road.peer.getSections().size(), 2u);
}

TEST_F (FirmwareUpdateRoadFaults, EndReplyWithAnotherCommandFails)
{
    road.peer.setEndReplyCommand (0x08);
    ASSERT_TRUE (road.start (file()));
    expectIdleAfter (updateFailed);
    EXPECT_EQ (road.peer.getCount (Step::metadata), 0);
}

TEST_F (FirmwareUpdateRoadFaults, DeviceThatVanishesLeavesTheEngineWaitingForItsTimeout)
{
    road.peer.vanishAt (Step::block);
    startAndReach (3);
    ASSERT_TRUE (pumpMessagesUntil ([&] { return road.peer.getCount (Step::block) == 1; }));

    auto* manager = MIDIManager::getInstance();
    manager->timerCallback();
    EXPECT_FALSE (manager->getPortPair().hasOutput());

    road.expire();
    ASSERT_TRUE (road.waitFor (updateFailed));
    EXPECT_EQ (road.engine->getUpdatingState(), 3);
    EXPECT_EQ (road.peer.getCount (Step::block), 1);
}

TEST_F (FirmwareUpdateRoadFaults, ADeviceOneReplyOutOfStepEndsTheUpdateWithoutHanging)
{
    for (int variant = 0; variant < 2; ++variant)
    {
        road.target.drain();
        road.peer.setAnswerVersion (variant == 0);
        road.peer.setAnswerEveryHeader (variant == 1);

        ASSERT_TRUE (road.start (fileWith ("MZ-70", { { 0x00, 10 }, { 0x11, 9 } })));
        ASSERT_TRUE (road.waitFor (updateFailed));

        // The answer to the end message comes one step late, to an idle engine.
        ASSERT_TRUE (pumpMessagesUntil ([&] { return road.peer.getCount (Step::end) == variant + 1; }));
        ASSERT_TRUE (road.device.waitUntilDelivered());
        EXPECT_EQ (road.engine->getUpdatingState(), FirmwareUpdate::idleState);
    }
}
