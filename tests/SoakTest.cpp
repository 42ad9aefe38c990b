// Many whole updates against the virtual device, with faults mixed in: refusals, silence,
// aborts, duplicated and late replies, garbage between the replies, the device vanishing
// and coming back, and the user starting again over a running update. Each update must
// end in a defined state and the connection must come back after every vanishing.
//
// The plan of every update comes from a seeded generator, so a failing update can be
// replayed by its chunk and number (the exact interleaving with the device's thread
// varies from run to run). NORVO_SOAK_UPDATES sets the number of updates over all chunks.

#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <random>

namespace
{
    using Step = VirtualUpdatePeer::Step;
    using Bytes = std::vector<juce::uint8>;

    constexpr int numChunks = 6;
    constexpr int defaultUpdates = 36;
    constexpr int sectionIds[] = { 0x00, 0x01, 0x02, 0x10, 0x11 };

    int totalUpdates()
    {
        if (const auto* text = std::getenv ("NORVO_SOAK_UPDATES"))
            return juce::jmax (numChunks, std::atoi (text));

        return defaultUpdates;
    }

    enum class Fault
    {
        none, refusedBlocks, blockRefusedTooOften, refusedHeader, refusedSelect, refusedSectionEnd,
        silence, abort, badEndReply, duplicates, vanish, restart
    };

    const char* nameOf (Fault f)
    {
        static const char* names[] = { "none", "refused blocks", "block refused too often", "refused header",
                                       "refused select", "refused section end", "silence", "abort",
                                       "bad end reply", "duplicates", "vanish", "restart" };
        return names[(int) f];
    }

    /** How an update ended. */
    enum Ending { finished = 259, failed = 260, timedOut = 261, refused = 262 };

    //==============================================================================
    class Rng
    {
    public:
        explicit Rng (unsigned seed) : engine (seed) {}

        int between (int low, int high)     { return std::uniform_int_distribution<int> (low, high) (engine); }
        bool chance (double p)              { return std::bernoulli_distribution (p) (engine); }
        template <typename T, size_t N>
        T pick (const T (&items)[N])        { return items[(size_t) between (0, (int) N - 1)]; }

    private:
        std::mt19937 engine;
    };

    struct Plan
    {
        FirmwareFileBuilder file;
        std::vector<juce::MemoryBlock> expected;   // payloads in transfer order
        int blockSize = 64;
        int blocks = 0;
    };

    Plan makePlan (Rng& rng, bool fullSize)
    {
        static constexpr int blockSizes[] = { 1, 3, 8, 16, 32, 64, 64, 100, 255 };

        Plan plan;
        plan.blockSize = rng.pick (blockSizes);
        plan.file.model (fullSize ? "MZ-70" : "MZ-9")
                 .version ((juce::uint8) rng.between (0, 127), 1, 2, 3);

        // A handful of blocks per section at most, so that an update stays short.
        const int maxBytes = plan.blockSize * rng.between (1, 12);
        int entries = 0;

        for (auto id : sectionIds)
        {
            if (entries == (fullSize ? 5 : 4) || ! rng.chance (0.7))
                continue;

            const auto size = (size_t) rng.between (0, maxBytes);
            const auto payload = FirmwareFileBuilder::pattern (size, rng.between (1, 1000));
            plan.file.section (id, payload);
            ++entries;

            if (size > 0)
            {
                plan.expected.push_back (payload);
                plan.blocks += (int) ((size + (size_t) plan.blockSize - 1) / (size_t) plan.blockSize);
            }
        }

        return plan;
    }

    Bytes statusReply (int command, bool accepted)
    {
        return { 0xF0, 0x7E, 0x48, (juce::uint8) command, (juce::uint8) (accepted ? 0x7F : 0x7E), 0xF7 };
    }

    /** Traffic that is no update reply: channel messages, stray SysEx, data packets with
        records (the device state among them), system replies and the drop-output command.
    */
    Bytes garbage (Rng& rng)
    {
        static const Bytes signature { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A };

        switch (rng.between (0, 4))
        {
            case 0:
                return rng.chance (0.5) ? Bytes { 0xB0, 0x07, 0x64 } : Bytes { 0xC1, (juce::uint8) rng.between (0, 127) };

            case 1:
            {
                Bytes sysEx { 0xF0 };

                for (int i = rng.between (0, 40); --i >= 0;)
                    sysEx.push_back ((juce::uint8) rng.between (0, 0x7D));   // never 7E 48 at the front

                sysEx.push_back (0xF7);
                return sysEx;
            }

            case 2:
            {
                // One whole packet: a device-state record and a record of random type.
                const Bytes records { 0x01, 0x20, 0x04, 0x00, (juce::uint8) rng.between (0, 3), 0x00, 0x01, 0x00,
                                      (juce::uint8) rng.between (0, 0x20), 0x00, 0x02, 0x00, 0x05, 0x07 };
                auto frame = signature;
                frame.insert (frame.end(), { 0x11, (juce::uint8) records.size(), 0x00, 0x00, 0x00 });

                for (auto b : records)
                    frame.insert (frame.end(), { (juce::uint8) (b >> 4), (juce::uint8) (b & 0x0F) });

                frame.push_back (0xF7);
                return frame;
            }

            case 3:
            {
                auto frame = signature;
                frame.insert (frame.end(), { 0x11, 0x12, 0x00, 0x00, 0x00, (juce::uint8) rng.between (1, 3) });

                if (rng.chance (0.5))
                    frame.push_back (0x01);

                frame.push_back (0xF7);
                return frame;
            }

            default:
            {
                auto frame = signature;
                frame.insert (frame.end(), { 0x03, 0x00, 0x00, 0x00, 0x00, 0xF7 });
                return frame;
            }
        }
    }

    //==============================================================================
    struct Tally
    {
        std::map<int, int> endings;
        int vanished = 0, recovered = 0;
    };

    class SoakRun
    {
    public:
        SoakRun (bool fullSizeModel, unsigned seed, Tally& tallyToUse)
            : fullSize (fullSizeModel), road (fullSize ? "Norvo" : "Norvo Mini MIDI 1"), rng (seed), tally (tallyToUse)
        {
        }

        bool connect()    { return road.connect(); }

        /** Runs one update with one fault (and maybe garbage) to its end. */
        void runUpdate (int number)
        {
            SCOPED_TRACE ("update " + std::to_string (number));

            auto plan = makePlan (rng, fullSize);
            const auto fault = static_cast<Fault> (rng.between (0, (int) Fault::restart));
            const bool withGarbage = rng.chance (0.3);
            SCOPED_TRACE (std::string ("fault: ") + nameOf (fault) + (withGarbage ? ", garbage" : ""));

            configure (fault, plan);
            codes.clear();
            knownErrors = road.peer.getErrors().size();
            lateRepliesLeft = 3;
            restarted = false;

            start (plan);
            const auto ending = driveToTheEnd (fault, withGarbage);

            if (::testing::Test::HasFatalFailure())
                return;

            ++tally.endings[ending];
            checkEnding (fault, ending, plan);
            clearFaults();
        }

    private:
        //==============================================================================
        /** As the main component does it: the progress starts again from zero. */
        void start (const Plan& plan)
        {
            road.engine->blocksDone = 0;
            road.peer.setBlockSize (plan.blockSize);
            ASSERT_TRUE (road.start (plan.file));
        }

        /** A step that the update is sure to reach: header and block only with blocks. */
        Step anyStep (const Plan& plan, bool withMetadata)
        {
            static constexpr Step always[] = { Step::start, Step::select, Step::sectionEnd, Step::end, Step::metadata };
            static constexpr Step withBlocks[] = { Step::header, Step::block };

            if (plan.blocks > 0 && rng.chance (0.4))
                return rng.pick (withBlocks);

            auto step = rng.pick (always);
            return step == Step::metadata && ! withMetadata ? Step::end : step;
        }

        void refuseBlock (int block, int times)
        {
            road.peer.refuseBlock (block, times);
            refusedBlocks.push_back (block);
        }

        void configure (Fault fault, const Plan& plan)
        {
            quietStep.reset();

            switch (fault)
            {
                case Fault::refusedBlocks:
                    for (int i = rng.between (1, 3); --i >= 0;)
                        refuseBlock (rng.between (0, juce::jmax (0, plan.blocks - 1)), rng.between (1, 2));
                    break;

                case Fault::blockRefusedTooOften:
                    refuseBlock (rng.between (0, juce::jmax (0, plan.blocks - 1)), rng.between (3, 5));
                    break;

                case Fault::refusedHeader:      road.peer.refuseStep (Step::header); break;
                case Fault::refusedSelect:      road.peer.refuseStep (Step::select); break;
                case Fault::refusedSectionEnd:  road.peer.refuseStep (Step::sectionEnd); break;
                case Fault::silence:            road.peer.stayQuietAt (*(quietStep = anyStep (plan, true))); break;
                case Fault::abort:              road.peer.abortAt (anyStep (plan, true)); break;
                case Fault::badEndReply:        road.peer.setEndReplyCommand (rng.chance (0.5) ? 0x03 : 0x05); break;
                case Fault::vanish:             road.peer.vanishAt (anyStep (plan, false)); break;
                case Fault::none:
                case Fault::duplicates:
                case Fault::restart:
                    break;
            }
        }

        void clearFaults()
        {
            road.peer.setEndReplyCommand (0x07);

            for (auto step : { Step::start, Step::select, Step::header, Step::block, Step::sectionEnd, Step::end, Step::metadata })
            {
                road.peer.refuseStep (step, 0);
                road.peer.stayQuietAt (step, 0);
            }

            for (auto block : refusedBlocks)
                road.peer.refuseBlock (block, 0);

            refusedBlocks.clear();
        }

        //==============================================================================
        /** Lets the device answer until nothing moves: the device's queue is empty and no
            delivery runs, so every message the host sent has been answered (or ignored).
        */
        void settle()
        {
            ASSERT_TRUE (pumpMessagesUntil ([this] { return road.device.waitUntilDelivered (0); }, 20000))
                << "the device link did not come to rest";

            for (auto code : road.target.drain())
                codes.push_back (code);
        }

        bool posted (int code) const    { return std::find (codes.begin(), codes.end(), code) != codes.end(); }
        int state() const               { return road.engine->getUpdatingState(); }

        void inject (const Bytes& message)
        {
            road.device.sendToHost (juce::MidiMessage (message.data(), (int) message.size()));
        }

        /** Messages slipped in while the update runs, between the device's replies. */
        void interfere (Fault fault, bool withGarbage)
        {
            if (fault == Fault::restart && ! restarted && rng.chance (0.5))
            {
                pumpMessagesFor (rng.between (0, 25));
                restartPlan = makePlan (rng, fullSize);
                restarted = true;
                start (restartPlan);
            }

            if (fault == Fault::duplicates)
            {
                static constexpr int commands[] = { 0x02, 0x04, 0x04, 0x05, 0x7F };

                for (int i = rng.between (1, 3); --i >= 0;)
                {
                    pumpMessagesFor (rng.between (0, 25));
                    inject (statusReply (rng.pick (commands), true));
                }
            }

            if (withGarbage)
            {
                for (int i = rng.between (1, 6); --i >= 0;)
                {
                    pumpMessagesFor (rng.between (0, 10));
                    inject (garbage (rng));
                }
            }
        }

        int driveToTheEnd (Fault fault, bool withGarbage)
        {
            for (int round = 0; round < 80; ++round)
            {
                interfere (fault, withGarbage);
                settle();

                if (::testing::Test::HasFatalFailure())
                    return 0;

                const int s = state();

                if (s == 7 && posted (finished))
                    return finished;

                if (s == FirmwareUpdate::idleState)
                {
                    if (posted (refused))
                        return refused;

                    EXPECT_TRUE (posted (failed) || posted (timedOut)) << "idle without a result";
                    return posted (timedOut) && ! posted (failed) ? timedOut : failed;
                }

                if (! road.device.waitUntilDelivered (0))
                    continue;

                respondToSilence (s);
            }

            ADD_FAILURE() << "the update did not end; state " << state();
            return 0;
        }

        /** Nothing moves and the engine is waiting: time passes, or an answer comes late. */
        void respondToSilence (int s)
        {
            if (! isPlugged())
                reconnect();

            const bool lateAnswer = lateRepliesLeft > 0 && (s == 3 || rng.chance (0.6));

            if (posted (refused) || ! lateAnswer)
            {
                road.expire();
                return;
            }

            --lateRepliesLeft;

            for (int i = rng.between (0, 2); --i >= 0;)
                road.expire();

            if (quietStep.has_value())
            {
                quietStep.reset();
                road.peer.sendWithheldReply();
            }
            else
            {
                // The device came back without answering the message it vanished on.
                static const std::map<int, int> commandOfState { { 1, 0x7F }, { 2, 0x02 }, { 3, 0x04 }, { 4, 0x05 }, { 5, 0x07 } };

                if (const auto found = commandOfState.find (s); found != commandOfState.end())
                    inject (statusReply (found->second, true));
                else
                    road.expire();
            }
        }

        bool isPlugged() const
        {
            for (const auto& info : MidiPorts::get().getOutputDevices())
                if (info.identifier == road.device.getOutputIdentifier())
                    return true;

            return false;
        }

        /** The device left the lists: the link must notice, let go and find it again. */
        void reconnect()
        {
            ++tally.vanished;
            auto* manager = MIDIManager::getInstance();

            for (int tick = 0; tick < 5 && manager->getPortPair().hasOutput(); ++tick)
                manager->timerCallback();

            EXPECT_FALSE (manager->getPortPair().hasOutput()) << "the link kept a vanished device";

            road.device.plug();

            for (int tick = 0; tick < 60 && ! manager->getPortPair().hasInput(); ++tick)
                manager->timerCallback();

            const bool back = manager->getPortPair().hasOutput() && manager->getPortPair().hasInput();
            EXPECT_TRUE (back) << "the connection did not recover";
            tally.recovered += back ? 1 : 0;
        }

        //==============================================================================
        void checkEnding (Fault fault, int ending, const Plan& plan)
        {
            const auto& expected = restarted ? restartPlan.expected : plan.expected;

            if (ending == finished)
            {
                EXPECT_TRUE (road.peer.isFinished());
                EXPECT_EQ (road.engine->blocksDone.load(), (juce::uint32) road.engine->totalBlocks.load());

                const auto sections = road.peer.getSections();
                EXPECT_EQ (sections.size(), expected.size());

                for (size_t i = 0; i < juce::jmin (sections.size(), expected.size()); ++i)
                    EXPECT_TRUE (sections[i].ended && sections[i].data == expected[i]) << "section " << i << " differs";

                // Leave the finished state for the next update.
                road.engine->resetUpdate();
            }
            else
            {
                // Idle: a stray reply may still re-time the time-out, but its expiry does nothing.
                EXPECT_EQ (state(), FirmwareUpdate::idleState);
                road.expire();
                settle();
                EXPECT_EQ (state(), FirmwareUpdate::idleState);
            }

            // Faults whose ending is fixed; the others may end either way.
            switch (fault)
            {
                case Fault::none:
                case Fault::refusedBlocks:
                {
                    EXPECT_EQ (ending, finished);
                    const auto errors = road.peer.getErrors();
                    EXPECT_EQ (errors.size(), knownErrors) << errors.joinIntoString ("; ");
                    break;
                }

                case Fault::blockRefusedTooOften:
                    EXPECT_EQ (ending, plan.blocks > 0 ? failed : finished);
                    break;

                case Fault::refusedHeader:
                    EXPECT_EQ (ending, plan.blocks > 0 ? refused : finished);
                    break;

                case Fault::refusedSelect:
                case Fault::refusedSectionEnd:
                    EXPECT_EQ (ending, failed);
                    break;

                default:
                    break;
            }
        }

        //==============================================================================
        const bool fullSize;
        UpdateRoad road;
        Rng rng;
        Tally& tally;
        std::vector<int> codes;
        std::optional<Step> quietStep;
        std::vector<int> refusedBlocks;
        Plan restartPlan;
        int knownErrors = 0;
        int lateRepliesLeft = 0;
        bool restarted = false;
    };

    class Soak : public ::testing::TestWithParam<int> {};
}

TEST_P (Soak, EveryUpdateEndsInADefinedStateAndTheLinkRecovers)
{
    const int chunk = GetParam();
    const int updates = (totalUpdates() + numChunks - 1) / numChunks;
    Tally tally;

    {
        SoakRun run ((chunk % 2) == 0, 0x5eed0000u + (unsigned) chunk, tally);
        ASSERT_TRUE (run.connect());

        for (int i = 0; i < updates && ! HasFatalFailure(); ++i)
            run.runUpdate (i);
    }

    EXPECT_EQ (tally.vanished, tally.recovered);

    std::printf ("soak chunk %d: %d updates, 259=%d 260=%d 261=%d 262=%d, vanished=%d recovered=%d\n",
                 chunk, updates, tally.endings[finished], tally.endings[failed], tally.endings[timedOut],
                 tally.endings[refused], tally.vanished, tally.recovered);
}

INSTANTIATE_TEST_SUITE_P (Chunks, Soak, ::testing::Range (0, numChunks));
