#include "firmware/FirmwareUpdate.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/UpdateCommandRecorder.h"

#include <gtest/gtest.h>

namespace
{
    using Bytes = std::vector<juce::uint8>;
    using Codes = std::vector<int>;
    constexpr int idle = FirmwareUpdate::idleState;

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

    struct Sender : public DataListener
    {
        void sysExMessage (int length, const juce::uint8* data, int direction) override
        {
            EXPECT_EQ (direction, 1);
            sent.emplace_back (data, data + length);
        }

        std::vector<Bytes> sent;
    };

    class FirmwareUpdateEngine : public ::testing::Test
    {
    protected:
        void SetUp() override               { engine.senders.add (&sender); engine.setCommandTarget (&target); }

        bool start (const FirmwareFileBuilder& builder)
        {
            file = builder.writeTemporary();
            return engine.startUpdate (file->getFile(), true);
        }

        void send (const Bytes& bytes)      { engine.deviceReply ((int) bytes.size(), bytes.data()); }
        void expire (int times = 1)         { while (--times >= 0) engine.timerCallback (FirmwareUpdate::replyTimerId); }
        std::vector<Bytes> sent()           { return std::exchange (sender.sent, {}); }
        int state() const                   { return engine.getUpdatingState(); }

        /** Section 0x00 of four bytes in blocks of two, after the first `count` replies of its update:
            the states after 0 to 9 replies are 0, 1, 2, 3, 3, 4, 1 (an empty section selected), 4, 5, 7.
        */
        void runTo (int count)
        {
            const Bytes replies[] = { startReply (2), reply (0x7F), reply (0x02), reply (0x04), reply (0x04),
                                      reply (0x05), reply (0x7F), reply (0x05), reply (0x07) };
            ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2\3\4", 4))));
            std::for_each (replies, replies + count, [this] (const Bytes& r) { send (r); });
            sent();
            target.drain();
        }

        Sender sender;     // outlives the engine, as the hub does
        FirmwareUpdate engine;
        UpdateCommandRecorder target;
        std::unique_ptr<juce::TemporaryFile> file;
    };
}

TEST_F (FirmwareUpdateEngine, RefusedFilesPostStartedThenNotCompatibleAndSendNothing)
{
    const auto good = FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2", 2)).build();
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory);
    const std::pair<juce::MemoryBlock, bool> cases[] = {
        { good, false }, { { good.getData(), 135 }, true }, { { good.getData(), 137 }, true },   // other model, table and payload cut
        { FirmwareFileBuilder().rawEntry (0x01, 0xFFFFFFF0u, 0x20).build(), true },             // an end that wraps in 32 bits
    };

    for (const auto& [bytes, fullSize] : cases)
    {
        juce::TemporaryFile temp (".bin");
        temp.getFile().replaceWithData (bytes.getData(), bytes.getSize());

        for (const auto& f : { temp.getFile(), folder, folder.getNonexistentChildFile ("absent", ".bin") })
        {
            SCOPED_TRACE (f.getFullPathName() + " " + juce::String (bytes.getSize()));
            EXPECT_FALSE (engine.startUpdate (f, fullSize));
            EXPECT_EQ (target.drain(), (Codes { updateStarted, fileNotCompatible }));
            EXPECT_TRUE (sent().empty());
            EXPECT_EQ (state(), idle);
            EXPECT_EQ (engine.getReplyTimeout(), 0);
        }
    }
}

TEST_F (FirmwareUpdateEngine, WholeDialogueByteForByte)
{
    // Each entry of a section gets its own header, the later payload is the one sent, an
    // unknown type is skipped, and the first select names the empty section 0x00.
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x01, juce::MemoryBlock ("\x99\x99\x99\x99\x99", 5))
                                             .section (0x03, juce::MemoryBlock ("\x77", 1))
                                             .section (0x01, juce::MemoryBlock ("\x12\x34\x56", 3))
                                             .section (0x11, juce::MemoryBlock ("\xAB", 1))));
    EXPECT_EQ (target.drain(), (Codes { updateStarted, updateStarted }));
    EXPECT_EQ (engine.getReplyTimeout(), FirmwareUpdate::startTimeoutMs);

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

    // Each step's last message is answered as a consistent device does, up to the metadata request.
    auto all = sent();
    testing::internal::CaptureStdout();
    send (startReply (2));

    for (auto step = sent(); ! step.empty(); step = sent())
    {
        all.insert (all.end(), step.begin(), step.end());

        if (step.back()[2] != 0x09)
            send (reply (step.back()[2]));
    }

    std::fflush (stdout);
    EXPECT_NE (testing::internal::GetCapturedStdout().find ("updatingState:5\n发送元数据:7e  48  09  \n"), std::string::npos);
    EXPECT_EQ (all, expected);
    EXPECT_EQ (target.drain(), (Codes { 241, 241, 241, 241, 241, updateFinished }));
    EXPECT_EQ (engine.totalBlocks.load(), 3);
    EXPECT_EQ (engine.blocksDone.load(), 3u);
    EXPECT_EQ (engine.getReplyTimeout(), 0);
}

TEST_F (FirmwareUpdateEngine, EachStateActsOnItsReplies)
{
    const auto refused = reply (0x04, 0x7E);
    struct Case { int at; std::vector<Bytes> replies; Codes codes; int state; size_t sent; };
    const Case cases[] = {
        { 0, { startReply (2, 38) }, { updateFailed }, idle, 0 },
        { 0, { startReply (0) }, { updateFailed }, idle, 0 },                     // no block size
        { 0, { startReply (2, 45) }, {}, 1, 2 },
        { 1, { { 0xF0, 0x7E, 0x48, 0xF7 } }, { updateFailed }, idle, 0 },        // no status: refused
        { 1, { reply (0x7F, 0x7E) }, { updateFailed }, idle, 0 },
        { 1, { reply (0x7F, 0x00) }, {}, 2, 1 },                                  // any other status accepts
        { 2, { reply (0x02, 0x00) }, { sectionRefused }, 2, 0 },                  // only 7F accepts
        { 3, { refused, reply (0x04) }, { 241, 241 }, 3, 2 },                     // resent, then the next
        { 3, { refused, refused, refused, reply (0x04) }, { 241, 241, 241, updateFailed }, idle, 3 },
        { 3, { { 0xF0, 0x7E, 0x48, 0x06, 0x7F, 0xF7 } }, { 241 }, 3, 1 },         // not the abort reply
        { 5, { reply (0x05, 0x7E) }, { updateFailed }, idle, 0 },
        { 8, { reply (0x03, 0x7E) }, {}, 5, 0 },
        { 8, { reply (0x08) }, { updateFailed }, idle, 0 },
        { 8, { { 0xF0, 0x7E, 0xF7 } }, { updateFailed }, idle, 0 },
        { 9, { reply (0x09) }, { updateFinished }, 7, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (&c - cases);
        runTo (c.at);

        for (const auto& r : c.replies)
            send (r);

        EXPECT_EQ (target.drain(), c.codes);
        EXPECT_EQ (state(), c.state);
        EXPECT_EQ (sent().size(), c.sent);
    }

    // The abort reply in every state, also when idle.
    for (int at = 0; at <= 10; ++at)
    {
        at < 10 ? runTo (at) : engine.resetUpdate();
        send ({ 0xF0, 0x7E, 0x48, 0x06, 0xF7 });
        EXPECT_EQ (target.drain(), (Codes { updateFailed })) << at;
        EXPECT_EQ (state(), idle);
    }
}

TEST_F (FirmwareUpdateEngine, SilenceEndsTheUpdateAtTheFourthExpiry)
{
    // START is sent again at the first three expiries; a refused header keeps waiting as silence does.
    struct Case { int at, state, code; bool refuseHeader; };

    for (const auto c : { Case { 0, 0, updateFailed, false }, { 1, 1, updateTimedOut, false }, { 2, 2, updateTimedOut, false },
                          { 2, 2, updateTimedOut, true }, { 5, 4, updateTimedOut, false }, { 8, 5, updateTimedOut, false },
                          { 9, 7, updateTimedOut, false } })
    {
        SCOPED_TRACE (c.at);
        runTo (c.at);

        if (c.refuseHeader)
            send (reply (0x02, 0x7E));

        expire (3);
        EXPECT_EQ (sent(), std::vector<Bytes> (c.state == 0 ? 3 : 0, Bytes { 0x7E, 0x48, 0x01 }));
        EXPECT_EQ (target.drain(), c.refuseHeader ? Codes { sectionRefused } : Codes {});
        EXPECT_EQ (state(), c.state);
        expire();
        EXPECT_EQ (target.drain(), Codes { c.code });
        EXPECT_EQ (state(), idle);
        EXPECT_EQ (engine.getReplyTimeout(), 0);
    }

    // A reply starts the count again; other timers do nothing.
    runTo (1);
    expire (3);
    send (reply (0x7F));
    expire (3);
    engine.timerCallback (1);
    EXPECT_TRUE (target.drain().empty());
    EXPECT_EQ (state(), 2);

    // Waiting for a block, each expiry fails but a late acceptance carries on.
    runTo (3);
    expire (2);
    EXPECT_EQ (target.drain(), (Codes { updateFailed, updateFailed }));
    send (reply (0x04));
    EXPECT_EQ (target.drain(), (Codes { updateProgress }));
    EXPECT_EQ (sent().size(), 1u);

    // Idle: a reply only starts the time-out again, and its expiries do nothing.
    engine.resetUpdate();
    send (reply (0x04));
    EXPECT_EQ (engine.getReplyTimeout(), FirmwareUpdate::replyTimeoutMs);
    expire (5);
    EXPECT_TRUE (target.drain().empty() && sent().empty());
}

TEST_F (FirmwareUpdateEngine, BlockCountsAreExactForLargeSections)
{
    // 2^24 + 1 bytes in blocks of one byte: more nibbles than a float counts exactly.
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x10, juce::MemoryBlock ((1 << 24) + 1, true))));
    send (startReply (1));
    EXPECT_EQ (engine.getBlockCount (3), (1u << 24) + 1);
    EXPECT_EQ (engine.totalBlocks.load(), (1 << 24) + 1);
}

