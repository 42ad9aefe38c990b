#include "firmware/FirmwareUpdate.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/UpdateCommandRecorder.h"

#include <gtest/gtest.h>

namespace
{
    using Bytes = std::vector<juce::uint8>;
    using Codes = std::vector<int>;

    struct RecordingSender : public DataListener
    {
        void sysExMessage (int length, const juce::uint8* data, int direction) override
        {
            EXPECT_EQ (direction, 1);
            messages.emplace_back (data, data + length);
        }

        std::vector<Bytes> take()
        {
            auto result = std::move (messages);
            messages.clear();
            return result;
        }

        std::vector<Bytes> messages;
    };

    Bytes reply (juce::uint8 command, juce::uint8 status)   { return { 0xF0, 0x7E, 0x48, command, status, 0xF7 }; }
    Bytes select (int id)                                   { return { 0x7E, 0x48, 0x7F, (juce::uint8) id }; }

    const Bytes startMessage { 0x7E, 0x48, 0x01 };
    const Bytes versionMessage { 0x7E, 0x48, 0x0B, 0x01, 1, 2, 3, 4 };
    const Bytes sectionEndMessage { 0x7E, 0x48, 0x05, 0x7B };
    const Bytes endMessage { 0x7E, 0x48, 0x07 };
    const Bytes metadataMessage { 0x7E, 0x48, 0x09 };
    const Bytes abortReply { 0xF0, 0x7E, 0x48, 0x06, 0xF7 };

    Bytes startReply (int blockSize, int length = 39)
    {
        Bytes bytes ((size_t) length, 0x11);
        bytes[0] = 0xF0; bytes[1] = 0x7E; bytes[2] = 0x48; bytes[3] = 0x01;
        bytes[36] = (juce::uint8) (blockSize >> 4);
        bytes[37] = (juce::uint8) (blockSize & 0x0F);
        bytes.back() = 0xF7;
        return bytes;
    }

    Bytes headerMessage (juce::uint32 length, juce::uint32 blocks)
    {
        Bytes bytes { 0x7E, 0x48, 0x02 };

        for (auto value : { length, blocks })
            for (int shift = 28; shift >= 0; shift -= 4)
                bytes.push_back ((juce::uint8) ((value >> shift) & 0x0F));

        return bytes;
    }

    juce::MemoryBlock payload (std::initializer_list<int> values)
    {
        juce::MemoryBlock block;

        for (auto v : values)
            block.append (&v, 1);

        return block;
    }
}

//==============================================================================
class FirmwareUpdateEngine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        engine.senders.add (&sender);
        engine.setCommandTarget (&target);
    }

    bool start (const FirmwareFileBuilder& builder, bool fullSize = true)
    {
        file = builder.writeTemporary();
        return engine.startUpdate (file->getFile(), fullSize);
    }

    void send (const Bytes& bytes)      { engine.deviceReply ((int) bytes.size(), bytes.data()); }
    void accept (int command = 0x04)    { send (reply ((juce::uint8) command, 0x7F)); }
    void refuse (int command = 0x04)    { send (reply ((juce::uint8) command, 0x7E)); }
    void expire()                       { engine.timerCallback (FirmwareUpdate::replyTimerId); }

    /** Started with one section 0x00 of four bytes, the START reply given: waits in state 1. */
    void runToSelect (int blockSize = 2)
    {
        ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, payload ({ 1, 2, 3, 4 }))));
        send (startReply (blockSize));
        ASSERT_EQ (engine.getUpdatingState(), 1);
        sender.take();
        target.drain();
    }

    void runToBlocks()
    {
        runToSelect();
        accept (0x7F);
        accept (0x02);
        ASSERT_EQ (engine.getUpdatingState(), 3);
        sender.take();
        target.drain();
    }

    /** Answers like a consistent device until the metadata message; returns every message. */
    std::vector<Bytes> runAccepting (int blockSize)
    {
        std::vector<Bytes> all = sender.take();
        send (startReply (blockSize));

        for (int guard = 0; guard < 100000; ++guard)
        {
            auto sent = sender.take();
            all.insert (all.end(), sent.begin(), sent.end());

            if (sent.empty() || sent.back() == metadataMessage)
                break;

            const auto command = sent.back()[2];

            if (command == 0x07)
                send (reply (0x07, 0x7F));
            else
                accept (command);
        }

        return all;
    }

    static std::vector<Bytes> withCommand (const std::vector<Bytes>& messages, juce::uint8 command)
    {
        std::vector<Bytes> result;

        for (const auto& m : messages)
            if (m.size() > 2 && m[2] == command)
                result.push_back (m);

        return result;
    }

    RecordingSender sender;     // outlives the engine, as the hub does
    FirmwareUpdate engine;
    UpdateCommandRecorder target;
    std::unique_ptr<juce::TemporaryFile> file;
};

//==============================================================================
TEST_F (FirmwareUpdateEngine, RefusedFilesPostStartedThenNotCompatibleAndSendNothing)
{
    auto good = FirmwareFileBuilder().section (0x00, payload ({ 1, 2 }));
    auto full = good.build();
    const auto base = 136;

    struct Case { const char* what; juce::MemoryBlock bytes; bool fullSize; };
    std::vector<Case> cases {
        { "other model", good.build(), false },
        { "table cut", juce::MemoryBlock (full.getData(), (size_t) base - 1), true },
        { "payload cut", juce::MemoryBlock (full.getData(), (size_t) base + 1), true },
        { "payload past end", FirmwareFileBuilder().rawEntry (0x10, 0, 1).build(), true },
        { "empty", juce::MemoryBlock(), true },
    };

    for (const auto& c : cases)
    {
        juce::TemporaryFile temp (".bin");
        temp.getFile().replaceWithData (c.bytes.getData(), c.bytes.getSize());

        EXPECT_FALSE (engine.startUpdate (temp.getFile(), c.fullSize)) << c.what;
        EXPECT_EQ (target.drain(), (Codes { updateStarted, fileNotCompatible })) << c.what;
        EXPECT_TRUE (sender.take().empty()) << c.what;
        EXPECT_EQ (engine.getUpdatingState(), FirmwareUpdate::idleState) << c.what;
        EXPECT_EQ (engine.getReplyTimeout(), 0) << c.what;
        EXPECT_EQ (engine.getSectionNibbleCount (0), 0) << c.what;
    }

    // Exists but cannot be read, and does not exist.
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory);

    for (const auto& f : { folder, folder.getNonexistentChildFile ("absent", ".bin") })
    {
        EXPECT_FALSE (engine.startUpdate (f, true));
        EXPECT_EQ (target.drain(), (Codes { updateStarted, fileNotCompatible }));
        EXPECT_TRUE (sender.take().empty());
    }
}

TEST_F (FirmwareUpdateEngine, AcceptedFileSendsStartOnceAndWaitsFifteenSeconds)
{
    ASSERT_TRUE (start (FirmwareFileBuilder().model ("MZ-9")
                            .section (0x01, payload ({ 0xAB }))
                            .section (0x03, payload ({ 1, 2, 3 }))
                            .section (0x01, payload ({ 0xCD, 0xEF }))
                            .section (0x02, {})
                            .section (0x11, payload ({ 5 })), false));

    EXPECT_EQ (target.drain(), (Codes { updateStarted, updateStarted }));
    EXPECT_EQ (sender.take(), (std::vector<Bytes> { startMessage }));
    EXPECT_EQ (engine.getUpdatingState(), 0);
    EXPECT_EQ (engine.getReplyTimeout(), 15000);

    // The later of two entries for one section wins; unknown types are skipped;
    // a four-entry file leaves 0x11 to a fifth entry it does not have.
    EXPECT_EQ (engine.getSectionNibbleCount (1), 4);
    EXPECT_EQ (engine.getSectionNibbleCount (0), 0);
    EXPECT_EQ (engine.getSectionNibbleCount (2), 0);
    EXPECT_EQ (engine.getSectionNibbleCount (4), 0);
    EXPECT_EQ (engine.getHeader().sections[4].type, 0xFF);
}

TEST_F (FirmwareUpdateEngine, StartingAgainResetsTheRunningUpdateSilently)
{
    runToBlocks();
    engine.blocksDone = 7;

    ASSERT_TRUE (start (FirmwareFileBuilder()));
    EXPECT_EQ (target.drain(), (Codes { updateStarted, updateStarted }));
    EXPECT_EQ (engine.getUpdatingState(), 0);
    EXPECT_EQ (engine.getReplyRetries(), 0);
    EXPECT_EQ (engine.getBlockSize(), 0);
    EXPECT_EQ (engine.blocksDone.load(), 7u);
}

//==============================================================================
TEST_F (FirmwareUpdateEngine, WholeDialogueByteForByte)
{
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, payload ({ 0x12, 0x34, 0x56 }))
                                             .section (0x11, payload ({ 0xAB }))));
    target.drain();

    const auto messages = runAccepting (2);

    const std::vector<Bytes> expected {
        startMessage,
        versionMessage,
        select (0x00),
        { 0x7E, 0x48, 0x02, 0, 0, 0, 0, 0, 0, 0, 3,  0, 0, 0, 0, 0, 0, 0, 2 },
        { 0x7E, 0x48, 0x04, 0x00, 0x1, 0x2, 0x3, 0x4, 0x0, 0xA },
        { 0x7E, 0x48, 0x04, 0x01, 0x5, 0x6, 0xF, 0xF, 0x2, 0x9 },
        sectionEndMessage,
        select (0x01),
        headerMessage (1, 1),
        headerMessage (1, 1),
        { 0x7E, 0x48, 0x04, 0x00, 0xA, 0xB, 0xF, 0xF, 0x3, 0x3 },
        sectionEndMessage,
        endMessage,
        metadataMessage,
    };

    EXPECT_EQ (messages, expected);
    EXPECT_EQ (target.drain(), (Codes { 241, 241, 241, 241, 241, updateFinished }));
    EXPECT_EQ (engine.getUpdatingState(), 7);
    EXPECT_EQ (engine.getCurrentSection(), FirmwareUpdate::allSectionsDone);
    EXPECT_EQ (engine.totalBlocks.load(), 3);
    EXPECT_EQ (engine.blocksDone.load(), 3u);
    EXPECT_EQ (engine.getReplyTimeout(), 0);
}

TEST_F (FirmwareUpdateEngine, AllEmptySectionsGoStraightToSectionEnd)
{
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, {}).section (0x10, {})));
    target.drain();

    const auto messages = runAccepting (16);

    EXPECT_EQ (messages, (std::vector<Bytes> { startMessage, versionMessage, select (0x00),
                                               sectionEndMessage, endMessage, metadataMessage }));
    EXPECT_EQ (target.drain(), (Codes { updateFinished }));
    EXPECT_EQ (engine.totalBlocks.load(), 0);
}

TEST_F (FirmwareUpdateEngine, SelectsMayNameEmptySectionsWhoseHeadersBelongToTheNext)
{
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (5))
                                             .section (0x10, FirmwareFileBuilder::pattern (9))));
    const auto messages = runAccepting (4);

    Bytes steps;

    for (const auto& m : messages)
        if (m[2] != 0x04)
            steps.push_back (m[2] == 0x7F ? (juce::uint8) (0x80 | m[3]) : m[2]);

    // 0x80 | id marks a select.
    EXPECT_EQ (steps, (Bytes { 0x01, 0x0B, 0x80, 0x02, 0x05, 0x81, 0x02, 0x05, 0x91, 0x05, 0x07, 0x09 }));
    EXPECT_EQ (withCommand (messages, 0x02)[1], headerMessage (9, 3));
    EXPECT_EQ (engine.totalBlocks.load(), 5);
}

TEST_F (FirmwareUpdateEngine, EveryTableEntryOfASectionGetsItsOwnHeader)
{
    // The later payload is the one sent; each entry still announces its own length.
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x01, FirmwareFileBuilder::pattern (7))
                                             .section (0x01, FirmwareFileBuilder::pattern (3))));
    const auto messages = runAccepting (2);

    EXPECT_EQ (withCommand (messages, 0x02), (std::vector<Bytes> { headerMessage (7, 2), headerMessage (3, 2) }));
    EXPECT_EQ (withCommand (messages, 0x04).size(), 2u);
    EXPECT_EQ (target.drain().back(), updateFinished);
}

TEST_F (FirmwareUpdateEngine, BlocksArePaddedOnlyPastTheEndOfTheirSection)
{
    // 4 bytes in blocks of 2: two full blocks; 5 bytes: a third block with two data nibbles.
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x01, payload ({ 1, 2, 3, 4 }))
                                             .section (0x02, payload ({ 0x10, 0x20, 0x30, 0x40, 0x5C }))));
    const auto blocks = withCommand (runAccepting (2), 0x04);

    ASSERT_EQ (blocks.size(), 5u);
    EXPECT_EQ (blocks[1], (Bytes { 0x7E, 0x48, 0x04, 0x01, 0x0, 0x3, 0x0, 0x4, 0x0, 0x7 }));
    EXPECT_EQ (blocks[4], (Bytes { 0x7E, 0x48, 0x04, 0x02, 0x5, 0xC, 0xF, 0xF, 0x2, 0xF }));
    EXPECT_EQ (engine.getBlockCount (1), 2u);
    EXPECT_EQ (engine.getBlockCount (2), 3u);
}

TEST_F (FirmwareUpdateEngine, ChecksumIsSentAsTwoNibbles)
{
    // 13 x 0xFF, 0xF4, 3 x 0x00 in a block of 20 bytes: nibbles and padding add up to 0x1F3.
    juce::MemoryBlock data;

    for (int i = 0; i < 13; ++i)
        data.append ("\xFF", 1);

    data.append ("\xF4\0\0\0", 4);

    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x10, data)));
    const auto blocks = withCommand (runAccepting (20), 0x04);

    ASSERT_EQ (blocks.size(), 1u);
    ASSERT_EQ (blocks[0].size(), 46u);
    EXPECT_EQ (blocks[0][44], 0x0F);
    EXPECT_EQ (blocks[0][45], 0x03);
}

TEST_F (FirmwareUpdateEngine, BlockIndexWrapsAtOneHundredAndTwentyEight)
{
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x02, FirmwareFileBuilder::pattern (201))));
    const auto blocks = withCommand (runAccepting (1), 0x04);

    ASSERT_EQ (blocks.size(), 201u);
    EXPECT_EQ (blocks[127][3], 0x7F);
    EXPECT_EQ (blocks[128][3], 0x00);
    EXPECT_EQ (blocks[200][3], 0x48);
    EXPECT_EQ (engine.blocksDone.load(), 201u);
}

//==============================================================================
// Refusals, silence and the abort reply are run through the whole road in
// FirmwareUpdateRoadTest; these are the replies a consistent device never sends.
TEST_F (FirmwareUpdateEngine, RepliesWithoutAStatusOrWithAnUnknownOne)
{
    // Too short to carry a status: a select counts as refused.
    runToSelect();
    send ({ 0xF0, 0x7E, 0x48, 0xF7 });
    EXPECT_EQ (target.drain(), (Codes { updateFailed }));
    EXPECT_EQ (engine.getUpdatingState(), FirmwareUpdate::idleState);
    EXPECT_TRUE (sender.take().empty());

    // Any status but 7E accepts a select; only 7F accepts a header.
    runToSelect();
    send (reply (0x7F, 0x00));
    EXPECT_EQ (engine.getUpdatingState(), 2);
    send (reply (0x02, 0x00));
    EXPECT_EQ (target.drain(), (Codes { sectionRefused }));
    EXPECT_EQ (engine.getUpdatingState(), 2);

    // Only exactly the five bytes F0 7E 48 06 F7 abort.
    send ({ 0xF0, 0x7E, 0x48, 0x06, 0x7F, 0xF7 });
    EXPECT_EQ (engine.getUpdatingState(), 3);
    send ({ 0xF0, 0x7E, 0x48, 0x06, 0xF7 });
    EXPECT_EQ (engine.getUpdatingState(), FirmwareUpdate::idleState);
}

TEST_F (FirmwareUpdateEngine, WhileWaitingForTheEndCommandThreeIsIgnoredAndTheRestFails)
{
    auto runToEnd = [this]
    {
        runToBlocks();
        accept();
        accept();
        accept (0x05);
        accept (0x7F);
        accept (0x05);
        ASSERT_EQ (engine.getUpdatingState(), 5);
        sender.take();
        target.drain();
    };

    runToEnd();
    send (reply (0x03, 0x7E));
    EXPECT_EQ (engine.getUpdatingState(), 5);
    EXPECT_TRUE (target.drain().empty());

    send ({ 0xF0, 0x7E, 0xF7 });
    EXPECT_EQ (target.drain(), (Codes { updateFailed }));

    runToEnd();
    send ({ 0xF0, 0x7E, 0x48, 0x07, 0xF7 });
    EXPECT_EQ (sender.take(), (std::vector<Bytes> { metadataMessage }));
    EXPECT_EQ (target.drain(), (Codes { updateFinished }));
    EXPECT_EQ (engine.getReplyTimeout(), 0);

    // Every later reply says finished again and starts the time-out once more.
    accept (0x09);
    EXPECT_EQ (target.drain(), (Codes { updateFinished }));
    EXPECT_EQ (engine.getReplyTimeout(), 10000);
}

TEST_F (FirmwareUpdateEngine, StartReplySizeComesFromBytes36And37Only)
{
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, payload ({ 1, 2, 3 }))));
    send ({});
    EXPECT_EQ (target.drain(), (Codes { 240, 240, updateFailed }));

    // Longer than 39 bytes and with any command byte: still a START reply.
    ASSERT_TRUE (start (FirmwareFileBuilder().section (0x00, payload ({ 1, 2, 3 }))));
    auto longer = startReply (0xFF, 45);
    longer[3] = 0x55;
    send (longer);
    EXPECT_EQ (engine.getBlockSize(), 255);
    EXPECT_EQ (engine.getUpdatingState(), 1);
    EXPECT_EQ (engine.totalBlocks.load(), 1);
}

TEST_F (FirmwareUpdateEngine, AReplyResetsTheCountOfSilentTimeouts)
{
    runToSelect();

    for (int i = 0; i < 3; ++i)
        expire();

    EXPECT_EQ (engine.getReplyRetries(), 3);
    accept (0x7F);
    EXPECT_EQ (engine.getReplyRetries(), 0);

    for (int i = 0; i < 3; ++i)
        expire();

    EXPECT_TRUE (target.drain().empty());
    EXPECT_EQ (engine.getUpdatingState(), 2);
}

TEST_F (FirmwareUpdateEngine, IdleEngineOnlyRetimesAndIgnoresOtherTimers)
{
    testing::internal::CaptureStdout();
    accept();
    std::fflush (stdout);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "updatingState:8\n");

    EXPECT_EQ (engine.getReplyTimeout(), 10000);

    for (int i = 0; i < 5; ++i)
        expire();

    EXPECT_TRUE (target.drain().empty());
    EXPECT_TRUE (sender.take().empty());

    runToSelect();
    engine.timerCallback (1);
    engine.timerCallback (3);
    EXPECT_EQ (engine.getReplyRetries(), 0);
}

TEST_F (FirmwareUpdateEngine, ResetKeepsProgressCountersAndHeader)
{
    runToBlocks();
    accept();
    ASSERT_EQ (engine.blocksDone.load(), 1u);
    target.drain();

    engine.resetUpdate();
    EXPECT_EQ (engine.blocksDone.load(), 1u);
    EXPECT_EQ (engine.totalBlocks.load(), 2);
    EXPECT_EQ (engine.getHeader().sections[0].length, 4u);
    EXPECT_EQ (engine.getSectionNibbleCount (0), 0);
    EXPECT_EQ (engine.getBlockCount (0), 0u);
    EXPECT_EQ (engine.getCurrentSection(), 0);
    EXPECT_TRUE (target.drain().empty());
}

TEST_F (FirmwareUpdateEngine, MetadataRequestIsPrintedAndSent)
{
    testing::internal::CaptureStdout();
    FirmwareUpdate::sendMetadataRequest (engine.senders);
    std::fflush (stdout);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "发送元数据:7e  48  09  \n");
    EXPECT_EQ (sender.take(), (std::vector<Bytes> { metadataMessage }));
}

TEST_F (FirmwareUpdateEngine, SendersAreCalledLastFirstAndMayLeaveDuringTheCall)
{
    struct Leaving : public DataListener
    {
        void sysExMessage (int, const juce::uint8*, int) override
        {
            order.push_back (name);

            if (list != nullptr)
                list->removeFirstMatchingValue (this);
        }

        std::vector<char>& order;
        char name;
        juce::Array<DataListener*>* list;

        Leaving (std::vector<char>& o, char n, juce::Array<DataListener*>* l) : order (o), name (n), list (l) {}
    };

    std::vector<char> order;
    juce::Array<DataListener*> senders;
    Leaving a (order, 'a', nullptr), b (order, 'b', &senders), c (order, 'c', nullptr);
    senders.addArray ({ &a, &b, &c });

    FirmwareUpdate::sendToAll (startMessage.data(), 3, senders);
    EXPECT_EQ (order, (std::vector<char> { 'c', 'b', 'a' }));
    EXPECT_EQ (senders.size(), 2);
}
