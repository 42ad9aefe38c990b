#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/PresetManager.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TimeLimit.h"
#include "tests/support/UpdateRoad.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace
{
    using Bytes = std::vector<juce::uint8>;
    using Codes = std::vector<int>;
    constexpr int idle = FirmwareUpdate::idleState;
    const Bytes expiry, again { 0 };   // in a list of replies: the time-out expires, or the update starts again

    Bytes reply (int command, int status = 0x7F)    { return { 0xF0, 0x7E, 0x48, (juce::uint8) command, (juce::uint8) status, 0xF7 }; }

    Bytes startReply (int blockSize, size_t length = 39)
    {
        Bytes bytes { 0xF0, 0x7E, 0x48, 0x55 };   // any command byte
        bytes.resize (36, 0x11);
        bytes.insert (bytes.end(), { (juce::uint8) (blockSize >> 4), (juce::uint8) (blockSize & 0x0F) });
        bytes.resize (length - 1, 0x11);
        bytes.push_back (0xF7);
        return bytes;
    }

    class FirmwareUpdateEngine : public ::testing::Test, public DataListener
    {
    protected:
        void SetUp() override               { engine.senders.add (this); engine.setCommandTarget (&target); }
        std::vector<Bytes> sent()           { const std::lock_guard<std::mutex> g (sentLock); return std::exchange (sentMessages, {}); }
        int state() const                   { return engine.getUpdatingState(); }

        void sysExMessage (int length, const juce::uint8* data, int direction) override
        {
            EXPECT_EQ (direction, 1);
            std::function<void()> call;

            {
                const std::lock_guard<std::mutex> g (sentLock);     // the engine may send from two threads
                sentMessages.emplace_back (data, data + length);
                call = std::exchange (onSend, nullptr);
            }

            if (call)
                call();
        }

        bool start (const FirmwareFileBuilder& builder)    { file = builder.writeTemporary(); return engine.startUpdate (file->getFile(), true); }

        void send (const Bytes& bytes)
        {
            if (bytes == again)
                EXPECT_TRUE (start (FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2\3\4", 4))));
            else if (bytes.empty())
                engine.timerCallback (FirmwareUpdate::replyTimerId);
            else
                engine.deviceReply ((int) bytes.size(), bytes.data());
        }

        /** Section 0x00 of four bytes in blocks of two, after the first `count` replies of its update:
            0 to 9 replies leave the states 0, 1, 2, 3, 3, 4, 1 (an empty section selected), 4, 5, 7; 10 is idle.
        */
        void runTo (int count)
        {
            const Bytes replies[] = { again, startReply (2), reply (0x7F), reply (0x02), reply (0x04), reply (0x04),
                                      reply (0x05), reply (0x7F), reply (0x05), reply (0x07) };
            std::for_each (replies, replies + std::min (count + 1, 10), [this] (const Bytes& r) { send (r); });

            if (count > 9)
                engine.resetUpdate();

            sent();
            target.drain();
        }

        std::mutex sentLock;
        std::vector<Bytes> sentMessages;
        std::function<void()> onSend;
        FirmwareUpdate engine;
        UpdateCommandRecorder target;
        std::unique_ptr<juce::TemporaryFile> file;
    };
}

TEST_F (FirmwareUpdateEngine, WholeDialogueByteForByte)
{
    // Each entry of a section gets its own header, the later payload is the one sent, an unknown type
    // is skipped, the first select names the empty section 0x00, and the unused header fields are ignored.
    auto builder = FirmwareFileBuilder().section (0x01, juce::MemoryBlock ("\x99\x99\x99\x99\x99", 5)).section (0x03, juce::MemoryBlock ("\x77", 1))
                                        .section (0x01, juce::MemoryBlock ("\x12\x34\x56", 3)).section (0x11, juce::MemoryBlock ("\xAB", 1));

    for (int offset : { 4, 5, 6, 7, 8, 9, 10, 11, 32, 33, 34, 35, 36, 37, 38, 39, 40, 55 })
        builder.headerByte (offset, 0xA5);

    ASSERT_TRUE (start (builder));
    EXPECT_EQ (target.drain(), (Codes { updateStarted, updateStarted }));
    EXPECT_EQ (engine.getReplyTimeout(), 15000);

    const std::vector<Bytes> expected {
        { 0x7E, 0x48, 0x01 },
        { 0x7E, 0x48, 0x0B, 0x01, 1, 2, 3, 4 },
        { 0x7E, 0x48, 0x7F, 0x00 },
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 2 },
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 2 },
        { 0x7E, 0x48, 0x04, 0x00, 0x1, 0x2, 0x3, 0x4, 0x0, 0xA },
        { 0x7E, 0x48, 0x04, 0x01, 0x5, 0x6, 0xF, 0xF, 0x2, 0x9 },   // padding counts in the checksum
        { 0x7E, 0x48, 0x05, 0x7B },
        { 0x7E, 0x48, 0x7F, 0x02 },
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1 },    // twice for 0x11
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1 },
        { 0x7E, 0x48, 0x04, 0x00, 0xA, 0xB, 0xF, 0xF, 0x3, 0x3 },
        { 0x7E, 0x48, 0x05, 0x7B },
        { 0x7E, 0x48, 0x07 },
        { 0x7E, 0x48, 0x09 },
    };

    // The last message of each step is answered, up to the metadata request.
    auto all = sent();
    send (startReply (2));

    for (auto step = sent(); ! step.empty(); step = sent())
    {
        all.insert (all.end(), step.begin(), step.end());

        if (step.back()[2] != 0x09)
            send (reply (step.back()[2]));
    }

    EXPECT_EQ (all, expected);
    EXPECT_EQ (target.drain(), (Codes { 241, 241, 241, 241, 241, updateFinished }));
    EXPECT_EQ (engine.totalBlocks.load(), 3);
    EXPECT_EQ (engine.blocksDone.load(), 3u);
    EXPECT_EQ (engine.getReplyTimeout(), 0);
}

TEST_F (FirmwareUpdateEngine, EachStateActsOnItsRepliesAndSilences)
{
    const auto refused = reply (0x04, 0x7E);
    const auto silence = { expiry, expiry, expiry };
    struct Case { int at; std::vector<Bytes> replies; Codes codes; int state; size_t sent; };
    const Case cases[] = {
        { 0, { startReply (2, 38) }, { updateFailed }, idle, 0 },
        { 0, { startReply (0) }, { updateFailed }, idle, 0 },                     // no block size
        { 0, { startReply (2, 45) }, {}, 1, 2 },
        { 0, silence, {}, 0, 3 },                                                 // START again
        { 0, { expiry, expiry, expiry, expiry }, { updateFailed }, idle, 3 },
        { 1, { { 0xF0, 0x7E, 0x48, 0xF7 } }, { updateFailed }, idle, 0 },        // no status: refused
        { 1, { reply (0x7F, 0x7E) }, { updateFailed }, idle, 0 },
        { 1, { reply (0x7F, 0x00) }, {}, 2, 1 },                                  // any other status accepts
        { 1, silence, {}, 1, 0 },
        { 1, { expiry, expiry, expiry, expiry }, { updateTimedOut }, idle, 0 },
        { 1, { expiry, expiry, expiry, reply (0x7F), expiry, expiry, expiry }, {}, 2, 1 },
        { 2, { reply (0x02, 0x00), expiry, expiry, expiry, expiry }, { sectionRefused, updateTimedOut }, idle, 0 },
        { 3, { refused, reply (0x04) }, { 241, 241 }, 3, 2 },                     // resent, then the next
        { 3, { refused, refused, refused, reply (0x04) }, { 241, 241, 241, updateFailed }, idle, 3 },
        { 3, { expiry, again }, { updateFailed, updateStarted, updateStarted }, 0, 1 },        // no word of the first
        { 0, { expiry, expiry, again, expiry, expiry, expiry }, { updateStarted, updateStarted }, 0, 6 },
        { 3, { { 0xF0, 0x7E, 0x48, 0x06, 0x7F, 0xF7 } }, { 241 }, 3, 1 },         // not the abort reply
        { 3, { expiry, expiry, reply (0x04) }, { updateFailed, updateFailed, 241 }, 3, 1 },
        { 5, { reply (0x05, 0x7E) }, { updateFailed }, idle, 0 },
        { 5, { expiry, expiry, expiry, expiry }, { updateTimedOut }, idle, 0 },
        { 8, { reply (0x03, 0x7E) }, {}, 5, 0 },
        { 8, { reply (0x08) }, { updateFailed }, idle, 0 },
        { 8, { { 0xF0, 0x7E, 0xF7 } }, { updateFailed }, idle, 0 },
        { 8, { expiry, expiry, expiry, expiry }, { updateTimedOut }, idle, 0 },
        { 9, { reply (0x09), expiry, expiry, expiry, expiry }, { updateFinished, updateTimedOut }, idle, 0 },
        { 10, { reply (0x04), expiry, expiry, expiry, expiry, expiry }, {}, idle, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (&c - cases);
        runTo (c.at);
        std::for_each (c.replies.begin(), c.replies.end(), [this] (const Bytes& r) { send (r); });
        EXPECT_EQ (target.drain(), c.codes);
        EXPECT_EQ (state(), c.state);
        EXPECT_EQ (sent().size(), c.sent);
        EXPECT_EQ (engine.getReplyTimeout() == 0, c.state == idle && c.at < 10);
    }

    for (int at = 0; at <= 10; ++at)   // the abort reply, also when idle
    {
        runTo (at);
        send ({ 0xF0, 0x7E, 0x48, 0x06, 0xF7 });
        EXPECT_EQ (target.drain(), (Codes { updateFailed })) << at;
        EXPECT_EQ (state(), idle);
    }
}

TEST_F (FirmwareUpdateEngine, BlockCountsAreExactForLargeSections)
{
    // 2^24 + 1 bytes in blocks of one byte: more nibbles than a float counts exactly.
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x10, juce::MemoryBlock ((1 << 24) + 1, true))));
    send (startReply (1));
    EXPECT_EQ (engine.getBlockCount (3), (1u << 24) + 1);
    EXPECT_EQ (engine.totalBlocks.load(), (1 << 24) + 1);
}

TEST_F (FirmwareUpdateEngine, StartGoesOutAgainWithoutHoldingTheEngine)
{
    // START is written again without the engine's lock, and an answer that comes during that write is
    // handled once it is back: here the abort reply, which ends the update.
    runTo (0);
    std::future<void> delivery;
    bool heldUntilTheSendIsBack = false;

    onSend = [&] { delivery = std::async (std::launch::async, [this] { send ({ 0xF0, 0x7E, 0x48, 0x06, 0xF7 }); });
                   heldUntilTheSendIsBack = delivery.wait_for (std::chrono::milliseconds (50)) == std::future_status::timeout; };

    runWithinSeconds (5, "START written again", [&] { send (expiry); delivery.wait(); });
    EXPECT_TRUE (heldUntilTheSendIsBack);
    EXPECT_EQ (sent().size(), 1u);
    EXPECT_EQ (target.drain(), (Codes { updateFailed }));
    EXPECT_EQ (state(), idle);
}

// A device answers START as soon as it has it, maybe before the thread that wrote it is back, also
// when a late reply of the previous update (after 262, 259 or 260) could be expected: once START's write
// has begun, what comes is START's answer. It waits for the send, then carries the update on or ends it.
TEST_F (FirmwareUpdateEngine, AnAnswerWhileStartIsBeingWrittenIsHandledOnceTheSendIsBack)
{
    const Bytes start { 0x7E, 0x48, 0x01 }, version { 0x7E, 0x48, 0x0B, 0x01, 1, 2, 3, 4 }, select { 0x7E, 0x48, 0x7F, 0x00 };
    struct Case { Bytes answer; std::vector<Bytes> sent; Codes codes; int state, timeout; };
    const Case cases[] = {
        { startReply (2), { start, version, select }, { updateStarted, updateStarted }, 1, 10000 },
        { reply (0x02), { start }, { updateStarted, updateStarted, updateFailed }, idle, 0 },                         // too short
        { { 0xF0, 0x7E, 0x48, 0x06, 0xF7 }, { start }, { updateStarted, updateStarted, updateFailed }, idle, 0 },
    };

    for (int previous : { 2, 9, 10 })   // waiting after a header, finished, idle
    {
        for (const auto& c : cases)
        {
            SCOPED_TRACE (juce::String (previous) + " " + juce::String (c.answer.size()));
            runTo (previous);
            std::future<void> delivery;
            bool heldUntilTheSendIsBack = false;
            int timeoutWhileSending = -1;

            onSend = [&] { timeoutWhileSending = engine.getReplyTimeout();
                           delivery = std::async (std::launch::async, [&] { send (c.answer); });
                           heldUntilTheSendIsBack = delivery.wait_for (std::chrono::milliseconds (50)) == std::future_status::timeout; };

            runWithinSeconds (5, "a start answered during its send", [&] { send (again); delivery.wait(); });
            EXPECT_TRUE (heldUntilTheSendIsBack);
            EXPECT_EQ (timeoutWhileSending, 0);   // the 15 s time-out starts once START is out
            EXPECT_EQ (sent(), c.sent);
            EXPECT_EQ (target.drain(), c.codes);
            EXPECT_EQ (state(), c.state);
            EXPECT_EQ (engine.getReplyTimeout(), c.timeout);
        }
    }
}

static void waitUntil (const std::function<bool()>& condition)
{
    for (int i = 0; i < 2000 && ! condition(); ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
}

TEST_F (FirmwareUpdateEngine, EachReplyRetimesTo10SecondsAndTheVersionIsFollowedBy30MsOfQuiet)
{
    runTo (0);
    double versionAt = 0, selectAt = 0;
    onSend = [&] { versionAt = juce::Time::getMillisecondCounterHiRes();
                   onSend = [&] { selectAt = juce::Time::getMillisecondCounterHiRes(); }; };
    send (startReply (2));
    EXPECT_EQ (sent().size(), 2u);
    EXPECT_GE (selectAt - versionAt, 30.0);
    EXPECT_LT (selectAt - versionAt, 250.0);
    EXPECT_EQ (engine.getReplyTimeout(), 10000);

    for (int at : { 3, 9, 10 })     // also in the last state and when idle
    {
        runTo (at);
        send (reply (0x04));
        EXPECT_EQ (engine.getReplyTimeout(), 10000) << at;
    }
}

// A reply (MIDI input thread), a time-out and a start (message thread) reach the engine at once:
// while the reply is held inside the engine, the other two wait for it, then run one after another.
TEST_F (FirmwareUpdateEngine, AReplyATimeOutAndAStartOnThreeThreadsRunOneAfterAnother)
{
    runTo (3);
    const auto nextFile = FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2", 2)).writeTemporary();
    std::promise<void> release;
    std::atomic<bool> held { false };
    onSend = [&held, released = release.get_future().share()] { held = true; released.wait(); };   // sending the next block

    auto replying = std::async (std::launch::async, [this] { send (reply (0x04)); });
    waitUntil ([&held] { return held.load(); });
    ASSERT_TRUE (held);

    auto timingOut = std::async (std::launch::async, [this] { engine.timerCallback (2); });
    auto starting = std::async (std::launch::async, [&] { engine.startUpdate (nextFile->getFile(), true); });
    EXPECT_EQ (timingOut.wait_for (std::chrono::milliseconds (100)), std::future_status::timeout);
    EXPECT_EQ (starting.wait_for (std::chrono::milliseconds (0)), std::future_status::timeout);
    release.set_value();

    runWithinSeconds (5, "the reply, the time-out and the start", [&] { replying.wait(); timingOut.wait(); starting.wait(); });

    const auto codes = target.drain();
    ASSERT_FALSE (codes.empty());
    EXPECT_EQ (codes.front(), updateProgress);     // the time-out's 260 comes after it, or not at all after the start
    EXPECT_EQ (std::count (codes.begin(), codes.end(), (int) updateStarted), 2);
    EXPECT_EQ (state(), 0);
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
    waitUntil ([&gate] { return gate.entered.load(); });
    road.engine.reset();
    PresetManager::getInstance()->removeUpdateListener (&gate);
    ASSERT_TRUE (road.device.waitUntilDelivered());
    EXPECT_EQ (road.device.getNumWritten(), 1);   // START only
}

namespace
{
    /** A sending thread held on its way back from each write on the message thread, until the device's
        answer is being delivered and a few milliseconds more, as a thread descheduled for a moment is:
        the device answers before the sender is back, every time. */
    void holdMessageThreadWritesPastTheirAnswers (VirtualMidiDevice& device, std::function<void()> thenDo = [] {})
    {
        device.setAfterWritten ([&device, thenDo]
                                {
                                    if (! juce::MessageManager::existsAndIsCurrentThread())
                                        return;

                                    device.waitUntilDelivering (1000);
                                    std::this_thread::sleep_for (std::chrono::milliseconds (3));
                                    thenDo();
                                });
    }

    int countStarts (const std::vector<VirtualMidiDevice::WrittenMessage>& written)
    {
        return (int) std::count_if (written.begin(), written.end(), [] (const auto& w)
                                    { return w.message.getRawDataSize() == 5 && w.message.getRawData()[3] == 0x01; });
    }
}

TEST (FirmwareUpdateRoad, StartsAnswerBeforeItsSendIsBackCarriesEveryUpdateThrough)
{
    UpdateRoad road;
    ASSERT_TRUE (road.connect());
    road.peer.setBlockSize (4);
    holdMessageThreadWritesPastTheirAnswers (road.device);
    const auto payload = FirmwareFileBuilder::pattern (10);

    for (int update = 0; update < 100 && ! ::testing::Test::HasFailure(); ++update)
    {
        SCOPED_TRACE (update);
        road.device.clearWritten();
        ASSERT_TRUE (road.start (FirmwareFileBuilder().section (0x00, payload)));
        // Well inside the 15 s that a dropped answer costs; then the metadata answer too, so that
        // nothing of this update is still on its way when the next starts.
        ASSERT_TRUE (road.waitFor (updateFinished, 2000));
        ASSERT_TRUE (pumpMessagesUntil ([&road] { return road.peer.isFinished(); }));
        ASSERT_TRUE (road.device.waitUntilDelivered());
        road.target.drain();

        const auto written = road.device.getWrittenMessages();
        ASSERT_GE (written.size(), 3u);
        EXPECT_EQ (countStarts (written), 1);
        EXPECT_EQ (written[1].message.getRawData()[3], 0x0B);   // the version, then the select
        EXPECT_EQ (written[2].message.getRawData()[3], 0x7F);
        EXPECT_TRUE (road.peer.getErrors().isEmpty()) << road.peer.getErrors().joinIntoString (", ");
        ASSERT_EQ (road.peer.getSections().size(), 1u);
        EXPECT_EQ (road.peer.getSections()[0].data, payload);
    }
}

// A failed write closes the port pair from within the send, and the close waits for the delivery that
// holds START's answer: that answer gives up its wait for the send instead of holding the close up.
TEST (FirmwareUpdateRoad, AStartWriteThatFailsAfterItsAnswerClosesThePortsAtOnce)
{
    UpdateRoad road;
    ASSERT_TRUE (road.connect());
    holdMessageThreadWritesPastTheirAnswers (road.device, [] { throw std::runtime_error ("the write failed after the device had START"); });
    double took = 0;

    runWithinSeconds (5, "a START write that fails", [&]
                      {
                          const auto began = juce::Time::getMillisecondCounterHiRes();
                          EXPECT_TRUE (road.start (FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (10))));
                          took = juce::Time::getMillisecondCounterHiRes() - began;
                      });

    EXPECT_LT (took, 500.0);
    EXPECT_FALSE (MIDIManager::getInstance()->getPortPair().hasOutput());
    ASSERT_TRUE (road.device.waitUntilDelivered());
    EXPECT_EQ (road.device.getNumWritten(), 1);     // START only: its answer went with the ports
    road.device.setAfterWritten (nullptr);
}
