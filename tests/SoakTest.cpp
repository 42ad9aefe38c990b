// Whole updates against the virtual device: first on fixed files (blocks of 1, 64 and 255 bytes, sections of
// exactly m blocks and of m blocks plus one byte, indexes past 127, no sections), then on random files with
// faults mixed in: refusals, silence, aborts, duplicated and late replies, garbage, the device vanishing and
// coming back, a new update over a running one. NORVO_SOAK_UPDATES sets the number over all seeded chunks.

#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <random>

enum Kind { none, refusedBlocks, refusedHeader, silence, aborts, vanish, duplicates, restart, kinds };
class Soak : public ::testing::TestWithParam<int> {};

TEST_P (Soak, EveryUpdateEndsInADefinedStateAndTheLinkRecovers)
{
    using Fault = VirtualUpdatePeer::Fault;
    using Shape = std::pair<int, std::vector<int>>;   // block size, section sizes
    const auto* total = std::getenv ("NORVO_SOAK_UPDATES");
    const int updates = ((total != nullptr ? std::atoi (total) : 36) + 5) / 6;
    const bool fullSize = GetParam() % 2 == 0;
    const auto shapes = fullSize ? std::vector<Shape> { { 64, { 300, 64, 1000, 129, 77 } }, { 1, { 40, 0, 9, 0, 300 } },
                                                        { 255, { 1020, 1, 0, 256, 254 } }, { 16, {} } }
                                 : std::vector<Shape> { { 64, { 200, 192, 193, 65 } } };
    std::mt19937 rng (0x5eed0000u + (unsigned) GetParam());
    auto below = [&rng] (int n) { return (int) (rng() % (unsigned) n); };
    UpdateRoad road (fullSize ? "Norvo" : "Norvo Mini MIDI 1");
    auto inject = [&road] (std::vector<juce::uint8> m) { road.device.sendToHost (juce::MidiMessage (m.data(), (int) m.size())); };
    auto* manager = MIDIManager::getInstance();
    ASSERT_TRUE (road.connect());
    std::map<int, int> endings;
    int vanished = 0, recovered = 0;
    std::vector<juce::MemoryBlock> expected;

    auto start = [&] (size_t update)   // random files: up to a dozen blocks of 1 to 255 bytes in each section
    {
        const bool fixed = update < shapes.size();
        const int blockSize = fixed ? shapes[update].first : 1 + below (255);
        auto file = FirmwareFileBuilder().model (fullSize ? "MZ-70" : "MZ-9");
        expected.clear();

        for (size_t i = 0; i < (fixed ? shapes[update].second.size() : (fullSize ? 5u : 4u)); ++i)
        {
            const auto payload = FirmwareFileBuilder::pattern ((size_t) (fixed ? shapes[update].second[i] : below (2) * below (blockSize * 12)), below (1000));
            file.section (std::vector<int> { 0x00, 0x01, 0x02, 0x10, 0x11 }[i], payload);

            if (! payload.isEmpty())
                expected.push_back (payload);
        }

        road.peer.setBlockSize (blockSize);
        road.engine->blocksDone = 0;   // as the main component does
        return road.start (file);
    };

    for (int update = 0; update < updates && ! HasFatalFailure(); ++update)
    {
        const auto kind = update < (int) shapes.size() ? none : (Kind) below (kinds);
        const bool withGarbage = below (10) < 3, answersLate = below (2) == 0;
        const auto step = (VirtualUpdatePeer::Step) below (7);   // START to end
        SCOPED_TRACE (testing::Message() << "update " << update << ", kind " << kind << ", step " << (int) step);
        road.peer.setFault (VirtualUpdatePeer::Step::block, Fault::refuse, kind == refusedBlocks ? 1 + below (2) : 0, below (12));

        if (const Fault faults[] = { Fault::refuse, Fault::quiet, Fault::abort, Fault::vanish }; kind >= refusedHeader && kind <= vanish)
            road.peer.setFault (kind == refusedHeader ? VirtualUpdatePeer::Step::header : step, faults[kind - refusedHeader], 1 + below (2), below (3));

        ASSERT_TRUE (start ((size_t) update));
        std::vector<int> codes;
        int ending = 0;

        for (int round = 0; round < 80 && ending == 0; ++round)
        {
            pumpMessagesFor (below (15));

            if (kind == restart && round == 1)   // a new update over the running one
            {
                ASSERT_TRUE (start (shapes.size()));
            }

            if (kind == duplicates)
                inject ({ 0xF0, 0x7E, 0x48, (juce::uint8) std::vector<int> { 0x02, 0x04, 0x05, 0x7F }[(size_t) below (4)], 0x7F, 0xF7 });

            if (withGarbage)   // SysEx that is no update reply
                inject ({ 0xF0, (juce::uint8) below (0x7E), (juce::uint8) below (0x7E), (juce::uint8) below (0x7E), 0xF7 });

            // At rest: nothing queued for the host, no delivery running.
            ASSERT_TRUE (pumpMessagesUntil ([&] { return road.device.waitUntilDelivered (0); }, 20000));
            const auto drained = road.target.drain();
            codes.insert (codes.end(), drained.begin(), drained.end());
            const int state = road.engine->getUpdatingState();
            const auto outputs = MidiPorts::get().getOutputDevices();

            if ((state == 7 || state == FirmwareUpdate::idleState) && ! codes.empty())
                ending = state != 7 && std::count (codes.begin(), codes.end(), (int) sectionRefused) > 0 ? (int) sectionRefused : codes.back();
            else if (std::none_of (outputs.begin(), outputs.end(), [&] (auto& d) { return d.identifier == road.device.getOutputIdentifier(); }))
            {
                for (int tick = 0; tick < 5 && manager->getPortPair().hasOutput(); ++tick)
                    manager->timerCallback();   // the link lets the vanished device go...

                EXPECT_FALSE (manager->getPortPair().hasOutput());
                road.device.plug();
                ++vanished;
                recovered += road.connect() ? 1 : 0;   // ... and finds it again
            }
            else if ((state != 3 && ! answersLate) || ! road.peer.sendWithheldReply())   // a late answer, or time passes
                road.expire();
        }

        ASSERT_NE (ending, 0) << "the update did not end";
        ++endings[ending];
        road.peer.clearFaults();

        if (ending == updateFinished)
        {
            const auto sections = road.peer.getSections();
            EXPECT_EQ (road.engine->blocksDone.load(), (juce::uint32) road.engine->totalBlocks.load());
            ASSERT_EQ (sections.size(), expected.size());

            for (size_t i = 0; i < sections.size(); ++i)
                EXPECT_EQ (sections[i].data, expected[i]) << "section " << i;

            road.engine->resetUpdate();
        }

        EXPECT_TRUE (ending == updateFinished || ending == updateFailed || ending == updateTimedOut || ending == sectionRefused);
        EXPECT_TRUE (kind > refusedBlocks || (ending == updateFinished && road.peer.getErrors().isEmpty())) << road.peer.getErrors().joinIntoString ("; ");
        road.expire();   // idle now: an expiry changes nothing
        EXPECT_EQ (road.engine->getUpdatingState(), FirmwareUpdate::idleState);
    }

    EXPECT_EQ (vanished, recovered);
    std::printf ("soak chunk %d: %d updates, 259=%d 260=%d 261=%d 262=%d, vanished=%d recovered=%d\n", GetParam(), updates,
                 endings[updateFinished], endings[updateFailed], endings[updateTimedOut], endings[sectionRefused], vanished, recovered);
}

INSTANTIATE_TEST_SUITE_P (Chunks, Soak, ::testing::Range (0, 6));
