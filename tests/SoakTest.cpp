// Many whole updates against the virtual device with faults mixed in: refusals, silence,
// aborts, duplicated and late replies, garbage between the replies, the device vanishing and
// coming back, and a new update started over a running one. Every update must end in a
// defined state and the connection must come back after every vanishing. Each chunk draws
// its updates from its own seed; NORVO_SOAK_UPDATES sets the number of updates over all chunks.

#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
    using Step = VirtualUpdatePeer::Step;
    using Fault = VirtualUpdatePeer::Fault;
    enum Kind { none, refusedBlocks, blockRefusedTooOften, refusedHeader, silence, aborts, vanish, duplicates, restart, kinds };
    constexpr int chunks = 6;

    class Soak : public ::testing::TestWithParam<int> {};
}

TEST_P (Soak, EveryUpdateEndsInADefinedStateAndTheLinkRecovers)
{
    const auto* total = std::getenv ("NORVO_SOAK_UPDATES");
    const int updates = ((total != nullptr ? std::atoi (total) : 36) + chunks - 1) / chunks;
    const bool fullSize = GetParam() % 2 == 0;
    std::mt19937 rng (0x5eed0000u + (unsigned) GetParam());
    auto below = [&rng] (int n) { return (int) (rng() % (unsigned) n); };
    auto inject = [] (UpdateRoad& r, std::vector<juce::uint8> bytes) { r.device.sendToHost (juce::MidiMessage (bytes.data(), (int) bytes.size())); };

    UpdateRoad road (fullSize ? "Norvo" : "Norvo Mini MIDI 1");
    ASSERT_TRUE (road.connect());
    std::map<int, int> endings;
    int vanished = 0, recovered = 0, blocks = 0;
    std::vector<juce::MemoryBlock> expected;

    // Up to a dozen blocks in each section present, in blocks of 1 to 255 bytes.
    auto newFile = [&]
    {
        const int blockSize = 1 + below (255);
        FirmwareFileBuilder file;
        file.model (fullSize ? "MZ-70" : "MZ-9");
        expected.clear();
        blocks = 0;

        for (int id : { 0x00, 0x01, 0x02, 0x10, 0x11 })
        {
            if ((id == 0x11 && ! fullSize) || below (10) < 3)
                continue;

            expected.push_back (FirmwareFileBuilder::pattern ((size_t) below (blockSize * 12), below (1000)));
            file.section (id, expected.back());
            blocks += ((int) expected.back().getSize() + blockSize - 1) / blockSize;

            if (expected.back().isEmpty())
                expected.pop_back();
        }

        road.peer.setBlockSize (blockSize);
        road.engine->blocksDone = 0;   // as the main component does
        return file;
    };

    for (int update = 0; update < updates && ! HasFatalFailure(); ++update)
    {
        const auto file = newFile();
        const auto kind = (Kind) below (kinds);
        const bool withGarbage = below (10) < 3;
        const auto step = (Step) below (7);   // START to end
        SCOPED_TRACE (testing::Message() << "update " << update << ", kind " << kind << ", step " << (int) step << ", garbage " << withGarbage);

        if (kind == refusedBlocks || kind == blockRefusedTooOften)
            road.peer.setFault (Step::block, Fault::refuse, kind == refusedBlocks ? 1 + below (2) : 3 + below (3), below (std::max (1, blocks)));
        else if (kind == refusedHeader)
            road.peer.setFault (Step::header, Fault::refuse);
        else if (kind == silence || kind == aborts || kind == vanish)
            road.peer.setFault (step, kind == silence ? Fault::quiet : kind == aborts ? Fault::abort : Fault::vanish, 1 + below (2), below (3));

        ASSERT_TRUE (road.start (file));
        std::vector<int> codes;
        auto posted = [&codes] (int code) { return std::find (codes.begin(), codes.end(), code) != codes.end(); };
        int ending = 0;

        for (int round = 0, restarts = kind == restart ? 1 : 0; round < 80 && ending == 0; ++round)
        {
            pumpMessagesFor (below (15));

            if (restarts > 0 && below (2) == 0)
            {
                --restarts;
                ASSERT_TRUE (road.start (newFile()));
            }

            if (kind == duplicates)
                inject (road, { 0xF0, 0x7E, 0x48, (juce::uint8) std::vector<int> { 0x02, 0x04, 0x05, 0x7F }[(size_t) below (4)], 0x7F, 0xF7 });

            if (withGarbage)   // a channel message, or SysEx that is no update reply
            {
                std::vector<juce::uint8> bytes { 0xF0 };
                std::generate_n (std::back_inserter (bytes), below (40), [&] { return (juce::uint8) below (0x7E); });
                inject (road, below (4) == 0 ? std::vector<juce::uint8> { 0xB0, 0x07, 0x64 } : (bytes.push_back (0xF7), bytes));
            }

            // At rest: nothing queued for the host and no delivery running.
            ASSERT_TRUE (pumpMessagesUntil ([&] { return road.device.waitUntilDelivered (0); }, 20000));
            const auto drained = road.target.drain();
            codes.insert (codes.end(), drained.begin(), drained.end());
            const int state = road.engine->getUpdatingState();
            const auto outputs = MidiPorts::get().getOutputDevices();

            if (state == 7 && posted (updateFinished))
                ending = updateFinished;
            else if (state == FirmwareUpdate::idleState)
                ending = posted (sectionRefused) ? sectionRefused : posted (updateFailed) ? updateFailed : updateTimedOut;
            else if (std::none_of (outputs.begin(), outputs.end(), [&] (auto& d) { return d.identifier == road.device.getOutputIdentifier(); }))
            {
                // The device left the lists: the link must let it go and find it again.
                auto* manager = MIDIManager::getInstance();

                for (int tick = 0; tick < 5 && manager->getPortPair().hasOutput(); ++tick)
                    manager->timerCallback();

                EXPECT_FALSE (manager->getPortPair().hasOutput());
                road.device.plug();
                ++vanished;
                recovered += road.connect() ? 1 : 0;
            }
            else if ((state != 3 && below (2) == 0) || ! road.peer.sendWithheldReply())   // a late answer, or time passes
                road.expire();
        }

        ASSERT_NE (ending, 0) << "the update did not end";
        EXPECT_TRUE (posted (ending));
        ++endings[ending];

        if (ending == updateFinished)
        {
            const auto sections = road.peer.getSections();
            EXPECT_EQ (road.engine->blocksDone.load(), (juce::uint32) road.engine->totalBlocks.load());
            ASSERT_EQ (sections.size(), expected.size());

            for (size_t i = 0; i < sections.size(); ++i)
                EXPECT_EQ (sections[i].data, expected[i]) << "section " << i;

            road.engine->resetUpdate();
        }

        road.expire();   // idle now: an expiry changes nothing
        EXPECT_EQ (road.engine->getUpdatingState(), FirmwareUpdate::idleState);
        EXPECT_TRUE (kind > refusedBlocks || (ending == updateFinished && road.peer.getErrors().isEmpty())) << road.peer.getErrors().joinIntoString ("; ");
        EXPECT_TRUE (kind != blockRefusedTooOften || blocks == 0 || ending == updateFailed);
        EXPECT_TRUE (kind != refusedHeader || blocks == 0 || ending == sectionRefused);
        road.peer.clearFaults();
    }

    EXPECT_EQ (vanished, recovered);
    std::printf ("soak chunk %d: %d updates, 259=%d 260=%d 261=%d 262=%d, vanished=%d recovered=%d\n", GetParam(), updates,
                 endings[updateFinished], endings[updateFailed], endings[updateTimedOut], endings[sectionRefused], vanished, recovered);
}

INSTANTIATE_TEST_SUITE_P (Chunks, Soak, ::testing::Range (0, chunks));
